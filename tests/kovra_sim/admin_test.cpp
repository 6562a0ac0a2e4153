// The daemon's admin endpoint over loopback: routes, refusals, its token,
// and the limits on what a request, a client and what is posted may take.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/Daemon.h"

namespace {

using namespace std::chrono_literals;

struct AdminTest : testing::Test {
    void SetUp() override { ASSERT_GT(port, 0) << daemon.log(); }
    nlohmann::json state() {
        return nlohmann::json::parse(http_body(http_call(port, "GET", "/state")));
    }
    // The status of POST /directives with `body`.
    int post(std::string const& body) {
        return http_status(http_call(port, "POST", "/directives", body));
    }

    Daemon daemon{{"--admin", "0", "--sim", "latency=7;seed=3"}};
    int port = daemon.admin_port();
};

TEST_F(AdminTest, RoutesAnswerAndABadPostChangesNothing) {
    std::tuple<char const*, char const*, std::string, int, char const*> const cases[] = {
        {"GET", "/health", "", 200, "ok"},
        {"GET", "/nowhere", "", 404, "no such resource"},
        {"POST", "/health", "", 405, "not allowed"},
        {"GET", "/directives", "", 405, "not allowed"},
        {"POST", "/directives", "latency=5;fail=no_such_function", 400, "no_such_function"},
        {"POST", "/directives", "stats=" + testing::TempDir() + "s.json", 400,
         "not POST /directives"},
        {"POST", "/directives", "", 400, "an empty body"},
    };
    for (auto const& [method, path, body, status, says] : cases) {
        std::string const answer = http_call(port, method, path, body);
        EXPECT_EQ(http_status(answer), status) << method << " " << path << " " << body;
        EXPECT_THAT(http_body(answer), testing::HasSubstr(says));
    }
    nlohmann::json const before = state();
    EXPECT_EQ(before.at("latency_us"), 7) << "a refused list applies nothing of itself";
    EXPECT_EQ(before.at("directives").at("posted").size(), 0u);
    EXPECT_EQ(before.at("directives").at("start"), nlohmann::json::array({"latency=7;seed=3"}));

    EXPECT_EQ(post("latency=250;drop=every:3;seed=5"), 200);
    nlohmann::json const posted = state();
    EXPECT_EQ(posted.at("latency_us"), 250);
    EXPECT_EQ(posted.at("wire"), (nlohmann::json{{"drop", {{"every", 3}}}, {"seed", 5}}));
    EXPECT_EQ(http_status(http_call(port, "POST", "/reset")), 200);
    nlohmann::json const reset = state();
    EXPECT_EQ(reset.at("latency_us"), 7) << "back to the start directives";
    EXPECT_EQ(reset.at("wire"), (nlohmann::json{{"seed", 3}})) << "the wire's too";
    EXPECT_EQ(reset.at("directives").at("posted").size(), 0u);
}

TEST_F(AdminTest, RequestsOverALimitOrMalformedAreAnsweredAndClosed) {
    std::string const request =
        "POST /directives HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: ";
    std::string const at_limit(64 * 1024, ';');  // empty directives, which apply nothing
    // A header of `bytes` in all, request line and blank line included.
    auto const header = [](size_t bytes) {
        std::string const head = "GET /health HTTP/1.1\r\nConnection: close\r\nX: ";
        return head + std::string(bytes - head.size() - 4, 'x') + "\r\n\r\n";
    };
    std::tuple<char const*, std::string, int> const cases[] = {
        {"body exactly at the limit", request + "65536\r\n\r\n" + at_limit, 200},
        {"body one byte past it", request + "65537\r\n\r\n" + at_limit + ";", 413},
        {"header exactly at its limit", header(8 * 1024), 200},
        {"header one byte past it", header(8 * 1024 + 1), 413},
        {"no request line", "\r\n\r\n", 400},
        {"not HTTP", "HELLO /health SMTP/9\r\n\r\n", 400},
        {"a bad length", request + "-1\r\n\r\n", 400},
    };
    for (auto const& [what, raw, status] : cases) {
        std::string const answer = http_exchange(port, raw);
        EXPECT_EQ(http_status(answer), status) << what << ": " << answer.substr(0, 200);
    }
    EXPECT_EQ(daemon.health(), 200);
}

// Sixteen idle or trickling clients hold every connection: each /health closes
// the longest waiting; a request whose bytes never come whole is closed in time.
TEST_F(AdminTest, IdleAndSlowClientsCannotKeepHealthOut) {
    std::deque<std::pair<int, bool>> hogs;  // and whether it trickles
    auto const hog = [&](bool slow) {
        hogs.emplace_back(connect_loopback(port), slow);
        std::string const head = "GET /health HTTP/1.1\r\nX-Slow: ";
        if (slow) send(hogs.back().first, head.data(), head.size(), MSG_NOSIGNAL);
    };
    auto const closed = [](int fd, int wait_ms) {
        char buffer[256];
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, wait_ms) == 1 && recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
    };
    for (int i = 0; i < 16; ++i) hog(i % 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(daemon.health(), 200) << "supervisor poll " << i;
        EXPECT_TRUE(closed(hogs.front().first, 5000)) << "the longest waiting, at poll " << i;
        close(hogs.front().first);
        hogs.pop_front();
        hog(i % 2);  // and they are sixteen again
    }
    auto const until = std::chrono::steady_clock::now() + 30s;
    for (size_t i = 0; !hogs.empty() && std::chrono::steady_clock::now() < until;) {
        auto const [fd, slow] = hogs[i %= hogs.size()];
        if (slow) send(fd, "x", 1, MSG_NOSIGNAL);  // a byte every half second or so
        if (closed(fd, 30)) {
            close(fd);
            hogs.erase(hogs.begin() + long(i));
        } else {
            ++i;
        }
    }
    EXPECT_TRUE(hogs.empty()) << hogs.size() << " never closed";
}

