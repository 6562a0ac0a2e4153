// An IPC connection to a camera daemon over TCP (docs/protocol.md). One
// connection carries every thread's calls at once: a caller writes its
// frame straight to the socket (or, while the socket is busy, behind the
// frames already waiting) and sleeps on a slot of its own until the I/O
// thread hands it the reply with the same request id or its deadline
// passes. The I/O thread reads replies, delivers announcements to the
// handlers in order with the replies around them, sends a heartbeat when
// the connection has been quiet (so the camera keeps it, and a camera gone
// silent is noticed), and reconnects with a growing pause after the camera
// drops the connection or stops answering. Meanwhile a call waits for the
// camera within its deadline, so a soak rides through a camera's reboot;
// once the camera has been away for the give-up time, calls fail at once
// with KOVRA_SIM_STATUS_NOT_CONNECTED until it is back. Once it is back, the
// client's initiators and handlers are opened again under the same numbers.
#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backoff.h"
#include "frame_reader.h"
#include "initiators.h"
#include "protocol.h"
#include "transport.h"

namespace kovra_sim {

class TcpTransport final : public Transport {
public:
    // Connects to "tcp://HOST[:PORT]" and says hello. On failure returns
    // nullptr with the status: BAD_ARGUMENT for another form of URL,
    // NOT_CONNECTED when nothing answers there, TIMEOUT when the camera
    // does not greet in time, PROTOCOL for another protocol or table.
    // `timeout_ms` is every call's deadline, `give_up_s` how long calls wait
    // for a camera that went away.
    static std::unique_ptr<Transport> connect(char const* url, uint32_t ipc, uint32_t log,
                                              uint32_t timeout_ms, uint32_t give_up_s,
                                              int32_t& status);
    ~TcpTransport() override;

    int32_t open_initiator(uint32_t handle, int service, bool events) override;
    int32_t close_initiator(uint32_t handle, int service) override;
    int32_t request(int function, uint32_t handle, char const* target, Call& call) override;
    int32_t subscribe(uint32_t broker, bool context) override;
    int32_t unsubscribe(uint32_t broker) override;
    void close() override;

    // Requests one connection carries at once; a call beyond it fails with
    // KOVRA_SIM_STATUS_NO_RESOURCES.
    static constexpr uint32_t kMaxInFlight = 4096;

private:
    using Clock = std::chrono::steady_clock;
    enum State { connecting, up, closed };
    struct Slot {
        std::mutex mutex;
        std::condition_variable done_cv;
        uint16_t generation = 0;
        bool waiting = false;
        bool done = false;
        int32_t status = 0;
        Call* call = nullptr;  // where a request's replies go
    };

    TcpTransport(std::string url, uint32_t ipc, uint32_t log, uint32_t timeout_ms,
                 uint32_t give_up_s);

    bool handshake(int32_t& status);
    // Waits until the camera is back (true), or the deadline or the give-up
    // time passes or the connection is closed (false).
    bool await_camera(Clock::time_point deadline);
    // One round trip: `write(frame, id)` builds the call frame.
    template <class Write>
    int32_t round_trip(Call* call, Write&& write);
    // A call with no arguments.
    int32_t bare_call(int function, uint32_t handle);
    bool send(char const* data, size_t size, bool replaying = false);

    // The I/O thread's side.
    void read();
    void on_read(boost::system::error_code ec, size_t n);
    bool dispatch(char const* data, size_t size);
    void answer(wire::Reply const& reply);
    void flush();
    // The camera is away from now on; true if it was up until now.
    bool away();
    // The connection is lost: away(), then drop().
    void lost(std::string const& why);
    // Closes the connection, fails the calls in flight and reconnects after
    // a pause; says so if the camera `was_up`.
    void drop(std::string const& why, bool was_up);
    void reconnect();
    void beat();
    void ping();
    void fail_waiting(int32_t status);

    std::string const url_;
    uint32_t const ipc_;
    uint32_t const log_;
    std::chrono::milliseconds const timeout_;
    std::chrono::seconds const give_up_;
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer retry_;
    std::vector<boost::asio::ip::tcp::endpoint> endpoints_;
    std::thread thread_;
    std::atomic<int> state_{connecting};  // changed under state_mutex_
    std::mutex state_mutex_;
    std::condition_variable state_cv_;  // callers waiting for the camera
    Clock::time_point away_since_;      // when the camera was lost
    Backoff backoff_;

    // The heartbeat, on the I/O thread.
    boost::asio::steady_timer heartbeat_;
    boost::asio::steady_timer ping_deadline_;
    std::chrono::milliseconds interval_;
    std::atomic<uint64_t> sent_frames_{0};
    uint64_t sent_at_beat_ = 0;
    bool pinging_ = false;  // a ping is out and nothing was heard since

    std::mutex write_mutex_;  // guards the members below
    std::string pending_;
    std::string writing_;
    bool flushing_ = false;

    std::unique_ptr<Slot[]> slots_;
    std::mutex free_mutex_;
    std::vector<uint32_t> free_;

    std::mutex opened_mutex_;
    Initiators opened_;  // to open again after a reconnect

    wire::FrameReader frames_{wire::kMaxFrame};
    wire::Decoded decoded_;
    bool welcomed_ = false;
};

}  // namespace kovra_sim
