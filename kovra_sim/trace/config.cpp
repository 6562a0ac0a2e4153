#include "trace/config.h"

namespace kovra_sim::trace {

bool parse_trace_config(std::string_view text, TraceConfig& out, std::string& error) {
    TraceConfig c;
    auto const take = [&](Directive const& d, std::string& why) {
        if (take_output(d, c.outputs)) return true;
        switch (d.id) {
            case DirectiveId::fail:
                return parse_fault(d.value, c.faults.emplace_back(), why);
            case DirectiveId::latency:
                c.latency_us = d.number;
                return true;
            case DirectiveId::duration:
                c.duration = std::chrono::microseconds(d.number);
                return true;
            case DirectiveId::rate:
                c.rate = uint32_t(d.number);
                return true;
            case DirectiveId::ramp:
                c.ramp = std::chrono::microseconds(d.number);
                return true;
            default:
                why = "not taken here";
                return false;
        }
    };
    if (!parse_directives(text, Place::trace, take, error) || !distinct_files(c.outputs, {}, error))
        return false;
    if (c.ramp.count() && !c.rate) {
        error = "ramp= goes with rate=";
        return false;
    }
    out = std::move(c);
    return true;
}

}  // namespace kovra_sim::trace
