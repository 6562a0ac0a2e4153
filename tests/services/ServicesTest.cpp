#include <gtest/gtest.h>
#include <kovra_sim/control.h>

#include <cctype>
#include <initializer_list>
#include <map>
#include <memory>
#include <numeric>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AlarmTestService.h"
#include "ApiTester.h"
#include "AudioParamTestService.h"
#include "BrokerTestService.h"
#include "DayNightTestService.h"
#include "DeviceInformationTestService.h"
#include "ExposureTestService.h"
#include "FlickerCorrectionTestService.h"
#include "ImagingTestService.h"
#include "ImgParamTestService.h"
#include "LedTestService.h"
#include "LensFocusTestService.h"
#include "LogTestService.h"
#include "PositioningTestService.h"
#include "PressureTestService.h"
#include "RelayTestService.h"
#include "Schedule.h"
#include "SimulatedCamera.h"
#include "TemperatureTestService.h"
#include "TemporalNoiseFilterTestService.h"
#include "WhiteBalanceBasicTestService.h"

namespace {

// What every command must send. A command is written "name: call; call", its
// calls in the order made, and "name!: ..." when it writes a fixed value
// rather than writing back. A request omits "kovra_api_<word>_" and "_send"
// and its first two arguments (the service's initiator handle and target name
// are checked on every request); "core_..." is a release call. Arguments:
// "&x" is an out-parameter whose value is bound to x, "&_" one whose value is
// ignored ("&_3" three of them), a bare name a value bound earlier in the
// command, anything else literal journal text.
struct ServiceCase {
    char const* className;
    char const* word;
    char const* target;
    bool enrolled;
    std::unique_ptr<TestService> (*make)(void* ipcHandle, void* logHandle);
    std::vector<std::string> commands;
};

template <class Service>
std::unique_ptr<TestService> make(void* ipcHandle, void* logHandle) {
    return std::make_unique<Service>(ipcHandle, logHandle);
}

// A setting read as `count` values and its write-back of the first one.
std::vector<std::string> rw(std::string const& name, std::string const& item, int count = 1) {
    std::string rest = count > 1 ? ", &_" + std::to_string(count - 1) : "";
    return {"get" + name + ": get_" + item + "(&_" + std::to_string(count) + ")",
            "set" + name + ": get_" + item + "(&v" + rest + "); set_" + item + "(v)"};
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto const& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

#define SERVICE(Class, word, target, enrolled) #Class, word, target, enrolled, &make < Class>

std::vector<ServiceCase> const& services() {
    static std::vector<ServiceCase> const cases{
        {SERVICE(AlarmTestService, "alarm", "0", true),
         {"getConfiguration: get_configuration(&_9)",
          "setConfiguration: get_configuration(&a1, &a2, &a3, &b1, &b2, &b3, &b4, &b5, &b6); "
          "set_configuration(a1, a2, a3, b1, b4)",
          "getState: get_state(&_1)"}},
        {SERVICE(AudioParamTestService, "audio_param", "audio_param", true),
         {"getAudioType: get_audio_type(0, 1, &_1)", "getAudioRate: get_audio_rate(0, 1, &_1)",
          "getAudioVolume: get_audio_volume(0, 1, &_1)",
          "getAudioPlaybackVolume: get_audio_playback_volume(0, 1, &_1)",
          "getAudioSource: get_audio_source(0, 1, &_1)",
          "getAudioFrameSize: get_audio_frame_size(0, 1, &_1)"}},
        {SERVICE(BrokerTestService, "broker", "broker", true),
         {"enableTcp: enable_tcp()",
          "getTargets: get_targets(\"\", &t1, &t2, &b); core_free_string_array(t1); "
          "core_free_string_array(t2); core_free_bool_array(b)"}},
        {SERVICE(DayNightTestService, "day_night", "0", true),
         join({rw("ManualModeEnable", "manual_mode_enable"),
               rw("AutoDayToNightTransitionLevel", "auto_day_to_night_transition_level"),
               rw("AutoModeDetectTime", "auto_mode_detect_time", 3),
               rw("ManualFilterPosition", "manual_filter_position"),
               {"getCurrentFilterPosition: get_current_filter_position(&_1)"}})},
        {SERVICE(DeviceInformationTestService, "device_information", "device_information", true),
         {"getStaticInformation: get_static_information(&_9)", "getUdn: get_udn(1, &_1)",
          "getFriendlyName: get_friendly_name(&_1)",
          "setFriendlyName!: set_friendly_name(\"FRIENDLY\")"}},
        {SERVICE(ExposureTestService, "exposure", "0", true),
         join({rw("ManualModeEnable", "manual_mode_enable"), rw("FrameRate", "frame_rate", 3),
               rw("AutoMinExposureTime", "auto_min_exposure_time", 3),
               rw("AutoMaxExposureTime", "auto_max_exposure_time", 3),
               rw("AutoMinGain", "auto_min_gain", 3), rw("AutoMaxGain", "auto_max_gain", 3),
               rw("ManualExposureTime", "manual_exposure_time", 3),
               rw("ManualGain", "manual_gain", 3)})},
        {SERVICE(FlickerCorrectionTestService, "flicker_correction", "0", true),
         join({rw("Mode", "mode"), rw("FrequencyHint", "frequency_hint")})},
        {SERVICE(ImagingTestService, "imaging", "0", true),
         join({rw("Contrast", "contrast", 3), rw("Sharpness", "sharpness", 3),
               rw("Brightness", "brightness", 3), rw("Saturation", "saturation", 3)})},
        {SERVICE(ImgParamTestService, "img_param", "img_param", true),
         {"getSensorFramerateMillihertz: get_sensor_framerate_milli_hz(1, &_1)",
          "getStreamDim: get_stream_dim(0, 1, &_2)", "getStreamFrDiv: get_stream_fr_div(0, 1, &_1)",
          "getEncode: get_encode(0, 1, &_3)", "getQuality: get_quality(0, 1, &_1)",
          "getCrop: get_crop(0, 1, &_4)", "getH264Settings: get_h264_settings(0, 1, &_3)",
          "getUsrRateControlSettings: get_usr_rate_control_settings(0, 1, &_7)",
          "getPipelineType: get_pipeline_type(1, &_1)"}},
        {SERVICE(LedTestService, "led", "led", true), rw("State", "state")},
        {SERVICE(LensFocusTestService, "lens_focus", "0", true),
         join({rw("ManualModeEnable", "manual_mode_enable"),
               {"doAutoFocus: do_auto_focus()",
                "getCurrentFocusPosition: get_current_focus_position(&_1)"},
               rw("ManualFocusPosition", "manual_focus_position", 3)})},
        {SERVICE(LogTestService, "log", "log", true),
         {"getTags: get_tags(&t); core_free_string_array(t)",
          "getSettings: get_settings(\"KOVRA_IPC\", &_3)",
          "getSettingsCore: get_settings_core(\"KOVRA_IPC\", &_3)",
          "setSettings!: set_settings(\"KOVRA_IPC\", \"err\", \"notset\", \"notset\")"}},
        {SERVICE(RelayTestService, "relay", "0", true),
         join({{"getConfiguration: get_configuration(&_7)",
                "setConfiguration: get_configuration(&c1, &c2, &d1, &c3, &d2, &d3, &d4); "
                "set_configuration(c1, c2, d1, c3, d2, d3, d4)"},
               rw("State", "state"),
               {"trigger:"}})},
        {SERVICE(TemperatureTestService, "temperature", "0", true),
         {"getTemperature: get_temperature(&_1)"}},
        {SERVICE(TemporalNoiseFilterTestService, "temporal_noise_filter", "0", true),
         rw("Enable", "enable")},
        {SERVICE(WhiteBalanceBasicTestService, "white_balance_basic", "0", true),
         join({rw("Mode", "mode"), rw("ManualRedBias", "manual_red_bias", 3),
               rw("ManualBlueBias", "manual_blue_bias", 3)})},
        {SERVICE(PositioningTestService, "positioning", "0", false),
         {"getEnabledAxes: get_enabled_axes(&_3)", "getUdpServerPort: get_udp_server_port(&_2)",
          "getPosition: get_position(&_3)",
          "moveToPositionWithSpeedMillidegrees: "
          "get_implementation_velocity_limits(&l1, &l2, &l3, &l4, &l5, &l6); "
          "get_position(&p1, &p2, &p3); "
          "move_to_position_with_speed_millidegrees(1, p1, l2, 1, p2, l4, 1, p3, l6, 500)",
          "moveToPositionWithSpeedPercentage: get_position(&p1, &p2, &p3); "
          "move_to_position_with_speed_percentage(1, p1, 1, 1, p2, 1, 1, p3, 1, 500)",
          "getVelocity: get_velocity(&_3)",
          "setVelocity: get_velocity(&w1, &w2, &w3); set_velocity(1, w1, 1, w2, 1, w3, 500)",
          "getSoftPositionLimits: get_soft_position_limits(&_9)",
          "setSoftPositionLimits: "
          "get_soft_position_limits(&f1, &x1, &y1, &f2, &x2, &y2, &f3, &x3, &y3); "
          "set_soft_position_limits(f1, x1, y1, f2, x2, y2, f3, x3, y3)",
          "getImplementationPositionLimits: get_implementation_position_limits(&_6)",
          "clearPositionLimits: clear_position_limits(1, 1, 1)",
          "restorePositionLimits: restore_position_limits(1, 1, 1)",
          "getSoftVelocityLimits: get_soft_velocity_limits(&_9)",
          "setSoftVelocityLimits: "
          "get_soft_velocity_limits(&f1, &x1, &y1, &f2, &x2, &y2, &f3, &x3, &y3); "
          "set_soft_velocity_limits(f1, x1, y1, f2, x2, y2, f3, x3, y3)",
          "getImplementationVelocityLimits: get_implementation_velocity_limits(&_6)",
          "clearVelocityLimits: clear_velocity_limits(1, 1, 1)",
          "restoreVelocityLimits: restore_velocity_limits(1, 1, 1)",
          "getAzimuthZero: get_azimuth_zero(&_1)",
          "setAzimuthZero: get_azimuth_zero(&v); set_azimuth_zero(v)"}},
        {SERVICE(PressureTestService, "pressure", "0", false), {"getPressure: get_pressure(&_1)"}},
    };
    return cases;
}

// One journal line "function(arg, arg) = status", split into its parts.
struct Call {
    std::string function;
    std::vector<std::string> args;
    std::string status;
};

std::vector<std::string> splitArgs(std::string const& text) {
    std::vector<std::string> args;
    std::string current;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            current += text.substr(i++, 2);
        } else if (!quoted && text.compare(i, 2, ", ") == 0) {
            args.push_back(current);
            current.clear();
            ++i;
        } else {
            quoted = c == '"' ? !quoted : quoted;
            current += c;
        }
    }
    if (!current.empty() || !args.empty()) args.push_back(current);
    return args;
}

