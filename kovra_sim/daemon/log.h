// The daemon's log: one line per event worth a person's attention, to
// stderr (the default, for a daemon in the foreground or under systemd) or
// to syslog.
#pragma once

#include <string>
#include <string_view>

namespace kovra_sim {

enum class LogTo { stderr_stream, syslog };

void log_to(LogTo where);
// printf-style; the line gets the program's name in front and a newline.
// Every line goes through escaped(): what a client sent (a posted body, a
// target, an error naming its text) cannot start a line of its own or
// steer a terminal.
void log_line(char const* format, ...) __attribute__((format(printf, 1, 2)));

// `text` on one line, readable as it came: a control character as \n, \r,
// \t or \xNN, a byte past ASCII as \xNN, and a backslash as \\ so that an
// escape in the log always means an escaped byte.
std::string escaped(std::string_view text);

}  // namespace kovra_sim
