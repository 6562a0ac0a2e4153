// The simulated camera: one per process, made on first use of any function
// of the stand-in, which is also when KOVRA_SIM is read and applied. It is
// never destroyed, so calls made during static destruction still find it; the
// announcer thread is joined when the library is unloaded.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "announcer.h"
#include "config.h"
#include "faults.h"
#include "journal.h"
#include "registry.h"
#include "settings_store.h"

namespace kovra_sim {

class Camera {
public:
    Registry registry;
    SettingsStore store;
    Faults faults;
    Journal journal;
    Announcer announcer;

    // True when KOVRA_SIM did not parse.
    bool bad_config() const { return bad_config_; }

    // Applies a parsed configuration.
    void apply(Config const& config);
    void reset();

    uint32_t latency_us() const { return latency_us_.load(std::memory_order_relaxed); }

    // Counts a served request and restarts the targets whose turn it is,
    // returning once their announcements were delivered.
    void served();
    void restart(int service);

    // Keeps an identity alive for syslog, which holds on to the pointer.
    char const* keep_identity(char const* identity);

    // Writes the journal and state files KOVRA_SIM asked for.
    void write_files();

private:
    friend Camera& camera();
    Camera();

    struct Restart {
        int service;
        uint32_t count;
        uint32_t every;
        uint32_t fired;
    };

    bool bad_config_ = false;
    std::atomic<uint32_t> latency_us_{0};
    std::atomic<uint64_t> served_{0};
    std::atomic<bool> any_restarts_{false};

    std::mutex mutex_;  // guards the members below
    std::vector<Restart> restarts_;
    std::optional<std::string> journal_path_;
    std::optional<std::string> state_path_;
    std::deque<std::string> identities_;
};

Camera& camera();

}  // namespace kovra_sim