Call parseCall(std::string const& line) {
    std::size_t open = line.find('(');
    std::size_t close = line.rfind(") = ");
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {line, {}, ""};
    return {line.substr(0, open), splitArgs(line.substr(open + 1, close - open - 1)),
            line.substr(close + 4)};
}

struct Command {
    std::string name;
    bool keepsSettings;
    std::vector<std::string> patterns;
};

Command parseCommand(std::string const& text) {
    std::size_t colon = text.find(':');
    Command command{text.substr(0, colon), true, {}};
    if (command.name.back() == '!') {
        command.name.pop_back();
        command.keepsSettings = false;
    }
    for (std::size_t at = colon + 1; at < text.size();) {
        std::size_t end = std::min(text.find(';', at), text.size());
        command.patterns.push_back(text.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return command;
}

bool isRelease(std::string const& pattern) { return pattern.rfind("core_", 0) == 0; }

// The journal call a pattern stands for, with status 0.
Call expand(ServiceCase const& service, std::string const& handle, std::string const& pattern) {
    Call call = parseCall(pattern + " = 0");
    std::vector<std::string> args;
    for (auto const& arg : call.args) {
        bool many = arg.size() > 2 && arg.compare(0, 2, "&_") == 0;
        args.insert(args.end(), many ? std::stoul(arg.substr(2)) : 1, many ? "&_" : arg);
    }
    call.args = args;
    if (isRelease(pattern)) {
        call.function = "kovra_" + call.function;
        return call;
    }
    call.function = "kovra_api_" + std::string(service.word) + "_" + call.function + "_send";
    call.args.insert(call.args.begin(), {handle, "\"" + std::string(service.target) + "\""});
    return call;
}

bool isName(std::string const& token) {
    return (std::isalpha(static_cast<unsigned char>(token[0])) || token[0] == '_') &&
           token != "null";
}

// Compares a journal call with an expanded pattern, binding and checking
// names in `bound`; returns what differs, or nothing. After a failed request
// the journal shows out-parameters as "&?" and the library has left them as
// the command set them, so their names are bound to "null", what a zeroed
// text or array holds.
std::string mismatch(Call const& actual, Call const& expected,
                     std::map<std::string, std::string>& bound) {
    if (actual.function != expected.function || actual.args.size() != expected.args.size() ||
        actual.status != expected.status) {
        return "expected a call of " + expected.function + " with " +
               std::to_string(expected.args.size()) + " arguments returning " + expected.status;
    }
    for (std::size_t i = 0; i < expected.args.size(); ++i) {
        std::string const& want = expected.args[i];
        std::string const& got = actual.args[i];
        if (want[0] == '&') {
            if (got[0] != '&') return "argument " + std::to_string(i) + " is no out-parameter";
            if (want != "&_") bound[want.substr(1)] = actual.status == "0" ? got.substr(1) : "null";
        } else if (isName(want) ? bound.count(want) == 0 || bound[want] != got : want != got) {
            return "argument " + std::to_string(i) + " should be " + want +
                   (bound.count(want) ? " = " + bound[want] : "");
        }
    }
    return "";
}

// The status the injected faults return, unlike any the stand-in makes itself.
int32_t const kFault = 7;

std::string snapshot() {
    std::string text(kovra_sim_snapshot(nullptr, 0), '\0');
    kovra_sim_snapshot(&text[0], text.size() + 1);
    return text;
}

std::string joined(std::vector<std::string> const& lines) {
    std::string text;
    for (auto const& line : lines) text += line + "\n";
    return text;
}

ServiceCase const& serviceNamed(std::string const& className) {
    for (auto const& service : services()) {
        if (className == service.className) return service;
    }
    throw std::invalid_argument(className);
}

// Each test runs on a fresh simulated camera with the client library up, and
// reads the journal in pieces: every read takes the lines since the last.
class SimulatedCamera : public SimulatedCameraTest {
protected:
    void SetUp() override {
        SimulatedCameraTest::SetUp();
        std::vector<std::string> lines = journal();
        ASSERT_EQ(lines.size(), 3u) << joined(lines);
        logToken = parseCall(lines[1]).args.at(1).substr(1);
        ipcToken = parseCall(lines[2]).args.at(2).substr(1);
    }

    static std::vector<std::string> journal() {
        std::vector<std::string> lines = SimulatedCameraTest::journal();
        clearJournal();
        return lines;
    }

    // Builds the service, checks that its one call opened its initiator with
    // the two handles, 0 and 0, and returns how the journal names it.
    std::string open(ServiceCase const& service, std::unique_ptr<TestService>& made) {
        made.reset();
        kovra_sim_journal_clear();
        made = service.make(ipcHandle, logHandle);
        std::vector<std::string> lines = journal();
        EXPECT_EQ(lines.size(), 1u) << joined(lines);
        Call init = parseCall(lines.at(0));
        EXPECT_EQ(init.function, "kovra_api_" + std::string(service.word) + "_initiator_init");
        EXPECT_EQ(init.args,
                  (std::vector<std::string>{ipcToken, logToken, init.args.at(2), "0", "0"}));
        return init.args.at(2).substr(1);
    }

    bool run(TestService& service, std::string const& name) {
        for (auto const& entry : service.commands()) {
            if (entry.second == name) return (service.*entry.first)();
        }
        throw std::invalid_argument(name);
    }

    std::string ipcToken;
    std::string logToken;
};

struct CommandRef {
    std::size_t service;
    std::size_t command;
};

void PrintTo(CommandRef const& ref, std::ostream* os) { *os << ref.service << "." << ref.command; }

std::vector<CommandRef> allCommands() {
    std::vector<CommandRef> refs;
    for (std::size_t s = 0; s < services().size(); ++s) {
        for (std::size_t c = 0; c < services()[s].commands.size(); ++c) refs.push_back({s, c});
    }
    return refs;
}

std::string shortName(ServiceCase const& service) {
    std::string name = service.className;
    return name.substr(0, name.find("TestService"));
}

class EveryCommand : public SimulatedCamera, public testing::WithParamInterface<CommandRef> {};

// Runs the command once with each of its requests failing in turn, then once
// as the camera accepts everything. It must make exactly the calls of its
// table row up to the failed request and after it only the releases (of
// null, after a failure), pass only without a fault, so that a set whose get
// fails makes one call and one whose set fails two, keep no array, and, if
// it writes back, leave the camera's settings as they were. Its service
// registers it at its place in the table and releases its initiator once.
TEST_P(EveryCommand, MakesExactlyItsCalls) {
    ServiceCase const& service = services()[GetParam().service];
    Command const command = parseCommand(service.commands[GetParam().command]);
    std::unique_ptr<TestService> made;
    std::string const handle = open(service, made);
    ASSERT_EQ(made->commands().size(), service.commands.size());
    ASSERT_EQ(made->commands()[GetParam().command].second, command.name);

    std::vector<Call> expected;
    for (auto const& pattern : command.patterns) {
        expected.push_back(expand(service, handle, pattern));
    }
    std::vector<int> faults;
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        if (!isRelease(command.patterns[i])) faults.push_back(i);
    }
    faults.push_back(-1);
    for (int failAt : faults) {
        SCOPED_TRACE(failAt < 0 ? "no fault" : "fault in " + expected[failAt].function);
        kovra_sim_clear_faults();
        if (failAt >= 0) kovra_sim_fail_always(expected[failAt].function.c_str(), kFault);
        std::string const before = snapshot();
        uint32_t const arraysBefore = kovra_sim_outstanding_arrays();

        EXPECT_EQ(run(*made, command.name), failAt < 0);

        std::vector<Call> wanted;
        for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
            if (failAt < 0 || i <= failAt || isRelease(command.patterns[i])) {
                wanted.push_back(expected[i]);
                if (i == failAt) wanted.back().status = std::to_string(kFault);
            }
        }
        std::vector<std::string> lines = journal();
        ASSERT_EQ(lines.size(), wanted.size()) << joined(lines);
        std::map<std::string, std::string> bound;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(mismatch(parseCall(lines[i]), wanted[i], bound), "") << lines[i];
        }
        if (failAt < 0) {
            // Equal values read would hide a value sent in another's place.
            std::map<std::string, std::string> seen;
            for (auto const& [name, value] : bound) {
                EXPECT_TRUE(seen.emplace(value, name).second) << name << " = " << seen[value];
            }
            EXPECT_TRUE(!command.keepsSettings || snapshot() == before);
        }
        EXPECT_EQ(kovra_sim_outstanding_arrays(), arraysBefore);
    }

    kovra_sim_clear_faults();
    made.reset();
    EXPECT_EQ(journal(), (std::vector<std::string>{"kovra_api_" + std::string(service.word) +
                                                   "_initiator_deinit(" + handle + ") = 0"}));
}

