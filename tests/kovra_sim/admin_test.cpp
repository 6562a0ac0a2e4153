// The daemon's admin endpoint over loopback: its routes and refusals, the
// limits on what a request may take, and that no garbage stops it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <random>

#include "support/Daemon.h"

namespace {

using namespace std::chrono_literals;

struct AdminTest : testing::Test {
    void SetUp() override { ASSERT_GT(port, 0) << daemon.log(); }
    nlohmann::json state() {
        return nlohmann::json::parse(http_body(http_call(port, "GET", "/state")));
    }

    Daemon daemon{{"--admin", "0", "--sim", "latency=7;seed=3"}};
    int port = daemon.admin_port();
};

TEST_F(AdminTest, RoutesAnswerAndABadPostChangesNothing) {
    struct {
        char const* method;
        char const* path;
        std::string body;
        int status;
        char const* says;
    } const cases[] = {
        {"GET", "/health", "", 200, "ok"},
        {"GET", "/nowhere", "", 404, "no such resource"},
        {"POST", "/health", "", 405, "not allowed"},
        {"GET", "/directives", "", 405, "not allowed"},
        {"POST", "/directives", "latency=5;fail=no_such_function", 400, "no_such_function"},
        {"POST", "/directives", "stats=" + testing::TempDir() + "s.json", 400,
         "not POST /directives"},
    };
    for (auto const& c : cases) {
        std::string const answer = http_call(port, c.method, c.path, c.body);
        EXPECT_EQ(http_status(answer), c.status) << c.method << " " << c.path << " " << c.body;
        EXPECT_NE(http_body(answer).find(c.says), std::string::npos) << answer;
    }
    nlohmann::json const before = state();
    EXPECT_EQ(before.at("latency_us"), 7) << "a refused list applies nothing of itself";
    EXPECT_EQ(before.at("directives").at("posted").size(), 0u);
    EXPECT_EQ(before.at("directives").at("start"), nlohmann::json::array({"latency=7;seed=3"}));

    EXPECT_EQ(
        http_status(http_call(port, "POST", "/directives", "latency=250;drop=every:3;seed=5")),
        200);
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
    std::string const request = "POST /directives HTTP/1.1\r\nHost: x\r\nContent-Length: ";
    // Empty directives are ignored: a body of separators applies nothing.
    std::string const at_limit(64 * 1024, ';');
    struct {
        char const* what;
        std::string raw;
        int status;
    } const cases[] = {
        {"body exactly at the limit", request + "65536\r\n\r\n" + at_limit, 200},
        {"body one byte past it", request + "65537\r\n\r\n" + at_limit + ";", 413},
        {"header past its limit",
         "GET /health HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n", 400},
        {"no request line", "\r\n\r\n", 400},
        {"not HTTP", "HELLO /health SMTP/9\r\n\r\n", 400},
        {"a bad length", request + "-1\r\n\r\n", 400},
    };
    for (auto const& c : cases) {
        std::string const answer = http_exchange(port, c.raw);
        EXPECT_EQ(http_status(answer), c.status) << c.what << ": " << answer.substr(0, 200);
    }
    EXPECT_EQ(http_status(http_call(port, "GET", "/health")), 200);
}

TEST_F(AdminTest, GarbageNeitherStopsNorWedgesIt) {
    std::mt19937 random(20);
    std::string const starts[] = {"", "GET / HTTP/1.1\r\n", "POST /directives HTTP/1.1\r\n",
                                  "GET /metrics HTTP/1.0\r\nContent-Length: 3\r\n"};
    for (int i = 0; i < 200; ++i) {
        std::string junk = starts[random() % std::size(starts)];
        for (size_t n = random() % 300; n > 0; --n) junk += char(random() % 256);
        if (random() % 2) junk += "\r\n\r\n";
        int const fd = connect_loopback(port);
        ASSERT_GE(fd, 0) << "connection " << i;
        send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
        close(fd);
    }
    EXPECT_EQ(http_status(http_call(port, "GET", "/health")), 200) << daemon.log();
}

TEST_F(AdminTest, ConnectionsBeyondTheLimitAreClosedUntilOneLeaves) {
    std::vector<int> open;
    for (int i = 0; i < 16; ++i) open.push_back(connect_loopback(port));
    // The 16 are surely accepted once one of them is answered.
    std::string const ask = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
    send(open.back(), ask.data(), ask.size(), MSG_NOSIGNAL);
    char c[256];
    EXPECT_GT(recv(open.back(), c, sizeof c, 0), 0);
    EXPECT_EQ(http_call(port, "GET", "/health"), "") << "the 17th is closed without an answer";
    close(open.front());
    EXPECT_TRUE(
        eventually([&] { return http_status(http_call(port, "GET", "/health")) == 200; }, 5s))
        << "room again once one left";
    for (size_t i = 1; i < open.size(); ++i) close(open[i]);
}

TEST(AdminOptionTest, AddressesAreCheckedAndABusyPortStopsTheDaemon) {
    int taken = 0;
    int const holder = listen_loopback(taken);
    for (std::string const bad : {"", "localhost", "1.2.3.4", "[::1]", "65536", "1.2.3.4:x"}) {
        EXPECT_THROW(Daemon({"--admin", bad}), std::runtime_error) << bad;
    }
    try {
        Daemon daemon({"--admin", std::to_string(taken)});
        ADD_FAILURE() << "a daemon whose admin port is taken ran";
    } catch (std::runtime_error const& e) {
        EXPECT_NE(std::string(e.what()).find("cannot serve the admin endpoint"), std::string::npos)
            << e.what();
    }
    close(holder);
}

}  // namespace
