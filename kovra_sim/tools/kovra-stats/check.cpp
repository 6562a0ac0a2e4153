// kovra-stats --check: thresholds over a statistics file or a timeline.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

struct Clause {
    std::string metric;    // p50, p90, p99, p999, max, failures, degradation
    std::string function;  // "" for every function, or all calls
    double limit;          // in microseconds for a latency, in percent otherwise
    std::string text;      // the limit as written
};

std::string trim(std::string s) {
    size_t const b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool is_latency(std::string const& metric) {
    return metric == "p50" || metric == "p90" || metric == "p99" || metric == "p999" ||
           metric == "max";
}

Clause parse_clause(std::string const& written) {
    std::string const text = trim(written);
    size_t const gt = text.find('>');
    if (gt == std::string::npos)
        throw std::invalid_argument("\"" + text + "\": expected METRIC[(FUNCTION)] > LIMIT");
    Clause c;
    std::string head = trim(text.substr(0, gt));
    c.text = trim(text.substr(gt + 1));
    if (size_t const open = head.find('('); open != std::string::npos) {
        if (head.back() != ')') throw std::invalid_argument("\"" + text + "\": unclosed '('");
        c.function = head.substr(open + 1, head.size() - open - 2);
        head = trim(head.substr(0, open));
        if (function_id(c.function) < 0)
            throw std::invalid_argument("\"" + text + "\": no function \"" + c.function + "\"");
    }
    c.metric = head;
    char* end = nullptr;
    c.limit = std::strtod(c.text.c_str(), &end);
    std::string const unit = trim(end);
    if (end == c.text.c_str() || !std::isfinite(c.limit) || c.limit < 0)
        throw std::invalid_argument("\"" + text + "\": the limit must be a number");
    if (is_latency(c.metric)) {
        double const scale = unit.empty() || unit == "us" ? 1
                             : unit == "ms"               ? 1e3
                             : unit == "s"                ? 1e6
                                                          : 0;
        if (scale == 0)
            throw std::invalid_argument("\"" + text + "\": a latency is in us, ms or s");
        c.limit *= scale;
    } else if (c.metric == "failures" || c.metric == "degradation") {
        if (unit != "%") throw std::invalid_argument("\"" + text + "\": " + c.metric + " is in %");
    } else {
        throw std::invalid_argument("\"" + text + "\": no metric \"" + c.metric +
                                    "\" (p50, p90, p99, p999, max, failures, degradation)");
    }
    return c;
}

std::string latency_text(double us) {
    char text[32];
    if (us >= 1e6) {
        std::snprintf(text, sizeof text, "%.3g s", us / 1e6);
    } else if (us >= 1e3) {
        std::snprintf(text, sizeof text, "%.3g ms", us / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.3g us", us);
    }
    return text;
}

double round3(double v) { return std::round(v * 1000) / 1000; }

double percent(uint64_t part, uint64_t whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0;
}

// The p99 of the function named in a report, or of all its requests.
double p99_of(Report const& report, std::string const& function) {
    if (function.empty()) {
        FunctionStats const requests = report.requests();
        return requests.calls ? round3(requests.quantile(0.99)) : 0;
    }
    FunctionStats const* f = report.function(function);
    return f ? round3(f->quantile(0.99)) : 0;
}

// A latency of a function's figures by the metric's name.
double latency_of(FunctionStats const& f, std::string const& metric) {
    if (metric == "max") return round3(f.max_us);
    double const q = metric == "p50" ? 0.5 : metric == "p90" ? 0.9 : metric == "p99" ? 0.99 : 0.999;
    return round3(f.quantile(q));
}

}  // namespace

std::vector<std::string> check(std::string const& expression, std::string const& path) {
    std::vector<Clause> clauses;
    for (size_t at = 0; at <= expression.size();) {
        size_t const comma = std::min(expression.find(',', at), expression.size());
        clauses.push_back(parse_clause(expression.substr(at, comma - at)));
        at = comma + 1;
    }
    bool const timeline = ReportReader(path).timeline();
    Report const whole = stats_files::whole(path);
    // By name, as the lines come out.
    std::map<std::string_view, FunctionStats const*> functions;
    for (auto const& [id, f] : whole.functions) functions[function_info(id).name] = &f;
    std::vector<std::string> crossed;
    char line[512];
    for (Clause const& c : clauses) {
        if (is_latency(c.metric)) {
            for (auto const& [name, f] : functions) {
                if (!c.function.empty() && name != c.function) continue;
                double const value = latency_of(*f, c.metric);
                if (value <= c.limit) continue;
                std::snprintf(line, sizeof line, "%s of %s is %s, over %s", c.metric.c_str(),
                              std::string(name).c_str(), latency_text(value).c_str(),
                              c.text.c_str());
                crossed.push_back(line);
            }
        } else if (c.metric == "failures") {
            FunctionStats const* f = c.function.empty() ? nullptr : whole.function(c.function);
            double const value = c.function.empty() ? percent(whole.failures(), whole.calls())
                                 : f                ? percent(f->failures(), f->calls)
                                                    : 0;
            if (value <= c.limit) continue;
            std::snprintf(line, sizeof line, "failures of %s are %.3g%%, over %s",
                          c.function.empty() ? "all calls" : c.function.c_str(), value,
                          c.text.c_str());
            crossed.push_back(line);
        } else {
            if (!timeline)
                throw std::invalid_argument("degradation needs a timeline, not a statistics file");
            // Read twice, to count the intervals and then to add up the quarters.
            uint64_t n = 0;
            each_interval(path, [&](Report const&) { ++n; });
            uint64_t const quarter = std::max<uint64_t>(1, n / 4);
            Intervals first, last;
            uint64_t at = 0;
            each_interval(path, [&](Report const& r) {
                if (at < quarter) first.add(r);
                if (at++ >= n - quarter) last.add(r);
            });
            double const from = p99_of(first.whole(), c.function);
            double const to = p99_of(last.whole(), c.function);
            double const value = from > 0 ? (to - from) / from * 100 : 0;
            if (value <= c.limit) continue;
            std::snprintf(line, sizeof line,
                          "p99 of %s rose %.3g%% from the first quarter to the last (%s to %s), "
                          "over %s",
                          c.function.empty() ? "all requests" : c.function.c_str(), value,
                          latency_text(from).c_str(), latency_text(to).c_str(), c.text.c_str());
            crossed.push_back(line);
        }
    }
    return crossed;
}

}  // namespace kovra_sim::stats_files
