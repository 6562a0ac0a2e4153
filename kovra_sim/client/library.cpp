#include "client/library.h"

#include <kovra_sim/control.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "client/exhaust.h"
#include "client/tcp_transport.h"

namespace kovra_sim {
namespace {

// An IPC connection to the camera embedded in this process: requests are
// served on the calling thread, which then waits out the camera's latency;
// the announcer delivers announcements.
class LocalTransport final : public Transport, private Listener {
public:
    LocalTransport(Camera& camera, Announcer& announcer) : camera_(camera), announcer_(announcer) {
        camera_.listen(this);
    }

    // The library checked what the camera would.
    int32_t open_initiator(uint32_t, int, bool) override { return 0; }
    int32_t close_initiator(uint32_t, int) override { return 0; }
    int32_t subscribe(uint32_t, bool) override { return 0; }
    int32_t unsubscribe(uint32_t) override { return 0; }
    int32_t request(int function, uint32_t, char const* target, Call& call) override {
        Camera::Served const served = camera_.serve(function, target, call);
        if (served.delay.count()) std::this_thread::sleep_for(served.delay);
        return served.status;
    }
    void close() override { camera_.unlisten(this); }

private:
    void announce(int service) override { announcer_.deliver(subscriptions, service); }

    Camera& camera_;
    Announcer& announcer_;
};

Library* instance;

// Unloading the library (or exiting) must not leave its threads running.
__attribute__((destructor)) void stop_library() {
    if (instance) instance->stop();
}

}  // namespace

Library& library() {
    static Library* const made = instance = new Library();
    return *made;
}

Library::Library() {
    char const* env = std::getenv("KOVRA_SIM");
    std::string error;
    if (env && !configure(env, error)) {
        bad_config_ = true;
        report("KOVRA_SIM: " + error);
    }
}

bool Library::configure(char const* directives, std::string& error) {
    Config config;
    if (!parse_config(directives, Place::sim, camera.settings, config, error) ||
        !Simulation::apply(config, error)) {
        return false;
    }
    if (config.timeout_ms) timeout_ms_.store(*config.timeout_ms, std::memory_order_relaxed);
    if (config.give_up_s) give_up_s_.store(*config.give_up_s, std::memory_order_relaxed);
    if (config.exhaust) {
        Exhausted::memory = *config.exhaust == "memory";
        Exhausted::threads = *config.exhaust == "threads";
    }
    return true;
}

Transport* Library::connect(char const* url, uint32_t ipc, uint32_t log, int32_t& status) {
    std::unique_ptr<Transport> made;
    if (!url) {
        if (!announcer.start()) {
            status = KOVRA_SIM_STATUS_NO_RESOURCES;
            return nullptr;
        }
        made = std::make_unique<LocalTransport>(camera, announcer);
    } else {
        made = TcpTransport::connect(url, ipc, log, timeout_ms_.load(std::memory_order_relaxed),
                                     give_up_s_.load(std::memory_order_relaxed), status);
        if (!made) return nullptr;
    }
    std::lock_guard lock(mutex_);
    transports_.push_back(std::move(made));
    return transports_.back().get();
}

char const* Library::keep_identity(char const* identity) {
    std::lock_guard lock(mutex_);
    return identities_.emplace_back(identity).c_str();
}

void Library::finish_files() {
    std::vector<std::string> say;
    finish("client", "outstanding_arrays " + std::to_string(arrays.outstanding()) + "\n", {}, say);
    for (std::string const& line : say) report(line);
}

void Library::reset() {
    stop();
    forget_files();
    ledger.clear_faults();
    ledger.reset_counts();
    journal.enable(0);
    journal.clear();
    camera.reset();
    handles.reset();
    arrays.renumber();
    timeout_ms_.store(kDefaultTimeoutMs, std::memory_order_relaxed);
    give_up_s_.store(kDefaultGiveUpS, std::memory_order_relaxed);
    Exhausted::memory = Exhausted::threads = false;
}

void Library::stop() {
    std::vector<Transport*> open;
    {
        std::lock_guard lock(mutex_);
        for (auto const& t : transports_) open.push_back(t.get());
    }
    for (Transport* t : open) t->close();
    announcer.stop();
    std::string ignored;
    journal.close_file(ignored);
}

}  // namespace kovra_sim
