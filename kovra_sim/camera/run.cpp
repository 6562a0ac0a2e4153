#include "run.h"

#include "files.h"

namespace kovra_sim {

bool Run::apply(Config const& config, std::string& error) {
    if (config.journal_path && !journal.open_file(*config.journal_path, error)) {
        error = "journal " + *config.journal_path + ": " + error;
        return false;
    }
    for (Config::Fault const& f : config.faults) ledger.fail(f.function, f.nth, f.status);
    for (Config::Set const& s : config.sets) camera.settings.put(s.instance, s.values);
    for (RestartPlan const& r : config.restarts) camera.plan_restart(r);
    if (config.latency_us) camera.set_latency_us(*config.latency_us);
    std::lock_guard lock(mutex_);
    if (config.journal_path) journal_path_ = config.journal_path;
    if (config.state_path) state_path_ = config.state_path;
    if (config.stats_path) {
        stats_path_ = config.stats_path;
        stats.start();
    }
    if (config.drift) baseline_ = camera.settings.snapshot();
    return true;
}

void Run::write_stats_to(std::string const& path) {
    std::lock_guard lock(mutex_);
    stats_path_ = path;
    stats.start();
}

bool Run::finish(char const* source, std::string const& state_tail, nlohmann::json const& extra,
                 std::vector<std::string>& say) {
    std::lock_guard lock(mutex_);
    std::string reason;
    bool written = true;
    auto write = [&](std::string const& path, std::string const& text) {
        if (!replace_file(path, text, reason)) {
            say.push_back("cannot write " + path + ": " + reason);
            written = false;
        }
    };
    if (journal_path_ && !journal.close_file(reason)) {
        say.push_back("cannot write " + *journal_path_ + ": " + reason);
        written = false;
    }
    journal_path_.reset();
    if (state_path_)
        write(*state_path_, camera.settings.snapshot() + ledger.calls_text() + state_tail);
    std::vector<Drift> changes;
    if (baseline_) {
        changes = drift(*baseline_, camera.settings.snapshot());
        say.push_back(drift_line(changes));
    }
    if (stats_path_) {
        nlohmann::json figures = stats.report();
        figures["source"] = source;
        if (extra.is_object()) figures.update(extra);
        if (baseline_) figures["drift"] = drift_json(changes);
        write(*stats_path_, figures.dump(1) + "\n");
    }
    return written;
}

void Run::forget_files() {
    stats.stop();
    std::lock_guard lock(mutex_);
    journal_path_.reset();
    state_path_.reset();
    stats_path_.reset();
    baseline_.reset();
}

}  // namespace kovra_sim
