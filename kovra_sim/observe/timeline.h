// A run seen over time. Every interval its statistics (Stats::cut) go to a
// timeline file as a line (stats/timeline_format.h), written out at once,
// so that a process killed mid-run loses at most the interval in progress;
// and, if asked, the whole run so far goes to a Prometheus file, replaced
// each interval. A timeline that exists is appended to, after a line that
// marks the run's start; a name ending in ".gz" is a gzip stream. A file
// that reaches its size cap keeps its beginning: its intervals are merged in
// pairs, which the file notes, and the interval doubles from then on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "observe/line_file.h"
#include "observe/stats.h"
#include "stats/timeline_format.h"

namespace kovra_sim {

class Timeline {
public:
    struct Files {
        std::string timeline;  // "" for none
        std::string prom;      // "" for none
        std::chrono::microseconds interval{std::chrono::seconds(10)};
        uint64_t max_bytes = 0;  // the timeline's cap; 0 for none
    };

    ~Timeline();

    // Cuts `stats` (which must be on) every interval from now on into the
    // files; the timeline is locked against other processes like a journal.
    // False with the reason, naming the file, in `error`.
    bool start(Files const& files, timeline::Run const& run, Stats& stats, std::string& error);
    // Writes the interval in progress and the run's end, and closes the
    // files; false with the first write that failed, if any.
    bool finish(std::string& error);

private:
    void write_every();
    // With mutex_ held.
    void write_line();
    bool halve(std::string& error);

    std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    bool stop_ = false;
    Files files_;
    LineFile file_;
    Stats* stats_ = nullptr;
    uint64_t lines_ = 0;
    std::string error_;  // the first write that failed
    std::thread writer_;
};

}  // namespace kovra_sim
