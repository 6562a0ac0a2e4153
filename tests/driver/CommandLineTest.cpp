#include "CommandLine.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct ValueCase {
    char const* text;
    unsigned int expected;
};

class OptionValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(OptionValueTest, ConvertsLikeStrtolIntoSigned32BitsThenReadsUnsigned) {
    EXPECT_EQ(optionValue(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, OptionValueTest,
    testing::Values(ValueCase{"10", 10u}, ValueCase{"12x", 12u}, ValueCase{"abc", 0u},
                    ValueCase{"", 0u}, ValueCase{"  42", 42u}, ValueCase{"+7", 7u},
                    ValueCase{"-1", 4294967295u}, ValueCase{"-0", 0u},
                    ValueCase{"2147483647", 2147483647u}, ValueCase{"2147483648", 2147483647u},
                    ValueCase{"99999999999999999999", 2147483647u},
                    ValueCase{"-2147483648", 2147483648u}, ValueCase{"-2147483649", 2147483648u},
                    ValueCase{"-99999999999999999999", 2147483648u},
                    ValueCase{"4294967295", 2147483647u}, ValueCase{"0x10", 0u}));

// Runs the parser on a fresh getopt state, as a process would see it.
bool parse(std::vector<std::string> args, RunSettings& settings) {
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
    ASSERT_TRUE(parse({}, settings));
    EXPECT_EQ(settings.commandsPerThread, 10u);
    EXPECT_EQ(settings.seed, 1u);
    EXPECT_EQ(settings.threadCount, 1u);
    EXPECT_EQ(settings.url, nullptr);
}

TEST(ParseCommandLineTest, ReadsEveryOptionInAnyOrderAndTheLastRepeatWins) {
    RunSettings settings;
    ASSERT_TRUE(parse({"-u", "tcp://127.0.0.1", "-t", "4", "-c", "5", "-s", "9", "-c", "7"},
                      settings));
    EXPECT_EQ(settings.commandsPerThread, 7u);
    EXPECT_EQ(settings.seed, 9u);
    EXPECT_EQ(settings.threadCount, 4u);
    EXPECT_STREQ(settings.url, "tcp://127.0.0.1");
}

TEST(ParseCommandLineTest, IgnoresArgumentsThatAreNotOptions) {
    RunSettings settings;
    ASSERT_TRUE(parse({"extra", "-t", "3", "more"}, settings));
    EXPECT_EQ(settings.threadCount, 3u);
}

TEST(ParseCommandLineTest, RejectsUnknownOptionsAndMissingValues) {
    for (auto args : std::vector<std::vector<std::string>>{{"-x"}, {"-c"}, {"-t", "2", "-u"}}) {
        RunSettings settings;
        EXPECT_FALSE(parse(args, settings)) << args.front();
    }
}

}  // namespace
