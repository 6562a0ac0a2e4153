// What a process records of the calls it makes (the trace layer, the
// client library) or serves (the daemon), as a statistics report (see
// stats/report.h). Each thread records into figures of its own, plain
// counts, without a lock: a reader waits for a call being recorded to end,
// and the thread for a reader to finish. They are merged when read.
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
#include <string>
#include <string_view>

#include "common/functions.h"
#include "common/per_thread.h"
#include "stats/report.h"

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
    // A request of a paced run: also how long it took from when the plan
    // had it start, and how late after that it started.
    void record_paced(int function, int32_t status, std::chrono::nanoseconds took,
                      std::chrono::nanoseconds from_plan, std::chrono::nanoseconds behind);
    // A target announced itself ("exposure:0").
    void announced(std::string_view target);

    // The whole run so far, with its wall time and requests per second.
    Report report() const;
    // The figures since the previous cut (or the start), with the window's
    // start and end, since the start and on the clock; the next window
    // starts now.
    Report cut();

private:
    struct Tally;
    struct Tallies;
    struct Thread;
    struct Window;
    class Holding;

    // This thread's figures; found() looks them up where the thread does
    // not remember them.
    Thread& mine();
    Thread& found();
    // From record(): waits while report() or cut() holds the thread's figures.
    static void wait_for_reader(Thread& t);
    // Runs `add(tallies)` on the open window of this thread's figures.
    template <class Add>
    void recording(Add&& add);

    std::atomic<bool> on_{false};
    std::atomic<uint64_t> run_{0};     // start() empties every thread's figures
    std::atomic<uint64_t> window_{0};  // cut() moves every thread to the next window
    mutable std::mutex mutex_;         // guards the members below
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point window_started_;
    std::chrono::system_clock::time_point window_started_clock_;
    std::unique_ptr<Window> closed_;                          // the windows cut so far, merged
    std::map<std::string, uint64_t, std::less<>> announced_;  // in the open window
    std::map<std::string, uint64_t, std::less<>> closed_announced_;
    uint64_t const id_;  // tells Stats apart where a thread remembers its figures
    LatencyBins const& bins_ = latency_bins();
    PerThread<Thread> threads_;
};

}  // namespace kovra_sim
