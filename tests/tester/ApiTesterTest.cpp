#include <gmock/gmock.h>
#include <kovra_sim/control.h>

#include <atomic>
#include <boost/thread/thread.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/SimulatedCamera.h"
#include "support/TestFiles.h"
#include "tester/ApiTester.h"

namespace {

using testing::ElementsAre;
using testing::EndsWith;

std::vector<std::string> reportOf(ApiTester& tester) {
    testing::internal::CaptureStdout();
    tester.printStatistics();
    return linesOf(testing::internal::GetCapturedStdout());
}

// The release of the initiator that the journal entry `init` opened.
std::string releaseOf(std::string const& init) {
    std::size_t handle = init.find("&#") + 1;
    return init.substr(0, init.find("_initiator_init(")) + "_initiator_deinit(" +
           init.substr(handle, init.find(',', handle) - handle) + ") = 0";
}

class ApiTesterTest : public SimulatedCamera {
protected:
    // The first command whose first call is `function`, each run on a tester of its own.
    unsigned int commandCalling(std::string const& function) {
        ApiTester tester(ipcHandle, logHandle);
        for (unsigned int k = 0; k < tester.getCommandCount(); ++k) {
            kovra_sim_journal_clear();
            tester.runCommand(0, k);
            std::vector<std::string> const calls = journal();
            if (!calls.empty() && calls[0].rfind(function + "(", 0) == 0) return k;
        }
        ADD_FAILURE() << "no command calls " << function;
        return 0;
    }
};

TEST_F(ApiTesterTest, CountsRunsAndPassesPerCommandInTheReport) {
    unsigned int const alarm = commandCalling("kovra_api_alarm_get_configuration_send");
    unsigned int const audio = commandCalling("kovra_api_audio_param_get_audio_type_send");
    unsigned int const relay = commandCalling("kovra_api_relay_get_configuration_send");
    ApiTester tester(ipcHandle, logHandle);
    unsigned int const count = tester.getCommandCount();
    // The probes above called these functions too: count on from there.
    auto failCall = [](char const* function, uint32_t nth) {
        kovra_sim_fail_nth(function, kovra_sim_call_count(function) + nth, 7);
    };
    failCall("kovra_api_alarm_get_configuration_send", 2);
    failCall("kovra_api_alarm_get_configuration_send", 4);
    failCall("kovra_api_audio_param_get_audio_type_send", 1);
    for (int i = 0; i < 5; ++i) tester.runCommand(0, alarm);
    for (int i = 0; i < 4; ++i) tester.runCommand(1, audio);
    kovra_sim_journal_clear();
    tester.runCommand(2, count);
    std::string const index = std::to_string(count);
    EXPECT_THAT(journal(), ElementsAre("kovra_core_logging_log(#1, 3, \"ApiTester::runCommand: "
                                       "commandIndex " +
                                       index + " >= getCommandCount() " + index + "\") = 0"));

    std::vector<std::string> report = reportOf(tester);
    ASSERT_EQ(report.size(), count);  // no target announced: no target section
    EXPECT_THAT(report[alarm], EndsWith(" getConfiguration pass/fail/total 3/2/5"));
    EXPECT_EQ(report[audio], "Service: " + std::string(10, ' ') + "audio_param Command: " +
                                 std::string(20, ' ') + "getAudioType pass/fail/total 3/1/4");
    EXPECT_EQ(report[relay], "Service: " + std::string(20, ' ') + "0 Command: " +
                                 std::string(16, ' ') + "getConfiguration pass/fail/total 0/0/0");
    unsigned long runs = 0;
    for (auto const& line : report) runs += std::stoul(line.substr(line.rfind('/') + 1));
    EXPECT_EQ(runs, 9u);
}

// While one worker waits out a three-second request, another's starts: it could
// not were the counters' lock held across a command.
TEST_F(ApiTesterTest, RunsFromManyThreadsOverlapAndAreAllCounted) {
    unsigned int const temperature = commandCalling("kovra_api_temperature_get_temperature_send");
    char const* const request = "kovra_api_temperature_get_temperature_send";
    uint32_t const before = kovra_sim_call_count(request);
    ApiTester tester(ipcHandle, logHandle);
    ASSERT_EQ(kovra_sim_configure("latency=3000000"), 0);
    std::atomic<bool> first_done{false};
    boost::thread first([&] {
        tester.runCommand(0, temperature);
        first_done = true;
    });
    ASSERT_TRUE(eventually([&] { return kovra_sim_call_count(request) == before + 1; }));
    boost::thread second([&] { tester.runCommand(1, temperature); });
    ASSERT_TRUE(eventually([&] { return kovra_sim_call_count(request) == before + 2; }));
    EXPECT_FALSE(first_done) << "the second request waited for the first command";
    first.join();
    second.join();
    EXPECT_THAT(reportOf(tester)[temperature], EndsWith(" getTemperature pass/fail/total 2/0/2"));
}

// The broker and its subscription first, then sixteen services; released alike.
TEST_F(ApiTesterTest, OpensAndReleasesEachInitiatorWithItsOwnHandle) {
    { ApiTester tester(ipcHandle, logHandle); }
    std::vector<std::string> calls = journal();
    ASSERT_EQ(calls.size(), 2u + 16 + 1 + 1 + 16);
    EXPECT_EQ(calls[0], "kovra_api_broker_initiator_init(#2, #1, &#3, 1, 0) = 0");
    EXPECT_EQ(calls[1], "kovra_api_broker_new_target_register_event_handler(#3, ptr, ptr) = 0");
    std::vector<std::string> released{
        "kovra_api_broker_new_target_unregister_event_handler(#3, ptr) = 0", releaseOf(calls[0])};
    for (std::size_t i = 2; i < 18; ++i) {
        EXPECT_THAT(calls[i],
                    EndsWith("_initiator_init(#2, #1, &#" + std::to_string(i + 2) + ", 0, 0) = 0"));
        released.push_back(releaseOf(calls[i]));
    }
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 18, calls.end()), released);
}

