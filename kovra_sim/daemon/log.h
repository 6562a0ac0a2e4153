// The daemon's log: one line per event worth a person's attention, to
// stderr (the default, for a daemon in the foreground or under systemd) or
// to syslog.
#pragma once

#include <string>
#include <string_view>

namespace kovra_sim {

enum class LogTo { stderr_stream, syslog };

void log_to(LogTo where);
// printf-style, with the program's name in front and a newline. The line
// goes through escaped(): what a client sent cannot start a line of its own
// or steer a terminal.
void log_line(char const* format, ...) __attribute__((format(printf, 1, 2)));

// `text` on one line: \n, \r, \t, other control characters and bytes past
// ASCII as \xNN, and a backslash as \\ so that an escape is always one.
std::string escaped(std::string_view text);

}  // namespace kovra_sim
