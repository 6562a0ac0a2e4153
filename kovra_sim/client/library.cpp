#include "library.h"

#include <cstdio>
#include <cstdlib>

#include "exhaust.h"
#include "files.h"
#include "kovra_sim/control.h"
#include "local_transport.h"
#include "tcp_transport.h"

namespace kovra_sim {
namespace {

Library* instance;

// Unloading the library (or exiting) must not leave its threads running.
__attribute__((destructor)) void stop_library() {
    if (instance) instance->stop();
}

void report(std::string const& what) { std::fprintf(stderr, "kovra-sim: %s\n", what.c_str()); }

}  // namespace

Library& library() {
    static Library* const made = instance = new Library();
    return *made;
}

Library::Library() {
    char const* env = std::getenv("KOVRA_SIM");
    if (!env) return;
    Config config;
    std::string error;
    if (!parse_config(env, camera.settings, config, error) || !apply(config, error)) {
        bad_config_ = true;
        report("KOVRA_SIM: " + error);
    }
}

bool Library::apply(Config const& config, std::string& error) {
    if (config.journal_path && !journal.open_file(*config.journal_path, error)) {
        error = "journal " + *config.journal_path + ": " + error;
        return false;
    }
    for (Config::Fault const& f : config.faults) ledger.fail(f.function, f.nth, f.status);
    for (Config::Set const& s : config.sets) camera.settings.put(s.instance, s.values);
    for (RestartPlan const& r : config.restarts) camera.plan_restart(r);
    if (config.latency_us) camera.set_latency_us(*config.latency_us);
    if (config.timeout_ms) timeout_ms_.store(*config.timeout_ms, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    if (config.journal_path) journal_path_ = config.journal_path;
    if (config.state_path) state_path_ = config.state_path;
    if (config.stats_path) {
        stats_path_ = config.stats_path;
        stats.start();
    }
    if (config.drift) baseline_ = camera.settings.snapshot();
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
        made = TcpTransport::connect(url, ipc, log, timeout_ms(), status);
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
    std::optional<std::string> journal_path, state_path, stats_path, baseline;
    {
        std::lock_guard lock(mutex_);
        journal_path = journal_path_;
        state_path = state_path_;
        stats_path = stats_path_;
        baseline = baseline_;
        journal_path_.reset();
    }
    std::string error;
    if (journal_path && !journal.close_file(error))
        report("cannot write " + *journal_path + ": " + error);
    if (state_path) {
        std::string const text = camera.settings.snapshot() + ledger.calls_text() +
                                 "outstanding_arrays " + std::to_string(arrays.outstanding()) +
                                 "\n";
        if (!replace_file(*state_path, text, error))
            report("cannot write " + *state_path + ": " + error);
    }
    std::vector<Drift> changes;
    if (baseline) {
        changes = drift(*baseline, camera.settings.snapshot());
        report(drift_line(changes));
    }
    if (stats_path) {
        nlohmann::json figures = stats.report();
        figures["source"] = "client";
        if (baseline) figures["drift"] = drift_json(changes);
        if (!replace_file(*stats_path, figures.dump(1) + "\n", error)) {
            report("cannot write " + *stats_path + ": " + error);
        }
    }
}

void Library::reset() {
    std::vector<Transport*> open;
    {
        std::lock_guard lock(mutex_);
        for (auto const& t : transports_) open.push_back(t.get());
        journal_path_.reset();
        state_path_.reset();
    }
    for (Transport* t : open) t->close();
    announcer.stop();
    stats.stop();
    {
        std::lock_guard lock(mutex_);
        stats_path_.reset();
        baseline_.reset();
    }
    ledger.clear_faults();
    ledger.reset_counts();
    journal.enable(0);
    journal.clear();
    std::string ignored;
    journal.close_file(ignored);
    camera.reset();
    handles.reset();
    arrays.renumber();
    timeout_ms_.store(kDefaultTimeoutMs, std::memory_order_relaxed);
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
