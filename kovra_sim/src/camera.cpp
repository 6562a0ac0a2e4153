#include "camera.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "catalog.h"

namespace kovra_sim {
namespace {

Camera* instance;

// Unloading the library (or exiting) must not leave the announcer running.
__attribute__((destructor)) void stop_announcer() {
    if (instance) instance->announcer.stop();
}

}  // namespace

Camera& camera() {
    static Camera* const made = instance = new Camera();
    return *made;
}

Camera::Camera() {
    char const* env = std::getenv("KOVRA_SIM");
    if (!env) return;
    Config config;
    std::string error;
    if (parse_config(env, store, config, error)) {
        apply(config);
    } else {
        bad_config_ = true;
        std::fprintf(stderr, "kovra-sim: KOVRA_SIM: %s\n", error.c_str());
    }
}

void Camera::apply(Config const& config) {
    for (Config::Fault const& f : config.faults) faults.fail(f.function, f.nth, f.status);
    for (Config::Set const& s : config.sets) store.put(s.key, s.values);
    if (config.latency_us) latency_us_.store(*config.latency_us, std::memory_order_relaxed);
    if (config.journal_path) journal.enable(1);
    std::lock_guard lock(mutex_);
    for (Config::Restart const& r : config.restarts) {
        restarts_.push_back({r.service, r.count, r.every, 0});
    }
    any_restarts_.store(!restarts_.empty(), std::memory_order_relaxed);
    if (config.journal_path) journal_path_ = config.journal_path;
    if (config.state_path) state_path_ = config.state_path;
}

void Camera::reset() {
    announcer.stop();
    announcer.clear();
    faults.clear();
    faults.reset_counts();
    journal.enable(0);
    journal.clear();
    store.reset();
    registry.reset();
    latency_us_.store(0, std::memory_order_relaxed);
    served_.store(0, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    restarts_.clear();
    any_restarts_.store(false, std::memory_order_relaxed);
    journal_path_.reset();
    state_path_.reset();
}

void Camera::served() {
    uint64_t const n = served_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (!any_restarts_.load(std::memory_order_relaxed)) return;
    std::vector<int> due;
    {
        std::lock_guard lock(mutex_);
        for (Restart& r : restarts_) {
            if (n % r.every == 0 && r.fired < r.count) {
                ++r.fired;
                due.push_back(r.service);
            }
        }
    }
    for (int s : due) restart(s);
}

void Camera::restart(int s) { announcer.announce(service(s).word, service(s).target); }

char const* Camera::keep_identity(char const* identity) {
    std::lock_guard lock(mutex_);
    return identities_.emplace_back(identity).c_str();
}

void Camera::write_files() {
    std::optional<std::string> journal_path, state_path;
    {
        std::lock_guard lock(mutex_);
        journal_path = journal_path_;
        state_path = state_path_;
    }
    auto write = [](std::string const& path, std::string const& text) {
        std::ofstream out(path, std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            std::fprintf(stderr, "kovra-sim: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
    };
    if (journal_path) {
        std::string text;
        for (std::string const& e : journal.entries()) text += e + "\n";
        write(*journal_path, text);
    }
    if (state_path) {
        std::map<std::string, uint32_t> calls;
        for (int f = 0; f < KOVRA_SIM_FUNCTION_COUNT; ++f) {
            if (uint32_t n = faults.count(f)) calls[function(f).name] = n;
        }
        std::string text = store.snapshot();
        for (auto const& [name, n] : calls)
            text += "calls " + name + " " + std::to_string(n) + "\n";
        text += "outstanding_arrays " + std::to_string(registry.outstanding_arrays()) + "\n";
        write(*state_path, text);
    }
}

}  // namespace kovra_sim