// A directive replaces the last of its kind, the list keeps its newest 256,
// the camera's are refused past 1024, and a long setting shows its start.
TEST_F(AdminTest, StateKeepsWhatIsInEffectWithinBounds) {
    for (char const* latency : {"latency=1", "latency=2", "latency=3"})
        ASSERT_EQ(post(latency), 200);
    EXPECT_EQ(state().at("directives").at("posted"), nlohmann::json::array({"latency=3"}));
    auto const faults = [](int from, int to) {
        std::string body;
        for (int n = from; n <= to; ++n)
            body += "fail=kovra_api_led_get_state_send@" + std::to_string(n) + ":-3;";
        return body;
    };
    ASSERT_EQ(post(faults(1, 300)), 200);
    nlohmann::json const kept = state().at("directives");
    EXPECT_EQ(kept.at("posted").size(), 256u);
    EXPECT_EQ(kept.at("posted").back(), "fail=kovra_api_led_get_state_send@300:-3");
    EXPECT_EQ(kept.at("posted_forgotten"), 301 - 256);
    std::string const too_many = http_call(port, "POST", "/directives", faults(1, 1025));
    EXPECT_EQ(http_status(too_many), 400);
    EXPECT_THAT(http_body(too_many), testing::HasSubstr("POST /reset first"));
    EXPECT_EQ(post(faults(1, 1024)), 200);

    std::string const name = "device_information.friendly_name";
    ASSERT_EQ(post("set=" + name + "=" + std::string(5000, 'n')), 200);
    EXPECT_EQ(state().at("settings").at(name), std::string(1024, 'n') + "... (5000 bytes)");
}

// A lease on the profile= file holds the daemon's open of it. Three posts more
// wait behind it; a fifth is told to come back.
TEST_F(AdminTest, HealthAnswersWhileAProfileLoads) {
    std::string const path = testing::TempDir() + "admin_test_profile.json";
    std::ofstream(path) << "{}";
    auto const sigio = std::signal(SIGIO, SIG_IGN);  // the lease's break is told with it
    int const held = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fcntl(held, F_SETLEASE, F_WRLCK) != 0) {
        close(held);
        std::signal(SIGIO, sigio);
        GTEST_SKIP() << "no file leases here";
    }
    std::string answers[5];
    std::atomic<int> busy{0};
    std::vector<std::thread> posts;
    auto const post = [&](int i) {
        answers[i] = http_call(port, "POST", "/directives", i ? "latency=1" : "profile=" + path);
        busy += http_status(answers[i]) == 503;
    };
    posts.emplace_back(post, 0);
    EXPECT_TRUE(eventually([&] { return fcntl(held, F_GETLEASE) != F_WRLCK; }));
    for (int i = 1; i < 5; ++i) posts.emplace_back(post, i);
    EXPECT_TRUE(eventually([&] { return busy > 0; }));
    EXPECT_EQ(daemon.health(), 200);
    fcntl(held, F_SETLEASE, F_UNLCK);
    close(held);
    std::signal(SIGIO, sigio);
    for (auto& p : posts) p.join();
    EXPECT_EQ(http_status(answers[0]), 400) << answers[0];  // "{}" is no statistics file
    EXPECT_EQ(busy, 1);
    std::remove(path.c_str());
}

