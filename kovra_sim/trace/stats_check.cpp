// kovra-stats --check: thresholds over a statistics file or a timeline.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "stats.h"
#include "stats_files.h"

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

// The share of failed calls of one function's figures, or of a whole report's.
double failure_percent(nlohmann::json const& figures) {
    uint64_t calls = 0, failed = 0;
    auto add = [&](nlohmann::json const& f) {
        calls += f.at("calls").get<uint64_t>();
        for (auto const& [status, n] : f.at("statuses").items())
            if (status != "0") failed += n.get<uint64_t>();
    };
    if (figures.contains("functions")) {
        for (auto const& [name, f] : figures.at("functions").items()) add(f);
    } else {
        add(figures);
    }
    return calls ? 100.0 * double(failed) / double(calls) : 0;
}

// The p99 of the function named in a report, or of all its requests.
double p99_of(nlohmann::json const& report, std::string const& function) {
    if (function.empty()) return report.value("p99_us", 0.0);
    auto const& functions = report.at("functions");
    return functions.contains(function) ? functions.at(function).at("p99_us").get<double>() : 0;
}

}  // namespace

std::vector<std::string> check(std::string const& expression, Loaded const& loaded) {
    std::vector<Clause> clauses;
    for (size_t at = 0; at <= expression.size();) {
        size_t const comma = std::min(expression.find(',', at), expression.size());
        clauses.push_back(parse_clause(expression.substr(at, comma - at)));
        at = comma + 1;
    }
    nlohmann::json const whole = loaded.whole();
    std::vector<std::string> crossed;
    char line[512];
    for (Clause const& c : clauses) {
        if (is_latency(c.metric)) {
            for (auto const& [name, f] : whole.at("functions").items()) {
                if (!c.function.empty() && name != c.function) continue;
                double const value = f.at(c.metric + "_us");
                if (value <= c.limit) continue;
                std::snprintf(line, sizeof line, "%s of %s is %s, over %s", c.metric.c_str(),
                              name.c_str(), latency_text(value).c_str(), c.text.c_str());
                crossed.push_back(line);
            }
        } else if (c.metric == "failures") {
            auto const& functions = whole.at("functions");
            double const value = c.function.empty() ? failure_percent(whole)
                                 : functions.contains(c.function)
                                     ? failure_percent(functions.at(c.function))
                                     : 0;
            if (value <= c.limit) continue;
            std::snprintf(line, sizeof line, "failures of %s are %.3g%%, over %s",
                          c.function.empty() ? "all calls" : c.function.c_str(), value,
                          c.text.c_str());
            crossed.push_back(line);
        } else {
            if (!loaded.timeline)
                throw std::invalid_argument("degradation needs a timeline, not a statistics file");
            size_t const n = loaded.reports.size();
            size_t const quarter = std::max<size_t>(1, n / 4);
            std::vector<nlohmann::json> const first(loaded.reports.begin(),
                                                    loaded.reports.begin() + long(quarter));
            std::vector<nlohmann::json> const last(loaded.reports.end() - long(quarter),
                                                   loaded.reports.end());
            double const from = p99_of(Stats::merge(first), c.function);
            double const to = p99_of(Stats::merge(last), c.function);
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
