#pragma once

#include <string>

#include "stats/timeline_format.h"

// `r` as the timeline line of the `i`-th interval of 10 s of a run begun at
// `clock`, cut to `seconds` (a run stopped within it).
inline std::string interval_text(kovra_sim::Report r, size_t i, double clock, double seconds = 10) {
    r.interval = i;
    r.start_s = 10.0 * double(i);
    r.end_s = *r.start_s + seconds;
    r.start_clock = clock + *r.start_s;
    r.end_clock = clock + *r.end_s;
    return kovra_sim::timeline::interval_line(r) + "\n";
}
