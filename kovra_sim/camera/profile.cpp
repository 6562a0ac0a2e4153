#include "profile.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "directives.h"
#include "stats_files.h"
#include "value.h"

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

// A count of calls: a whole number, not negative, that keeps `sum` within `calls`.
bool add_count(nlohmann::json const& n, uint64_t calls, uint64_t& sum) {
    if (!n.is_number_unsigned() || n.get<uint64_t>() > calls - sum) return false;
    sum += n.get<uint64_t>();
    return true;
}

// The histogram's bins are 40 a decade, and a bucket is named by its bin's
// upper edge, or by the longest call seen if that came first: the lower
// edge of the bin holding `upper`. Delays are drawn log-uniformly from it up
// to `upper`, so that the replayed calls fall into the recorded bins. (An
// edge is written to 1 ns, hence the leeway.)
double bin_below(double upper) {
    return std::pow(10.0, (std::ceil(40 * std::log10(upper) - 0.01) - 1) / 40);
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
    nlohmann::json report;
    try {
        stats_files::Loaded const loaded = stats_files::load(path);
        report = loaded.whole();
    } catch (std::exception const& e) {
        // What load() throws names the file already.
        error = e.what();
        if (error.rfind(path + ":", 0) != 0) error = path + ": " + error;
        return nullptr;
    }
    auto profile = std::make_shared<Profile>();
    bool any = false;
    nlohmann::json const& functions = report.at("functions");
    if (!functions.is_object()) return refuse("\"functions\" is not an object");
    for (auto const& entry : functions.items()) {
        // Named, not bound: a lambda below takes the name.
        std::string const& name = entry.key();
        nlohmann::json const& f = entry.value();
        int const id = function_id(name);
        if (id < 0) return refuse("no function \"" + name + "\" in this table");
        if (!is_request(id)) continue;  // only requests reach a camera
        auto const wrong = [&](std::string const& why) { return refuse(name + ": " + why); };
        auto const calls = f.is_object() ? f.value("calls", nlohmann::json()) : nlohmann::json();
        if (!calls.is_number_unsigned() || calls.get<uint64_t>() == 0)
            return wrong("\"calls\" is not a count of 1 or more");
        uint64_t const total = calls;
        Recorded& r = profile->functions_[size_t(id)];
        auto const statuses = f.value("statuses", nlohmann::json());
        if (!statuses.is_object()) return wrong("\"statuses\" is not an object");
        uint64_t sum = 0;
        for (auto const& [text, n] : statuses.items()) {
            int64_t status = 0;
            if (!parse_integer(text, INT32_MIN, INT32_MAX, status))
                return wrong("status \"" + text + "\" is not an int32");
            if (!add_count(n, total, sum))
                return wrong("status " + text + " has no count within the calls");
            r.statuses.push_back({sum, int32_t(status)});
        }
        if (sum != total) return wrong("the statuses do not add up to the calls");
        auto const buckets = f.value("buckets", nlohmann::json());
        if (!buckets.is_array()) return wrong("\"buckets\" is not an array");
        sum = 0;
        double edge = 0;
        for (size_t i = 0; i < buckets.size(); ++i) {
            nlohmann::json const& b = buckets[i];
            std::string const which = "bucket " + std::to_string(i + 1);
            if (!b.is_array() || b.size() != 2 || !b[0].is_number())
                return wrong(which + " is not [upper_us, count]");
            // Edges are written to 1 ns, so the lowest bins may share one.
            double const upper = b[0];
            if (!(upper > 0) || !std::isfinite(upper))
                return wrong(which + ": its edge is not a positive number");
            if (upper < edge) return wrong(which + ": its edge is below the one before");
            if (!add_count(b[1], total, sum)) return wrong(which + ": no count within the calls");
            edge = upper;
            r.buckets.push_back({sum, bin_below(upper), upper});
        }
        if (sum != total) return wrong("the buckets do not add up to the calls");
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
