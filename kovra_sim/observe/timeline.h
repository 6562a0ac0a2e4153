// A run seen over time: every interval, the statistics of that interval
// (Stats::cut) as one JSON line appended to a file and written out at once,
// so a process killed mid-run loses at most the interval in progress. The
// lines are those of Stats::report with "interval" (counting from 0),
// "start_s" and "end_s"; together they hold every call of the run once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "observe/stats.h"

namespace kovra_sim {

class Timeline {
public:
    ~Timeline();

    // Cuts `stats` into a line of `path` (created or emptied, and locked
    // against other processes like a journal) every `interval` from now on;
    // false with the reason in `error`. `stats` must be on.
    bool start(std::string const& path, std::chrono::seconds interval, Stats& stats,
               std::string& error);
    // Writes the interval in progress and closes the file; false with the
    // first write that failed, if any.
    bool finish(std::string& error);

private:
    void write_every();
    void write_line();  // with mutex_ held

    std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    bool stop_ = false;
    int fd_ = -1;
    Stats* stats_ = nullptr;
    std::chrono::seconds interval_{10};
    uint64_t lines_ = 0;
    std::string error_;  // the first write that failed
    std::thread writer_;
};

}  // namespace kovra_sim
