// rate= and ramp=: when each request of a paced run is due. Requests are
// numbered in the order they are taken, across all of the program's
// threads, and the plan starts with the first: the n-th is due when the
// plan has reached n requests, at a rate that rises evenly from 0 to
// `rate` over `ramp` and then stays. A thread whose request is due later
// waits for it; one whose request is overdue starts it at once, and the
// lag says how far the run is behind the plan. Measured from when each
// request was due, a camera that stalls cannot hide the stall by slowing
// the requests down.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>

namespace kovra_sim::trace {

class Pace {
public:
    using Clock = std::chrono::steady_clock;

    // `rate` requests a second in all, more than 0.
    Pace(double rate, std::chrono::microseconds ramp)
        : rate_(rate), ramp_s_(std::chrono::duration<double>(ramp).count()) {}

    // When the n-th request (from 0) is due, in seconds from the first.
    // Over the ramp the plan has made rate * t^2 / (2 * ramp) requests by t.
    double due_s(uint64_t n) const {
        double const made_in_ramp = rate_ * ramp_s_ / 2;
        if (double(n) < made_in_ramp) return std::sqrt(2 * ramp_s_ * double(n) / rate_);
        return ramp_s_ + (double(n) - made_in_ramp) / rate_;
    }

    // Takes the next request's place in the plan: when it is due.
    Clock::time_point next() {
        std::call_once(started_, [this] { start_ = Clock::now(); });
        uint64_t const n = taken_.fetch_add(1, std::memory_order_relaxed);
        return start_ +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due_s(n)));
    }

private:
    double const rate_;
    double const ramp_s_;
    std::once_flag started_;
    Clock::time_point start_;
    std::atomic<uint64_t> taken_{0};
};

}  // namespace kovra_sim::trace
