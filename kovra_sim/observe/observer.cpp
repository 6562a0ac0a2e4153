#include "observe/observer.h"

#include <cstdio>

#include "common/files.h"

namespace kovra_sim {

void Observer::add(Clock::time_point start, Clock::duration took, std::string line) {
    if (!stamped_) {
        journal.add(std::move(line));
        return;
    }
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "@%.6f +%.1fus ",
                  std::chrono::duration<double>(start - made_).count(),
                  std::chrono::duration<double, std::micro>(took).count());
    journal.add(stamp + line);
}

void Observer::note(std::string line) {
    if (!stamped_) {
        journal.add(std::move(line));
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "@%.6f ",
                  std::chrono::duration<double>(Clock::now() - made_).count());
    journal.add(stamp + line);
}

bool Observer::open(Outputs const& outputs, std::string& error) {
    auto refuse = [&](char const* what, std::string const& path) {
        error = std::string(what) + " " + path + ": " + error;
        return false;
    };
    if (outputs.stats && !check_output_path(*outputs.stats, error))
        return refuse("stats", *outputs.stats);
    if (outputs.timeline && !check_output_path(*outputs.timeline, error))
        return refuse("timeline", *outputs.timeline);
    if (outputs.journal && !journal.open_file(*outputs.journal, error))
        return refuse("journal", *outputs.journal);
    // The timeline cuts the statistics, which record for it even without a file.
    bool const recording = outputs.stats || outputs.timeline;
    if (recording && !stats.on()) stats.start();
    if (outputs.timeline &&
        !timeline_.start(*outputs.timeline, std::chrono::seconds(outputs.interval_s.value_or(10)),
                         stats, error)) {
        std::string ignored;
        if (outputs.journal) journal.close_file(ignored);
        return refuse("timeline", *outputs.timeline);
    }
    std::lock_guard lock(mutex_);
    if (outputs.journal) journal_path_ = outputs.journal;
    if (outputs.stats) stats_path_ = outputs.stats;
    if (outputs.timeline) timeline_path_ = outputs.timeline;
    return true;
}

bool Observer::write_files(bool closing, char const* source, nlohmann::json const& extra,
                           std::vector<std::string>& say) {
    std::lock_guard lock(mutex_);
    std::string reason;
    bool written = true;
    auto failed = [&](std::string const& path) {
        say.push_back("cannot write " + path + ": " + reason);
        written = false;
    };
    if (journal_path_ && !(closing ? journal.close_file(reason) : journal.flush(reason)))
        failed(*journal_path_);
    if (stats_path_) {
        Report figures = stats.report();
        figures.source = source;
        if (extra.is_object()) figures.extra = extra;
        if (!replace_file(*stats_path_, to_json(figures).dump(1) + "\n", reason))
            failed(*stats_path_);
    }
    if (closing && timeline_path_ && !timeline_.finish(reason)) failed(*timeline_path_);
    if (closing) {
        journal_path_.reset();
        timeline_path_.reset();
    }
    return written;
}

void Observer::forget_files() {
    stats.stop();
    std::string ignored;
    timeline_.finish(ignored);
    std::lock_guard lock(mutex_);
    journal_path_.reset();
    stats_path_.reset();
    timeline_path_.reset();
}

}  // namespace kovra_sim
