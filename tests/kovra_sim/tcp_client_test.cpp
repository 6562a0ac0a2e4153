// The stand-in's TCP transport against cameras played by hand that
// misbehave, and against real daemons that die, reboot, come back, listen on
// IPv6 or close idle connections: every call ends with a status.
#include <gmock/gmock.h>
#include <kovra/kovra_api.h>
#include <kovra_sim/control.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "client/backoff.h"
#include "support/WirePeer.h"

namespace {

using namespace std::chrono_literals;

bool ipv6_loopback() {
    sockaddr_in6 a{AF_INET6, 0, 0, in6addr_loopback, 0};
    int const fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool const bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);  // if any
    return bound;
}
using Clock = std::chrono::steady_clock;

// One connection of a camera played by hand: it welcomes the client with its
// `fingerprint` and `idle_ms`, answers each initiator's opening, and hands each
// request to `behave`; no heartbeat is answered.
class FakeCamera {
public:
    FakeCamera(std::function<bool(int fd, kovra_sim::wire::Call const&)> behave,
               uint64_t fingerprint = kovra_sim::table_fingerprint(), uint32_t idle_ms = 0)
        : listener_(listen_loopback(port_)) {
        thread_ = std::thread([this, behave, fingerprint, idle_ms] {
            int const fd = client_ = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            read_frame(fd, 60s);  // the hello
            kovra_sim::wire::FrameWriter w;
            kovra_sim::wire::write_welcome(w, {kovra_sim::wire::kVersion, fingerprint, 0, idle_ms});
            send(fd, w.buffer().data(), w.buffer().size(), MSG_NOSIGNAL);
            for (std::string f = read_frame(fd, 60s); !f.empty(); f = read_frame(fd, 60s)) {
                kovra_sim::wire::Decoded d;
                kovra_sim::wire::Call call;
                if (d.parse(f.data(), f.size()) && d.ping()) continue;
                if (!d.parse(f.data(), f.size()) || !d.call(call)) break;
                if (kovra_sim::function_info(call.function).kind ==
                    kovra_sim::Kind::initiator_init) {
                    reply(fd, call.id, 0);
                } else if (!behave(fd, call)) {
                    break;
                }
            }
            hung_up_ = true;
            close(fd);
        });
    }
    ~FakeCamera() {
        shutdown(client_, SHUT_RDWR);
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    // Whether the connection has ended (the client closed it, or `behave` did).
    bool hung_up() const { return hung_up_; }
    // Bytes the client sent that the camera has not read yet.
    int unread() const {
        int n = -1;
        ioctl(client_, FIONREAD, &n);
        return n;
    }
    void announce(char const* word) {
        kovra_sim::wire::FrameWriter w;
        kovra_sim::wire::write_event(w, {kovra_sim::service_id(word), 1, "camera"});
        send(client_, w.buffer().data(), w.buffer().size(), MSG_NOSIGNAL);
    }

    static void reply(int fd, uint32_t id, int32_t status) {
        kovra_sim::wire::FrameWriter w;
        kovra_sim::wire::write_reply_status(w, id, status);
        send(fd, w.buffer().data(), w.buffer().size(), MSG_NOSIGNAL);
    }

private:
    int port_ = 0;
    int listener_;
    std::atomic<int> client_{-1};
    std::atomic<bool> hung_up_{false};
    std::thread thread_;
};

class TcpClient : public testing::Test {
protected:
    void SetUp() override {
        kovra_sim_reset();
        ASSERT_EQ(kovra_sim_configure("timeout=300"), 0);
        ASSERT_EQ(kovra_core_logging_init("tcp_client_test", &log_), 0);
    }
    void TearDown() override {
        disconnect();
        kovra_core_logging_deinit(log_);
        kovra_sim_reset();
    }
    int32_t connect(std::string const& url) {
        return kovra_core_ipc_initiator_init(log_, url.c_str(), &ipc_);
    }
    void disconnect() {
        if (ipc_) kovra_core_ipc_deinit(ipc_);
        ipc_ = nullptr;
    }
    void open_led(std::string const& url) {
        ASSERT_EQ(connect(url), 0) << url;
        ASSERT_EQ(kovra_api_led_initiator_init(ipc_, log_, &led_, 0, 0), 0);
    }
    // The LED's state, and how long asking took.
    int32_t ask(Clock::duration* took = nullptr) {
        auto const start = Clock::now();
        uint8_t on = 0;
        int32_t const status = kovra_api_led_get_state_send(led_, "led", &on);
        if (took) *took = Clock::now() - start;
        return status;
    }

