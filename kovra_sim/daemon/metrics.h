// The daemon's figures in the Prometheus text format 0.0.4 (GET /metrics).
// Requests and service times come from the report the --stats file holds,
// so the two agree for the same run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "stats/report.h"

namespace kovra_sim {

struct MetricFigures {
    Report stats;
    uint64_t connections_open = 0;
    uint64_t connections_total = 0;
    std::map<std::string, uint64_t> faults;  // injected, by kind
    // Announcements delivered to subscribed connections, by target.
    std::map<std::string, uint64_t> announcements;
    uint64_t settings_drifted = 0;
};

std::string metrics_text(MetricFigures const& figures);

}  // namespace kovra_sim
