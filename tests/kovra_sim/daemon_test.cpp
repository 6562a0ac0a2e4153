// The camera daemon among hostile and careless peers: malformed frames,
// absurd lengths, slow senders, connections dropped by the thousand or held
// by the hundred. A well-behaved client keeps being served throughout, each
// bad connection is closed with a log line, and the daemon's memory stays
// flat.
#include "Daemon.h"

#include <gtest/gtest.h>
#include <kovra/kovra_api.h>
#include <kovra_sim/control.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "protocol.h"

namespace {

using namespace std::chrono_literals;

// The stand-in library of this process, connected to the daemon, asking
// for and writing back the LED's state on a thread of its own.
class GoodClient {
public:
    explicit GoodClient(std::string const& url) {
        kovra_sim_reset();
        EXPECT_EQ(kovra_core_logging_init("daemon_test", &log_), 0);
        EXPECT_EQ(kovra_core_ipc_initiator_init(log_, url.c_str(), &ipc_), 0);
        EXPECT_EQ(kovra_api_led_initiator_init(ipc_, log_, &led_, 0, 0), 0);
        thread_ = std::thread([this] {
            while (!stop_) {
                uint8_t on = 0;
                bool const good = kovra_api_led_get_state_send(led_, "led", &on) == 0 &&
                                  kovra_api_led_set_state_send(led_, "led", on) == 0;
                ++(good ? ok : failed);
            }
        });
    }
    ~GoodClient() {
        stop_ = true;
        thread_.join();
        kovra_api_led_initiator_deinit(led_);
        kovra_core_ipc_deinit(ipc_);
        kovra_core_logging_deinit(log_);
        kovra_sim_reset();
    }
    // Waits until `n` more requests have gone through.
    void progress(uint64_t n) {
        uint64_t const target = ok + n;
        for (int i = 0; i < 2000 && ok < target; ++i) std::this_thread::sleep_for(5ms);
    }

