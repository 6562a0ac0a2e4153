#include <gmock/gmock.h>
#include <kovra_sim/control.h>

#include <boost/thread/thread.hpp>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ApiTester.h"
#include "SimulatedCamera.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class ApiTesterTest : public SimulatedCameraTest {
protected:
    // Captures what `action` writes to standard output.
    template <class Action>
    static std::string stdoutOf(Action action) {
        std::ostringstream captured;
        std::streambuf* original = std::cout.rdbuf(captured.rdbuf());
        action();
        std::cout.rdbuf(original);
        return captured.str();
    }

    static std::vector<std::string> linesOf(std::string const& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Journal lines that name `function`, in order.
    static std::vector<std::string> callsOf(std::string const& function) {
        std::vector<std::string> matching;
        for (auto const& line : journal()) {
            if (line.find(function) != std::string::npos) {
                matching.push_back(line);
            }
        }
        return matching;
    }
};

TEST_F(ApiTesterTest, EnrolsSixteenServicesIntoEightySevenCommandsInOrder) {
    ApiTester tester(ipcHandle, logHandle);
    ASSERT_EQ(tester.getCommandCount(), 87u);
    std::vector<std::string> report = linesOf(stdoutOf([&] { tester.printStatistics(); }));
    ASSERT_EQ(report.size(), 87u);
    EXPECT_EQ(report[0],
              "Service:                     0 Command:                 getConfiguration "
              "pass/fail/total 0/0/0");
    EXPECT_EQ(report[3], "Service: " + std::string(10, ' ') + "audio_param Command: " +
                             std::string(20, ' ') + "getAudioType pass/fail/total 0/0/0");
    EXPECT_EQ(report[9], "Service: " + std::string(15, ' ') + "broker Command: " +
                             std::string(23, ' ') + "enableTcp pass/fail/total 0/0/0");
    // A 32-character name fills its field exactly.
    EXPECT_EQ(report[13], "Service: " + std::string(20, ' ') +
                              "0 Command: getAutoDayToNightTransitionLevel pass/fail/total 0/0/0");
    EXPECT_EQ(report[86], "Service: " + std::string(20, ' ') + "0 Command: " +
                              std::string(15, ' ') + "setManualBlueBias pass/fail/total 0/0/0");
}

TEST_F(ApiTesterTest, CountsRunsAndPassesPerCommand) {
    ApiTester tester(ipcHandle, logHandle);
    // Command 0 reads the alarm configuration: let its 2nd and 4th reads fail.
    kovra_sim_fail_nth("kovra_api_alarm_get_configuration_send", 2, 7);
    kovra_sim_fail_nth("kovra_api_alarm_get_configuration_send", 4, 7);
    for (int i = 0; i < 5; ++i) {
        tester.runCommand(0, 0);
    }
    tester.runCommand(0, 1);
    std::vector<std::string> report = linesOf(stdoutOf([&] { tester.printStatistics(); }));
    EXPECT_THAT(report[0], testing::EndsWith(" getConfiguration pass/fail/total 3/2/5"));
    EXPECT_THAT(report[1], testing::EndsWith(" setConfiguration pass/fail/total 1/0/1"));
    EXPECT_THAT(report[2], testing::EndsWith(" getState pass/fail/total 0/0/0"));
}

TEST_F(ApiTesterTest, AnIndexOutOfRangeIsLoggedAndNotCounted) {
    ApiTester tester(ipcHandle, logHandle);
    clearJournal();
    tester.runCommand(3, 87);
    EXPECT_THAT(journal(), ElementsAre("kovra_core_logging_log(#1, 3, \"ApiTester::runCommand: "
                                       "commandIndex 87 >= getCommandCount() 87\") = 0"));
    std::string report = stdoutOf([&] { tester.printStatistics(); });
    EXPECT_EQ(report.find("pass/fail/total 0/0/0\n"), report.find("pass/fail/total"));
    EXPECT_EQ(report.find("/1\n"), std::string::npos);
}

TEST_F(ApiTesterTest, ConcurrentRunsOfOneCommandAreAllCounted) {
    ApiTester tester(ipcHandle, logHandle);
    kovra_sim_journal_enable(0);
    unsigned int const threads = 8, runs = 500;
    boost::thread_group group;
    for (unsigned int t = 0; t < threads; ++t) {
        group.create_thread([&tester, t] {
            for (unsigned int i = 0; i < runs; ++i) {
                tester.runCommand(t, 77);  // relay trigger: always passes
                tester.runCommand(t, 78);  // temperature
            }
        });
    }
    group.join_all();
    std::vector<std::string> report = linesOf(stdoutOf([&] { tester.printStatistics(); }));
    EXPECT_THAT(report[77], testing::EndsWith(" trigger pass/fail/total 4000/0/4000"));
    EXPECT_THAT(report[78], testing::EndsWith(" getTemperature pass/fail/total 4000/0/4000"));
    EXPECT_EQ(kovra_sim_call_count("kovra_api_temperature_get_temperature_send"), 4000u);
}