    void* log_ = nullptr;
    void* ipc_ = nullptr;
    kovra_initiator* led_ = nullptr;
};

TEST(BackoffTest, DoublesFromFiftyMillisecondsToTwoSecondsAndStartsOverOnceBack) {
    kovra_sim::Backoff backoff;
    std::vector<long> pauses;
    for (int i = 0; i < 8; ++i) pauses.push_back(long(backoff.next().count()));
    EXPECT_EQ(pauses, (std::vector<long>{50, 100, 200, 400, 800, 1600, 2000, 2000}));
    backoff.reset();
    EXPECT_EQ(backoff.next().count(), 50);
}

// Then it is taken for gone: the next call waits within its own deadline. With
// give_up=0 a call of a minute's deadline fails at once instead.
TEST_F(TcpClient, ASilentCameraCostsACallItsDeadline) {
    ASSERT_EQ(kovra_sim_configure("timeout=1000"), 0);
    {
        FakeCamera camera([](int, auto const&) { return true; });
        ASSERT_NO_FATAL_FAILURE(open_led(camera.url()));
        Clock::duration took;
        EXPECT_EQ(ask(&took), KOVRA_SIM_STATUS_TIMEOUT);
        EXPECT_GE(took, 1000ms);
        EXPECT_EQ(ask(&took), KOVRA_SIM_STATUS_NOT_CONNECTED);
        EXPECT_GE(took, 1000ms);
        disconnect();
    }
    ASSERT_EQ(kovra_sim_configure("timeout=60000;give_up=0"), 0);
    Daemon daemon;
    ASSERT_NO_FATAL_FAILURE(open_led(daemon.url()));
    daemon.stop(SIGKILL);
    auto call = std::async(std::launch::async, [&] { return ask(); });
    ASSERT_EQ(call.wait_for(10s), std::future_status::ready) << "it waited for the camera";
    EXPECT_EQ(call.get(), KOVRA_SIM_STATUS_NOT_CONNECTED);
}

// A camera that answers no heartbeat is left, although the connection looks open.
TEST_F(TcpClient, ACameraThatAnswersNoHeartbeatIsLeft) {
    FakeCamera camera([](int, auto const&) { return true; }, kovra_sim::table_fingerprint(), 300);
    ASSERT_EQ(connect(camera.url()), 0);
    EXPECT_TRUE(eventually([&] { return camera.hung_up(); }, 5s));
}

TEST_F(TcpClient, AReplyToNoRequestIsIgnored) {
    FakeCamera camera([](int fd, kovra_sim::wire::Call const& call) {
        FakeCamera::reply(fd, call.id + 0x10000, 0);  // another generation of the slot
        FakeCamera::reply(fd, 0xffffffffu, 0);        // no slot at all
        FakeCamera::reply(fd, call.id, -42);
        return true;
    });
    ASSERT_NO_FATAL_FAILURE(open_led(camera.url()));
    EXPECT_EQ(ask(), -42);
    EXPECT_EQ(ask(), -42);
}

TEST_F(TcpClient, ACameraThatHangsUpMidFrameFailsTheCallPromptly) {
    FakeCamera camera([](int fd, kovra_sim::wire::Call const&) {
        send(fd, "\x00\x00\x00\x10\x94", 5, MSG_NOSIGNAL);
        return false;
    });
    ASSERT_NO_FATAL_FAILURE(open_led(camera.url()));
    EXPECT_EQ(ask(), KOVRA_SIM_STATUS_NOT_CONNECTED) << "not the deadline's -8";
}

// A connection that cannot be made says why on stderr, and the status tells
// the program. Nothing listening is tried until give_up= passes; another
// protocol is not tried again (a second attempt would find nobody greeting: -8).
TEST_F(TcpClient, AConnectionThatFailsSaysWhyOnStderr) {
    ASSERT_EQ(kovra_sim_configure("give_up=1"), 0);
    int free_port = 0;
    close(listen_loopback(free_port));
    std::string const address = "127.0.0.1:" + std::to_string(free_port),
                      refused = "tcp://" + address;
    FakeCamera other([](int, auto const&) { return false; }, kovra_sim::table_fingerprint() ^ 1);
    // Each URL, its status, and how its line on stderr begins.
    std::vector<std::tuple<std::string, int32_t, std::string>> cases = {
        {refused, KOVRA_SIM_STATUS_NOT_CONNECTED,
         "cannot connect to " + refused + ": " + address + ": connection refused"},
        {other.url(), KOVRA_SIM_STATUS_PROTOCOL,
         "camera at " + other.url() + " was built differently"},
        {"tcp://no-such-host.invalid:7570", KOVRA_SIM_STATUS_NOT_CONNECTED,
         "cannot connect to tcp://no-such-host.invalid:7570: host \"no-such-host.invalid\" does "
         "not resolve"},
        {"http://127.0.0.1:7570", KOVRA_SIM_STATUS_BAD_ARGUMENT,
         "cannot connect: \"http://127.0.0.1:7570\" is not a tcp:// URL"},
        {"tcp://127.0.0.1:0", KOVRA_SIM_STATUS_BAD_ARGUMENT,
         "cannot connect: \"tcp://127.0.0.1:0\" is not tcp://HOST[:PORT]"},
    };
    for (char const* bad : {"udp://127.0.0.1", "tcp://", "tcp://127.0.0.1:x", "tcp://[::1"})
        cases.emplace_back(bad, KOVRA_SIM_STATUS_BAD_ARGUMENT,
                           "cannot connect: \"" + std::string(bad));
    for (auto const& [url, status, begins] : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(connect(url), status) << url;
        EXPECT_THAT(testing::internal::GetCapturedStderr(),
                    testing::StartsWith("kovra-sim: " + begins));
    }
    ipc_ = nullptr;
}

// A program started while the camera reboots waits as a reconnect would.
TEST_F(TcpClient, TheFirstConnectionWaitsForARebootUpToGiveUp) {
    for (auto [give_up, reboot, status] :
         {std::tuple{"give_up=20", "reboot=3", 0},
          {"give_up=1", "reboot=600", KOVRA_SIM_STATUS_NOT_CONNECTED}}) {
        ASSERT_EQ(kovra_sim_configure(give_up), 0);
        Daemon daemon({"--admin", "0", "--sim", reboot});
        ASSERT_TRUE(eventually([&] { return daemon.health() == 503; }, 10s)) << daemon.log();
        auto const start = Clock::now();
        ASSERT_EQ(connect(daemon.url()), status) << reboot << ": " << daemon.log();
        if (status != 0) {
            EXPECT_GE(Clock::now() - start, 1s) << "it gave up before give_up=1";
        } else {
            ASSERT_EQ(kovra_api_led_initiator_init(ipc_, log_, &led_, 0, 0), 0);
            EXPECT_EQ(ask(), 0);
        }
        disconnect();
    }
}

// Calls fail fast while the daemon is away; once back on its port, the same
// initiator and handler work again, and the handler hears of the restart
// another client's request caused (every second request).
TEST_F(TcpClient, ReconnectsAndReopensWhatItHad) {
    auto daemon = std::make_unique<Daemon>();
    int const port = daemon->port();
    ASSERT_NO_FATAL_FAILURE(open_led(daemon->url()));
    kovra_initiator* broker = nullptr;
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker, 1, 0), 0);
    static std::atomic<int> heard{0};
    auto handler = [](char const*, char const* target, uint8_t, char const*, void*) {
        heard += std::string(target) == "led";
    };
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, handler, nullptr), 0);
    ASSERT_EQ(ask(), 0);

    daemon->stop(SIGKILL);
    EXPECT_EQ(ask(), KOVRA_SIM_STATUS_NOT_CONNECTED);
    daemon = std::make_unique<Daemon>(std::vector<std::string>{"--sim", "restart=led*1/2"}, port);
    EXPECT_TRUE(eventually([&] { return ask() == 0; }));
    void* other = nullptr;
    ASSERT_EQ(kovra_core_ipc_initiator_init(log_, daemon->url().c_str(), &other), 0);
    ASSERT_EQ(kovra_api_led_initiator_init(other, log_, &led_, 0, 0), 0);
    EXPECT_EQ(ask(), 0);
    EXPECT_TRUE(eventually([&] { return heard != 0; })) << "the handler was not registered again";
    EXPECT_EQ(heard, 1) << "the handler was registered twice";
    kovra_core_ipc_deinit(other);
}

