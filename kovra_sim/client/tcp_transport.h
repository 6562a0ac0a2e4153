// An IPC connection to a camera daemon over TCP (docs/protocol.md). One
// connection carries every thread's calls at once, and no thread hands a
// reply to another when it need not:
//  - A caller sends its frame itself; callers sending at the same moment
//    share one send, the first sending what the others queued.
//  - A caller then reads the socket itself unless another thread (the
//    reader) does. The reader hands each reply to its caller, and once its
//    own has come, passes the reading to a caller still waiting.
//  - The library's own thread (the keeper) connects and reconnects, sends a
//    heartbeat when the connection has been quiet (so the camera keeps it,
//    and a camera gone silent is noticed), reads while no caller waits (so
//    an idle client hears announcements), and delivers announcements in
//    order, before the reply that followed them is handed over.
// When the camera drops the connection or lets a call pass its deadline,
// the calls in flight fail and the keeper reconnects with a growing pause.
// A call meanwhile waits for the camera within its deadline, so a soak rides
// through a reboot; once the camera has been away for the give-up time,
// calls fail at once with KOVRA_SIM_STATUS_NOT_CONNECTED until it is back.
// Then the initiators and handlers are opened again under the same numbers,
// ahead of any new call. The first connection, too, waits up to the give-up
// time for a camera not there yet.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/backoff.h"
#include "client/transport.h"
#include "wire/frame_reader.h"
#include "wire/initiators.h"
#include "wire/protocol.h"

namespace kovra_sim {

class TcpTransport final : public Transport {
public:
    // Connects to "tcp://HOST[:PORT]" and says hello, trying again as a
    // reconnect does for up to `give_up_s` while the camera is not there.
    // On failure returns nullptr with the status: BAD_ARGUMENT for another
    // URL, NOT_CONNECTED for a host that does not resolve or does not
    // answer, TIMEOUT for no greeting in time, PROTOCOL for another protocol
    // or table, or the status the camera refused the client with.
    // `timeout_ms` is every call's deadline.
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

    // A call waiting for its reply; lives in slots_, reused.
    struct Waiter {
        std::condition_variable wake;
        uint16_t generation = 0;
        bool waiting = false;
        std::atomic<bool> answered{false};  // read by its caller without the lock
        bool lead = false;                  // told to take over the reading
        int32_t status = 0;
        Call* call = nullptr;  // where a request's replies go
    };

    TcpTransport(std::string url, uint32_t ipc, uint32_t log, uint32_t timeout_ms,
                 uint32_t give_up_s);

    // One round trip: `write(frame, request id)` builds the call frame.
    template <class Write>
    int32_t round_trip(Call* call, Write&& write);
    // A call whose arguments are `args`, answered with a status only.
    template <class... Args>
    int32_t bare_call(int function, uint32_t handle, Args... args);
    // Asks the keeper to stop reading.
    void kick();
    // " within N ms", the deadline as the log says it.
    std::string within() const { return " within " + std::to_string(timeout_.count()) + " ms"; }
    // Waits until the camera is back (true), or the deadline or the give-up
    // time passes or the connection is closed (false). With mutex_ held.
    bool await_camera(std::unique_lock<std::mutex>& lock, Clock::time_point deadline);
    // Sends a frame, or queues it for the thread sending already; false if
    // the connection went.
    bool send(char const* data, size_t size);
    void fail_waiting(int32_t status);

    // Reads the socket, the reader role held, until `mine` is answered,
    // `until` passes, the keeper is asked to yield, or the connection goes.
    void read(Waiter* mine, Clock::time_point until);
    // Serves the whole frames read; false once the connection is lost.
    bool drain();
    // Wakes the callers answered since the last time. The reader's.
    void wake_answered();
    // Hands the reading to a waiting call other than `self`, or leaves it
    // to the keeper. With mutex_ held.
    void yield_reading(Waiter const* self);
    // One frame, with mutex_ held.
    bool dispatch(char const* data, size_t size, std::unique_lock<std::mutex>& lock);
    void answer(wire::Reply const& reply);
    // The camera is taken for gone: calls in flight fail, the keeper
    // reconnects. With mutex_ held.
    void lost(std::string const& why);

    // The keeper's side.
    void keep();
    // One attempt to connect, greet and reopen; the status it ends with.
    int32_t reconnect();
    // Attempts, with the pauses of a reconnect, until one connects, one
    // fails in a way no waiting mends, or the give-up time passes.
    int32_t first_connection();
    void deliver_events(std::unique_lock<std::mutex>& lock);
    void beat(std::unique_lock<std::mutex>& lock);

    std::string const url_;
    uint32_t const ipc_;
    uint32_t const log_;
    std::chrono::milliseconds const timeout_;
    std::chrono::seconds const give_up_;
    std::vector<std::string> endpoints_;  // the addresses' bytes

    std::mutex mutex_;                 // guards the members below, up to write_mutex_
    std::condition_variable changed_;  // the state, or something for the keeper
    std::atomic<int> state_{connecting};
    std::optional<int32_t> first_;  // what the first connection came to
    std::string failure_;           // why the keeper's last attempt failed, for the log
    Clock::time_point away_since_;
    bool reading_ = false;       // a thread holds the reader role
    bool keeper_reads_ = false;  // and it is the keeper
    Clock::time_point idle_since_;
    std::unique_ptr<Waiter[]> slots_;
    std::vector<uint32_t> free_;
    struct Announcement {
        int service;
        uint8_t flag;
        std::string address;
    };
    std::deque<Announcement> events_;  // read, not yet delivered
    uint64_t queued_ = 0, delivered_ = 0;
    std::vector<uint32_t> busy_;  // the slots of the calls waiting
    Backoff backoff_;
    std::chrono::milliseconds interval_;  // of the heartbeat
    std::atomic<bool> pinged_{false};     // a ping is out, nothing heard since
    Clock::time_point beat_at_, ping_sent_;
    uint64_t sent_at_beat_ = 0;

    std::mutex write_mutex_;  // guards the members below
    std::string outbox_;      // frames queued for the thread that sends
    bool sending_ = false;
    std::atomic<uint64_t> sent_{0};  // frames sent, for the heartbeat

    std::atomic<int> fd_{-1};
    int kick_ = -1;  // an eventfd: a caller wants the keeper to stop reading
    wire::FrameReader frames_{wire::kMaxFrame};  // the reader's
    wire::Decoded decoded_;                      // the reader's
    std::vector<Waiter*> answered_;              // the reader's: callers to wake
    Initiators opened_;                          // to open again after a reconnect; under mutex_
    std::thread keeper_;
};

}  // namespace kovra_sim
