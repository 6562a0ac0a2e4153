// Every command of every test service on the simulated camera: the requests
// it sends with their arguments, checked in the camera's journal, as the
// camera accepts them and as each of them fails in turn.
#include <gmock/gmock.h>
#include <kovra_sim/control.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "services/AlarmTestService.h"
#include "services/AudioParamTestService.h"
#include "services/BrokerTestService.h"
#include "services/DayNightTestService.h"
#include "services/DeviceInformationTestService.h"
#include "services/ExposureTestService.h"
#include "services/FlickerCorrectionTestService.h"
#include "services/ImagingTestService.h"
#include "services/ImgParamTestService.h"
#include "services/LedTestService.h"
#include "services/LensFocusTestService.h"
#include "services/LogTestService.h"
#include "services/PositioningTestService.h"
#include "services/PressureTestService.h"
#include "services/RelayTestService.h"
#include "services/TemperatureTestService.h"
#include "services/TemporalNoiseFilterTestService.h"
#include "services/WhiteBalanceBasicTestService.h"
#include "support/SimulatedCamera.h"
#include "tester/ApiTester.h"

namespace {

// An argument after the initiator handle and the target name: a fixed value
// as the journal prints it, an out-parameter (kOut), or the n-th value the
// command has read so far (n counts the out-parameters of its requests).
using Arg = std::variant<int, std::string>;
int const kOut = -1;

// "get_state" stands for kovra_api_<service word>_get_state_send; a
// "kovra_core_..." function is a release, called with the arguments alone.
struct Request {
    std::string function;
    std::vector<Arg> args;
};

struct Command {
    std::string name;
    std::vector<Request> requests;
    bool writesFixedValue = false;  // every other command leaves the settings as found
};

struct Service {
    std::string word, target;
    bool enrolled;
    std::unique_ptr<TestService> (*make)(void*, void*);
    std::vector<Command> commands;
};

std::vector<Arg> outs(int count, std::vector<Arg> fixed = {}) {
    fixed.insert(fixed.end(), count, kOut);
    return fixed;
}
Command get(std::string const& name, std::string const& item, int count,
            std::vector<Arg> fixed = {}) {
    return {"get" + name, {{"get_" + item, outs(count, fixed)}}};
}
// A get, and a set of the first value it reads.
std::vector<Command> getAndSet(std::string const& name, std::string const& item, int count = 1) {
    return {get(name, item, count),
            {"set" + name, {{"get_" + item, outs(count)}, {"set_" + item, {0}}}}};
}
std::vector<Command> join(std::vector<std::vector<Command>> const& parts) {
    std::vector<Command> all;
    for (auto const& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
template <class S>
std::unique_ptr<TestService> make(void* ipcHandle, void* logHandle) {
    return std::make_unique<S>(ipcHandle, logHandle);
}

std::string const kTag = "\"KOVRA_IPC\"";
Arg const kOne = std::string("1");

// In enrolment order, then the two services nothing enrols.
// clang-format off
std::vector<Service> const kServices{
    {"alarm", "0", true, make<AlarmTestService>, {
        get("Configuration", "configuration", 9),
        {"setConfiguration", {{"get_configuration", outs(9)}, {"set_configuration", {0, 1, 2, 3, 6}}}},
        get("State", "state", 1)}},
    {"audio_param", "audio_param", true, make<AudioParamTestService>, {
        get("AudioType", "audio_type", 1, {"0", "1"}), get("AudioRate", "audio_rate", 1, {"0", "1"}),
        get("AudioVolume", "audio_volume", 1, {"0", "1"}),
        get("AudioPlaybackVolume", "audio_playback_volume", 1, {"0", "1"}),
        get("AudioSource", "audio_source", 1, {"0", "1"}),
        get("AudioFrameSize", "audio_frame_size", 1, {"0", "1"})}},
    {"broker", "broker", true, make<BrokerTestService>, {
        {"enableTcp", {{"enable_tcp", {}}}},
        {"getTargets", {{"get_targets", outs(3, {"\"\""})}, {"kovra_core_free_string_array", {0}},
                        {"kovra_core_free_string_array", {1}}, {"kovra_core_free_bool_array", {2}}}}}},
    {"day_night", "0", true, make<DayNightTestService>, join({
        getAndSet("ManualModeEnable", "manual_mode_enable"),
        getAndSet("AutoDayToNightTransitionLevel", "auto_day_to_night_transition_level"),
        getAndSet("AutoModeDetectTime", "auto_mode_detect_time", 3),
        getAndSet("ManualFilterPosition", "manual_filter_position"),
        {get("CurrentFilterPosition", "current_filter_position", 1)}})},
    {"device_information", "device_information", true, make<DeviceInformationTestService>, {
        get("StaticInformation", "static_information", 9), get("Udn", "udn", 1, {"1"}),
        get("FriendlyName", "friendly_name", 1),
        {"setFriendlyName", {{"set_friendly_name", {"\"FRIENDLY\""}}}, true}}},
    {"exposure", "0", true, make<ExposureTestService>, join({
        getAndSet("ManualModeEnable", "manual_mode_enable"), getAndSet("FrameRate", "frame_rate", 3),
        getAndSet("AutoMinExposureTime", "auto_min_exposure_time", 3),
        getAndSet("AutoMaxExposureTime", "auto_max_exposure_time", 3),
        getAndSet("AutoMinGain", "auto_min_gain", 3), getAndSet("AutoMaxGain", "auto_max_gain", 3),
        getAndSet("ManualExposureTime", "manual_exposure_time", 3),
        getAndSet("ManualGain", "manual_gain", 3)})},
    {"flicker_correction", "0", true, make<FlickerCorrectionTestService>, join({
        getAndSet("Mode", "mode"), getAndSet("FrequencyHint", "frequency_hint")})},
    {"imaging", "0", true, make<ImagingTestService>, join({
        getAndSet("Contrast", "contrast", 3), getAndSet("Sharpness", "sharpness", 3),
        getAndSet("Brightness", "brightness", 3), getAndSet("Saturation", "saturation", 3)})},
    {"img_param", "img_param", true, make<ImgParamTestService>, {
        get("SensorFramerateMillihertz", "sensor_framerate_milli_hz", 1, {"1"}),
        get("StreamDim", "stream_dim", 2, {"0", "1"}), get("StreamFrDiv", "stream_fr_div", 1, {"0", "1"}),
        get("Encode", "encode", 3, {"0", "1"}), get("Quality", "quality", 1, {"0", "1"}),
        get("Crop", "crop", 4, {"0", "1"}), get("H264Settings", "h264_settings", 3, {"0", "1"}),
        get("UsrRateControlSettings", "usr_rate_control_settings", 7, {"0", "1"}),
        get("PipelineType", "pipeline_type", 1, {"1"})}},
    {"led", "led", true, make<LedTestService>, getAndSet("State", "state")},
    {"lens_focus", "0", true, make<LensFocusTestService>, join({
        getAndSet("ManualModeEnable", "manual_mode_enable"),
        {{"doAutoFocus", {{"do_auto_focus", {}}}},
         get("CurrentFocusPosition", "current_focus_position", 1)},
        getAndSet("ManualFocusPosition", "manual_focus_position", 3)})},
    {"log", "log", true, make<LogTestService>, {
        {"getTags", {{"get_tags", outs(1)}, {"kovra_core_free_string_array", {0}}}},
        get("Settings", "settings", 3, {kTag}), get("SettingsCore", "settings_core", 3, {kTag}),
        {"setSettings", {{"set_settings", {kTag, "\"err\"", "\"notset\"", "\"notset\""}}}, true}}},
    {"relay", "0", true, make<RelayTestService>, join({
        {get("Configuration", "configuration", 7),
         {"setConfiguration", {{"get_configuration", outs(7)},
                               {"set_configuration", {0, 1, 2, 3, 4, 5, 6}}}}},
        getAndSet("State", "state"), {{"trigger", {}}}})},
    {"temperature", "0", true, make<TemperatureTestService>, {get("Temperature", "temperature", 1)}},
    {"temporal_noise_filter", "0", true, make<TemporalNoiseFilterTestService>,
        getAndSet("Enable", "enable")},
    {"white_balance_basic", "0", true, make<WhiteBalanceBasicTestService>, join({
        getAndSet("Mode", "mode"), getAndSet("ManualRedBias", "manual_red_bias", 3),
        getAndSet("ManualBlueBias", "manual_blue_bias", 3)})},
    {"positioning", "0", false, make<PositioningTestService>, join({{
        get("EnabledAxes", "enabled_axes", 3), get("UdpServerPort", "udp_server_port", 2),
        get("Position", "position", 3),
        // Velocity limits L1..L6 are the values read 0..5, positions P1..P3 6..8.
        {"moveToPositionWithSpeedMillidegrees", {
            {"get_implementation_velocity_limits", outs(6)}, {"get_position", outs(3)},
            {"move_to_position_with_speed_millidegrees", {kOne, 6, 1, kOne, 7, 3, kOne, 8, 5, "500"}}}},
        {"moveToPositionWithSpeedPercentage", {{"get_position", outs(3)},
            {"move_to_position_with_speed_percentage", {kOne, 0, kOne, kOne, 1, kOne, kOne, 2, kOne, "500"}}}},
        get("Velocity", "velocity", 3),
        {"setVelocity", {{"get_velocity", outs(3)}, {"set_velocity", {kOne, 0, kOne, 1, kOne, 2, "500"}}}},
        get("SoftPositionLimits", "soft_position_limits", 9),
        {"setSoftPositionLimits", {{"get_soft_position_limits", outs(9)},
                                   {"set_soft_position_limits", {0, 1, 2, 3, 4, 5, 6, 7, 8}}}},
        get("ImplementationPositionLimits", "implementation_position_limits", 6),
        {"clearPositionLimits", {{"clear_position_limits", {kOne, kOne, kOne}}}},
        {"restorePositionLimits", {{"restore_position_limits", {kOne, kOne, kOne}}}},
        get("SoftVelocityLimits", "soft_velocity_limits", 9),
        {"setSoftVelocityLimits", {{"get_soft_velocity_limits", outs(9)},
                                   {"set_soft_velocity_limits", {0, 1, 2, 3, 4, 5, 6, 7, 8}}}},
        get("ImplementationVelocityLimits", "implementation_velocity_limits", 6),
        {"clearVelocityLimits", {{"clear_velocity_limits", {kOne, kOne, kOne}}}},
        {"restoreVelocityLimits", {{"restore_velocity_limits", {kOne, kOne, kOne}}}}},
        getAndSet("AzimuthZero", "azimuth_zero")})},
    {"pressure", "0", false, make<PressureTestService>, {get("Pressure", "pressure", 1)}},
};
// clang-format on

bool isRelease(Request const& request) { return request.function.rfind("kovra_core_", 0) == 0; }

std::string functionOf(Service const& service, Request const& request) {
    return isRelease(request) ? request.function
                              : "kovra_api_" + service.word + "_" + request.function + "_send";
}

// The status of the injected faults, one the stand-in never returns itself.
int32_t const kFault = 7;

// A regular expression for the journal `command` leaves when its request
// `failAt` (or none, -1) fails: the requests up to the failed one, then only
// the releases, which receive null for what the failed request did not fill.
// Each value read is a group, and a value passed on is a back-reference to
// it, so it must be that value unchanged.
std::string journalOf(Service const& service, Command const& command, int failAt,
                      std::string const& initiator = "#3") {
    std::vector<std::string> read;
    std::string pattern;
    for (int i = 0; i < static_cast<int>(command.requests.size()); ++i) {
        Request const& request = command.requests[i];
        if (failAt >= 0 && i > failAt && !isRelease(request)) continue;
        std::string args = isRelease(request) ? "" : initiator + ", \"" + service.target + "\"";
        for (Arg const& arg : request.args) {
            args += args.empty() ? "" : ", ";
            if (arg == Arg(kOut)) {
                args += i == failAt ? "&\\?" : "&([^,\n]*)";
                read.push_back(i == failAt ? "null" : "\\" + std::to_string(read.size() + 1));
            } else if (auto const* n = std::get_if<int>(&arg)) {
                args += read.at(*n);
            } else {
                args += std::get<std::string>(arg);  // none holds a special character
            }
        }
        pattern += functionOf(service, request) + "\\(" + args +
                   "\\) = " + std::to_string(i == failAt ? kFault : 0) + "\n";
    }
    return pattern;
}

std::string joined(std::vector<std::string> const& lines) {
    std::string text;
    for (auto const& line : lines) text += line + "\n";
    return text;
}

// Every command of every service, the enrolled services' first.
struct Case {
    Service const* service;
    std::size_t index;  // in its service's table
    Command const& command() const { return service->commands[index]; }
};
std::vector<Case> const kCases = [] {
    std::vector<Case> cases;
    for (auto const& service : kServices) {
        for (std::size_t c = 0; c < service.commands.size(); ++c) cases.push_back({&service, c});
    }
    return cases;
}();
void PrintTo(Case const& c, std::ostream* os) { *os << c.service->word << "." << c.command().name; }

class EveryCommand : public SimulatedCamera, public testing::WithParamInterface<Case> {};

// A service opens its initiator with the two handles, 0 and 0, and releases
// it when destroyed. Each of the command's requests is failed in turn, then
// none: the command passes only then, stops at the first failure, releases
// every array it was handed, passes on values as read (all differ, so that
// another would show) and, unless it writes a fixed value, leaves the
// settings as it found them.
TEST_P(EveryCommand, SendsItsRequestsOnItsOwnInitiator) {
    Service const& service = *GetParam().service;
    Command const& command = GetParam().command();
    std::unique_ptr<TestService> made = service.make(ipcHandle, logHandle);
    EXPECT_EQ(journal(), std::vector<std::string>{"kovra_api_" + service.word +
                                                  "_initiator_init(#2, #1, &#3, 0, 0) = 0"});
    EXPECT_EQ(made->targetName(), service.target);
    ASSERT_EQ(made->commands().size(), service.commands.size());
    ASSERT_EQ(made->commands()[GetParam().index].second, command.name);

    for (int failAt = -1; failAt < static_cast<int>(command.requests.size()); ++failAt) {
        if (failAt >= 0 && isRelease(command.requests[failAt])) continue;
        SCOPED_TRACE(failAt < 0 ? "no fault" : "request " + std::to_string(failAt) + " fails");
        kovra_sim_clear_faults();
        if (failAt >= 0) {
            kovra_sim_fail_always(functionOf(service, command.requests[failAt]).c_str(), kFault);
        }
        std::string const before = snapshot();
        uint32_t const arrays = kovra_sim_outstanding_arrays();
        kovra_sim_journal_clear();
        EXPECT_EQ(((*made).*made->commands()[GetParam().index].first)(), failAt < 0);
        std::string const calls = joined(journal()), expected = journalOf(service, command, failAt);
        std::smatch read;
        EXPECT_TRUE(std::regex_match(calls, read, std::regex(expected))) << calls << expected;
        if (failAt < 0 && std::regex_search(expected, std::regex(R"(\\[0-9])")) && !read.empty()) {
            EXPECT_EQ(std::set<std::string>(read.begin() + 1, read.end()).size(), read.size() - 1)
                << "values read that are equal";
        }
        EXPECT_EQ(kovra_sim_outstanding_arrays(), arrays);
        if (failAt < 0 && !command.writesFixedValue) {
            EXPECT_EQ(snapshot(), before);
        }
    }
    kovra_sim_journal_clear();
    made.reset();
    EXPECT_EQ(journal(),
              std::vector<std::string>{"kovra_api_" + service.word + "_initiator_deinit(#3) = 0"});
}

INSTANTIATE_TEST_SUITE_P(Services, EveryCommand, testing::ValuesIn(kCases),
                         [](testing::TestParamInfo<Case> const& info) {
                             return info.param.service->word + "_" + info.param.command().name;
                         });

using CommandTable = SimulatedCamera;

// The tester's command k is the k-th command of the sixteen enrolled
// services in enrolment order.
TEST_F(CommandTable, IndexesTheEnrolledServicesCommandsInOrder) {
    EXPECT_EQ(std::count_if(kServices.begin(), kServices.end(),
                            [](Service const& service) { return service.enrolled; }),
              16);
    ASSERT_TRUE(kCases[86].service->enrolled && !kCases[87].service->enrolled);
    ApiTester tester(ipcHandle, logHandle);
    ASSERT_EQ(tester.getCommandCount(), 87u);
    for (unsigned int k = 0; k < 87; ++k) {
        kovra_sim_journal_clear();
        tester.runCommand(0, k);
        std::string const calls = joined(journal());
        EXPECT_TRUE(std::regex_match(
            calls, std::regex(journalOf(*kCases[k].service, kCases[k].command(), -1, "#[0-9]+"))))
            << k << ": " << calls;
    }
}

}  // namespace