TEST_F(AdminTest, AResetEndsARebootInProgress) {
    ASSERT_EQ(post("reboot=600"), 200);
    ASSERT_TRUE(eventually([&] { return daemon.health() == 503; }));
    EXPECT_LT(connect_loopback(daemon.port()), 0) << "refused while rebooted";
    std::string const reset = http_call(port, "POST", "/reset");
    EXPECT_EQ(http_body(reset), "reset; a reboot in progress ended\n") << reset;
    EXPECT_EQ(daemon.health(), 200);
    EXPECT_EQ(close(connect_loopback(daemon.port())), 0) << "the camera's port is open again";
    EXPECT_EQ(http_body(http_call(port, "POST", "/reset")), "reset\n") << "with no reboot";
}

// Client text is logged escaped: a posted body cannot forge a line of its own.
TEST_F(AdminTest, PostedTextCannotForgeALogLine) {
    std::string const forged =
        "set=device_information.friendly_name=x\nkovra-camd: stopping on signal 15\x1b[2J";
    ASSERT_EQ(post(forged), 200);
    std::string const log = daemon.log();
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("\nkovra-camd: stopping on signal 15")));
    EXPECT_THAT(
        log, testing::HasSubstr("friendly_name=x\\nkovra-camd: stopping on signal 15\\x1b[2J\n"));
}

TEST(AdminRebootTest, ResetsDoNotPutTheStartSchedulesRebootsOff) {
    Daemon daemon({"--admin", "0", "--sim", "reboot=1@4"});
    EXPECT_TRUE(eventually(
        [&] {
            std::string const reset = http_call(daemon.admin_port(), "POST", "/reset");
            return http_body(reset).find("reboot in progress ended") != std::string::npos ||
                   daemon.health() == 503;
        },
        30s))
        << daemon.log();
}

// With a token, all but /health and /metrics ask for it; what is refused does nothing.
TEST(AdminTokenTest, OnlyTheTokenOpensTheGuardedRoutes) {
    std::string const file = testing::TempDir() + "admin_token";
    std::ofstream(file) << "  s3cret-token\n";
    Daemon daemon({"--admin", "0", "--admin-token-file", file, "--sim", "latency=7"});
    auto const call = [&](std::string const& request, std::string const& token) {
        return http_exchange(daemon.admin_port(),
                             request + " HTTP/1.1\r\nConnection: close\r\nAuthorization: " + token +
                                 "\r\nContent-Length: 10\r\n\r\nlatency=99");
    };
    std::tuple<std::string, char const*, int> const cases[] = {
        {"GET /health", "", 200},
        {"GET /metrics", "", 200},
        {"GET /state", "", 401},
        {"GET /nowhere", "", 401},
        {"GET /state", "Bearer s3cret-tokeN", 401},
        {"GET /state", "Bearer s3cret-toke", 401},
        {"GET /state", "Bearer s3cret-token2", 401},
        {"GET /state", "Basic s3cret-token", 401},
        {"POST /reset", "", 401},
        {"POST /directives", "Bearer wrong", 401},
        {"GET /state", "bearer s3cret-token", 200},
        {"POST /directives", "Bearer s3cret-token", 200},
    };
    for (auto const& [request, token, status] : cases) {
        std::string const answer = call(request, token);
        EXPECT_EQ(http_status(answer), status) << request << " " << token << " " << answer;
        EXPECT_EQ(answer.find("WWW-Authenticate: Bearer") != std::string::npos, status == 401);
        if (status == 401 || request == "POST /directives") {
            std::string const state = http_body(call("GET /state", "Bearer s3cret-token"));
            EXPECT_EQ(nlohmann::json::parse(state).at("latency_us"), status == 200 ? 99 : 7);
        }
    }
    std::remove(file.c_str());
}

TEST(AdminOptionTest, AddressesAreCheckedAndABusyPortStopsTheDaemon) {
    int taken = 0;
    int const holder = listen_loopback(taken);
    for (std::string const bad : {"", "localhost", "1.2.3.4", "[::1]", "65536", "1.2.3.4:x"})
        EXPECT_THROW(Daemon({"--admin", bad}), std::runtime_error) << bad;
    std::string const blank = testing::TempDir() + "admin_token_blank";
    std::ofstream(blank) << " \n";
    std::pair<std::vector<std::string>, char const*> const refused[] = {
        {{"--admin", std::to_string(taken)}, "cannot serve the admin endpoint"},
        {{"--admin", "0.0.0.0:0"}, "an address other than loopback needs --admin-token-file"},
        {{"--admin", "0", "--admin-token-file", blank}, "empty"},
        {{"--admin", "0", "--admin-token-file", blank + "_none"}, "No such file"},
        {{"--admin-token-file", blank}, "goes with --admin"},
    };
    for (auto const& [options, says] : refused)
        EXPECT_THAT([&] { Daemon daemon(options); },
                    testing::ThrowsMessage<std::runtime_error>(testing::HasSubstr(says)));
    std::remove(blank.c_str());
    close(holder);
}

}  // namespace
