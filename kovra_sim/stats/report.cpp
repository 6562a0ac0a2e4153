#include "stats/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/functions.h"
#include "common/value.h"

namespace kovra_sim {
namespace {

namespace bh = boost::histogram;

// The index of the bin holding `us`: -1 below the axis, kLatencyBins above.
int bin_of(double us) { return latency_axis().index(us); }

// Whole, not negative, and within what a report holds.
bool is_count(nlohmann::json const& n) {
    return n.is_number_unsigned() && n.get<uint64_t>() <= kMaxCount;
}

// The member `key` of `j`, or null: a reference, where json::value() copies.
nlohmann::json const& member(nlohmann::json const& j, char const* key) {
    static nlohmann::json const none;
    auto const it = j.find(key);
    return it == j.end() ? none : *it;
}

// A count of calls: a whole number, not negative, that keeps `sum` within `calls`.
bool add_count(nlohmann::json const& n, uint64_t calls, uint64_t& sum) {
    if (!n.is_number_unsigned() || n.get<uint64_t>() > calls - sum) return false;
    sum += n.get<uint64_t>();
    return true;
}

double number(nlohmann::json const& j, char const* key, std::string const& what) {
    auto const it = j.find(key);
    if (it == j.end() || !it->is_number() || !std::isfinite(it->get<double>()))
        throw std::runtime_error(what + "\"" + key + "\" is not a number");
    return it->get<double>();
}

// The bin a bucket of the JSON form names. A bucket is named by its bin's
// upper edge rounded to 1 ns, by the least call seen for the underflow bin
// (or when that is its only call), and by the most seen for the bin holding
// it; buckets come in the order of their bins, so where the lowest bins'
// rounded edges coincide, each takes the next bin with that edge.
int bin_named(double upper, FunctionStats const& f, int previous) {
    if (upper >= f.max_us) return bin_of(f.max_us);
    if (upper <= f.min_us) return bin_of(f.min_us);
    int const near = bin_of(upper);
    LatencyAxis const axis = latency_axis();
    for (int i = std::max(previous + 1, near - 2); i <= near + 2 && i < kLatencyBins; ++i) {
        if (i >= 0 && round3(axis.bin(i).upper()) == upper) return i;
    }
    return bin_of(upper * std::pow(10.0, -0.5 / kBinsPerDecade));
}

FunctionStats function_from_json(nlohmann::json const& f, std::string const& what) {
    if (!f.is_object()) throw std::runtime_error(what + "not an object");
    FunctionStats out;
    nlohmann::json const& calls = member(f, "calls");
    if (!is_count(calls))
        throw std::runtime_error(what + "\"calls\" is not a count (a whole number, 0 to 2^53)");
    out.calls = calls;
    nlohmann::json const& statuses = member(f, "statuses");
    if (!statuses.is_object()) throw std::runtime_error(what + "\"statuses\" is not an object");
    uint64_t sum = 0;
    for (auto const& [text, n] : statuses.items()) {
        int64_t status = 0;
        if (!parse_integer(text, INT32_MIN, INT32_MAX, status))
            throw std::runtime_error(what + "status \"" + text + "\" is not an int32");
        if (!add_count(n, out.calls, sum))
            throw std::runtime_error(what + "status " + text + " has no count within the calls");
        // "0" and "-0" are one status: the second would hide the first's calls.
        if (!out.statuses.emplace(int32_t(status), n.get<uint64_t>()).second)
            throw std::runtime_error(what + "status " + text + " is named twice");
    }
    if (sum != out.calls)
        throw std::runtime_error(what + "the statuses do not add up to the calls");
    nlohmann::json const& buckets = member(f, "buckets");
    if (!buckets.is_array()) throw std::runtime_error(what + "\"buckets\" is not an array");
    // Without the least and most seen, the buckets' own edges bound them.
    for (size_t i = 0; i < buckets.size(); ++i) {
        nlohmann::json const& b = buckets[i];
        std::string const which = what + "bucket " + std::to_string(i + 1);
        if (!b.is_array() || b.size() != 2 || !b[0].is_number())
            throw std::runtime_error(which + " is not [upper_us, count]");
        double const upper = b[0];
        if (!(upper > 0) || !std::isfinite(upper))
            throw std::runtime_error(which + ": its edge is not a positive number");
        if (i > 0 && upper < buckets[i - 1][0].get<double>())
            throw std::runtime_error(which + ": its edge is below the one before");
    }
    out.min_us = f.contains("min_us") ? number(f, "min_us", what)
                 : buckets.empty()    ? out.min_us
                                      : buckets.front()[0].get<double>();
    out.max_us = f.contains("max_us") ? number(f, "max_us", what)
                 : buckets.empty()    ? 0
                                      : buckets.back()[0].get<double>();
    out.sum_us = f.contains("sum_us") ? number(f, "sum_us", what) : 0;
    sum = 0;
    int previous = -2;
    for (size_t i = 0; i < buckets.size(); ++i) {
        if (!add_count(buckets[i][1], out.calls, sum))
            throw std::runtime_error(what + "bucket " + std::to_string(i + 1) +
                                     ": no count within the calls");
        previous = bin_named(buckets[i][0], out, previous);
        out.add_to_bin(previous, buckets[i][1]);
    }
    if (sum != out.calls) throw std::runtime_error(what + "the buckets do not add up to the calls");
    return out;
}

// Adds `from`'s counts to `into`'s; throws std::overflow_error, before
// adding any, if a sum would pass kMaxCount. A report's calls together are
// within it, so each function's and each status' sums are too.
void add_counts(Report& into, Report const& from) {
    uint64_t const calls = into.calls();
    if (calls > kMaxCount || from.calls() > kMaxCount - calls)
        throw std::overflow_error("the calls add up past 2^53");
    for (auto const& [target, n] : from.announcements) {
        auto const it = into.announcements.find(target);
        uint64_t const had = it == into.announcements.end() ? 0 : it->second;
        if (had > kMaxCount || n > kMaxCount - had)
            throw std::overflow_error("the announcements of " + target + " add up past 2^53");
    }
    for (auto const& [id, f] : from.functions) into.functions[id].merge(f);
    for (auto const& [target, n] : from.announcements) into.announcements[target] += n;
}

void add_quantiles(nlohmann::json& out, FunctionStats const& f) {
    for (auto [name, q] :
         {std::pair{"p50_us", 0.5}, {"p90_us", 0.9}, {"p99_us", 0.99}, {"p999_us", 0.999}}) {
        out[name] = round3(f.quantile(q));
    }
}

}  // namespace

LatencyAxis latency_axis() { return LatencyAxis(kLatencyBins, 1e-2, 1e8); }

LatencyBins::LatencyBins() : axis_(latency_axis()) {
    for (int i = 0; i <= kLatencyBins; ++i) edge_[size_t(i)] = least_in(i);
    base_ = cell(edge_[0]);
    cells_.resize(cell(std::nextafter(edge_[kLatencyBins], 0.0)) - base_ + 1);
    for (size_t c = 0; c < cells_.size(); ++c) {
        uint64_t const bits = uint64_t(base_ + c) << kCellShift;
        double first;
        std::memcpy(&first, &bits, sizeof first);
        cells_[c] = int16_t(axis_.index(first));
    }
}

int LatencyBins::off_table(double us) const { return axis_.index(us); }

double LatencyBins::least_in(int i) const {
    // Near where the axis' formula puts the edge.
    double x = axis_.value(i);
    while (axis_.index(x) >= i) x = std::nextafter(x, 0.0);
    while (axis_.index(x) < i) x = std::nextafter(x, HUGE_VAL);
    return x;
}

LatencyBins const& latency_bins() {
    static LatencyBins const bins;
    return bins;
}

void FunctionStats::add(int32_t status, double us) {
    latency(us);
    ++calls;
    sum_us += us;
    min_us = std::min(min_us, us);
    max_us = std::max(max_us, us);
    ++statuses[status];
}

void FunctionStats::merge(FunctionStats const& o) {
    latency += o.latency;
    calls += o.calls;
    sum_us += o.sum_us;
    min_us = std::min(min_us, o.min_us);
    max_us = std::max(max_us, o.max_us);
    for (auto const& [status, n] : o.statuses) statuses[status] += n;
}

uint64_t FunctionStats::failures() const {
    auto const ok = statuses.find(0);
    return calls - (ok == statuses.end() ? 0 : ok->second);
}

double FunctionStats::upper_us(int index) const {
    return index < 0 ? min_us : index >= kLatencyBins ? max_us : latency.axis().bin(index).upper();
}

double FunctionStats::lower_us(int index) const {
    return index < 0               ? min_us
           : index >= kLatencyBins ? latency.axis().bin(kLatencyBins - 1).upper()
                                   : latency.axis().bin(index).lower();
}

void FunctionStats::add_to_bin(int index, uint64_t count) {
    // The bin's own middle lands in it; the under- and overflow bins take
    // what lies past the axis.
    double const at = index < 0               ? 1e-3
                      : index >= kLatencyBins ? 1e9
                                              : std::sqrt(upper_us(index) * lower_us(index));
    latency(bh::weight(double(count)), at);
}

std::vector<std::pair<int, uint64_t>> FunctionStats::bins() const {
    std::vector<std::pair<int, uint64_t>> out;
    for (auto&& bin : bh::indexed(latency, bh::coverage::all)) {
        if (*bin > 0) out.emplace_back(bin.index(), uint64_t(*bin));
    }
    return out;
}

double FunctionStats::quantile(double q) const {
    double const rank = std::max(1.0, std::ceil(q * double(calls)));
    double seen = 0;
    for (auto const& [index, n] : bins()) {
        seen += double(n);
        if (seen >= rank) return std::clamp(upper_us(index), min_us, max_us);
    }
    return max_us;
}

uint64_t Report::calls() const {
    uint64_t n = 0;
    for (auto const& [id, f] : functions) n += f.calls;
    return n;
}

uint64_t Report::failures() const {
    uint64_t n = 0;
    for (auto const& [id, f] : functions) n += f.failures();
    return n;
}

FunctionStats Report::requests() const {
    FunctionStats all;
    for (auto const& [id, f] : functions) {
        if (is_request(id)) all.merge(f);
    }
    return all;
}

double Report::slowest_us() const {
    double max = 0;
    for (auto const& [id, f] : functions) max = std::max(max, f.max_us);
    return max;
}

FunctionStats const* Report::function(std::string const& name) const {
    auto const it = functions.find(function_id(name));
    return it == functions.end() ? nullptr : &it->second;
}

namespace {

void add_paced(Report& into, Report const& r) {
    if (r.from_plan)
        (into.from_plan ? *into.from_plan : into.from_plan.emplace()).merge(*r.from_plan);
    if (r.behind) (into.behind ? *into.behind : into.behind.emplace()).merge(*r.behind);
}

}  // namespace

Report merge(std::vector<Report> const& reports) {
    Report all;
    double wall = 0, rate = 0;
    for (Report const& r : reports) {
        add_paced(all, r);
        add_counts(all, r);
        wall = std::max(wall, r.end());
        rate += r.requests_per_second.value_or(0);
    }
    all.wall_seconds = wall;
    all.requests_per_second = rate;
    return all;
}

void Intervals::add(Report const& interval) {
    add_paced(total_, interval);
    add_counts(total_, interval);
    if (!first_clock_) first_clock_ = interval.start_clock;
    if (interval.end_clock) last_clock_ = interval.end_clock;
    latest_end_ = std::max(latest_end_, interval.end());
    ++count_;
}

Report Intervals::whole() const {
    Report r = total_;
    double const wall = first_clock_ && last_clock_ ? *last_clock_ - *first_clock_ : latest_end_;
    r.wall_seconds = std::round(wall * 1000) / 1000;
    r.requests_per_second = wall > 0 ? std::round(double(r.requests().calls) / wall) : 0.0;
    return r;
}

namespace {

nlohmann::json function_json(FunctionStats const& f) {
    nlohmann::json out{{"calls", f.calls},
                       {"statuses", nlohmann::json::object()},
                       {"min_us", round3(f.min_us)},
                       {"max_us", round3(f.max_us)},
                       {"sum_us", round3(f.sum_us)}};
    for (auto const& [status, n] : f.statuses) out["statuses"][std::to_string(status)] = n;
    add_quantiles(out, f);
    nlohmann::json buckets = nlohmann::json::array();
    for (auto const& [index, n] : f.bins())
        buckets.push_back({round3(std::min(f.upper_us(index), f.max_us)), n});
    out["buckets"] = std::move(buckets);
    return out;
}

}  // namespace

nlohmann::json to_json(Report const& report) {
    nlohmann::json functions = nlohmann::json::object();
    for (auto const& [id, f] : report.functions) {
        if (f.calls) functions[function_info(id).name] = function_json(f);
    }
    FunctionStats const requests = report.requests();
    nlohmann::json json{{"calls", report.calls()}, {"requests", requests.calls}};
    if (requests.calls) add_quantiles(json, requests);
    json["functions"] = std::move(functions);
    json["announcements"] = report.announcements;
    if (report.from_plan && report.behind) {
        json["paced"] = {{"from_plan", function_json(*report.from_plan)},
                         {"behind", function_json(*report.behind)}};
    }
    if (report.wall_seconds) json["wall_seconds"] = *report.wall_seconds;
    if (report.requests_per_second) json["requests_per_second"] = *report.requests_per_second;
    if (report.interval) json["interval"] = *report.interval;
    if (report.start_s) json["start_s"] = *report.start_s;
    if (report.end_s) json["end_s"] = *report.end_s;
    if (report.source) json["source"] = *report.source;
    return json;
}

Report report_from_json(nlohmann::json const& json) {
    if (!json.is_object() || !json.contains("functions"))
        throw std::runtime_error("neither statistics nor a timeline");
    Report r;
    nlohmann::json const& functions = json.at("functions");
    if (!functions.is_object()) throw std::runtime_error("\"functions\" is not an object");
    uint64_t calls = 0;
    for (auto const& [name, f] : functions.items()) {
        int const id = function_id(name);
        if (id < 0) throw std::runtime_error("no function \"" + name + "\" in this table");
        FunctionStats read = function_from_json(f, name + ": ");
        if (read.calls > kMaxCount - calls)
            throw std::runtime_error("the calls of all functions add up past 2^53");
        calls += read.calls;
        r.functions[id] = std::move(read);
    }
    if (auto const it = json.find("announcements"); it != json.end()) {
        if (!it->is_object()) throw std::runtime_error("\"announcements\" is not an object");
        for (auto const& [target, n] : it->items()) {
            if (!is_count(n))
                throw std::runtime_error("announcements of " + target + ": not a count");
            r.announcements[target] = n;
        }
    }
    if (auto const it = json.find("paced"); it != json.end()) {
        if (!it->is_object() || !it->contains("from_plan") || !it->contains("behind"))
            throw std::runtime_error("\"paced\" is not {\"from_plan\", \"behind\"}");
        r.from_plan = function_from_json(it->at("from_plan"), "paced from_plan: ");
        r.behind = function_from_json(it->at("behind"), "paced behind: ");
    }
    auto optional = [&](char const* key, std::optional<double>& into) {
        if (json.contains(key)) into = number(json, key, "");
    };
    optional("wall_seconds", r.wall_seconds);
    optional("requests_per_second", r.requests_per_second);
    optional("start_s", r.start_s);
    optional("end_s", r.end_s);
    if (auto const it = json.find("interval"); it != json.end()) {
        if (!it->is_number_unsigned()) throw std::runtime_error("\"interval\" is not a count");
        r.interval = it->get<uint64_t>();
    }
    if (auto const it = json.find("source"); it != json.end() && it->is_string())
        r.source = it->get<std::string>();
    return r;
}

std::string table(Report const& report) {
    size_t width = 8;
    for (auto const& [id, f] : report.functions)
        width = std::max(width, std::string_view(function_info(id).name).size());
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s %10s %8s %10s %10s %10s %10s %10s\n", int(width),
                  "function", "calls", "failed", "p50 us", "p90 us", "p99 us", "p99.9 us",
                  "max us");
    out += line;
    // By name, as the JSON form lists them.
    std::vector<std::pair<std::string_view, FunctionStats const*>> rows;
    std::map<std::string_view, FunctionStats const*> by_name;
    for (auto const& [id, f] : report.functions) by_name[function_info(id).name] = &f;
    rows.assign(by_name.begin(), by_name.end());
    // A paced run's requests, all together, as the plan would have them.
    if (report.from_plan && report.behind) {
        rows.emplace_back("(requests from plan)", &*report.from_plan);
        rows.emplace_back("(behind plan)", &*report.behind);
    }
    for (auto const& [name, f] : rows) {
        std::snprintf(line, sizeof line, "%-*s %10llu %8llu %10.1f %10.1f %10.1f %10.1f %10.1f\n",
                      int(width), std::string(name).c_str(),
                      static_cast<unsigned long long>(f->calls),
                      static_cast<unsigned long long>(f->failures()), round3(f->quantile(0.5)),
                      round3(f->quantile(0.9)), round3(f->quantile(0.99)),
                      round3(f->quantile(0.999)), round3(f->max_us));
        out += line;
    }
    std::snprintf(line, sizeof line, "%llu requests in %.3f s: %.0f requests/s\n",
                  static_cast<unsigned long long>(report.requests().calls),
                  report.wall_seconds.value_or(0), report.requests_per_second.value_or(0));
    return out + line;
}

}  // namespace kovra_sim
