#include "stats.h"

#include <algorithm>
#include <array>
#include <boost/histogram.hpp>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

namespace kovra_sim {
namespace {

namespace bh = boost::histogram;

double round3(double v) { return std::round(v * 1000) / 1000; }

// Microseconds, 40 bins a decade from 10 ns to 100 s.
using Axis = bh::axis::regular<double, bh::axis::transform::log>;
Axis latency_axis() { return Axis(400, 1e-2, 1e8); }
using Histogram = decltype(bh::make_histogram(latency_axis()));

// One function's figures, in one thread or merged.
struct Figures {
    Histogram latency = bh::make_histogram(latency_axis());
    uint64_t calls = 0;
    double min_us = std::numeric_limits<double>::infinity();
    double max_us = 0;
    std::map<int32_t, uint64_t> statuses;

    void add(int32_t status, double us) {
        latency(us);
        ++calls;
        min_us = std::min(min_us, us);
        max_us = std::max(max_us, us);
        ++statuses[status];
    }
    void merge(Figures const& o) {
        latency += o.latency;
        calls += o.calls;
        min_us = std::min(min_us, o.min_us);
        max_us = std::max(max_us, o.max_us);
        for (auto const& [status, n] : o.statuses) statuses[status] += n;
    }
    // A bin's upper edge; the under- and overflow bins' are what was seen.
    template <class Bin>
    double edge(Bin const& bin) const {
        return bin.index() < 0                             ? min_us
               : bin.index() >= int(latency.axis().size()) ? max_us
                                                           : bin.bin().upper();
    }
    // The upper edge of the bin holding the q-quantile, within what was seen.
    double quantile(double q) const {
        double const rank = std::max(1.0, std::ceil(q * double(calls)));
        double seen = 0;
        for (auto&& bin : bh::indexed(latency, bh::coverage::all)) {
            seen += *bin;
            if (*bin > 0 && seen >= rank) return std::clamp(edge(bin), min_us, max_us);
        }
        return max_us;
    }
    // Adds "p50_us" to "p999_us" to `out`.
    void quantiles(nlohmann::json& out) const {
        for (auto [name, q] :
             {std::pair{"p50_us", 0.5}, {"p90_us", 0.9}, {"p99_us", 0.99}, {"p999_us", 0.999}}) {
            out[name] = round3(quantile(q));
        }
    }
};

}  // namespace

struct Stats::Thread {
    std::mutex mutex;  // taken by its own thread and by report()
    uint64_t generation = 0;
    std::array<std::unique_ptr<Figures>, kFunctionCount> functions;
};

Stats::Stats() : started_(std::chrono::steady_clock::now()) {}

Stats::~Stats() = default;

void Stats::start() {
    std::lock_guard lock(mutex_);
    generation_.fetch_add(1);
    started_ = std::chrono::steady_clock::now();
    on_.store(true, std::memory_order_relaxed);
}

void Stats::record(int function, int32_t status, std::chrono::nanoseconds took) {
    Thread& t = threads_.mine();
    std::lock_guard lock(t.mutex);
    uint64_t const generation = generation_.load(std::memory_order_relaxed);
    if (t.generation != generation) {
        for (auto& f : t.functions) f.reset();
        t.generation = generation;
    }
    std::unique_ptr<Figures>& f = t.functions[size_t(function)];
    if (!f) f = std::make_unique<Figures>();
    f->add(status, double(took.count()) / 1000);
}

nlohmann::json Stats::report() const {
    std::lock_guard lock(mutex_);
    uint64_t const generation = generation_.load();
    double const wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    nlohmann::json functions = nlohmann::json::object();
    uint64_t calls = 0;
    Figures requests;  // every _send call of every function
    for (int id = 0; id < kFunctionCount; ++id) {
        Figures all;
        threads_.each([&](Thread& t) {
            std::lock_guard figures(t.mutex);
            if (t.generation == generation && t.functions[size_t(id)])
                all.merge(*t.functions[size_t(id)]);
        });
        if (all.calls == 0) continue;
        nlohmann::json f{{"calls", all.calls},
                         {"statuses", nlohmann::json::object()},
                         {"min_us", round3(all.min_us)}};
        for (auto const& [status, n] : all.statuses) f["statuses"][std::to_string(status)] = n;
        all.quantiles(f);
        f["max_us"] = round3(all.max_us);
        nlohmann::json buckets = nlohmann::json::array();
        for (auto&& bin : bh::indexed(all.latency, bh::coverage::all)) {
            if (*bin == 0) continue;
            buckets.push_back({round3(std::min(all.edge(bin), all.max_us)), uint64_t(*bin)});
        }
        f["buckets"] = std::move(buckets);
        calls += all.calls;
        Kind const kind = function(id).kind;
        if (kind == Kind::action || kind == Kind::request) requests.merge(all);
        functions[function(id).name] = std::move(f);
    }
    nlohmann::json report{
        {"wall_seconds", round3(wall)},
        {"calls", calls},
        {"requests", requests.calls},
        {"requests_per_second", wall > 0 ? std::round(double(requests.calls) / wall) : 0.0}};
    if (requests.calls) requests.quantiles(report);
    report["functions"] = std::move(functions);
    return report;
}

std::string stats_table(nlohmann::json const& report) {
    auto const& functions = report.at("functions");
    size_t width = 8;
    for (auto const& [name, f] : functions.items()) width = std::max(width, name.size());
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s %10s %8s %10s %10s %10s %10s %10s\n", int(width),
                  "function", "calls", "failed", "p50 us", "p90 us", "p99 us", "p99.9 us",
                  "max us");
    out += line;
    for (auto const& [name, f] : functions.items()) {
        uint64_t const calls = f.at("calls");
        uint64_t const ok = f.at("statuses").value("0", uint64_t{0});
        std::snprintf(line, sizeof line, "%-*s %10llu %8llu %10.1f %10.1f %10.1f %10.1f %10.1f\n",
                      int(width), name.c_str(), static_cast<unsigned long long>(calls),
                      static_cast<unsigned long long>(calls - ok), f.at("p50_us").get<double>(),
                      f.at("p90_us").get<double>(), f.at("p99_us").get<double>(),
                      f.at("p999_us").get<double>(), f.at("max_us").get<double>());
        out += line;
    }
    std::snprintf(line, sizeof line, "%llu requests in %.3f s: %.0f requests/s\n",
                  static_cast<unsigned long long>(report.at("requests").get<uint64_t>()),
                  report.at("wall_seconds").get<double>(),
                  report.at("requests_per_second").get<double>());
    return out + line;
}

}  // namespace kovra_sim
