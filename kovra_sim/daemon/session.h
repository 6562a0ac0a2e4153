// One client's session, apart from its socket: the hello answered, each call
// turned into the camera's answer and reply frame and journaled as the client
// library would, and what the client has open. Used on its connection's strand.
#pragma once

#include <chrono>
#include <cstdint>

#include "daemon/shared_simulation.h"
#include "wire/initiators.h"
#include "wire/protocol.h"

namespace kovra_sim {

class Session {
public:
    // `idle_ms` is what the welcome tells the client of the idle timeout.
    Session(SharedSimulation& simulation, uint32_t idle_ms)
        : simulation_(simulation), idle_ms_(idle_ms) {}

    // Writes the welcome; whether the client may go on. One not `admitted`
    // (past the connection limit) is told KOVRA_SIM_STATUS_NO_RESOURCES.
    bool greet(wire::Hello const& hello, bool admitted, wire::FrameWriter& out);

    struct Answer {
        bool malformed;  // the call's arguments do not fit its function: nothing served
        int32_t status;
        std::chrono::microseconds delay;  // when the reply is due
        uint32_t values;                  // out-parameters' values in the reply
    };
    // Serves one call and writes its reply to `out` (unless its id is kNoWait).
    Answer serve(wire::Call const& call, wire::FrameWriter& out);

    bool subscribed() const { return initiators_.subscribed(); }
    // True once the client said goodbye.
    bool done() const { return done_; }

private:
    Answer request(wire::Call const& call, Entry* e, msgpack::sbuffer& values);
    Answer other(wire::Call const& call, Entry* e);

    SharedSimulation& simulation_;
    uint32_t const idle_ms_;
    uint32_t ipc_ = 0;
    uint32_t log_ = 0;
    bool done_ = false;
    Initiators initiators_;
};

}  // namespace kovra_sim
