#include "run.h"

#include "files.h"

namespace kovra_sim {

bool Run::apply(Config const& config, std::string& error) {
    // Every file is checked before anything is applied, the journal opened last.
    for (auto [what, path] :
         {std::pair{"state", &config.state_path}, {"stats", &config.stats_path}}) {
        if (*path && !check_output_path(**path, error)) {
            error = std::string(what) + " " + **path + ": " + error;
            return false;
        }
    }
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

bool Run::write_stats_to(std::string const& path, std::string& error) {
    if (!check_output_path(path, error)) return false;
    std::lock_guard lock(mutex_);
    stats_path_ = path;
    stats.start();
    return true;
}

bool Run::finish(char const* source, std::string const& state_tail, nlohmann::json const& extra,
                 std::vector<std::string>& say) {
    return write_files(true, source, state_tail, extra, say);
}

bool Run::checkpoint(char const* source, std::string const& state_tail, nlohmann::json const& extra,
                     std::vector<std::string>& say) {
    return write_files(false, source, state_tail, extra, say);
}

bool Run::write_files(bool closing, char const* source, std::string const& state_tail,
                      nlohmann::json const& extra, std::vector<std::string>& say) {
    std::lock_guard lock(mutex_);
    std::string reason;
    bool written = true;
    auto failed = [&](std::string const& path) {
        say.push_back("cannot write " + path + ": " + reason);
        written = false;
    };
    auto write = [&](std::string const& path, std::string const& text) {
        if (!replace_file(path, text, reason)) failed(path);
    };
    if (journal_path_ && !(closing ? journal.close_file(reason) : journal.flush(reason)))
        failed(*journal_path_);
    if (closing) journal_path_.reset();
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
