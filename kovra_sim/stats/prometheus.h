// A statistics report in the Prometheus text exposition format 0.0.4: the
// daemon serves it on GET /metrics, the trace layer writes it to a file
// for node_exporter's textfile collector; one dashboard reads both. The
// histogram's `le` edges are edges of the report's own bins, so that a
// cumulative count is exact rather than interpolated.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "stats/report.h"

namespace kovra_sim::prometheus {

// The `le` edges in seconds: four a decade from 1 us to 10 s (a time
// exactly at an edge counts above it, in the bin that starts there).
std::vector<double> duration_edges();

// Requests by function and status (kovra_camd_requests_total) and their
// times (kovra_camd_request_duration_seconds).
std::string requests(Report const& report);
// Restarts of each target, each counted as it announced itself once.
std::string restarts(Report const& report);

// The pieces the text is made of.
std::string label(std::string_view value);
void family(std::string& out, char const* name, char const* type, char const* help);
void sample(std::string& out, std::string const& name, std::string const& labels, double value);
// A counter family with a single label, a sample per entry.
void by_label(std::string& out, char const* name, char const* help, char const* key,
              std::map<std::string, uint64_t> const& entries);

}  // namespace kovra_sim::prometheus
