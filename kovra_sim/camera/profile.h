// A camera as a statistics file recorded it (the trace layer's, the
// stand-in's or the daemon's): for each request it covers, the statuses in
// their recorded proportions and the latency histogram. A camera given one
// answers those requests by drawing from it; each draw is a function of
// (seed, function, call number) alone, so the same calls get the same
// answers whatever order threads make them in.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/functions.h"

namespace kovra_sim {

class Profile {
public:
    // The most a profile's file may hold: a statistics file is under 3 MiB
    // with every bin of every function in use (a long timeline is better given
    // as its statistics file), and a daemon is not to be made to parse more.
    static constexpr size_t kMaxBytes = size_t(16) << 20;

    // Reads and checks the statistics file (or timeline, merged) at `path`;
    // null with the reason, naming the file, in `error`. Entries of
    // functions that are not requests are ignored.
    static std::shared_ptr<Profile const> load(std::string const& path, std::string& error);

    bool covers(int function) const { return !functions_[size_t(function)].statuses.empty(); }

    struct Draw {
        int32_t status;
        std::chrono::microseconds delay;
    };
    // The answer to call `n` (from 0) of a covered `function`.
    Draw draw(int function, uint32_t seed, uint64_t n) const;

private:
    // Counts kept running, so that a draw is a binary search.
    struct Status {
        uint64_t below;  // calls with this status or one listed before it
        int32_t status;
    };
    // A bin of the recorded histogram, within which a delay is drawn.
    struct Bucket {
        uint64_t below;
        double lower_us, upper_us;
    };
    struct Recorded {
        std::vector<Status> statuses;
        std::vector<Bucket> buckets;
    };

    std::array<Recorded, kFunctionCount> functions_;
};

}  // namespace kovra_sim
