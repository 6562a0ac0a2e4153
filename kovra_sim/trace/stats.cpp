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
    double sum_us = 0;
    std::map<int32_t, uint64_t> statuses;

    void add(int32_t status, double us) {
        latency(us);
        ++calls;
        sum_us += us;
        min_us = std::min(min_us, us);
        max_us = std::max(max_us, us);
        ++statuses[status];
    }
    void merge(Figures const& o) {
        latency += o.latency;
        calls += o.calls;
        sum_us += o.sum_us;
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

// One function's figures each; null for a function with none.
struct Stats::Window {
    std::array<std::unique_ptr<Figures>, kFunctionCount> functions;

    Figures& of(int function) {
        auto& f = functions[size_t(function)];
        if (!f) f = std::make_unique<Figures>();
        return *f;
    }
    void merge(Window const& other) {
        for (int id = 0; id < kFunctionCount; ++id) {
            if (auto const& f = other.functions[size_t(id)]) of(id).merge(*f);
        }
    }
    void clear() {
        for (auto& f : functions) f.reset();
    }
};

// A thread records into the window that is open; the other one is empty
// but while cut() takes it.
struct Stats::Thread {
    std::mutex mutex;  // taken by its own thread and by report() and cut()
    uint64_t run = 0;
    Window windows[2];
};

namespace {

// The report's shape for one window's figures.
nlohmann::json describe(std::array<std::unique_ptr<Figures>, kFunctionCount> const& figures,
                        std::map<std::string, uint64_t, std::less<>> const& announced) {
    nlohmann::json functions = nlohmann::json::object();
    uint64_t calls = 0;
    Figures requests;  // every _send call of every function
    for (int id = 0; id < kFunctionCount; ++id) {
        Figures const* all = figures[size_t(id)].get();
        if (!all || all->calls == 0) continue;
        nlohmann::json f{{"calls", all->calls},
                         {"statuses", nlohmann::json::object()},
                         {"min_us", round3(all->min_us)}};
        for (auto const& [status, n] : all->statuses) f["statuses"][std::to_string(status)] = n;
        all->quantiles(f);
        f["max_us"] = round3(all->max_us);
        f["sum_us"] = round3(all->sum_us);
        nlohmann::json buckets = nlohmann::json::array();
        for (auto&& bin : bh::indexed(all->latency, bh::coverage::all)) {
            if (*bin == 0) continue;
            buckets.push_back({round3(std::min(all->edge(bin), all->max_us)), uint64_t(*bin)});
        }
        f["buckets"] = std::move(buckets);
        calls += all->calls;
        Kind const kind = function_info(id).kind;
        if (kind == Kind::action || kind == Kind::request) requests.merge(*all);
        functions[function_info(id).name] = std::move(f);
    }
    nlohmann::json report{{"calls", calls}, {"requests", requests.calls}};
    if (requests.calls) requests.quantiles(report);
    report["functions"] = std::move(functions);
    report["announcements"] = announced;
    return report;
}

double seconds(std::chrono::steady_clock::duration d) {
    return round3(std::chrono::duration<double>(d).count());
}

void add_rate(nlohmann::json& report, double wall) {
    report["wall_seconds"] = wall;
    report["requests_per_second"] =
        wall > 0 ? std::round(report.at("requests").get<double>() / wall) : 0.0;
}

}  // namespace

Stats::Stats() : started_(std::chrono::steady_clock::now()), window_started_(started_) {}

Stats::~Stats() = default;

void Stats::start() {
    std::lock_guard lock(mutex_);
    run_.fetch_add(1);
    started_ = window_started_ = std::chrono::steady_clock::now();
    closed_.reset();
    announced_.clear();
    closed_announced_.clear();
    on_.store(true, std::memory_order_relaxed);
}

void Stats::record(int function, int32_t status, std::chrono::nanoseconds took) {
    Thread& t = threads_.mine();
    std::lock_guard lock(t.mutex);
    // Read under the thread's lock: cut() moves on before it takes it.
    uint64_t const run = run_.load(std::memory_order_relaxed);
    if (t.run != run) {
        t.windows[0].clear();
        t.windows[1].clear();
        t.run = run;
    }
    t.windows[window_.load(std::memory_order_relaxed) & 1].of(function).add(
        status, double(took.count()) / 1000);
}

void Stats::announced(std::string_view target) {
    std::lock_guard lock(mutex_);
    auto it = announced_.find(target);
    if (it == announced_.end()) it = announced_.emplace(std::string(target), 0).first;
    ++it->second;
}

nlohmann::json Stats::report() const {
    std::lock_guard lock(mutex_);
    uint64_t const run = run_.load();
    Window all;
    if (closed_) all.merge(*closed_);
    threads_.each([&](Thread& t) {
        std::lock_guard figures(t.mutex);
        if (t.run != run) return;
        all.merge(t.windows[0]);
        all.merge(t.windows[1]);
    });
    auto announced = closed_announced_;
    for (auto const& [target, n] : announced_) announced[target] += n;
    nlohmann::json report = describe(all.functions, announced);
    add_rate(report, seconds(std::chrono::steady_clock::now() - started_));
    return report;
}

nlohmann::json Stats::cut() {
    std::lock_guard lock(mutex_);
    auto const now = std::chrono::steady_clock::now();
    uint64_t const run = run_.load();
    uint64_t const closing = window_.fetch_add(1) & 1;
    Window window;
    threads_.each([&](Thread& t) {
        std::lock_guard figures(t.mutex);
        if (t.run == run) window.merge(t.windows[closing]);
        t.windows[closing].clear();
    });
    nlohmann::json report = describe(window.functions, announced_);
    report["start_s"] = seconds(window_started_ - started_);
    report["end_s"] = seconds(now - started_);
    if (!closed_) closed_ = std::make_unique<Window>();
    closed_->merge(window);
    for (auto const& [target, n] : announced_) closed_announced_[target] += n;
    announced_.clear();
    window_started_ = now;
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

namespace {

// A function's figures read back from a report: each bucket's count goes
// into the middle of its bin (the under- and overflow buckets' edges are
// the least and most seen), so percentiles come out as they went in.
Figures figures_of(nlohmann::json const& f) {
    Figures out;
    out.min_us = f.at("min_us");
    out.max_us = f.at("max_us");
    double const to_middle = std::pow(10.0, -1.0 / 80);
    for (auto const& bucket : f.at("buckets")) {
        double const upper = bucket.at(0);
        double const at = upper >= out.max_us   ? out.max_us
                          : upper <= out.min_us ? out.min_us
                                                : upper * to_middle;
        out.latency(bh::weight(bucket.at(1).get<double>()), at);
    }
    out.calls = f.at("calls");
    out.sum_us = f.value("sum_us", 0.0);
    for (auto const& [status, n] : f.at("statuses").items())
        out.statuses[int32_t(std::stol(status))] += n.get<uint64_t>();
    return out;
}

}  // namespace

nlohmann::json Stats::merge(std::vector<nlohmann::json> const& reports) {
    Window all;
    std::map<std::string, uint64_t, std::less<>> announced;
    double wall = 0, rate = 0;
    for (nlohmann::json const& r : reports) {
        for (auto const& [name, f] : r.at("functions").items()) {
            int const id = function_id(name);
            if (id < 0) throw std::runtime_error("no function \"" + name + "\" in this table");
            all.of(id).merge(figures_of(f));
        }
        if (auto const it = r.find("announcements"); it != r.end()) {
            for (auto const& [target, n] : it->items()) announced[target] += n.get<uint64_t>();
        }
        wall = std::max(wall, r.value("wall_seconds", r.value("end_s", 0.0)));
        rate += r.value("requests_per_second", 0.0);
    }
    nlohmann::json merged = describe(all.functions, announced);
    merged["wall_seconds"] = wall;
    merged["requests_per_second"] = rate;
    return merged;
}

}  // namespace kovra_sim
