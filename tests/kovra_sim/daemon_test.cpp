// kovra-camd among hostile and careless peers: a well-behaved client is
// served throughout, each bad connection is closed with a log line, and the
// daemon's memory stays flat.
#include <gmock/gmock.h>
#include <kovra/kovra_api.h>
#include <kovra_sim/control.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "stats/report_files.h"
#include "support/TempDirTest.h"
#include "support/WirePeer.h"

namespace {

using namespace std::chrono_literals;

// This process's library, reading and writing back the LED on a thread of its own.
class GoodClient {
public:
    explicit GoodClient(std::string const& url) {
        kovra_sim_reset();
        // A call is judged by its outcome, not its time: a busy machine may
        // hold a reply past the default 900 ms.
        EXPECT_EQ(kovra_sim_configure("timeout=60000"), 0);
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
    bool progress(uint64_t n) {
        uint64_t const target = ok + n;
        return eventually([&] { return ok >= target; }, 60s);
    }

    std::atomic<uint64_t> ok{0}, failed{0};

private:
    void* log_ = nullptr;
    void* ipc_ = nullptr;
    kovra_initiator* led_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A LED read of `payload` bytes after the length prefix (at least 18),
// its target padded to fit.
std::string request_of_size(size_t payload) {
    kovra_sim::wire::FrameWriter w;
    for (std::string target;; target += 'x') {
        w.clear();
        kovra_sim::wire::begin_call(w, 1, kovra_sim::fn_kovra_api_led_get_state_send, 1, 0, target);
        w.end();
        if (w.buffer().size() >= payload + 4) break;
    }
    EXPECT_EQ(w.buffer().size(), payload + 4);
    return bytes_of(w);
}

class DaemonTest : public TempDirTest {
protected:
    DaemonTest() : TempDirTest("kovra_camd_test") {}
};

TEST_F(DaemonTest, HostilePeersNeitherStopNorSlowAWellBehavedClient) {
    Daemon daemon(
        {"--frame-timeout", "1000", "--max-frame", "64", "--max-in-flight", "4", "--admin", "0"});
    std::optional<GoodClient> client(std::in_place, daemon.url());
    ASSERT_TRUE(client->progress(200));

    // Garbage after a plausible length; then a length of 4 GiB - 1, which
    // must be refused without the daemon allocating it.
    for (std::string const& bad :
         {frame("\x93\x01\x02\x03"), frame("\xc1"), frame(hello().substr(4)) + frame("x"),
          std::string("\xff\xff\xff\xff", 4)}) {
        int const fd = connect_loopback(daemon.port());
        send_all(fd, bad);
        EXPECT_TRUE(closed_by_peer(fd));
    }
    // A sender that trickles its hello is dropped when its frame runs late,
    // and so is one that leaves a frame unfinished after its hello.
    int const slow = connect_loopback(daemon.port());
    std::string const trickle = hello();
    std::thread trickler([&] {
        for (char c : trickle) {
            if (send(slow, &c, 1, MSG_NOSIGNAL) != 1) return;
            std::this_thread::sleep_for(300ms);
        }
    });
    EXPECT_TRUE(closed_by_peer(dup(slow)));  // the trickler sends on `slow` still
    trickler.join();
    close(slow);
    int const unfinished = connect_loopback(daemon.port());
    send_all(unfinished, hello() + request_of_size(40).substr(0, 30));
    EXPECT_TRUE(closed_by_peer(unfinished));
    // A frame of exactly --max-frame bytes is served; one byte more closes.
    int const limited = greeted(daemon.port());
    send_all(limited, request_of_size(64));
    EXPECT_NE(read_frame(limited), "") << "no reply at the limit";
    send_all(limited, request_of_size(65));
    EXPECT_TRUE(closed_by_peer(limited));
    // One that sends without reading is no longer read.
    int const flooder = greeted(daemon.port());
    kovra_sim::wire::FrameWriter flood;
    for (uint32_t id = 1; id <= 200000; ++id) {
        kovra_sim::wire::begin_call(flood, id, kovra_sim::fn_kovra_api_led_get_state_send, 1, 0,
                                    "led");
        flood.end();
    }
    timeval tv{2, 0};
    setsockopt(flooder, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    send(flooder, flood.buffer().data(), flood.buffer().size(), MSG_NOSIGNAL);
    EXPECT_TRUE(daemon.said("4 requests in flight, reading paused")) << daemon.log();
    close(flooder);

    // A thousand connections opened and dropped, some with a reset; then two
    // hundred held at once, each admitted; and none of them is kept (the daemon's
    // memory is no measure of that, as its allocator keeps what it freed).
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
    std::vector<int> many(200);
    for (int& fd : many) EXPECT_GE(fd = greeted(daemon.port()), 0) << "not admitted";
    for (int fd : many) close(fd);

    EXPECT_TRUE(client->progress(200)) << "the good client stalled";
    EXPECT_EQ(client->failed, 0u);
    EXPECT_TRUE(eventually([&] { return daemon.metrics().at("kovra_camd_connections_open") == 1; }))
        << "only the good client's connection stays open";
    client.reset();  // before the daemon stops, or its closing calls wait for it to come back
    std::string const log = daemon.log();
    EXPECT_EQ(daemon.stop(SIGTERM), 0) << "a clean stop, and under the sanitizers no leak";
    for (char const* line :
         {"malformed frame", "frame of 4294967295 bytes, limit 64", "frame of 65 bytes, limit 64",
          "no hello within 1000 ms", "a frame still unfinished after 1000 ms"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " not in:\n" << log;
    }
}

// At the hello, with the daemon's own table and version in the welcome and a log line.
TEST_F(DaemonTest, RefusesAClientBuiltDifferently) {
    Daemon daemon;
    uint64_t const ours = kovra_sim::table_fingerprint();
    uint32_t const version = kovra_sim::wire::kVersion;
    for (auto [fingerprint, v] :
         {std::pair{ours + 1, version}, {ours, version - 1}, {ours, version + 1}}) {
        int const fd = connect_loopback(daemon.port());
        send_all(fd, hello(fingerprint, v));
        auto const welcome = welcome_of(read_frame(fd));
        close(fd);
        ASSERT_TRUE(welcome) << v;
        EXPECT_EQ(std::tuple(welcome->status, welcome->fingerprint, welcome->version),
                  std::tuple(KOVRA_SIM_STATUS_PROTOCOL, ours, version));
        char line[128];
        std::snprintf(line, sizeof line, "refused: client protocol %u, table %016llx", v,
                      static_cast<unsigned long long>(fingerprint));
        EXPECT_THAT(daemon.log(), testing::HasSubstr(line));
    }
}

// Out of descriptors, both accept loops wait instead of spinning, and serve
// again once clients leave. Two descriptors to spare: the daemon made all it
// needs before it listened. The backlog drains two at a time, so an episode
// may come for each pair; a loop that spun would log thousands.
TEST_F(DaemonTest, OutOfDescriptorsTheAcceptLoopsWaitAndComeBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "UBSan's vptr check opens a pipe, which a daemon out of descriptors cannot";
#endif
    Daemon daemon({"--admin", "0", "--max-connections", "1000"});
    std::filesystem::directory_iterator const fds("/proc/" + std::to_string(daemon.pid()) + "/fd");
    rlimit low{};
    ASSERT_EQ(prlimit(daemon.pid(), RLIMIT_NOFILE, nullptr, &low), 0);
    low.rlim_cur = rlim_t(std::distance(begin(fds), end(fds)) + 2);
    ASSERT_EQ(prlimit(daemon.pid(), RLIMIT_NOFILE, &low, nullptr), 0);
    std::vector<int> clients;
    for (auto [port, n, says] : {std::tuple{daemon.port(), 12, "kovra-camd: accept: Too many"},
                                 {daemon.admin_port(), 2, "kovra-camd: admin accept: Too many"}}) {
        for (int i = 0; i < n; ++i) clients.push_back(connect_loopback(port));
        EXPECT_TRUE(daemon.said(says));
    }
    for (int fd : clients) close(fd);
    EXPECT_TRUE(eventually([&] { return daemon.health() == 200; }));
    EXPECT_EQ(close(greeted(daemon.port())), 0) << "not served again";
    std::string const log = daemon.log();
    for (std::string const line : {"kovra-camd: accept: ", "kovra-camd: admin accept: "})
        EXPECT_LE(countOf(log, line), 2 * (12 / 2 + 1)) << log;
}

// kovra-camd run by the shell with `args` under the shell's `limits`, its log
// through a pipe, which no file size limit binds.
Outcome camd(std::string const& args, std::string const& dir, std::string const& limits = "") {
    std::string command = "exec timeout 60 " KOVRA_SIM_EMULATOR " " KOVRA_CAMD;
    if (args.find("--listen") == std::string::npos) command += " --listen 127.0.0.1:0";
    if (args.find("--port-file") == std::string::npos) command += " --port-file " + dir + "/port";
    command += " " + args;
    if (!limits.empty())
        command = "bash -c 'set -o pipefail; (" + limits + command + ") 2>&1 | cat >&2'";
    return runShell(command, dir);
}

// A number out of its range, or a file it cannot use: exit 2 before it listens.
TEST_F(DaemonTest, OptionsOutOfRangeStopItBeforeItListens) {
    std::string const fifo = dir + "/fifo";  // as a device, which a broken build would replace
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto range = [](std::string const& option, long low, long high) {
        return "kovra-camd: " + option + ": expected a whole number from " + std::to_string(low) +
               " to " + std::to_string(high);
    };
    std::pair<std::string, std::string> const cases[] = {
        {"--threads -1", range("--threads -1", 1, 256)},
        {"--threads 257", range("--threads 257", 1, 256)},
        {"--max-connections 0", range("--max-connections 0", 1, 65536)},
        {"--max-in-flight 65537", range("--max-in-flight 65537", 1, 65536)},
        {"--max-frame 63", range("--max-frame 63", 64, 67108864)},
        {"--frame-timeout 0", range("--frame-timeout 0", 1, 3600000)},
        {"--frame-timeout -5", range("--frame-timeout -5", 1, 3600000)},
        {"--idle-timeout 86401", range("--idle-timeout 86401", 0, 86400)},
        {"--idle-timeout 1x", range("--idle-timeout 1x", 0, 86400)},
        {"--port-file " + fifo, "kovra-camd: --port-file " + fifo + ": not a regular file"},
        {"--stats " + dir, "kovra-camd: --stats " + dir + ": not a regular file"},
        {"--timeline " + fifo, "kovra-camd: --timeline " + fifo + ": not a regular file"},
        {"--interval 5", "kovra-camd: --interval goes with --timeline"},
        {"--listen 127.0.0.1:x", "kovra-camd: --listen 127.0.0.1:x: expected ADDR[:PORT]"},
        {"--listen camera:1", "kovra-camd: --listen camera:1: expected ADDR[:PORT]"},
        {"--sim state=" + fifo, "kovra-camd: --sim: state " + fifo + ": not a regular file"},
        {"--sim timeout=100",
         "kovra-camd: --sim: \"timeout=100\": timeout= is for the client "
         "library, not kovra-camd"},
    };
    for (auto const& [args, error] : cases) {
        Outcome const r = camd(args, dir);
        EXPECT_EQ(r.exit_code, 2) << args;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), error);
        EXPECT_FALSE(std::filesystem::exists(dir + "/port")) << args;
    }
    // At its limit an option is taken: 256 threads start, then the address fails.
    Outcome const r = camd("--threads 256 --listen 192.0.2.1:0", dir);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_THAT(r.err, testing::HasSubstr("kovra-camd: cannot listen on 192.0.2.1:0: "));
}

// Under systemd (Type=notify): ready once it listens, stopping on a signal.
TEST_F(DaemonTest, TellsSystemdWhenItIsReadyAndWhenItStops) {
    if (!KOVRA_CAMD_NOTIFIES) GTEST_SKIP() << "built without libsystemd";
    sockaddr_un address{AF_UNIX, {}};
    std::string const path = dir + "/notify";
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    int const fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto const next = [fd] {
        pollfd p{fd, POLLIN, 0};
        char said[256] = {};
        return poll(&p, 1, 20000) == 1 && recv(fd, said, sizeof said - 1, 0) > 0 ? std::string(said)
                                                                                 : "";
    };
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    Daemon daemon;
    unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(next(), "READY=1");
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    EXPECT_EQ(next(), "STOPPING=1");
    close(fd);
}

// Threads that cannot start, or a port file it cannot write: exit 1 before it listens.
TEST_F(DaemonTest, WhatCannotStartEndsItBeforeItSaysItListens) {
    Outcome r{0, "", ""};
#if !defined(__SANITIZE_THREAD__)  // its runtime writes a file as it starts
    r = camd("", dir, "ulimit -f 0; ");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "kovra-camd: cannot write the port to " + dir + "/port: File too large\n");
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they need the address space
    if (!*KOVRA_SIM_EMULATOR) {  // the limit would bind the emulator too
        r = camd("--threads 256", dir, "ulimit -v 300000; ");
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_THAT(r.err, testing::StartsWith("kovra-camd: cannot start thread "));
        EXPECT_THAT(r.err, testing::Not(testing::HasSubstr("listening")));
    }
#endif
    EXPECT_FALSE(std::filesystem::exists(dir + "/port"));
}

// SIGUSR1 prints the statistics and touches no file. SIGHUP writes the files
// and the daemon serves on, its journal streaming; a stopping signal writes them.
TEST_F(DaemonTest, SignalsPrintOrCheckpointTheFilesAndTheDaemonGoesOn) {
    Daemon daemon({"--stats", dir + "/stats", "--sim",
                   "state=" + dir + "/state;journal=" + dir + "/journal"});
    auto const led_reads = [&] {
        return stateCalls(readFile(dir + "/state"))["kovra_api_led_get_state_send"];
    };
    uint64_t checkpointed = 0;
    {
        GoodClient client(daemon.url());
        ASSERT_TRUE(client.progress(100));
        kill(daemon.pid(), SIGUSR1);
        ASSERT_TRUE(daemon.said("kovra_api_led_get_state_send")) << daemon.log();
        EXPECT_FALSE(std::filesystem::exists(dir + "/stats") ||
                     std::filesystem::exists(dir + "/state"));
        kill(daemon.pid(), SIGHUP);
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(dir + "/stats"); }));
        checkpointed = led_reads();
        EXPECT_GT(checkpointed, 0u);
        EXPECT_GT(kovra_sim::stats_files::load(dir + "/stats").whole().calls(), 0u);
        auto const open = nlohmann::json::parse(readFile(dir + "/stats")).at("connections");
        ASSERT_EQ(open.size(), 1u) << open;
        EXPECT_EQ(open[0].value("open", false), true) << open;
        size_t const journalled = readFile(dir + "/journal").size();
        EXPECT_GT(journalled, 0u);
        EXPECT_TRUE(client.progress(100)) << "the daemon stopped serving";
        EXPECT_TRUE(eventually([&] { return readFile(dir + "/journal").size() > journalled; }))
            << "the checkpoint closed the journal";
    }
    EXPECT_EQ(daemon.stop(SIGQUIT), 0);
    EXPECT_GT(led_reads(), checkpointed);
    auto const closed = nlohmann::json::parse(readFile(dir + "/stats")).at("connections");
    ASSERT_EQ(closed.size(), 1u) << closed;
    EXPECT_FALSE(closed[0].contains("open")) << closed;
    EXPECT_GT(closed[0].at("calls").get<uint64_t>(), checkpointed);
    EXPECT_THAT(readFile(dir + "/journal"), testing::EndsWith("kovra_core_ipc_deinit(#2) = 0\n"));
    EXPECT_THAT(daemon.log(), testing::HasSubstr("checkpoint on signal 1: files written"));
}