// drop=every:3 closes each connection instead of sending its third reply.
TEST_F(TcpClient, DroppingEveryThirdReplyFailsEveryThirdCall) {
    Daemon daemon({"--sim", "drop=every:3"});
    ASSERT_NO_FATAL_FAILURE(open_led(daemon.url()));
    std::vector<int32_t> statuses;
    for (int i = 0; i < 6; ++i) statuses.push_back(ask());
    int32_t const lost = KOVRA_SIM_STATUS_NOT_CONNECTED;
    EXPECT_EQ(statuses, (std::vector<int32_t>{0, 0, lost, 0, 0, lost}));
}

// The daemon answers on either family after its latency in us (as ms, 20000
// would outlast the deadline) or a jitter up to its ms (as us it would be
// nothing; as s, past the deadline): the median of nine calls.
TEST_F(TcpClient, ADaemonAnswersOnEitherFamilyAfterItsLatencyAndJitter) {
    for (auto [host, sim, median] : {std::tuple{"127.0.0.1", "latency=20000", 20ms},
                                     {"::1", "latency=20000", 20ms},
                                     {"127.0.0.1", "jitter=200", 10ms}}) {
        if (std::string(host) == "::1" && !ipv6_loopback()) {
            std::cerr << "no IPv6 loopback here: IPv6 not tested\n";
            continue;
        }
        Daemon daemon({"--sim", sim}, 0, host);
        ASSERT_NO_FATAL_FAILURE(open_led(daemon.url()));
        std::vector<Clock::duration> took(9);
        for (auto& t : took) EXPECT_EQ(ask(&t), 0) << host << " " << sim;
        std::nth_element(took.begin(), took.begin() + 4, took.end());
        EXPECT_GE(took[4], median) << host << " " << sim;
        disconnect();
    }
}

