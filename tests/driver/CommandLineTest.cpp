#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

TEST(OptionValueTest, ConvertsLikeStrtolIntoSigned32BitsThenReadsUnsigned) {
    struct {
        char const* text;
        unsigned int expected;
    } const cases[] = {
        {"10", 10u},
        {"12x", 12u},
        {"abc", 0u},
        {"", 0u},
        {"  42", 42u},
        {"+7", 7u},
        {"-1", 4294967295u},
        {"-0", 0u},
        {"0x10", 0u},
        {"2147483647", 2147483647u},
        {"2147483648", 2147483647u},
        {"4294967295", 2147483647u},
        {"99999999999999999999", 2147483647u},
        {"-2147483648", 2147483648u},
        {"-2147483649", 2147483648u},
        {"-99999999999999999999", 2147483648u},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(optionValue(c.text), c.expected) << '"' << c.text << '"';
    }
}

// Runs the parser on a fresh getopt state, as a process would see it. The
// settings may point into `args`, which must outlive them.
bool parse(std::vector<std::string>& args, RunSettings& settings) {
    args.insert(args.begin(), "ipc_soak");
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    optind = 0;
    opterr = 0;
    return parseCommandLine(static_cast<int>(args.size()), argv.data(), settings);
}

TEST(ParseCommandLineTest, DefaultsWhenNoOptionIsGiven) {
    RunSettings settings;
    std::vector<std::string> args;
    ASSERT_TRUE(parse(args, settings));
    EXPECT_EQ(settings.commandsPerThread, 10u);
    EXPECT_EQ(settings.seed, 1u);
    EXPECT_EQ(settings.threadCount, 1u);
    EXPECT_EQ(settings.url, nullptr);
}

TEST(ParseCommandLineTest, ReadsEveryOptionInAnyOrderAndTheLastRepeatWins) {
    RunSettings settings;
    std::vector<std::string> args{"-u", "tcp://127.0.0.1", "-t", "4", "-c", "5", "-s", "9", "-c",
                                  "7"};
    ASSERT_TRUE(parse(args, settings));
    EXPECT_EQ(settings.commandsPerThread, 7u);
    EXPECT_EQ(settings.seed, 9u);
    EXPECT_EQ(settings.threadCount, 4u);
    EXPECT_STREQ(settings.url, "tcp://127.0.0.1");
}

TEST(ParseCommandLineTest, IgnoresArgumentsThatAreNotOptions) {
    RunSettings settings;
    std::vector<std::string> args{"extra", "-t", "3", "more"};
    ASSERT_TRUE(parse(args, settings));
    EXPECT_EQ(settings.threadCount, 3u);
}

TEST(ParseCommandLineTest, RejectsUnknownOptionsAndMissingValues) {
    for (auto args : std::vector<std::vector<std::string>>{{"-x"}, {"-c"}, {"-t", "2", "-u"}}) {
        RunSettings settings;
        EXPECT_FALSE(parse(args, settings)) << args[1];
    }
}

}  // namespace
