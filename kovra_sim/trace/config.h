// What KOVRA_TRACE asks of the trace layer: the files it writes, the faults
// it injects and the latency it adds.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/directives.h"

namespace kovra_sim::trace {

struct TraceConfig {
    Outputs outputs;
    std::vector<Fault> faults;
    uint32_t latency_us = 0;
    std::optional<std::chrono::microseconds> duration;
    uint32_t rate = 0;  // requests a second in all; 0: as fast as they come
    std::chrono::microseconds ramp{0};
};

// Parses the directives of KOVRA_TRACE; false with the reason in `error`.
bool parse_trace_config(std::string_view text, TraceConfig& out, std::string& error);

}  // namespace kovra_sim::trace
