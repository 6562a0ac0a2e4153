#include "daemon/shared_simulation.h"

#include <algorithm>
#include <nlohmann/json.hpp>

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
    if (!Simulation::apply(config.camera, error)) return false;
    wire.apply(config.wire, config.camera.seed);
    if (at_start) start_.push_back(config);
    return true;
}

bool SharedSimulation::start_with(std::string_view directives, std::string& error) {
    DaemonConfig config;
    if (!parse_daemon_config(directives, Place::daemon, camera.settings, config, error))
        return false;
    std::lock_guard lock(start_mutex_);
    if (!apply(config, error, true)) return false;
    start_texts_.emplace_back(directives);
    return true;
}

namespace {

// One directive as /state lists it, and what a later one replaces.
struct Posting {
    enum Piles { no, fault, restart };
    std::string kind, text;
    Piles piles;  // whether it adds to what the camera keeps instead of replacing
};

// The directives of a list that parsed: the value of fail= is
// FUNCTION[@N][:STATUS], of set= KEY=VALUES.
std::vector<Posting> postings_of(std::string_view directives) {
    std::vector<Posting> out;
    std::string ignored;
    parse_directives(
        directives, Place::post,
        [&](Directive const& d, std::string&) {
            std::string const name = directive_info(d.id).name;
            std::string const text = name + "=" + std::string(d.value);
            if (d.id == DirectiveId::fail) {
                std::string const kind = text.substr(0, text.find(':'));
                bool const nth = kind.find('@') != std::string::npos;
                out.push_back({kind, text, nth ? Posting::fault : Posting::no});
            } else if (d.id == DirectiveId::set) {
                out.push_back({text.substr(0, text.find('=', name.size() + 1)), text, Posting::no});
            } else if (d.id == DirectiveId::restart) {
                out.push_back({text, text, Posting::restart});
            } else {
                out.push_back({name, text, Posting::no});
            }
            return true;
        },
        ignored);
    return out;
}

}  // namespace

bool SharedSimulation::post(std::string_view directives, std::string& error) {
    DaemonConfig config;
    if (!parse_daemon_config(directives, Place::post, camera.settings, config, error)) return false;
    std::vector<Posting> const postings = postings_of(directives);
    std::lock_guard lock(start_mutex_);
    std::set<std::string> faults = piled_faults_;
    size_t restarts = piled_restarts_;
    for (Posting const& p : postings) {
        if (p.piles == Posting::fault) faults.insert(p.kind);
        restarts += p.piles == Posting::restart;
    }
    if (faults.size() + restarts > kMaxPiled) {
        error = "more than " + std::to_string(kMaxPiled) +
                " restart= plans and fail=...@N faults posted since the start or the last reset; "
                "POST /reset first";
        return false;
    }
    if (!apply(config, error, false)) return false;
    piled_faults_ = std::move(faults);
    piled_restarts_ = restarts;
    for (Posting const& p : postings) {
        posted_.erase(std::remove_if(posted_.begin(), posted_.end(),
                                     [&](Posted const& q) { return q.kind == p.kind; }),
                      posted_.end());
        posted_.push_back({p.kind, p.text});
    }
    size_t bytes = 0;
    for (Posted const& p : posted_) bytes += p.text.size();
    // The newest is kept whatever its size: a body is within 64 KiB.
    while (posted_.size() > 1 && (posted_.size() > kPostedKept || bytes > kPostedBytes)) {
        bytes -= posted_.front().text.size();
        posted_.pop_front();
        ++posted_forgotten_;
    }
    return true;
}

void SharedSimulation::forget_posted() {
    posted_.clear();
    posted_forgotten_ = 0;
    piled_faults_.clear();
    piled_restarts_ = 0;
}

void SharedSimulation::restore_start() {
    std::lock_guard lock(start_mutex_);
    camera.reset();
    ledger.clear_faults();
    for (DaemonConfig const& config : start_) shape(config.camera);
    forget_posted();
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
    // A client may have stored a value as large as a frame.
    for (auto& [key, values] : settings) {
        if (values.size() > kStateValueBytes) {
            values = values.substr(0, kStateValueBytes) + "... (" + std::to_string(values.size()) +
                     " bytes)";
        }
    }
    std::lock_guard lock(start_mutex_);
    nlohmann::json posted = nlohmann::json::array();
    for (Posted const& p : posted_) posted.push_back(p.text);
    return {{"directives",
             {{"start", start_texts_},
              {"posted", std::move(posted)},
              {"posted_forgotten", posted_forgotten_}}},
            {"latency_us", camera.latency_us()},
            {"wire", wire_json(wire)},
            {"settings", std::move(settings)}};
}

}  // namespace kovra_sim
