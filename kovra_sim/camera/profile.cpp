#include "camera/profile.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "common/directives.h"
#include "stats/report_files.h"

namespace kovra_sim {
namespace {

// splitmix64's finaliser: every bit of the result depends on every bit of x.
uint64_t mix(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}

// The next number of a splitmix64 stream.
uint64_t next(uint64_t& state) { return mix(state += 0x9e3779b97f4a7c15u); }

// The entry whose running count first exceeds a number drawn below the total.
template <class Entry>
Entry const& pick(std::vector<Entry> const& entries, uint64_t random) {
    uint64_t const at = random % entries.back().below;
    return *std::upper_bound(entries.begin(), entries.end(), at,
                             [](uint64_t v, Entry const& e) { return v < e.below; });
}

}  // namespace

std::shared_ptr<Profile const> Profile::load(std::string const& path, std::string& error) {
    auto const refuse = [&](std::string const& why) {
        error = path + ": " + why;
        return nullptr;
    };
    // A device or a FIFO could be read forever; only a file is a recording.
    std::error_code ec;
    auto const status = std::filesystem::status(path, ec);
    if (ec) return refuse(ec.message());
    if (!std::filesystem::is_regular_file(status)) return refuse("not a regular file");
    Report report;
    try {
        report = stats_files::whole(path, stats_files::Bound{kMaxBytes, "a profile"});
    } catch (std::exception const& e) {
        // What whole() throws names the file already.
        error = e.what();
        if (error.rfind(path + ":", 0) != 0) error = path + ": " + error;
        return nullptr;
    }
    auto profile = std::make_shared<Profile>();
    bool any = false;
    for (auto const& [id, f] : report.functions) {
        if (!is_request(id) || f.calls == 0) continue;  // only requests reach a camera
        Recorded& r = profile->functions_[size_t(id)];
        uint64_t below = 0;
        for (auto const& [status, n] : f.statuses) {
            if (n) r.statuses.push_back({below += n, status});
        }
        below = 0;
        for (auto const& [index, n] : f.bins())
            r.buckets.push_back(
                {below += n, f.lower_us(index), std::min(f.upper_us(index), f.max_us)});
        any = true;
    }
    if (!any) return refuse("no request recorded");
    return profile;
}

Profile::Draw Profile::draw(int function, uint32_t seed, uint64_t n) const {
    Recorded const& r = functions_[size_t(function)];
    uint64_t state = mix(mix(uint64_t(seed) << 32 | uint32_t(function)) ^ n);
    int32_t const status = pick(r.statuses, next(state)).status;
    Bucket const& bucket = pick(r.buckets, next(state));
    double const within = double(next(state) >> 11) * 0x1p-53;  // [0, 1)
    double const us = bucket.upper_us * std::pow(bucket.lower_us / bucket.upper_us, within);
    return {status, std::chrono::microseconds(std::llround(std::min(us, double(kMaxLatencyUs))))};
}

}  // namespace kovra_sim