// Sending nothing, it hears an announcement before its first heartbeat: the
// library's own thread reads a quiet connection. The camera reads nothing
// after the handler's registration, so a heartbeat sent would wait unread.
TEST_F(TcpClient, AnIdleSubscriberHearsAnAnnouncementBeforeItsFirstHeartbeat) {
    std::promise<void> done;
    FakeCamera camera([after = done.get_future().share()](int fd, auto const& call) {
        FakeCamera::reply(fd, call.id, 0);
        after.wait();
        return false;
    });
    std::shared_ptr<void> release(nullptr, [&](void*) { done.set_value(); });
    ASSERT_EQ(connect(camera.url()), 0);
    kovra_initiator* broker = nullptr;
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker, 1, 0), 0);
    static std::atomic<int> unread_then{-1};
    auto handler = [](char const*, char const* target, uint8_t, char const*, void* camera) {
        if (std::string(target) == "led") unread_then = static_cast<FakeCamera*>(camera)->unread();
    };
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, handler, &camera), 0);
    camera.announce("led");
    ASSERT_TRUE(eventually([&] { return unread_then >= 0; }, 30s));
    EXPECT_EQ(unread_then, 0) << "it was heard only after a heartbeat made the client read";
}

// A client past the daemon's limit gets -10; a silent one is closed, which
// lets the next in; and this library's, quiet for ten times that idle timeout
// (its deadline longer, as a soak's), is kept by its heartbeats.
TEST_F(TcpClient, IdleConnectionsMakeRoomAndAQuietClientIsKeptByItsHeartbeats) {
    ASSERT_EQ(kovra_sim_configure("timeout=5000"), 0);
    Daemon daemon({"--max-connections", "2", "--idle-timeout", "1"});
    int const a = greeted(daemon.port()), b = greeted(daemon.port());
    EXPECT_EQ(connect(daemon.url()), KOVRA_SIM_STATUS_NO_RESOURCES);
    EXPECT_TRUE(daemon.said("connection limit 2 reached")) << daemon.log();
    EXPECT_TRUE(closed_by_peer(a));
    EXPECT_TRUE(closed_by_peer(b));
    ASSERT_NO_FATAL_FAILURE(open_led(daemon.url()));
    EXPECT_TRUE(daemon.said("closed: silent for 1000 ms")) << daemon.log();
    auto const silenced = [&] { return countOf(daemon.log(), "silent for") > 2; };
    EXPECT_FALSE(eventually(silenced, 10s)) << daemon.log();
    EXPECT_EQ(ask(), 0);
    EXPECT_FALSE(silenced()) << daemon.log();
}

}  // namespace
