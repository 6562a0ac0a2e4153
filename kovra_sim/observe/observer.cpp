#include "observe/observer.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "common/files.h"

namespace kovra_sim {
namespace {

// Below these many nanoseconds (104 and 11 days), a duration's digits come
// from its nanoseconds as printf rounds the double it makes of them
// (seconds, microseconds): that double is within 1 ns of the exact value,
// so only an exact half, a tie it may fall either side of, needs printf.
constexpr int64_t kSinceBelow = int64_t(1) << 53;
constexpr int64_t kTookBelow = 1000000000000000;

// The text of one UTC second, "2026-12-06T03:10:00", for a thread's lines
// of that second, which format only their microseconds.
struct SecondText {
    int64_t second = INT64_MIN;
    size_t size = 0;
    char text[32];  // the longest year's fits
};
thread_local SecondText second_text;

[[gnu::noinline]] void update(SecondText& cached, int64_t second) {
    time_t const seconds = time_t(second);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    cached.size = size_t(std::snprintf(
        cached.text, sizeof cached.text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
        tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec));
    cached.second = second;
}

// The stamp as printf writes it, where the digits cannot be had otherwise.
[[gnu::noinline]] size_t printed(char* out, size_t size, int64_t micros,
                                 std::chrono::nanoseconds since) {
    time_t const seconds = time_t(micros / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    int const n = std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ @%.6f ",
                                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                tm.tm_sec, static_cast<long long>(micros % 1000000),
                                std::chrono::duration<double>(since).count());
    return size_t(std::clamp(n, 0, int(size) - 1));
}

[[gnu::noinline]] size_t printed(char* out, size_t size, std::chrono::nanoseconds took) {
    int const n = std::snprintf(out, size, "+%.1fus ",
                                std::chrono::duration<double, std::micro>(took).count());
    return size_t(std::clamp(n, 0, int(size) - 1));
}

char* put(char* out, std::string_view s) {
    std::memcpy(out, s.data(), s.size());
    return out + s.size();
}

// Six digits, zeros first: a fraction's microseconds.
char* put_six_digits(char* out, uint32_t v) {
    std::memcpy(out, kDigitPairs + 2 * (v / 10000), 2);
    std::memcpy(out + 2, kDigitPairs + 2 * (v / 100 % 100), 2);
    std::memcpy(out + 4, kDigitPairs + 2 * (v % 100), 2);
    return out + 6;
}

}  // namespace

void Observer::note(std::string line) {
    if (!stamped_) {
        journal.add(std::move(line));
        return;
    }
    char stamp[kStampBytes];
    journal.add(std::string(stamp, stamp_of(Clock::now(), stamp)) + line);
}

char* Observer::stamp_call(Clock::time_point start, Clock::duration took, char* out) const {
    char* p = stamp_of(start, out);
    int64_t const ns = std::chrono::nanoseconds(took).count();
    if (ns < 0 || ns >= kTookBelow || ns % 100 == 50)
        return p + printed(p, kStampBytes - size_t(p - out), took);
    // "+%.1fus "
    uint64_t const tenths = (uint64_t(ns) + 49) / 100;
    *p++ = '+';
    p = write_decimal(p, tenths / 10);
    *p++ = '.';
    *p++ = char('0' + tenths % 10);
    return put(p, "us ");
}

char* Observer::stamp_of(Clock::time_point at, char* out) const {
    auto const since = at - made_;
    auto const clock =
        made_clock_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(since);
    auto const micros =
        std::chrono::duration_cast<std::chrono::microseconds>(clock.time_since_epoch()).count();
    int64_t const since_ns = std::chrono::nanoseconds(since).count();
    if (micros < 0 || since_ns < 0 || since_ns >= kSinceBelow || since_ns % 1000 == 500)
        return out + printed(out, kStampBytes, micros, since);
    uint64_t const second = uint64_t(micros) / 1000000;
    SecondText& cached = second_text;
    if (cached.second != int64_t(second)) update(cached, int64_t(second));
    std::memcpy(out, cached.text, sizeof cached.text);  // the whole buffer: a fixed copy
    char* p = out + cached.size;
    *p++ = '.';
    p = put_six_digits(p, uint32_t(uint64_t(micros) - second * 1000000));
    p = put(p, "Z @");
    // "%.6f" of the seconds since
    uint64_t const us = (uint64_t(since_ns) + 499) / 1000;
    p = write_decimal(p, us / 1000000);
    *p++ = '.';
    p = put_six_digits(p, uint32_t(us % 1000000));
    *p++ = ' ';
    return p;
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
        // What the writer adds for people to read (connections, faults on
        // the wire, drift): written beside the figures, never read back.
        nlohmann::json json = to_json(figures);
        if (extra.is_object()) json.update(extra);
        if (!replace_file(*stats_path_, json.dump(1) + "\n", reason)) {
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
