// The daemon's network side: it accepts clients on one address and runs a
// connection (connection.h) for each. Limits bound what clients can take:
// connections at once (one beyond them is told so in the welcome), requests
// in flight per connection, the frame size, and the time a hello, an
// unfinished frame, a silent client or an unread reply may take. Each logs a
// line when hit; only the offending connection is closed.
//
// A reboot (reboot=) closes every connection and the listening socket, and
// after its time listens again with the camera as the daemon started it; its
// targets announce themselves kAnnounceAfterReboot later, once clients are
// back. A reboot=SECONDS@EVERY of the start keeps its clock across resets.
#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "daemon/shared_simulation.h"
#include "wire/protocol.h"

namespace kovra_sim {

struct Limits {
    size_t max_connections = 256;
    size_t max_in_flight = 1024;
    uint32_t max_frame = wire::kMaxFrame;
    std::chrono::milliseconds hello_timeout{10000};
    std::chrono::milliseconds frame_timeout{10000};
    // A greeted connection with nothing in flight that sends nothing at all
    // for this long is closed; 0 never. Clients send heartbeats well within it.
    std::chrono::milliseconds idle_timeout{300'000};
    std::chrono::milliseconds write_timeout{30000};
};

class Connection;

// "ADDRESS:PORT", with an IPv6 address in brackets.
std::string text_of(boost::asio::ip::tcp::endpoint const& e);

// How an accept loop rides out a shortage of descriptors or memory: trying
// again at once would spin and flood the log, so it waits 100 ms, doubling
// up to 1 s, and logs when the shortage begins and when it ends. Used on
// its timer's io_context alone.
class AcceptPause {
public:
    AcceptPause(boost::asio::io_context& io, char const* what) : timer_(io), what_(what) {}

    // EMFILE, ENFILE, ENOBUFS or ENOMEM.
    static bool shortage(boost::system::error_code const& ec);
    // After an accept that failed for a shortage: `again` after the pause.
    void failed(boost::system::error_code const& ec, std::function<void()> again);
    // After an accept that worked.
    void worked();
    void cancel() { timer_.cancel(); }

private:
    boost::asio::steady_timer timer_;
    char const* what_;
    std::chrono::milliseconds wait_{0};
    uint64_t failures_ = 0;
};

class Server final : private Listener {
public:
    // Accepts on `io`; runs connections on `workers` in turn (each run by
    // one thread of its own, so a connection's work never changes threads).
    Server(boost::asio::io_context& io, std::vector<boost::asio::io_context*> workers,
           SharedSimulation& simulation, boost::asio::ip::tcp::endpoint const& listen,
           Limits const& limits);
    ~Server();

    // A client's reconnect pause grows to 2 s at most: by then it is back.
    static constexpr std::chrono::milliseconds kAnnounceAfterReboot{2500};

    boost::asio::ip::tcp::endpoint const& local_endpoint() const { return endpoint_; }
    SharedSimulation& simulation() { return simulation_; }
    Limits const& limits() const { return limits_; }
    // The address a connection's announcements name.
    std::string const& address() const { return address_; }

    void start();
    // Stops accepting and closes every connection.
    void stop();
    // True while rebooted: refusing connections.
    bool down() const { return down_.load(std::memory_order_relaxed); }
    // After a reset: delivered announcements count from zero, and a reboot
    // in progress ends at once, as if its time were up (true if one did).
    // Called on the io_context given to the constructor.
    bool after_reset();
    // A connection closed: its figures are kept among the last few closed.
    void forget(Connection const& closed);
    // [{"connection", "peer", "calls", "open"}]: the open connections and the
    // last closed ones that made calls.
    nlohmann::json connections();

    struct Tally {
        uint64_t open = 0, accepted = 0;
        // Announcements delivered to subscribed connections, by target.
        std::map<std::string, uint64_t> announced;
    };
    Tally tally();

private:
    void accept();
    // Accepts again unless stopped or rebooted.
    void accept_again();
    void sweep();
    // The connections still open; with mutex_ held.
    std::vector<std::shared_ptr<Connection>> open_connections();
    void announce(int service) override;
    // A reboot schedule taken, at start or from a directive.
    void schedule(std::optional<WireFaults::Reboot> plan);
    // The next reboot of the schedule whose number is `plan`, at `when`.
    void reboot_at(std::chrono::steady_clock::time_point when, uint64_t plan);
    void reboot(std::chrono::seconds down);
    void come_back();
    void come_back_after(std::chrono::steady_clock::duration wait);

    boost::asio::io_context& io_;
    std::vector<boost::asio::io_context*> const workers_;
    size_t next_worker_ = 0;
    SharedSimulation& simulation_;
    Limits const limits_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer sweeper_;
    boost::asio::ip::tcp::endpoint endpoint_;
    std::string address_;
    // The reboot schedule and its timers: used on `io_` alone.
    std::optional<WireFaults::Reboot> plan_;
    uint64_t plans_ = 0;  // schedules taken so far; a timer of an older one does nothing
    std::optional<WireFaults::Reboot> start_plan_;   // the first schedule taken: the start's
    std::chrono::steady_clock::time_point started_;  // and when its clock started
    boost::asio::steady_timer reboots_;              // the next reboot
    boost::asio::steady_timer back_;                 // the end of a reboot, then its announcements
    std::atomic<bool> down_{false};
    std::mutex mutex_;  // guards the members below
    bool stopped_ = false;
    uint64_t accepted_ = 0;
    size_t admitted_ = 0;  // open connections within the limit
    size_t refusing_ = 0;  // open connections beyond it, being told so
    AcceptPause pause_;    // used on `io_` alone
    std::map<uint64_t, std::weak_ptr<Connection>> connections_;
    static constexpr size_t kClosedKept = 256;
    static constexpr size_t kRefusingAtOnce = 64;
    std::deque<nlohmann::json> closed_;
    std::map<std::string, uint64_t> announced_;
};

}  // namespace kovra_sim
