#include <cstdlib>
#include <set>
#include <sstream>

#include "arrays.h"
#include "sim_test.h"

namespace {

class Settings : public SimTest {};

std::vector<std::string> split(std::string const& s, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
    return parts;
}

TEST_F(Settings, SetStoresItsSlotsAndLeavesTheOthers) {
    kovra_initiator* dn = nullptr;
    OPEN(day_night, dn);
    uint32_t before[3], after[3];
    ASSERT_EQ(kovra_api_day_night_get_auto_mode_detect_time_send(dn, "0", &before[0], &before[1],
                                                                 &before[2]),
              0);
    ASSERT_EQ(kovra_api_day_night_set_auto_mode_detect_time_send(dn, "0", 4242), 0);
    ASSERT_EQ(kovra_api_day_night_get_auto_mode_detect_time_send(dn, "0", &after[0], &after[1],
                                                                 &after[2]),
              0);
    EXPECT_EQ(after[0], 4242u);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
}

TEST_F(Settings, EverySlotOfAWideSettingRoundTrips) {
    kovra_initiator* pos = nullptr;
    OPEN(positioning, pos);
    ASSERT_EQ(kovra_api_positioning_set_soft_velocity_limits_send(pos, "0", 1, -2, 3, 0, 5, -6, 255,
                                                                  INT32_MIN, INT32_MAX),
              0);
    uint8_t e0, e1, e2;
    int32_t v[6];
    ASSERT_EQ(kovra_api_positioning_get_soft_velocity_limits_send(pos, "0", &e0, &v[0], &v[1], &e1,
                                                                  &v[2], &v[3], &e2, &v[4], &v[5]),
              0);
    EXPECT_EQ(std::vector<int>({e0, v[0], v[1], e1, v[2], v[3], e2, v[4], v[5]}),
              std::vector<int>({1, -2, 3, 0, 5, -6, 255, INT32_MIN, INT32_MAX}));
    EXPECT_EQ(setting("positioning.soft_velocity_limits"),
              "1,-2,3,0,5,-6,255,-2147483648,2147483647");
}

TEST_F(Settings, InstancesAreSeparate) {
    kovra_initiator* log = nullptr;
    OPEN(log, log);
    ASSERT_EQ(kovra_api_log_set_settings_send(log, "log", "KOVRA_IPC", "debug", "a", "b"), 0);
    char* got[3] = {};
    ASSERT_EQ(kovra_api_log_get_settings_send(log, "log", "KOVRA_CORE", &got[0], &got[1], &got[2]),
              0);
    EXPECT_EQ(std::vector<std::string>(got, got + 3),
              std::vector<std::string>({"info", "notset", "notset"}));
    for (char* g : got) std::free(g);
    EXPECT_EQ(setting("log.settings[KOVRA_IPC]"), "debug,a,b");
    ASSERT_EQ(kovra_sim_setting_set("img_param.stream_dim[0,1]", "1920,1080"), 0);
    kovra_initiator* img = nullptr;
    OPEN(img_param, img);
    uint32_t w = 0, h = 0;
    ASSERT_EQ(kovra_api_img_param_get_stream_dim_send(img, "img_param", 0, 1, &w, &h), 0);
    EXPECT_EQ(w * 10000 + h, 1920u * 10000 + 1080u);
    ASSERT_EQ(kovra_api_img_param_get_stream_dim_send(img, "img_param", 1, 0, &w, &h), 0);
    EXPECT_NE(w, 1920u);
}

TEST_F(Settings, SettingSetRefusesWhatDoesNotFit) {
    struct Case {
        char const* key;
        char const* values;
    } const cases[] = {
        {"led.nope", "1"},
        {"led.state", ""},
        {"led.state", "1,2"},
        {"led.state", "256"},
        {"led.state", "-1"},
        {"led.state", "1x"},
        {"alarm.state", "4294967296"},
        {"temperature.temperature", "2147483648"},
        {"img_param.stream_dim", "1,2"},
        {"img_param.stream_dim[0,2]", "1,2"},
        {"broker.targets", "a|b,c|d,1|2"},
    };
    for (Case const& c : cases) {
        std::string const before = setting(c.key);
        EXPECT_EQ(kovra_sim_setting_set(c.key, c.values), KOVRA_SIM_STATUS_BAD_ARGUMENT)
            << c.key << "=" << c.values;
        EXPECT_EQ(setting(c.key), before);
    }
    EXPECT_EQ(kovra_sim_setting_set("temperature.temperature", "-2147483648"), 0);
    EXPECT_EQ(kovra_sim_setting_set("broker.targets", "a|b,c|d,1|0"), 0);
    EXPECT_EQ(setting("broker.targets"), "a|b,c|d,1|0");
}

TEST_F(Settings, SnapshotListsEveryKeyOnceSorted) {
    std::vector<std::string> keys;
    for (std::string const& line : split(snapshot(), '\n'))
        keys.push_back(line.substr(0, line.find('=')));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());
    std::set<std::string> const has(keys.begin(), keys.end());
    for (char const* key :
         {"alarm.configuration", "audio_param.audio_type[1,1]", "img_param.crop[0,1]",
          "img_param.pipeline_type[1]", "log.settings_core[KOVRA_MEDIA]", "positioning.position",
          "white_balance_basic.manual_blue_bias"}) {
        EXPECT_EQ(has.count(key), 1u) << key;
    }
    EXPECT_EQ(has.count("positioning.none"), 0u);
    EXPECT_EQ(has.count("img_param.crop"), 0u);
    // 46 settings without keys, 3 with one 0/1 key (x2), 13 with two (x4),
    // 2 keyed by the 3 log tags.
    EXPECT_EQ(keys.size(), 46u + 3 * 2 + 13 * 4 + 2 * 3);
}