    std::atomic<uint64_t> ok{0}, failed{0};

private:
    void* log_ = nullptr;
    void* ipc_ = nullptr;
    kovra_initiator* led_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string frame(std::string const& payload) {
    uint32_t const n = uint32_t(payload.size());
    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + payload;
}

std::string hello(uint64_t fingerprint = kovra_sim::table_fingerprint()) {
    kovra_sim::wire::FrameWriter w;
    kovra_sim::wire::write_hello(w, {kovra_sim::wire::kVersion, fingerprint, 1, 1});
    return std::string(w.buffer().data(), w.buffer().size());
}

void send_all(int fd, std::string const& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// Reads until the daemon closes the connection or `limit` passes; what it sent.
std::string until_closed(int fd, std::chrono::milliseconds limit = 5s) {
    timeval tv{long(limit.count() / 1000), long(limit.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, size_t(n));
    return got;
}

bool closed_by_daemon(int fd, std::chrono::milliseconds limit = 5s) {
    auto const start = std::chrono::steady_clock::now();
    until_closed(fd, limit);
    bool const closed = std::chrono::steady_clock::now() - start < limit;
    close(fd);
    return closed;
}

TEST(DaemonTest, HostilePeersNeitherStopNorSlowAWellBehavedClient) {
    Daemon daemon({"--frame-timeout", "1000"});
    GoodClient client(daemon.url());
    client.progress(200);

    // Garbage after a plausible length; then a length of 4 GiB - 1, which
    // must be refused without the daemon allocating it.
    for (std::string const& bad :
         {frame("\x93\x01\x02\x03"), frame("\xc1"), frame(hello().substr(4)) + frame("x"),
          std::string("\xff\xff\xff\xff", 4)}) {
        int const fd = connect_loopback(daemon.port());
        send_all(fd, bad);
        EXPECT_TRUE(closed_by_daemon(fd));
    }
    // A sender that trickles its hello is dropped when its frame runs late.
    int const slow = connect_loopback(daemon.port());
    std::string const trickle = hello();
    std::thread trickler([&] {
        for (char c : trickle) {
            if (send(slow, &c, 1, MSG_NOSIGNAL) != 1) return;
            std::this_thread::sleep_for(300ms);
        }
    });
    EXPECT_TRUE(until_closed(slow, 5s).empty());
    trickler.join();
    close(slow);

    // A thousand connections opened and dropped, some with a reset; then two
    // hundred at once, each greeted. Twice: the second time costs no memory.
    auto churn = [&] {
        for (int i = 0; i < 1000; ++i) {
            int const fd = connect_loopback(daemon.port());
            ASSERT_GE(fd, 0);
            if (i % 2) {
                linger reset{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                send_all(fd, hello().substr(0, 6));
            }
            close(fd);
        }
        std::vector<int> many;
        for (int i = 0; i < 200; ++i) {
            many.push_back(connect_loopback(daemon.port()));
            send_all(many.back(), hello());
        }
        for (int fd : many) {
            char header[4];
            EXPECT_EQ(recv(fd, header, 4, MSG_WAITALL), 4);
            close(fd);
        }
    };
    churn();
    [[maybe_unused]] long const rss_before = daemon.rss_kib();
    churn();

    uint64_t const before = client.ok;
    client.progress(200);
    EXPECT_GE(client.ok - before, 200u) << "the good client stalled";
    EXPECT_EQ(client.failed, 0u);
#if !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)  // their allocators keep freed memory
    EXPECT_LT(daemon.rss_kib() - rss_before, 4 * 1024) << "the daemon's memory grew";
#endif
    std::string const log = daemon.log();
    EXPECT_EQ(daemon.stop(SIGTERM), 0) << "a clean stop, and under the sanitizers no leak";
    for (char const* line : {"malformed frame", "frame of 4294967295 bytes, limit 1048576",
                             "no hello within 1000 ms"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " not in:\n" << log;
    }
}

TEST(DaemonTest, LimitsAreHeldAndSaidOnce) {
    Daemon daemon({"--max-connections", "2", "--max-in-flight", "4"});
    int const a = connect_loopback(daemon.port()), b = connect_loopback(daemon.port());
    send_all(a, hello());
    send_all(b, hello());
    int const third = connect_loopback(daemon.port());
    EXPECT_TRUE(closed_by_daemon(third));
    EXPECT_NE(daemon.log().find("connection limit 2 reached"), std::string::npos) << daemon.log();

    // A client that sends without reading: the daemon stops reading it.
    std::string flood;
    kovra_sim::wire::FrameWriter w;
    kovra_sim::Sent sent[kovra_sim::kMaxArgs]{};
    for (uint32_t id = 1; id <= 200000; ++id) {
        w.clear();
        kovra_sim::wire::write_request(w, id, kovra_sim::fn_kovra_api_led_get_state_send, 1, "led",
                                       sent);
        flood.append(w.buffer().data(), w.buffer().size());
    }
    timeval tv{2, 0};
    setsockopt(a, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    send(a, flood.data(), flood.size(), MSG_NOSIGNAL);
    for (int i = 0; i < 200 && daemon.log().find("reading paused") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(daemon.log().find("4 requests in flight, reading paused"), std::string::npos)
        << daemon.log();
    close(a);
    close(b);
}

TEST(DaemonTest, RefusesAClientBuiltFromAnotherTable) {
    Daemon daemon;
    int const fd = connect_loopback(daemon.port());
    send_all(fd, hello(kovra_sim::table_fingerprint() + 1));
    std::string const got = until_closed(fd);
    close(fd);
    kovra_sim::wire::Decoded d;
    kovra_sim::wire::Welcome welcome;
    ASSERT_GT(got.size(), 4u);
    ASSERT_TRUE(d.parse(got.data() + 4, got.size() - 4) && d.welcome(welcome));
    EXPECT_EQ(welcome.status, KOVRA_SIM_STATUS_PROTOCOL);
    EXPECT_EQ(welcome.fingerprint, kovra_sim::table_fingerprint());
    EXPECT_NE(daemon.log().find("refused: client protocol 1"), std::string::npos) << daemon.log();
}

}  // namespace
