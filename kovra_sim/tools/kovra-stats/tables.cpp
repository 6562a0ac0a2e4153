// kovra-stats's tables of a timeline and of two runs compared.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

double round3(double v) { return std::round(v * 1000) / 1000; }

}  // namespace

std::string timeline_table(std::vector<Report> const& intervals) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%8s %10s %10s %8s %10s %10s %10s  %s\n", "interval", "end s",
                  "requests", "failed", "p50 us", "p99 us", "max us", "announcements");
    out += line;
    for (Report const& i : intervals) {
        std::string announced;
        for (auto const& [target, n] : i.announcements)
            announced += (announced.empty() ? "" : " ") + target + "*" + std::to_string(n);
        FunctionStats const requests = i.requests();
        bool const any = requests.calls > 0;
        std::snprintf(line, sizeof line, "%8llu %10.3f %10llu %8llu %10.1f %10.1f %10.1f  %s\n",
                      static_cast<unsigned long long>(i.interval.value_or(0)), i.end_s.value_or(0),
                      static_cast<unsigned long long>(requests.calls),
                      static_cast<unsigned long long>(i.failures()),
                      any ? round3(requests.quantile(0.5)) : 0.0,
                      any ? round3(requests.quantile(0.99)) : 0.0, round3(i.slowest_us()),
                      announced.c_str());
        out += line;
    }
    return out;
}

std::string compare_table(Report const& a, Report const& b) {
    std::map<std::string, std::pair<FunctionStats const*, FunctionStats const*>> rows;
    for (auto const& [id, f] : a.functions) rows[function_info(id).name].first = &f;
    for (auto const& [id, f] : b.functions) rows[function_info(id).name].second = &f;
    size_t width = 8;
    for (auto const& [name, row] : rows) width = std::max(width, name.size());
    auto change = [](FunctionStats const* x, FunctionStats const* y, double q) {
        char cell[64];
        if (!x || !y) return std::string("-");
        double const from = round3(x->quantile(q)), to = round3(y->quantile(q));
        std::snprintf(cell, sizeof cell, "%.1f>%.1f %+.0f%%", from, to,
                      from > 0 ? (to - from) / from * 100 : 0.0);
        return std::string(cell);
    };
    auto calls = [](FunctionStats const* f) {
        return f ? std::to_string(f->calls) : std::string("-");
    };
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s %10s %10s %24s %24s\n", int(width), "function",
                  "calls A", "calls B", "p50 us A>B", "p99 us A>B");
    out += line;
    for (auto const& [name, row] : rows) {
        std::snprintf(line, sizeof line, "%-*s %10s %10s %24s %24s\n", int(width), name.c_str(),
                      calls(row.first).c_str(), calls(row.second).c_str(),
                      change(row.first, row.second, 0.5).c_str(),
                      change(row.first, row.second, 0.99).c_str());
        out += line;
    }
    std::snprintf(line, sizeof line, "requests/s: %.0f > %.0f\n", a.requests_per_second.value_or(0),
                  b.requests_per_second.value_or(0));
    return out + line;
}

}  // namespace kovra_sim::stats_files
