// The KOVRA_SIM path, seen from outside: child processes started with it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct Outcome {
    int exit_code;
    std::string out;
    std::string err;
};

std::string read(std::string const& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Environment : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/kovra_sim_env_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    Outcome run(std::string const& program, std::string const& kovra_sim) {
        std::string const cmd = "KOVRA_SIM='" + kovra_sim + "' " + KOVRA_SIM_EMULATOR + " " +
                                program + " >" + dir_ + "/out 2>" + dir_ + "/err";
        int const status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(dir_ + "/out"),
                read(dir_ + "/err")};
    }
    std::string dir_;
};

TEST_F(Environment, DirectivesApplyAndFilesAreWrittenAtDeinit) {
    Outcome const r = run(KOVRA_SIM_ENV_CHILD,
                          "fail=kovra_api_led_get_state_send@2:-77; set=led.state=9;"
                          "journal=" +
                              dir_ + "/journal;state=" + dir_ + "/state");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "init=0 logging_init=0\n"
              "get_state=0 value=9\n"
              "get_state=-77 value=0\n"
              "get_state=0 value=9\n"
              "deinit=0\n");
    EXPECT_EQ(read(dir_ + "/journal"),
              "kovra_core_init() = 0\n"
              "kovra_core_logging_init(\"kovra_sim_env_child\", &#1) = 0\n"
              "kovra_core_logging_log(#1, 6, \"child 1\") = 0\n"
              "kovra_core_ipc_initiator_init(#1, null, &#2) = 0\n"
              "kovra_api_led_initiator_init(#2, #1, &#3, 0, 0) = 0\n"
              "kovra_api_led_get_state_send(#3, \"led\", &9) = 0\n"
              "kovra_api_led_get_state_send(#3, \"led\", &?) = -77\n"
              "kovra_api_led_get_state_send(#3, \"led\", &9) = 0\n"
              "kovra_api_led_initiator_deinit(#3) = 0\n"
              "kovra_core_ipc_deinit(#2) = 0\n"
              "kovra_core_logging_deinit(#1) = 0\n"
              "kovra_core_deinit() = 0\n");
    std::string const state = read(dir_ + "/state");
    EXPECT_NE(state.find("\nled.state=9\n"), std::string::npos);
    EXPECT_NE(state.find("\ncalls kovra_api_led_get_state_send 3\n"
                         "calls kovra_api_led_initiator_deinit 1\n"),
              std::string::npos);
    EXPECT_NE(state.find("\ncalls kovra_core_deinit 1\n"), std::string::npos);
    EXPECT_EQ(state.substr(state.size() - 22), "\noutstanding_arrays 0\n");
    EXPECT_EQ(state.find("calls kovra_api_alarm"), std::string::npos);
}

TEST_F(Environment, ABadValueIsReportedOnceAndRefusesStartUp) {
    Outcome const r = run(KOVRA_SIM_ENV_CHILD, "latency=5;restart=exposure*2");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "init=-6 logging_init=-6\n");
    EXPECT_EQ(
        r.err,
        "kovra-sim: KOVRA_SIM: \"restart=exposure*2\": expected SERVICE[:TARGET]*COUNT/EVERY\n");
}

TEST_F(Environment, InfoToolChecksValues) {
    std::string const info = KOVRA_SIM_INFO;
    Outcome ok = run(info + " --check 'restart=led*1/2;latency=100'", "");
    EXPECT_EQ(ok.exit_code, 0);
    EXPECT_EQ(ok.err, "");
    Outcome bad = run(info + " --check 'fail=kovra_api_led_get_state_send@0'", "");
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.err.rfind("kovra-sim: KOVRA_SIM: ", 0), 0u) << bad.err;
    // The environment does not leak into what the tool reports as defaults.
    Outcome defaults = run(info + " --defaults", "set=led.state=9");
    EXPECT_EQ(defaults.exit_code, 0);
    EXPECT_NE(defaults.out.find("\nled.state="), std::string::npos);
    EXPECT_EQ(defaults.out.find("\nled.state=9\n"), std::string::npos);
}

}  // namespace
