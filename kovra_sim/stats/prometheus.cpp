#include "stats/prometheus.h"

#include <cmath>
#include <cstdio>

#include "common/functions.h"

namespace kovra_sim::prometheus {
namespace {

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

// The `le` edges: every tenth edge of the statistics' bins from 1 us (the
// 80th) to 10 s, as the bin that starts there.
constexpr int kFirstEdgeBin = 2 * kBinsPerDecade;
constexpr int kEdgeStride = kBinsPerDecade / 4;
constexpr int kEdges = 29;

}  // namespace

// A label value with \, " and newlines escaped.
std::string label(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

void family(std::string& out, char const* name, char const* type, char const* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& out, std::string const& name, std::string const& labels, double value) {
    out += name + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
}

// One counter family with a single label, one sample per entry.
void by_label(std::string& out, char const* name, char const* help, char const* key,
              std::map<std::string, uint64_t> const& entries) {
    family(out, name, "counter", help);
    for (auto const& [value, n] : entries)
        sample(out, name, std::string(key) + "=\"" + label(value) + "\"", double(n));
}

std::vector<double> duration_edges() {
    std::vector<double> edges;
    LatencyAxis const axis = latency_axis();
    for (int k = 0; k < kEdges; ++k)
        edges.push_back(axis.bin(kFirstEdgeBin + k * kEdgeStride).lower() / 1e6);
    return edges;
}

std::string requests(Report const& report) {
    std::string out;
    // By name, as they are listed.
    std::map<std::string, FunctionStats const*> functions;
    for (auto const& [id, fn] : report.functions) functions[function_info(id).name] = &fn;
    family(out, "kovra_camd_requests_total", "counter", "Requests served, by function and status.");
    for (auto const& [name, fn] : functions) {
        // Statuses in the order of their text, as the statistics file has them.
        std::map<std::string, uint64_t> statuses;
        for (auto const& [status, n] : fn->statuses) statuses[std::to_string(status)] = n;
        for (auto const& [status, n] : statuses) {
            sample(out, "kovra_camd_requests_total",
                   "function=\"" + label(name) + "\",status=\"" + status + "\"", double(n));
        }
    }
    family(out, "kovra_camd_request_duration_seconds", "histogram",
           "Service time of requests, by function.");
    std::vector<double> const edges = duration_edges();
    for (auto const& [name, fn] : functions) {
        std::string const fn_label = "function=\"" + label(name) + "\"";
        std::string const bucket = "kovra_camd_request_duration_seconds_bucket";
        std::vector<std::pair<int, uint64_t>> const bins = fn->bins();
        size_t at = 0;
        uint64_t below = 0;
        for (int k = 0; k < kEdges; ++k) {
            for (; at < bins.size() && bins[at].first < kFirstEdgeBin + k * kEdgeStride; ++at)
                below += bins[at].second;
            sample(out, bucket, fn_label + ",le=\"" + number(edges[size_t(k)]) + "\"",
                   double(below));
        }
        sample(out, bucket, fn_label + ",le=\"+Inf\"", double(fn->calls));
        sample(out, "kovra_camd_request_duration_seconds_sum", fn_label,
               std::round(fn->sum_us * 1000) / 1000 / 1e6);
        sample(out, "kovra_camd_request_duration_seconds_count", fn_label, double(fn->calls));
    }
    return out;
}

std::string restarts(Report const& report) {
    std::string out;
    // The statistics count a target's restarts as it announces itself once each.
    std::map<std::string, uint64_t> restarts;
    for (auto const& [target, n] : report.announcements) restarts[target] = n;
    by_label(out, "kovra_camd_target_restarts_total", "Restarts of a service's target.", "target",
             restarts);
    return out;
}

}  // namespace kovra_sim::prometheus