// A stall holds a reply for its time; bandwidth=KBPS paces replies (8: 1000
// bytes a second, so 250 pings of 6 bytes take 1.5 s), from the welcome on.
TEST_F(DaemonTest, StallAndBandwidthHoldRepliesForTheirTime) {
    kovra_sim::wire::FrameWriter pings;
    for (int i = 0; i < 250; ++i) kovra_sim::wire::write_ping(pings);
    ASSERT_EQ(pings.buffer().size(), 250 * 6u);
    for (auto const& [sim, bytes, frames, held] :
         {std::tuple{"stall=1000", request_of_size(64), 1, 1000ms},
          {"bandwidth=8", bytes_of(pings), 250, 1300ms}}) {
        Daemon daemon({"--sim", sim});
        int const fd = greeted(daemon.port());
        ASSERT_GE(fd, 0) << "no welcome";
        auto const start = std::chrono::steady_clock::now();
        send_all(fd, bytes);
        for (int i = 0; i < frames; ++i) ASSERT_NE(read_frame(fd), "") << sim << " frame " << i;
        EXPECT_GE(std::chrono::steady_clock::now() - start, held) << sim;
        close(fd);
    }
}

// A client wakes to part of its welcome. The bandwidth spaces the pieces (20 ms'
// worth holds a whole welcome), for a client slow to wake to find one alone.
TEST_F(DaemonTest, SliceWritesAFrameInPieces) {
    for (auto const& [sim, sliced] :
         {std::pair{"bandwidth=10", false}, {"slice=1;bandwidth=10", true}}) {
        Daemon daemon({"--sim", sim});
        int short_reads = 0;
        for (int i = 0; i < 10; ++i) {
            int const fd = connect_loopback(daemon.port());
            receive_within(fd, 5s);
            send_all(fd, hello());
            char got[256];
            ssize_t const n = recv(fd, got, sizeof got, 0);
            ASSERT_GT(n, 0) << sim;
            short_reads += n < 4 || size_t(n) < 4 + kovra_sim::wire::frame_length(got);
            close(fd);
        }
        EXPECT_EQ(short_reads > 0, sliced) << sim << ": " << short_reads << " of 10 reads short";
    }
}

}  // namespace
