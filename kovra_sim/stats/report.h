// The statistics report: per function, how many calls a process made (the
// trace layer, the client library) or served (the daemon), with which
// statuses, and how long each took, in a latency histogram (Boost.Histogram,
// 40 log-spaced bins a decade from 10 ns to 100 s, so a figure read from it is
// within 6% above the true value); and how often each target announced
// itself. One report covers a whole run, or one interval of it (a line of a
// timeline). Everything that writes, merges, replays, draws, checks or serves
// these figures does it through this type; only its JSON form knows the
// files' field names.
#pragma once

#include <array>
#include <boost/histogram.hpp>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace kovra_sim {

// Microseconds: kLatencyBins bins between 10^-2 and 10^8, and an under- and
// an overflow bin (indices -1 and kLatencyBins).
using LatencyAxis = boost::histogram::axis::regular<double, boost::histogram::axis::transform::log>;
constexpr int kLatencyBins = 400;
constexpr int kBinsPerDecade = 40;
LatencyAxis latency_axis();

// Microseconds as the files write them: to the nanosecond.
inline double round3(double us) { return std::round(us * 1000) / 1000; }

// The bin of a value on that axis, exactly as its index() gives it, but
// without a logarithm: for recording calls. Where the index steps up is
// found once by asking the axis itself, so that a value lands in the very
// bin index() gives it, at an edge too. The doubles from the first edge to
// the last are cut into cells by their exponent and five leading mantissa
// bits: a cell spans at most 1/32 of its lower end (3%), less than a bin's
// 10^(1/40) (6%), so it holds at most one edge, and a value's bin is its
// cell's first bin, or the next one from that bin's upper edge on.
class LatencyBins {
public:
    int index(double us) const {
        if (!(us >= edge_[0] && us < edge_[kLatencyBins])) return off_table(us);
        int const first = cells_[cell(us) - base_];
        return first + int(us >= edge_[size_t(first + 1)]);
    }

private:
    friend LatencyBins const& latency_bins();
    LatencyBins();

    static constexpr int kCellShift = 52 - 5;
    static uint64_t cell(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits >> kCellShift;
    }
    // NaN, and whatever lies off the axis, the axis places itself.
    int off_table(double us) const;
    // The least double the axis puts in bin `i` or above.
    double least_in(int i) const;

    LatencyAxis axis_;
    std::array<double, kLatencyBins + 1> edge_{};  // bin i's least value; the overflow bin's last
    uint64_t base_ = 0;                            // the cell of the first edge
    std::vector<int16_t> cells_;                   // each cell's first bin, -1 below the axis
};
// The one table, made at its first use.
LatencyBins const& latency_bins();
using LatencyHistogram = decltype(boost::histogram::make_histogram(latency_axis()));

// The most calls a report read or merged holds, all functions together, and
// the most announcements of a target: its histograms count in doubles, exact
// up to 2^53. Reading refuses a count past it; merging, a sum past it.
constexpr uint64_t kMaxCount = uint64_t(1) << 53;

// One function's figures.
struct FunctionStats {
    uint64_t calls = 0;
    std::map<int32_t, uint64_t> statuses;
    double min_us = std::numeric_limits<double>::infinity();
    double max_us = 0;
    double sum_us = 0;
    LatencyHistogram latency = boost::histogram::make_histogram(latency_axis());

    void add(int32_t status, double us);
    void merge(FunctionStats const& other);
    // Calls whose status is not 0.
    uint64_t failures() const;
    // The upper edge of the bin holding the call of rank ceil(q * calls)
    // (at least the first), within what was seen.
    double quantile(double q) const;
    // The count in each bin that has any, by bin index, lowest first.
    std::vector<std::pair<int, uint64_t>> bins() const;
    // The upper edge of bin `index`; the under- and overflow bins' are the
    // least and the most seen.
    double upper_us(int index) const;
    // The lower edge of bin `index`: the least seen for the underflow bin,
    // the axis' end for the overflow bin.
    double lower_us(int index) const;
    // Adds `count` calls to bin `index`.
    void add_to_bin(int index, uint64_t count);
};

struct Report {
    // By function id; only functions with calls.
    std::map<int, FunctionStats> functions;
    // By target, "exposure:0".
    std::map<std::string, uint64_t, std::less<>> announcements;
    // A paced run's requests (KOVRA_TRACE's rate=), all functions together:
    // each one's time from when the plan had it start, which holds what a
    // stalled camera cost the requests that should have gone out meanwhile,
    // and how late after that it started (all 0 while the run keeps up).
    std::optional<FunctionStats> from_plan, behind;
    // A whole run's: its length, and its requests per second.
    std::optional<double> wall_seconds;
    std::optional<double> requests_per_second;
    // A line of a timeline's: its number, its start and end in seconds since
    // the run began, and on the clock (seconds since the epoch, UTC).
    std::optional<uint64_t> interval;
    std::optional<double> start_s, end_s;
    std::optional<double> start_clock, end_clock;
    // Who recorded it: "trace", "client" or "daemon".
    std::optional<std::string> source;

    uint64_t calls() const;
    uint64_t failures() const;
    // The requests (the _send calls) of every function together.
    FunctionStats requests() const;
    // The longest call of any function.
    double slowest_us() const;
    // The function named, or null.
    FunctionStats const* function(std::string const& name) const;
    // The run's end: its wall time, or its last interval's end.
    double end() const { return wall_seconds.value_or(end_s.value_or(0)); }
};

// Several reports of runs side by side as one: calls, statuses, histograms
// and announcements added, the longest wall time, the requests per second
// added. Throws std::overflow_error if the calls or a target's
// announcements add up past kMaxCount.
Report merge(std::vector<Report> const& reports);

// Intervals (a timeline's lines) added up, as they come, into the whole they
// cover: their figures, and a wall time from the first's start to the last's
// end on the clock (for intervals of old, the latest end since a start).
class Intervals {
public:
    // Throws std::overflow_error, adding nothing, where merge() would.
    void add(Report const& interval);
    bool empty() const { return count_ == 0; }
    uint64_t count() const { return count_; }
    Report whole() const;

private:
    Report total_;
    uint64_t count_ = 0;
    std::optional<double> first_clock_, last_clock_;
    double latest_end_ = 0;
};

// The JSON form: {"calls", "requests", the requests' "p50_us" to "p999_us",
// "functions": {NAME: {"calls", "statuses", "min_us", "p50_us", "p90_us",
// "p99_us", "p999_us", "max_us", "sum_us", "buckets": [[upper_us, count],
// ...]}}, "announcements": {TARGET: count}}, with "wall_seconds" and
// "requests_per_second", or "interval", "start_s" and "end_s", "paced":
// {"from_plan", "behind"} (as a function's), and "source", when given.
nlohmann::json to_json(Report const& report);
// Reads that form back; throws std::runtime_error saying what is wrong for
// anything else: a field of the wrong type, a count that is negative, not
// whole, past kMaxCount or does not add up to the calls, a status named
// twice, a function not in this table.
Report report_from_json(nlohmann::json const& json);

// The figures as an aligned table, one function a line.
std::string table(Report const& report);

}  // namespace kovra_sim
