#pragma once

#include <string>

#include "stats/timeline_format.h"

// `r` as the timeline line of the `i`-th interval of 10 s of a run begun at `clock`.
inline std::string interval_text(kovra_sim::Report r, size_t i, double clock) {
    r.interval = i;
    r.start_s = 10.0 * double(i);
    r.end_s = *r.start_s + 10;
    r.start_clock = clock + *r.start_s;
    r.end_clock = clock + *r.end_s;
    return kovra_sim::timeline::interval_line(r) + "\n";
}
