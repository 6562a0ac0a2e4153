#include "observe/observer.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "common/files.h"

namespace kovra_sim {

void Observer::add(Clock::time_point start, Clock::duration took, std::string line) {
    if (!stamped_) {
        journal.add(std::move(line));
        return;
    }
    char stamp[160];
    int const n = stamp_of(start, stamp, sizeof stamp);
    std::snprintf(stamp + n, sizeof stamp - size_t(n), "+%.1fus ",
                  std::chrono::duration<double, std::micro>(took).count());
    journal.add(stamp + line);
}

void Observer::note(std::string line) {
    if (!stamped_) {
        journal.add(std::move(line));
        return;
    }
    char stamp[128];
    stamp_of(Clock::now(), stamp, sizeof stamp);
    journal.add(stamp + line);
}

int Observer::stamp_of(Clock::time_point at, char* out, size_t size) const {
    auto const since = at - made_;
    auto const clock =
        made_clock_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(since);
    auto const micros =
        std::chrono::duration_cast<std::chrono::microseconds>(clock.time_since_epoch()).count();
    time_t const seconds = time_t(micros / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ @%.6f ",
                         tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec, static_cast<long long>(micros % 1000000),
                         std::chrono::duration<double>(since).count());
}

void Observer::carry(Report before) {
    std::lock_guard lock(mutex_);
    carried_ = std::move(before);
}

bool Observer::open(Outputs const& outputs, std::string& error, bool continued) {
    auto refuse = [&](char const* what, std::string const& path) {
        error = std::string(what) + " " + path + ": " + error;
        return false;
    };
    if (outputs.timeline && !check_output_path(*outputs.timeline, error))
        return refuse("timeline", *outputs.timeline);
    // Held while the run names the file, so that no other process writes it too.
    int const stats_lock = outputs.stats ? lock_output(*outputs.stats, error) : -1;
    if (outputs.stats && stats_lock < 0) return refuse("stats", *outputs.stats);
    if (outputs.journal &&
        !journal.open_file(*outputs.journal, outputs.max_bytes.value_or(0), error, continued)) {
        unlock_output(stats_lock);
        return refuse("journal", *outputs.journal);
    }
    // The timeline cuts the statistics, which record for it even without a file.
    if ((outputs.stats || outputs.timeline || outputs.prom) && !stats.on()) stats.start();
    if (outputs.timeline || outputs.prom) {
        Timeline::Files const files{outputs.timeline.value_or(""), outputs.prom.value_or(""),
                                    outputs.interval.value_or(std::chrono::seconds(10)),
                                    outputs.max_bytes.value_or(0)};
        if (!timeline_.start(files, this_run(files.interval), stats, error)) {
            std::string ignored;
            if (outputs.journal) journal.close_file(ignored);
            unlock_output(stats_lock);
            return false;
        }
    }
    std::lock_guard lock(mutex_);
    if (outputs.journal) journal_path_ = outputs.journal;
    if (outputs.stats) {
        stats_path_ = outputs.stats;
        unlock_output(stats_lock_);
        stats_lock_ = stats_lock;
    }
    timeline_on_ = outputs.timeline || outputs.prom;
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
        if (carried_) figures = merge({*carried_, figures});
        figures.source = source;
        if (extra.is_object()) figures.extra = extra;
        if (!replace_file(*stats_path_, to_json(figures).dump(1) + "\n", reason)) {
            failed(*stats_path_);
        } else if (!closing) {
            // The lock stayed with the file replaced: the new one takes it.
            int const relocked = lock_output(*stats_path_, reason);
            unlock_output(stats_lock_);
            stats_lock_ = relocked;
        }
    }
    if (closing && timeline_on_ && !timeline_.finish(reason)) {
        say.push_back(reason);
        written = false;
    }
    if (closing) {
        journal_path_.reset();
        timeline_on_ = false;
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
    timeline_on_ = false;
    unlock_output(stats_lock_);
    stats_lock_ = -1;
}

timeline::Run this_run(std::chrono::microseconds interval) {
    timeline::Run run;
    run.clock =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    run.pid = uint64_t(::getpid());
    run.interval_s = std::chrono::duration<double>(interval).count();
    std::string const args = read_file("/proc/self/cmdline");
    for (char c : args) run.command += c ? c : ' ';
    while (!run.command.empty() && run.command.back() == ' ') run.command.pop_back();
    return run;
}

}  // namespace kovra_sim
