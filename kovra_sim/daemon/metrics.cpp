#include "daemon/metrics.h"

#include "stats/prometheus.h"

namespace kovra_sim {

std::string metrics_text(MetricFigures const& f) {
    using namespace prometheus;
    std::string out = requests(f.stats);
    family(out, "kovra_camd_connections_open", "gauge", "Client connections open now.");
    sample(out, "kovra_camd_connections_open", "", double(f.connections_open));
    family(out, "kovra_camd_connections_total", "counter", "Client connections accepted.");
    sample(out, "kovra_camd_connections_total", "", double(f.connections_total));
    by_label(out, "kovra_camd_faults_injected_total", "Faults injected, by kind.", "kind",
             f.faults);
    out += restarts(f.stats);
    by_label(out, "kovra_camd_announcements_total",
             "Announcements of a restarted target delivered to subscribed connections.", "target",
             f.announcements);
    family(out, "kovra_camd_settings_drifted", "gauge",
           "Settings whose values differ from the daemon's start.");
    sample(out, "kovra_camd_settings_drifted", "", double(f.settings_drifted));
    return out;
}

}  // namespace kovra_sim
