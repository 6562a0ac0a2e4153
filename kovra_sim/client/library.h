// The stand-in client library's state in this process: a run of the
// embedded camera (its counts, faults, journal, statistics and files), and
// handles, arrays and the connections. Made on the first call of any function of the stand-in,
// which is also when KOVRA_SIM is read and applied, and never destroyed, so
// calls made during static destruction still find it; its threads end when
// the library is unloaded.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/config.h"
#include "camera/simulation.h"
#include "client/announcer.h"
#include "client/arrays.h"
#include "client/handles.h"
#include "client/transport.h"
#include "observe/describe.h"

namespace kovra_sim {

// How long a round trip to a camera daemon may take, and how long calls wait
// for a camera that went away, unless KOVRA_SIM says.
constexpr uint32_t kDefaultTimeoutMs = 5000;
constexpr uint32_t kDefaultGiveUpS = 30;

class Library : public Simulation, public Names {
public:
    // The journal's numbers: a handle's, and an array's (it starts with it).
    uint32_t handle(void const* p) override { return handles.number(p); }
    uint32_t array(void const* p) override { return *static_cast<uint32_t const*>(p); }

    Handles handles;
    Arrays arrays;
    Announcer announcer;

    // True when KOVRA_SIM could not be applied.
    bool bad_config() const { return bad_config_; }
    // Parses and applies directives; false with the reason in `error`
    // (nothing of a journal file that cannot be opened is applied then).
    bool configure(char const* directives, std::string& error);

    // Connects to the embedded camera (url NULL) or to a camera daemon
    // ("tcp://HOST[:PORT]"). On failure returns nullptr with the status.
    Transport* connect(char const* url, uint32_t ipc, uint32_t log, int32_t& status);

    // Keeps an identity alive for syslog, which holds on to the pointer.
    char const* keep_identity(char const* identity);

    // At kovra_core_deinit: the journal file is completed and closed, the
    // state and statistics files written, the drift check said.
    void finish_files();

    // See kovra_sim_reset.
    void reset();
    // Ends every connection and the announcer; the process is going away.
    void stop();

private:
    friend Library& library();
    Library();

    bool bad_config_ = false;
    std::atomic<uint32_t> timeout_ms_{kDefaultTimeoutMs};
    std::atomic<uint32_t> give_up_s_{kDefaultGiveUpS};
    std::mutex mutex_;  // guards the members below
    std::deque<std::string> identities_;
    // Every connection ever made stays until the process ends: a program may
    // still hold a handle of one that was closed or reset.
    std::vector<std::unique_ptr<Transport>> transports_;
};

Library& library();

}  // namespace kovra_sim
