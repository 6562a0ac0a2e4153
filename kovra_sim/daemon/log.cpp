#include "daemon/log.h"

#include <syslog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace kovra_sim {
namespace {

std::atomic<LogTo> destination{LogTo::stderr_stream};

}  // namespace

void log_to(LogTo where) {
    if (where == LogTo::syslog) openlog("kovra-camd", LOG_PID, LOG_DAEMON);
    destination.store(where);
}

void log_line(char const* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (destination.load() == LogTo::syslog) {
        syslog(LOG_NOTICE, "%s", line);
    } else {
        std::fprintf(stderr, "kovra-camd: %s\n", line);
    }
}

}  // namespace kovra_sim
