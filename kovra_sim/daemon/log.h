// The daemon's log: one line per event worth a person's attention, to
// stderr (the default, for a daemon in the foreground or under systemd) or
// to syslog.
#pragma once

namespace kovra_sim {

enum class LogTo { stderr_stream, syslog };

void log_to(LogTo where);
// printf-style; the line gets the program's name in front and a newline.
void log_line(char const* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kovra_sim
