// Every command of every test service on the simulated camera: what it passes
// on, and what it leaves behind as each of its requests fails in turn.
#include <gtest/gtest.h>
#include <kovra_sim/control.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "services/PositioningTestService.h"
#include "services/PressureTestService.h"
#include "support/SimulatedCamera.h"
#include "tester/ApiTester.h"
#include "tester/ServiceList.h"

namespace {

// The items of an argument list; only texts, always quoted, hold blanks or commas.
std::vector<std::string> items(std::string const& list) {
    static std::regex const item(R"(&?"(?:[^"\\]|\\.)*"|[^, ]+)");
    return {std::sregex_token_iterator(list.begin(), list.end(), item), {}};
}

// The lines as one text, what `numbered` matches as "#": arrays and handles
// are numbered as handed out, which differs between runs.
std::string text(std::vector<std::string> const& lines, char const* numbered) {
    std::string text;
    for (auto const& line : lines) text += line + "\n";
    return std::regex_replace(text, std::regex(numbered), "#");
}

// The roles of each request's arguments after initiator and target in the
// camera's table, by "service_op"; "SET(n)" stores the value in slot n.
std::map<std::string, std::vector<std::string>> const kRoles{
#define KOVRA_CAMERA(svc, op, setting, ...) {#svc "_" #op, items(#__VA_ARGS__)},
#include "camera/camera.def"
};

// The arguments of the requests that send what their command did not read
// (keys, flags, fixed writes); "$n" is the n-th value the command read.
std::vector<std::pair<std::string, std::string>> const kConstants{
    {"broker_get_targets", R"("")"},
    {"img_param_get_(sensor_framerate_milli_hz|pipeline_type)|device_information_get_udn", "1"},
    {"(audio|img)_param_get_.*", "0, 1"},
    {"device_information_set_friendly_name", R"("FRIENDLY")"},
    {"log_get_settings(_core)?", R"("KOVRA_IPC")"},
    {"log_set_settings", R"("KOVRA_IPC", "err", "notset", "notset")"},
    {"positioning_move_to_position_with_speed_millidegrees",
     "1, $6, $1, 1, $7, $3, 1, $8, $5, 500"},
    {"positioning_move_to_position_with_speed_percentage", "1, $0, 1, 1, $1, 1, 1, $2, 1, 500"},
    {"positioning_set_velocity", "1, $0, 1, $1, 1, $2, 500"},
    {"positioning_(clear|restore)_(position|velocity)_limits", "1, 1, 1"},
};

// The status of the injected faults, one the stand-in never returns itself.
int32_t const kFault = 7;

class ServicesTest : public SimulatedCamera {
protected:
    void check(TestService& service, TestService::Method method, std::string const& name,
               std::string const& initiator, std::vector<std::string>& passing);
};

// The command `name` ("word_command") passes only with no fault. It is named
// after its last request (the relay's trigger alone asks nothing), each
// request before it reads what a later one sends, and it sends on `initiator`
// what it read unchanged, or the constants above; unless it writes a fixed
// value it leaves the settings as found. When a request fails it stops there
// and releases every array it was handed, null for the others. `passing`
// receives its journal with no fault.
void ServicesTest::check(TestService& service, TestService::Method method, std::string const& name,
                         std::string const& initiator, std::vector<std::string>& passing) {
    auto const run = [&] {
        kovra_sim_journal_clear();
        return (service.*method)();
    };
    std::string const before = snapshot();
    uint32_t const arrays = kovra_sim_outstanding_arrays();
    ASSERT_TRUE(run());
    passing = journal();
    EXPECT_EQ(kovra_sim_outstanding_arrays(), arrays);

    std::string const word = name.substr(0, name.rfind('_'));
    std::regex const call(R"(kovra_core_free_\w+\((?:\[#\d+\]|null)\) = 0|kovra_api_)" + word +
                          R"(_(\w+)_send\()" + initiator + ", \"" + service.targetName() +
                          R"("(.*)\) = 0)");
    std::vector<std::string> read;
    std::vector<std::size_t> readBy, requests;  // readBy: the request each value came from
    std::set<std::size_t> passedOn;
    bool writesFixedValue = false;
    std::string op;
    for (std::size_t i = 0; i < passing.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(passing[i], m, call)) << passing[i];
        if (!m[1].matched) continue;  // a release
        requests.push_back(i);
        op = word + "_" + m[1].str();
        std::vector<std::string> const args = items(m[2]);
        std::vector<std::string> const roles =
            kRoles.count(op) ? kRoles.at(op) : std::vector<std::string>(args.size());
        std::string sent;  // with each value read as "$n"
        for (std::size_t a = 0; a < args.size(); ++a) {
            std::size_t const n = std::find(read.begin(), read.end(), args[a]) - read.begin();
            if (args[a][0] == '&') {
                read.push_back(args[a].substr(1));
                readBy.push_back(i);
            } else if (n < read.size()) {
                sent += ", $" + std::to_string(n);
                passedOn.insert(readBy[n]);
            } else {
                sent += ", " + args[a];
                writesFixedValue |= roles.at(a).rfind("SET(", 0) == 0;
            }
        }
        auto const constants = std::find_if(kConstants.begin(), kConstants.end(), [&](auto& k) {
            return std::regex_match(op, std::regex(k.first));
        });
        EXPECT_TRUE(constants == kConstants.end()
                        ? std::regex_match(sent, std::regex(R"((, \$\d+)*)"))
                        : sent == ", " + constants->second)
            << passing[i] << " sends " << sent;
    }
    // One name is shortened in the camera's request.
    std::string named = std::regex_replace(name, std::regex("([a-z0-9])([A-Z])"), "$1_$2");
    std::transform(named.begin(), named.end(), named.begin(), ::tolower);
    EXPECT_EQ(std::regex_replace(named, std::regex("millihertz"), "milli_hz"),
              op.empty() ? "relay_trigger" : op);
    EXPECT_EQ(passedOn.size(), requests.empty() ? 0 : requests.size() - 1)
        << "requests whose values go nowhere";
    EXPECT_TRUE(passedOn.empty() ||
                std::set<std::string>(read.begin(), read.end()).size() == read.size())
        << "values read that are equal";
    if (!writesFixedValue) {
        EXPECT_EQ(snapshot(), before);
    }

    std::set<std::string> failed;
    for (std::size_t i : requests) {
        std::string const function = passing[i].substr(0, passing[i].find('('));
        if (!failed.insert(function).second) continue;
        SCOPED_TRACE(function + " fails");
        kovra_sim_fail_always(function.c_str(), kFault);
        EXPECT_FALSE(run());
        kovra_sim_clear_faults();
        // The requests before, the failed one with its out-parameters untouched,
        // then the releases, of null for what was not handed out.
        std::vector<std::string> expected(passing.begin(), passing.begin() + i);
        std::string const handedOut =
            std::accumulate(expected.begin(), expected.end(), std::string());
        std::string const line =
            std::regex_replace(passing[i], std::regex(R"(&("(?:[^"\\]|\\.)*"|[^,)]+))"), "&?");
        expected.push_back(line.substr(0, line.size() - 1) + std::to_string(kFault));
        for (std::size_t j = i + 1; j < passing.size(); ++j) {
            std::smatch m;
            if (!std::regex_match(passing[j], m,
                                  std::regex(R"((kovra_core_free_\w+\()(.*)(\) = 0))")))
                continue;
            bool const kept = handedOut.find("&" + m[2].str()) != std::string::npos;
            expected.push_back(m[1].str() + (kept ? m[2].str() : "null") + m[3].str());
        }
        EXPECT_EQ(text(journal(), R"(\[#\d+\])"), text(expected, R"(\[#\d+\])"));
        EXPECT_EQ(kovra_sim_outstanding_arrays(), arrays);
    }
}

// The enrolled services in enrolment order, then the two nothing enrols. A
// service opens its initiator with the two handles, 0 and 0, and releases it
// when destroyed; the tester's command k is the k-th of the enrolled services.
TEST_F(ServicesTest, EveryCommandStopsAtTheFirstFailureAndPassesOnWhatItRead) {
    ApiTester tester(ipcHandle, logHandle);
    ASSERT_EQ(tester.getCommandCount(), 87u);
    kovra_sim_journal_clear();
    std::vector<boost::shared_ptr<TestService>> services;
    createServices(ipcHandle, logHandle, services);
    services.push_back(boost::make_shared<PositioningTestService>(ipcHandle, logHandle));
    services.push_back(boost::make_shared<PressureTestService>(ipcHandle, logHandle));
    std::vector<std::string> const opened = journal();
    ASSERT_EQ(opened.size(), services.size());
    unsigned int k = 0;
    std::vector<std::string> enrolled;  // their words, which they are enrolled in the order of
    for (std::size_t s = 0; s < services.size(); ++s) {
        std::smatch id;  // the service's word and initiator
        ASSERT_TRUE(std::regex_match(
            opened[s], id,
            std::regex(R"(kovra_api_(\w+)_initiator_init\(#2, #1, &(#\d+), 0, 0\) = 0)")))
            << opened[s];
        if (s + 2 < services.size()) enrolled.push_back(id[1]);
        for (auto const& command : services[s]->commands()) {
            SCOPED_TRACE(id[1].str() + "_" + command.second);
            std::vector<std::string> passing;
            check(*services[s], command.first, id[1].str() + "_" + command.second, id[2], passing);
            if (k < tester.getCommandCount()) {
                kovra_sim_journal_clear();
                tester.runCommand(0, k++);
                EXPECT_EQ(text(journal(), R"(#\d+)"), text(passing, R"(#\d+)"));
            }
        }
        kovra_sim_journal_clear();
        services[s].reset();
        EXPECT_EQ(journal(),
                  std::vector<std::string>{"kovra_api_" + id[1].str() + "_initiator_deinit(" +
                                           id[2].str() + ") = 0"});
    }
    EXPECT_EQ(enrolled.size(), 16u);
    EXPECT_TRUE(std::is_sorted(enrolled.begin(), enrolled.end()));
}

}  // namespace