TEST_F(ApiTesterTest, DestructionUnsubscribesFirstThenReleasesServicesInEnrolmentOrder) {
    {
        ApiTester tester(ipcHandle, logHandle);
        clearJournal();
    }
    std::vector<std::string> order;
    for (auto const& line : journal()) {
        order.push_back(line.substr(0, line.find('(')));
    }
    EXPECT_THAT(
        order,
        ElementsAre(
            "kovra_api_broker_new_target_unregister_event_handler",
            "kovra_api_broker_initiator_deinit", "kovra_api_alarm_initiator_deinit",
            "kovra_api_audio_param_initiator_deinit", "kovra_api_broker_initiator_deinit",
            "kovra_api_day_night_initiator_deinit", "kovra_api_device_information_initiator_deinit",
            "kovra_api_exposure_initiator_deinit", "kovra_api_flicker_correction_initiator_deinit",
            "kovra_api_imaging_initiator_deinit", "kovra_api_img_param_initiator_deinit",
            "kovra_api_led_initiator_deinit", "kovra_api_lens_focus_initiator_deinit",
            "kovra_api_log_initiator_deinit", "kovra_api_relay_initiator_deinit",
            "kovra_api_temperature_initiator_deinit",
            "kovra_api_temporal_noise_filter_initiator_deinit",
            "kovra_api_white_balance_basic_initiator_deinit"));
}

TEST_F(ApiTesterTest, AFailingFifthServiceReleasesTheFourBeforeItAndTheSubscription) {
    kovra_sim_fail_always("kovra_api_device_information_initiator_init", -2);
    try {
        ApiTester tester(ipcHandle, logHandle);
        FAIL() << "constructed although a service could not be";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(),
                     "ERROR: kovra_api_device_information_initiator_init failed status-2");
    }
    EXPECT_THAT(callsOf("kovra_core_logging_log"),
                ElementsAre("kovra_core_logging_log(#1, 3, \"ERROR: "
                            "kovra_api_device_information_initiator_init failed status-2\") = 0"));
    for (char const* service : {"alarm", "audio_param", "day_night"}) {
        std::string deinit = std::string("kovra_api_") + service + "_initiator_deinit";
        EXPECT_EQ(kovra_sim_call_count(deinit.c_str()), 1u) << service;
    }
    // The broker's own initiator and the broker test service's.
    EXPECT_EQ(kovra_sim_call_count("kovra_api_broker_initiator_deinit"), 2u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_broker_new_target_unregister_event_handler"), 1u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_device_information_initiator_deinit"), 0u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_exposure_initiator_init"), 0u);
}

TEST_F(ApiTesterTest, AFailingBrokerInitiatorIsLoggedAndThrownBeforeAnyService) {
    kovra_sim_fail_nth("kovra_api_broker_initiator_init", 1, 9);
    EXPECT_THROW(
        {
            try {
                ApiTester tester(ipcHandle, logHandle);
            } catch (std::runtime_error const& e) {
                EXPECT_STREQ(e.what(), "ERROR: kovra_api_broker_initiator_init failed status9");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(callsOf("kovra_core_logging_log").size(), 1u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_alarm_initiator_init"), 0u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_broker_new_target_register_event_handler"), 0u);
}

TEST_F(ApiTesterTest, SubscribesWithItsOwnBrokerInitiatorOpenedForEvents) {
    ApiTester tester(ipcHandle, logHandle);
    std::vector<std::string> inits = callsOf("kovra_api_broker_initiator_init");
    ASSERT_EQ(inits.size(), 2u);
    EXPECT_THAT(inits[0], HasSubstr(", 1, 0) = 0"));  // the tester's: events on
    EXPECT_THAT(inits[1], HasSubstr(", 0, 0) = 0"));  // the broker test service's
}

TEST_F(ApiTesterTest, CountsAnnouncementsPerTargetAndReportsThemInKeyOrder) {
    ApiTester tester(ipcHandle, logHandle);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(kovra_sim_restart_target("exposure"), 0);
    }
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    // Keys are compared as bytes: "10" sorts before "9".
    tester.newTargetEventCallback("9x", "0", 1, "local");
    tester.newTargetEventCallback("10x", "0", 1, "local");
    tester.newTargetEventCallback("10x", "1", 1, "local");
    ApiTester::newTargetEventCallback("ignored", "0", 1, "local", nullptr);

    std::vector<std::string> report = linesOf(stdoutOf([&] { tester.printStatistics(); }));
    ASSERT_EQ(report.size(), 87u + 1 + 5);
    EXPECT_EQ(report[87], "");
    EXPECT_THAT(std::vector<std::string>(report.begin() + 88, report.end()),
                ElementsAre("Target 10x:0 reset 1 times", "Target 10x:1 reset 1 times",
                            "Target 9x:0 reset 1 times", "Target exposure:0 reset 3 times",
                            "Target led:led reset 1 times"));
}

TEST_F(ApiTesterTest, NoAnnouncementMeansNoTargetSection) {
    ApiTester tester(ipcHandle, logHandle);
    std::string report = stdoutOf([&] { tester.printStatistics(); });
    EXPECT_EQ(report.find("\n\n"), std::string::npos);
    EXPECT_EQ(report.find("Target "), std::string::npos);
}

TEST_F(ApiTesterTest, NoAnnouncementIsRecordedAfterDestruction) {
    { ApiTester tester(ipcHandle, logHandle); }
    // Nobody is subscribed any more: the restart must be delivered to no one
    // (a dangling handler would crash or be reported by the sanitizers).
    EXPECT_EQ(kovra_sim_restart_target("exposure"), 0);
}

}  // namespace
