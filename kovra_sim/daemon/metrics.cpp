#include "metrics.h"

#include <cmath>
#include <cstdio>

namespace kovra_sim {
namespace {

// A label value with \, " and newlines escaped.
std::string label(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
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

}  // namespace

std::vector<double> duration_edges() {
    std::vector<double> edges;
    for (int k = 0; k <= 28; ++k) edges.push_back(1e-6 * std::pow(10.0, k / 4.0));
    return edges;
}

std::string metrics_text(Figures const& f) {
    std::string out;
    nlohmann::json const& functions = f.stats.at("functions");
    family(out, "kovra_camd_requests_total", "counter", "Requests served, by function and status.");
    for (auto const& [name, fn] : functions.items()) {
        for (auto const& [status, n] : fn.at("statuses").items()) {
            sample(out, "kovra_camd_requests_total",
                   "function=\"" + label(name) + "\",status=\"" + label(status) + "\"",
                   n.get<double>());
        }
    }
    family(out, "kovra_camd_request_duration_seconds", "histogram",
           "Service time of requests, by function.");
    std::vector<double> const edges = duration_edges();
    for (auto const& [name, fn] : functions.items()) {
        std::string const fn_label = "function=\"" + label(name) + "\"";
        std::string const bucket = "kovra_camd_request_duration_seconds_bucket";
        // Bucket edges are rounded to a thousandth of a microsecond in the
        // report: a bin belongs below `le` when within that rounding of it.
        size_t at = 0;
        uint64_t below = 0;
        auto const& buckets = fn.at("buckets");
        for (double le : edges) {
            for (; at < buckets.size() && buckets[at].at(0).get<double>() <= le * 1e6 * (1 + 1e-4);
                 ++at)
                below += buckets[at].at(1).get<uint64_t>();
            sample(out, bucket, fn_label + ",le=\"" + number(le) + "\"", double(below));
        }
        sample(out, bucket, fn_label + ",le=\"+Inf\"", fn.at("calls").get<double>());
        sample(out, "kovra_camd_request_duration_seconds_sum", fn_label,
               fn.value("sum_us", 0.0) / 1e6);
        sample(out, "kovra_camd_request_duration_seconds_count", fn_label,
               fn.at("calls").get<double>());
    }
    family(out, "kovra_camd_connections_open", "gauge", "Client connections open now.");
    sample(out, "kovra_camd_connections_open", "", double(f.connections_open));
    family(out, "kovra_camd_connections_total", "counter", "Client connections accepted.");
    sample(out, "kovra_camd_connections_total", "", double(f.connections_total));
    by_label(out, "kovra_camd_faults_injected_total", "Faults injected, by kind.", "kind",
             f.faults);
    // The statistics count a target's restarts as it announces itself once each.
    std::map<std::string, uint64_t> restarts;
    for (auto const& [target, n] : f.stats.at("announcements").items())
        restarts[target] = n.get<uint64_t>();
    by_label(out, "kovra_camd_target_restarts_total", "Restarts of a service's target.", "target",
             restarts);
    by_label(out, "kovra_camd_announcements_total",
             "Announcements of a restarted target delivered to subscribed connections.", "target",
             f.announcements);
    family(out, "kovra_camd_settings_drifted", "gauge",
           "Settings whose values differ from the daemon's start.");
    sample(out, "kovra_camd_settings_drifted", "", double(f.settings_drifted));
    return out;
}

}  // namespace kovra_sim