INSTANTIATE_TEST_SUITE_P(AllServices, EveryCommand, testing::ValuesIn(allCommands()),
                         [](testing::TestParamInfo<CommandRef> const& info) {
                             ServiceCase const& service = services()[info.param.service];
                             return shortName(service) + "_" +
                                    parseCommand(service.commands[info.param.command]).name;
                         });

class EveryService : public SimulatedCamera, public testing::WithParamInterface<std::size_t> {};

TEST_P(EveryService, RegistersItsCommandsInOrderUnderItsTargetName) {
    ServiceCase const& service = services()[GetParam()];
    std::unique_ptr<TestService> made;
    open(service, made);
    std::vector<std::string> names, wanted;
    for (auto const& entry : made->commands()) names.push_back(entry.second);
    for (auto const& command : service.commands) wanted.push_back(parseCommand(command).name);
    EXPECT_EQ(names, wanted);
    EXPECT_EQ(made->targetName(), service.target);
}

// A service whose initiator cannot be opened logs the failure once at level
// 3 and throws the same text; having no initiator, it releases none.
TEST_P(EveryService, ThrowsAndLogsWhenItsInitiatorCannotBeOpened) {
    ServiceCase const& service = services()[GetParam()];
    std::string const init = "kovra_api_" + std::string(service.word) + "_initiator_init";
    for (int32_t status : {5, -2}) {
        std::string const message = "ERROR: " + init + " failed status" + std::to_string(status);
        kovra_sim_fail_always(init.c_str(), status);
        try {
            service.make(ipcHandle, logHandle);
            ADD_FAILURE() << "no exception for status " << status;
        } catch (std::runtime_error const& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
        std::vector<std::string> lines = journal();
        ASSERT_EQ(lines.size(), 2u) << joined(lines);
        EXPECT_EQ(parseCall(lines[0]).function, init);
        EXPECT_EQ(parseCall(lines[0]).status, std::to_string(status));
        EXPECT_EQ(lines[1], "kovra_core_logging_log(" + logToken + ", 3, \"" + message + "\") = 0");
    }
}

INSTANTIATE_TEST_SUITE_P(AllServices, EveryService, testing::Range<std::size_t>(0, 18),
                         [](testing::TestParamInfo<std::size_t> const& info) {
                             return shortName(services()[info.param]);
                         });

using Services = SimulatedCamera;

// The tester's command index runs over the enrolled services in enrolment
// order and within each over its commands in registration order. A seeded
// single-thread run, preceded by one pass over every index, must therefore
// send exactly, call for call, what the k-th enrolled command prescribes.
TEST_F(Services, ASeededRunSendsWhatTheCommandTablesPrescribe) {
    std::vector<std::pair<ServiceCase const*, Command>> enrolled;
    for (auto const& service : services()) {
        for (auto const& command : service.commands) {
            if (service.enrolled) enrolled.emplace_back(&service, parseCommand(command));
        }
    }
    ASSERT_EQ(enrolled.size(), 87u);
    ApiTester tester(ipcHandle, logHandle);
    ASSERT_EQ(tester.getCommandCount(), enrolled.size());
    std::vector<unsigned int> schedule(enrolled.size());
    std::iota(schedule.begin(), schedule.end(), 0u);
    std::vector<unsigned int> drawn = drawSchedules(tester, 1, 1, 500).front();
    schedule.insert(schedule.end(), drawn.begin(), drawn.end());

    journal();
    for (unsigned int k : schedule) {
        auto const& [service, command] = enrolled[k];
        SCOPED_TRACE(std::to_string(k) + " " + service->className + "::" + command.name);
        tester.runCommand(0, k);
        std::vector<std::string> lines = journal();
        ASSERT_EQ(lines.size(), command.patterns.size()) << joined(lines);
        std::map<std::string, std::string> bound;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Call const call = parseCall(lines[i]);
            Call const wanted =
                expand(*service, parseCall(lines[0]).args.at(0), command.patterns[i]);
            EXPECT_EQ(mismatch(call, wanted, bound), "") << lines[i];
        }
    }
}