// The broker's, and the fifth service's, after which the four before are undone.
TEST_F(ApiTesterTest, AnInitiatorThatCannotBeOpenedIsLoggedThrownAndUndone) {
    kovra_sim_fail_nth("kovra_api_broker_initiator_init", 1, 9);
    std::string message = "ERROR: kovra_api_broker_initiator_init failed status9";
    auto const construct = [this] { ApiTester tester(ipcHandle, logHandle); };
    EXPECT_THAT(construct, testing::ThrowsMessage<std::runtime_error>(message));
    EXPECT_THAT(journal(), ElementsAre("kovra_api_broker_initiator_init(#2, #1, &?, 1, 0) = 9",
                                       "kovra_core_logging_log(#1, 3, \"" + message + "\") = 0"));
    kovra_sim_journal_clear();
    kovra_sim_fail_always("kovra_api_device_information_initiator_init", -2);
    message = "ERROR: kovra_api_device_information_initiator_init failed status-2";
    EXPECT_THAT(construct, testing::ThrowsMessage<std::runtime_error>(message));
    std::vector<std::string> calls = journal();
    ASSERT_EQ(calls.size(), 2u + 4 + 2 + 1 + 5);
    EXPECT_THAT(std::vector<std::string>(calls.begin() + 6, calls.begin() + 9),
                ElementsAre("kovra_api_device_information_initiator_init(#2, #1, &?, 0, 0) = -2",
                            "kovra_core_logging_log(#1, 3, \"" + message + "\") = 0",
                            "kovra_api_broker_new_target_unregister_event_handler(#3, ptr) = 0"));
    std::vector<std::string> released{releaseOf(calls[0])};
    for (std::size_t i = 2; i < 6; ++i) released.push_back(releaseOf(calls[i]));
    EXPECT_THAT(std::vector<std::string>(calls.begin() + 9, calls.end()),
                testing::UnorderedElementsAreArray(released));
}

// Reported in byte order of their keys. A tester built where a destroyed one lived
// would also receive, through the same context, what that one still subscribed to.
TEST_F(ApiTesterTest, CountsAnnouncementsOnlyWhileItLives) {
    std::optional<ApiTester> tester;
    tester.emplace(ipcHandle, logHandle);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(kovra_sim_restart_target("exposure"), 0);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    tester->newTargetEventCallback("9x", "0", 1, "local");
    tester->newTargetEventCallback("10x", "0", 1, "local");
    tester->newTargetEventCallback("10x", "1", 1, "local");
    ApiTester::newTargetEventCallback("ignored", "0", 1, "local", nullptr);
    std::vector<std::string> report = reportOf(*tester);
    unsigned int const count = tester->getCommandCount();
    ASSERT_EQ(report.size(), count + 1 + 5);
    EXPECT_THAT(std::vector<std::string>(report.begin() + count, report.end()),
                ElementsAre("", "Target 10x:0 reset 1 times", "Target 10x:1 reset 1 times",
                            "Target 9x:0 reset 1 times", "Target exposure:0 reset 3 times",
                            "Target led:led reset 1 times"));
    tester.reset();
    tester.emplace(ipcHandle, logHandle);
    ASSERT_EQ(kovra_sim_restart_target("exposure"), 0);
    EXPECT_EQ(reportOf(*tester).back(), "Target exposure:0 reset 1 times");
}

}  // namespace
