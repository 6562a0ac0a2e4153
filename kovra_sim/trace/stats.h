// Per-function figures of the calls a process made (the trace layer, the
// client library) or served (the daemon): how many, with which statuses,
// and how long each took, in a latency histogram per function
// (Boost.Histogram, 40 log-spaced bins a decade from 10 ns to 100 s, so a
// figure read from it is within 6% above the true value); and how often each
// target announced itself. Each thread records into histograms of its own,
// so recording takes no lock another thread takes; they are merged when read.
//
// The figures can be cut into windows (a timeline): each call lands in
// exactly one window, and the windows add up to the whole run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "functions.h"
#include "per_thread.h"

namespace kovra_sim {

class Stats {
public:
    Stats();
    ~Stats();

    bool on() const { return on_.load(std::memory_order_relaxed); }
    // Turns recording on (again), from zero; the wall clock starts now.
    void start();
    void stop() { on_.store(false, std::memory_order_relaxed); }

    void record(int function, int32_t status, std::chrono::nanoseconds took);
    // A target announced itself ("exposure:0").
    void announced(std::string_view target);

    // The whole run so far: {"wall_seconds", "calls", "requests",
    // "requests_per_second", the requests' "p50_us" to "p999_us",
    // "functions": {NAME: {"calls", "statuses", "min_us", "p50_us",
    // "p90_us", "p99_us", "p999_us", "max_us", "sum_us", "buckets": [[upper_us,
    // count], ...]}}, "announcements": {TARGET: count}}. Requests are the
    // _send calls.
    nlohmann::json report() const;
    // The figures since the previous cut (or the start), in the same shape
    // with "start_s" and "end_s" (since the start) instead of
    // "wall_seconds"; the next window starts now.
    nlohmann::json cut();

    // Several reports (of runs side by side, or the same window of several
    // timelines) as one: calls, statuses and announcements summed,
    // percentiles from the merged buckets, the longest wall time, requests
    // per second summed.
    static nlohmann::json merge(std::vector<nlohmann::json> const& reports);

private:
    struct Thread;
    struct Window;

    std::atomic<bool> on_{false};
    std::atomic<uint64_t> run_{0};     // start() empties every thread's figures
    std::atomic<uint64_t> window_{0};  // cut() moves every thread to the next window
    mutable std::mutex mutex_;         // guards the members below
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point window_started_;
    std::unique_ptr<Window> closed_;                          // the windows cut so far, merged
    std::map<std::string, uint64_t, std::less<>> announced_;  // in the open window
    std::map<std::string, uint64_t, std::less<>> closed_announced_;
    PerThread<Thread> threads_;  // each thread's figures have a lock of their own
};

// The figures of a report as an aligned table, one function a line.
std::string stats_table(nlohmann::json const& report);

}  // namespace kovra_sim
