#include "shared_simulation.h"

namespace kovra_sim {

bool SharedSimulation::start_with(std::string_view directives, std::string& error) {
    Config config;
    if (!parse_config(directives, camera.settings, config, error) || !apply(config, error, true))
        return false;
    std::lock_guard lock(start_mutex_);
    start_texts_.emplace_back(directives);
    return true;
}

bool SharedSimulation::post(std::string_view directives, std::string& error) {
    Config config;
    if (!parse_config(directives, camera.settings, config, error)) return false;
    Outputs const& o = config.outputs;
    if (o.journal || o.stats || o.timeline || o.interval_s || config.state_path || config.drift) {
        error = "files and the drift check are chosen when the daemon starts";
        return false;
    }
    if (!apply(config, error)) return false;
    std::lock_guard lock(start_mutex_);
    posted_texts_.emplace_back(directives);
    return true;
}

void SharedSimulation::restore_start() {
    std::lock_guard lock(start_mutex_);
    camera.reset();
    ledger.clear_faults();
    for (Config const& config : start_) shape(config);
    posted_texts_.clear();
}

void SharedSimulation::started() {
    std::string snapshot = camera.settings.snapshot();
    std::lock_guard lock(start_mutex_);
    start_settings_ = std::move(snapshot);
}

size_t SharedSimulation::drifted() {
    std::string const now = camera.settings.snapshot();
    std::lock_guard lock(start_mutex_);
    return drift(start_settings_, now).size();
}

nlohmann::json SharedSimulation::state() {
    nlohmann::json settings = nlohmann::json::object();
    std::string const snapshot = camera.settings.snapshot();
    for (size_t at = 0, end; (end = snapshot.find('\n', at)) != std::string::npos; at = end + 1) {
        size_t const eq = snapshot.find('=', at);
        settings[snapshot.substr(at, eq - at)] = snapshot.substr(eq + 1, end - eq - 1);
    }
    std::lock_guard lock(start_mutex_);
    return {{"directives", {{"start", start_texts_}, {"posted", posted_texts_}}},
            {"latency_us", camera.latency_us()},
            {"settings", std::move(settings)}};
}

}  // namespace kovra_sim
