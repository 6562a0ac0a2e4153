#include "camera/simulation.h"

#include <nlohmann/json.hpp>

#include "common/files.h"

namespace kovra_sim {

bool Simulation::apply(Config const& config, std::string& error) {
    if (config.state_path && !check_output_path(*config.state_path, error)) {
        error = "state " + *config.state_path + ": " + error;
        return false;
    }
    if (!open(config.outputs, error)) return false;
    shape(config);
    std::lock_guard lock(mutex_);
    if (config.state_path) state_path_ = config.state_path;
    if (config.drift) baseline_ = camera.settings.snapshot();
    return true;
}

void Simulation::shape(Config const& config) {
    for (Fault const& f : config.faults) ledger.fail(f.function, f.nth, f.status);
    for (Config::Set const& s : config.sets) camera.settings.put(s.instance, s.values);
    for (RestartPlan const& r : config.restarts) camera.plan_restart(r);
    if (config.latency_us) camera.set_latency_us(*config.latency_us);
    if (config.seed) camera.set_seed(*config.seed);
    if (config.profile) camera.set_profile(config.profile);
}

bool Simulation::finish(char const* source, std::string const& state_tail,
                        nlohmann::json const& extra, std::vector<std::string>& say) {
    return write_files(true, source, state_tail, extra, say);
}

bool Simulation::checkpoint(char const* source, std::string const& state_tail,
                            nlohmann::json const& extra, std::vector<std::string>& say) {
    return write_files(false, source, state_tail, extra, say);
}

bool Simulation::write_files(bool closing, char const* source, std::string const& state_tail,
                             nlohmann::json extra, std::vector<std::string>& say) {
    std::lock_guard lock(mutex_);
    bool written = true;
    if (state_path_) {
        std::string reason;
        if (!replace_file(*state_path_,
                          camera.settings.snapshot_text() + ledger.calls_text() + state_tail,
                          reason)) {
            say.push_back("cannot write " + *state_path_ + ": " + reason);
            written = false;
        }
    }
    if (baseline_) {
        std::vector<Drift> const changes = drift(*baseline_, camera.settings.snapshot());
        say.push_back(drift_line(changes));
        if (!extra.is_object()) extra = nlohmann::json::object();
        extra["drift"] = drift_json(changes);
    }
    return Observer::write_files(closing, source, extra, say) && written;
}

void Simulation::forget_files() {
    Observer::forget_files();
    std::lock_guard lock(mutex_);
    state_path_.reset();
    baseline_.reset();
}

}  // namespace kovra_sim
