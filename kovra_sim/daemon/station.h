// What the daemon serves: one simulated camera with its call counts and
// faults, journal and files, shared by every connection; and per connection
// a session that holds that client's initiators and subscriptions and turns
// each call frame into its reply frame. Sessions are used by one thread at a
// time (their connection's strand); the station is thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "protocol.h"
#include "run.h"

namespace kovra_sim {

// The daemon's run of the camera, shared by every connection.
class Station : public Run {
public:
    // Applies directives; false with the reason in `error`.
    bool apply(Config const& config, std::string& error);
    // The end of the daemon's run (see Run::finish), its statistics with
    // `connections` in them.
    bool finish(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Run::finish("daemon", "", {{"connections", connections}}, say);
    }
    // The same files as they stand, the daemon going on.
    bool checkpoint(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Run::checkpoint("daemon", "", {{"connections", connections}}, say);
    }

    uint32_t next_array() { return arrays_.fetch_add(1, std::memory_order_relaxed) + 1; }

private:
    std::atomic<uint32_t> arrays_{0};
};

class Session {
public:
    // `idle_ms` is what the welcome tells the client of the idle timeout.
    Session(Station& station, uint32_t idle_ms) : station_(station), idle_ms_(idle_ms) {}

    // Answers a hello: writes the welcome, and returns whether the client
    // may go on. A client beyond the connection limit (not `admitted`) is
    // told KOVRA_SIM_STATUS_NO_RESOURCES.
    bool greet(wire::Hello const& hello, bool admitted, wire::FrameWriter& out);
    // Serves one call and writes its reply (unless its id is kNoWait), its
    // status in `status`. Returns false if the call's arguments do not fit
    // its function, which makes the frame malformed.
    bool serve(wire::Call const& call, wire::FrameWriter& out, int32_t& status);
    // Whether any broker of this session has a handler.
    bool subscribed() const { return subscriptions_ > 0; }
    // True once the client said goodbye.
    bool done() const { return done_; }

private:
    struct Initiator {
        int service;
        bool events;
        uint32_t handlers = 0;
    };
    // Each serves one kind of call; no status means malformed arguments.
    std::optional<int32_t> open(wire::Call const& call, int service, Entry* e);
    std::optional<int32_t> close(wire::Call const& call, int service, Entry* e);
    std::optional<int32_t> request(wire::Call const& call, Entry* e, msgpack::sbuffer& values);
    std::optional<int32_t> handler(wire::Call const& call, bool add, Entry* e);
    std::optional<int32_t> goodbye(wire::Call const& call, Entry* e);
    Initiator* find(uint32_t id, int service);

    Station& station_;
    uint32_t const idle_ms_;
    uint32_t ipc_ = 0;
    uint32_t log_ = 0;
    bool done_ = false;
    uint32_t subscriptions_ = 0;
    std::unordered_map<uint32_t, Initiator> initiators_;
};

}  // namespace kovra_sim
