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

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char const c : text) {
        auto const byte = static_cast<unsigned char>(c);
        // A backslash, newline, return or tab as a backslash and its letter.
        if (size_t const named = std::string_view("\\\n\r\t").find(c);
            named != std::string_view::npos) {
            out += '\\';
            out += "\\nrt"[named];
        } else if (byte < 0x20 || byte >= 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

void log_line(char const* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::string const text = escaped(line);
    if (destination.load() == LogTo::syslog) {
        syslog(LOG_NOTICE, "%s", text.c_str());
    } else {
        std::fprintf(stderr, "kovra-camd: %s\n", text.c_str());
    }
}

}  // namespace kovra_sim
