// kovra-stats's tables of a timeline and of two runs compared.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {

void each_interval(std::string const& path, std::function<void(Report const&)> const& take,
                   std::function<void(timeline::Line const&)> const& mark) {
    each_line(path, [&](timeline::Line const& line) {
        if (line.kind == timeline::Line::interval) {
            take(line.report);
        } else if (mark) {
            mark(line);
        }
    });
}

void print_timeline(std::string const& path, std::ostream& out) {
    char row[512];
    // "behind us": how late a paced run's latest request of the interval went.
    std::snprintf(row, sizeof row, "%8s %12s %10s %10s %8s %10s %10s %10s %10s  %s\n", "interval",
                  "end (UTC)", "end s", "requests", "failed", "p50 us", "p99 us", "max us",
                  "behind us", "announcements");
    out << row;
    each_interval(
        path,
        [&](Report const& i) {
            std::string announced;
            for (auto const& [target, n] : i.announcements)
                announced += (announced.empty() ? "" : " ") + target + "*" + std::to_string(n);
            FunctionStats const requests = i.requests();
            bool const any = requests.calls > 0;
            std::string const clock =
                i.end_clock ? timeline::iso_utc(*i.end_clock).substr(11, 12) : "-";
            char behind[32] = "-";
            if (i.behind) std::snprintf(behind, sizeof behind, "%.1f", round3(i.behind->max_us));
            std::snprintf(row, sizeof row,
                          "%8llu %12s %10.3f %10llu %8llu %10.1f %10.1f %10.1f %10s  %s\n",
                          static_cast<unsigned long long>(i.interval.value_or(0)), clock.c_str(),
                          i.end_s.value_or(0), static_cast<unsigned long long>(requests.calls),
                          static_cast<unsigned long long>(i.failures()),
                          any ? round3(requests.quantile(0.5)) : 0.0,
                          any ? round3(requests.quantile(0.99)) : 0.0, round3(i.slowest_us()),
                          behind, announced.c_str());
            out << row;
        },
        [&](timeline::Line const& mark) {
            if (mark.kind == timeline::Line::start) {
                out << "run " << timeline::iso_utc(mark.run.clock) << ": " << mark.run.command
                    << " (process " << mark.run.pid << ", intervals of " << mark.run.interval_s
                    << " s)\n";
            } else if (mark.kind == timeline::Line::halved) {
                out << "the intervals above were merged in pairs at "
                    << timeline::iso_utc(mark.clock) << "; from here they are " << mark.interval_s
                    << " s\n";
            }
        });
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
