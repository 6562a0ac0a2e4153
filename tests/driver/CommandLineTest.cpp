#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/CommandLine.h"

namespace {

TEST(OptionValueTest, ConvertsLikeStrtolIntoSigned32BitsThenReadsUnsigned) {
    std::pair<char const*, unsigned int> const cases[] = {// clang-format off
        {"10", 10u}, {"12x", 12u}, {"abc", 0u}, {"", 0u}, {"  42", 42u}, {"+7", 7u}, {"0x10", 0u},
        {"-1", 4294967295u}, {"2147483647", 2147483647u}, {"2147483648", 2147483647u},
        {"99999999999999999999", 2147483647u}, {"-2147483648", 2147483648u},
        {"-2147483649", 2147483648u}};
    // clang-format on
    for (auto const& [text, value] : cases)
        EXPECT_EQ(optionValue(text), value) << '"' << text << '"';
}

// A bad option is refused with the usage: IpcSoakTest runs those.
TEST(ParseCommandLineTest, ReadsEachOptionAndTheLastRepeatWins) {
    struct {
        std::vector<std::string> args;
        unsigned int commands, seed, threads;
        std::string url;  // "" for none
    } const cases[] = {{{}, 10, 1, 1, ""},
                       {{"-u", "tcp://1.2.3.4", "-t", "4", "-c", "5", "-s", "9", "-c", "7"},
                        7,
                        9,
                        4,
                        "tcp://1.2.3.4"},
                       {{"extra", "-t", "3", "more"}, 10, 1, 3, ""}};
    for (auto const& c : cases) {
        std::vector<std::string> args{"ipc_soak"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        optind = 0;  // a fresh getopt, as in a new process
        opterr = 0;
        RunSettings settings;
        SCOPED_TRACE(args.size() > 1 ? args[1] : "no option");
        ASSERT_TRUE(parseCommandLine(static_cast<int>(args.size()), argv.data(), settings));
        EXPECT_EQ(settings.commandsPerThread, c.commands);
        EXPECT_EQ(settings.seed, c.seed);
        EXPECT_EQ(settings.threadCount, c.threads);
        EXPECT_EQ(settings.url != nullptr ? settings.url : "", c.url);
    }
}

}  // namespace