// With known values preset, the last request of each command carries the
// values just read, chosen and placed as the command defines.
TEST_F(Services, SendOnTheValuesJustRead) {
    struct Example {
        char const* service;
        char const* command;
        std::vector<std::pair<char const*, char const*>> presets;
        char const* sent;
    };
    for (Example const& example : std::vector<Example>{
             {"AlarmTestService",
              "setConfiguration",
              {{"alarm.configuration", "1,0,1,10,20,30,40,50,60"}},
              "1, 0, 1, 10, 40"},
             {"RelayTestService",
              "setConfiguration",
              {{"relay.configuration", "1,2,300,4,5,6,7"}},
              "1, 2, 300, 4, 5, 6, 7"},
             {"PositioningTestService",
              "moveToPositionWithSpeedMillidegrees",
              {{"positioning.implementation_velocity_limits", "1,2,3,4,5,6"},
               {"positioning.position", "100,200,300"}},
              "1, 100, 2, 1, 200, 4, 1, 300, 6, 500"},
             {"PositioningTestService",
              "moveToPositionWithSpeedPercentage",
              {{"positioning.position", "100,200,300"}},
              "1, 100, 1, 1, 200, 1, 1, 300, 1, 500"},
             {"PositioningTestService",
              "setVelocity",
              {{"positioning.velocity", "7,8,9"}},
              "1, 7, 1, 8, 1, 9, 500"},
             {"ExposureTestService", "setFrameRate", {{"exposure.frame_rate", "25,1,60"}}, "25"},
             {"ExposureTestService",
              "setManualModeEnable",
              {{"exposure.manual_mode_enable", "0"}},
              "0"}}) {
        SCOPED_TRACE(std::string(example.service) + "::" + example.command);
        for (auto const& [key, values] : example.presets) {
            ASSERT_EQ(kovra_sim_setting_set(key, values), 0) << key;
        }
        std::unique_ptr<TestService> made;
        open(serviceNamed(example.service), made);
        EXPECT_TRUE(run(*made, example.command));
        std::vector<std::string> lines = journal();
        ASSERT_FALSE(lines.empty());
        std::vector<std::string> args = parseCall(lines.back()).args;
        std::string sent;
        for (std::size_t i = 2; i < args.size(); ++i) sent += (i > 2 ? ", " : "") + args[i];
        EXPECT_EQ(sent, example.sent) << lines.back();
    }
}

}  // namespace
