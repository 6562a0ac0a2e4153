// Per-function figures of the calls a process made (the client library) or
// served (the daemon): how many, with which statuses, and how long each took,
// in a latency histogram per function (Boost.Histogram, 40 log-spaced bins a
// decade from 10 ns to 100 s, so a figure read from it is within 6% above
// the true value). Each thread records into histograms of its own, so
// recording takes no lock another thread takes; they are merged when read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
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

    // The merged figures: {"wall_seconds", "calls", "requests",
    // "requests_per_second", the requests' "p50_us" to "p999_us",
    // "functions": {NAME: {"calls", "statuses",
    // "min_us", "p50_us", "p90_us", "p99_us", "p999_us", "max_us",
    // "buckets": [[upper_us, count], ...]}}}. Requests are the _send calls.
    nlohmann::json report() const;

private:
    struct Thread;

    std::atomic<bool> on_{false};
    std::atomic<uint64_t> generation_{0};  // a start() empties every thread's figures
    mutable std::mutex mutex_;             // guards started_
    std::chrono::steady_clock::time_point started_;
    PerThread<Thread> threads_;  // each thread's figures have a lock of their own
};

// The figures of a report as an aligned table, one function a line.
std::string stats_table(nlohmann::json const& report);

}  // namespace kovra_sim
