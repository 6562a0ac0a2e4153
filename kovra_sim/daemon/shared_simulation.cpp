#include "daemon/shared_simulation.h"

namespace kovra_sim {

bool parse_daemon_config(std::string_view text, Place place, Settings const& settings,
                         DaemonConfig& out, std::string& error) {
    DaemonConfig config;
    auto const wire = [&](Directive const& d, std::string& why) {
        return take_wire_fault(d, config.wire, why);
    };
    if (!parse_config(text, place, settings, config.camera, error, wire)) return false;
    out = std::move(config);
    return true;
}

bool SharedSimulation::apply(DaemonConfig const& config, std::string& error, bool at_start) {
    std::lock_guard lock(start_mutex_);
    if (!Simulation::apply(config.camera, error)) return false;
    wire.apply(config.wire, config.camera.seed);
    if (at_start) start_.push_back(config);
    return true;
}

bool SharedSimulation::start_with(std::string_view directives, std::string& error) {
    DaemonConfig config;
    if (!parse_daemon_config(directives, Place::daemon, camera.settings, config, error) ||
        !apply(config, error, true))
        return false;
    std::lock_guard lock(start_mutex_);
    start_texts_.emplace_back(directives);
    return true;
}

bool SharedSimulation::post(std::string_view directives, std::string& error) {
    DaemonConfig config;
    if (!parse_daemon_config(directives, Place::post, camera.settings, config, error) ||
        !apply(config, error, false))
        return false;
    std::lock_guard lock(start_mutex_);
    posted_texts_.emplace_back(directives);
    return true;
}

void SharedSimulation::restore_start() {
    std::lock_guard lock(start_mutex_);
    camera.reset();
    ledger.clear_faults();
    for (DaemonConfig const& config : start_) shape(config.camera);
    posted_texts_.clear();
}

void SharedSimulation::reset() {
    restore_start();
    ledger.reset_counts();
    if (stats.on()) stats.start();
    WireFaults start_wire;
    uint32_t seed = 0;
    {
        std::lock_guard lock(start_mutex_);
        for (DaemonConfig const& config : start_) {
            start_wire.merge(config.wire);
            seed = config.camera.seed.value_or(seed);
        }
    }
    wire.reset(start_wire, seed);
}

void SharedSimulation::started() {
    Snapshot snapshot = camera.settings.snapshot();
    std::lock_guard lock(start_mutex_);
    start_settings_ = std::move(snapshot);
}

size_t SharedSimulation::drifted() {
    Snapshot const now = camera.settings.snapshot();
    std::lock_guard lock(start_mutex_);
    return drift(start_settings_, now).size();
}

namespace {

double probability(Chance c) { return double(c) / double(kCertain); }

// The faults on the wire in effect, each as its directive's figures.
nlohmann::json wire_json(WireState const& wire) {
    WireFaults w;
    uint32_t version = 0;
    wire.get(w, version);
    nlohmann::json out = nlohmann::json::object();
    if (w.drop) {
        out["drop"] = w.drop->every ? nlohmann::json{{"every", w.drop->every}}
                                    : nlohmann::json{{"probability", probability(w.drop->chance)}};
    }
    if (w.stall)
        out["stall"] = {{"ms", w.stall->ms}, {"probability", probability(w.stall->chance)}};
    if (w.slice_bytes) out["slice_bytes"] = *w.slice_bytes;
    if (w.bandwidth_kbps) out["bandwidth_kbps"] = *w.bandwidth_kbps;
    if (w.jitter_ms) out["jitter_ms"] = *w.jitter_ms;
    if (w.reboot) out["reboot"] = {{"seconds", w.reboot->seconds}, {"every_s", w.reboot->every_s}};
    out["seed"] = wire.seed();
    return out;
}

}  // namespace

nlohmann::json SharedSimulation::state() {
    Snapshot settings = camera.settings.snapshot();
    std::lock_guard lock(start_mutex_);
    return {{"directives", {{"start", start_texts_}, {"posted", posted_texts_}}},
            {"latency_us", camera.latency_us()},
            {"wire", wire_json(wire)},
            {"settings", std::move(settings)}};
}

}  // namespace kovra_sim
