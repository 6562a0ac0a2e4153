#include "observe/timeline.h"

#include <optional>
#include <system_error>

#include "common/files.h"
#include "stats/line_reader.h"
#include "stats/prometheus.h"

namespace kovra_sim {
namespace {

double now_clock() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Two neighbouring intervals of a run as one.
Report merged(Report a, Report const& b) {
    for (auto const& [id, f] : b.functions) a.functions[id].merge(f);
    for (auto const& [target, n] : b.announcements) a.announcements[target] += n;
    a.interval = *a.interval / 2;
    a.end_s = b.end_s;
    a.end_clock = b.end_clock;
    return a;
}

}  // namespace

Timeline::~Timeline() {
    std::string ignored;
    finish(ignored);
}

bool Timeline::start(Files const& files, timeline::Run const& run, Stats& stats,
                     std::string& error) {
    std::string ignored;
    finish(ignored);
    if (!files.prom.empty() && !check_output_path(files.prom, error)) {
        error = "prom " + files.prom + ": " + error;
        return false;
    }
    std::lock_guard lock(mutex_);
    if (!files.timeline.empty()) {
        if (!file_.open(files.timeline, error) || !file_.write(timeline::run_line(run), error)) {
            file_.abandon();
            error = "timeline " + files.timeline + ": " + error;
            return false;
        }
    }
    files_ = files;
    stats_ = &stats;
    lines_ = 0;
    stop_ = false;
    stats.cut();  // the first line starts now
    try {
        writer_ = std::thread(&Timeline::write_every, this);
    } catch (std::system_error const&) {
        file_.abandon();
        stats_ = nullptr;
        error = "timeline: cannot start its writer thread";
        return false;
    }
    return true;
}

void Timeline::write_every() {
    std::unique_lock lock(mutex_);
    auto next = std::chrono::steady_clock::now() + files_.interval;
    while (!stop_) {
        if (wake_.wait_until(lock, next, [&] { return stop_; })) break;
        write_line();
        next += files_.interval;
    }
}

void Timeline::write_line() {
    Report line = stats_->cut();
    line.interval = lines_++;
    std::string error;
    bool written = true;
    if (file_.is_open()) {
        written = file_.write(timeline::interval_line(line), error) &&
                  (!files_.max_bytes || file_.size() <= files_.max_bytes || halve(error));
    }
    if (!files_.prom.empty()) {
        Report const whole = stats_->report();
        written = replace_file(files_.prom,
                               prometheus::requests(whole) + prometheus::restarts(whole), error) &&
                  written;
    }
    if (!written && error_.empty()) error_ = error;
}

bool Timeline::halve(std::string& error) {
    auto const interval = files_.interval * 2;
    double const interval_s = std::chrono::duration<double>(interval).count();
    bool const halved = file_.replace(
        [&](LineFile& into, std::string& why) {
            LineReader reader(file_.path());
            std::optional<Report> held;  // an interval waiting for its neighbour
            auto const put = [&](std::string const& text) {
                if (held && !into.write(timeline::interval_line(*held), why)) return false;
                held.reset();
                return into.write(text, why);
            };
            timeline::Line line;
            for (std::string text; reader.next(text);) {
                if (!timeline::parse_line(text, line, why)) return false;
                if (line.kind != timeline::Line::interval) {
                    if (!put(text)) return false;
                } else if (held) {
                    if (!into.write(timeline::interval_line(merged(*held, line.report)), why))
                        return false;
                    held.reset();
                } else {
                    held = std::move(line.report);
                }
            }
            return put(timeline::halved_line(now_clock(), interval_s));
        },
        error);
    if (!halved) return false;
    files_.interval = interval;
    lines_ = (lines_ + 1) / 2;
    return true;
}

bool Timeline::finish(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard lock(mutex_);
    if (!stats_) return true;
    write_line();
    if (file_.is_open()) {
        std::string why;
        // The end mark is held to the cap too: a file full to it is halved first.
        std::string const end = timeline::end_line(now_clock());
        bool const fits = !files_.max_bytes || file_.size() + end.size() + 1 <= files_.max_bytes;
        if (!((fits || halve(why)) && file_.write(end, why) && file_.close(why)) &&
            error_.empty()) {
            error_ = why;
        }
    }
    stats_ = nullptr;
    bool const ok = error_.empty();
    if (!ok) error = error_;
    error_.clear();
    return ok;
}

}  // namespace kovra_sim