TEST_F(Settings, DefaultsAreReadableNonZeroAndDistinctPerSlot) {
    std::string const text = snapshot();
    EXPECT_NE(text.find("device_information.friendly_name=Kovra Camera\n"), std::string::npos);
    EXPECT_NE(text.find("log.settings[KOVRA_IPC]=info,notset,notset\n"), std::string::npos);
    EXPECT_NE(text.find("log.tags=KOVRA_CORE|KOVRA_IPC|KOVRA_MEDIA\n"), std::string::npos);
    EXPECT_NE(text.find("device_information.static_information=Kovra,IPC-1000,"),
              std::string::npos);
    for (std::string const& line : split(text, '\n')) {
        std::set<std::string> seen;
        for (std::string const& v : split(line.substr(line.find('=') + 1), ',')) {
            if (v.empty() || v.find_first_not_of("-0123456789") != std::string::npos) continue;
            EXPECT_NE(std::stoll(v), 0) << line;
            EXPECT_TRUE(seen.insert(v).second) << line;
        }
    }
    ASSERT_EQ(kovra_sim_setting_set("led.state", "9"), 0);
    kovra_sim_reset();
    EXPECT_EQ(snapshot(), text);
}

TEST_F(Settings, BrokerListsEveryTargetInArrays) {
    kovra_initiator* broker = nullptr;
    OPEN(broker, broker);
    kovra_string_array* words = nullptr;
    kovra_string_array* names = nullptr;
    kovra_bool_array* up = nullptr;
    ASSERT_EQ(kovra_api_broker_get_targets_send(broker, "broker", "", &words, &names, &up), 0);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 3u);
    ASSERT_EQ(words->count, 18u);
    ASSERT_EQ(names->count, 18u);
    ASSERT_EQ(up->count, 18u);
    std::set<std::string> named;
    for (uint32_t i = 0; i < 18; ++i) {
        std::string const word = words->items[i];
        std::string const name = names->items[i];
        EXPECT_TRUE(name == "0" || name == word) << word;
        if (name == word) named.insert(word);
        EXPECT_EQ(up->items[i], 1) << word;
    }
    EXPECT_EQ(named, (std::set<std::string>{"audio_param", "broker", "device_information",
                                            "img_param", "led", "log"}));
    EXPECT_EQ(std::string(words->items[5]), "exposure");
    EXPECT_EQ(kovra_core_free_string_array(words), 0);
    EXPECT_EQ(kovra_core_free_string_array(names), 0);
    EXPECT_EQ(kovra_core_free_bool_array(up), 0);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 0u);
}

TEST_F(Settings, StaticInformationFillsEveryOut) {
    kovra_initiator* info = nullptr;
    OPEN(device_information, info);
    char* t[8] = {};
    uint8_t flag = 0;
    ASSERT_EQ(kovra_api_device_information_get_static_information_send(
                  info, "device_information", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                  &t[7], &flag),
              0);
    EXPECT_STREQ(t[0], "Kovra");
    EXPECT_STREQ(t[1], "IPC-1000");
    std::set<std::string> distinct;
    for (char* s : t) {
        ASSERT_NE(s, nullptr);
        distinct.insert(s);
        std::free(s);
    }
    EXPECT_EQ(distinct.size(), 8u);
    EXPECT_NE(flag, 0);
}

}  // namespace
