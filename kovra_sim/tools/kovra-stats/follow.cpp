// kovra-stats --follow: a timeline as the trace layer writes it, a line an
// interval, until the run that writes it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

using namespace std::chrono_literals;

// Whether a process still writes the file: its writer holds a lock on it.
bool written(std::string const& path) {
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool const locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

ino_t inode(std::string const& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string summary(Report const& i) {
    FunctionStats const requests = i.requests();
    double const seconds = i.end_s.value_or(0) - i.start_s.value_or(0);
    // The worst function: the highest p99.
    int worst = -1;
    double worst_p99 = 0;
    for (auto const& [id, f] : i.functions) {
        if (is_request(id) && f.quantile(0.99) > worst_p99) {
            worst = id;
            worst_p99 = f.quantile(0.99);
        }
    }
    // A paced run: how late its requests started, at worst.
    char behind[64] = "";
    if (i.behind)
        std::snprintf(behind, sizeof behind, "  behind plan %.1f ms", i.behind->max_us / 1000);
    char line[576];
    std::snprintf(line, sizeof line,
                  "%s  %8.0f requests/s  %6llu failed  p50 %9.1f us  p99 %9.1f us  worst %s "
                  "(p99 %.1f us)%s\n",
                  i.end_clock ? timeline::iso_utc(*i.end_clock).c_str() : "-",
                  seconds > 0 ? double(requests.calls) / seconds : 0.0,
                  static_cast<unsigned long long>(i.failures()),
                  requests.calls ? requests.quantile(0.5) : 0.0,
                  requests.calls ? requests.quantile(0.99) : 0.0,
                  worst < 0 ? "-" : function_info(worst).name, worst_p99, behind);
    return line;
}

// The writer locks the file before its first line is whole (a gzip
// timeline shows nothing until its first interval is flushed), so while it
// writes, a file that does not read yet is waited for.
ReportReader open_written(std::string const& path) {
    while (true) {
        try {
            return ReportReader(path);
        } catch (std::runtime_error const&) {
            if (!written(path)) throw;
        }
        std::this_thread::sleep_for(200ms);
    }
}

}  // namespace

void follow(std::string const& path, std::ostream& out) {
    // What ended before it started is passed over, told by the clock:
    // earlier runs of the day, and the lines of this one already shown
    // when a halving writes the file anew.
    double shown =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    // Like tail -F, it waits for a run to write the file.
    while (!written(path)) std::this_thread::sleep_for(200ms);
    while (true) {
        ino_t const file = inode(path);
        ReportReader reader = open_written(path);
        timeline::Line line;
        bool last_pass = false;
        while (inode(path) == file) {
            if (!reader.next(line)) {
                // Once the writer is gone, what it wrote last is read in
                // one more pass.
                if (last_pass) return;
                last_pass = !written(path);
                if (!last_pass) std::this_thread::sleep_for(200ms);
                continue;
            }
            if (line.kind == timeline::Line::end && line.clock > shown) return;
            if (line.kind != timeline::Line::interval) continue;
            double const end = line.report.end_clock.value_or(0);
            if (end <= shown) continue;
            shown = end;
            out << summary(line.report) << std::flush;
        }
    }
}

}  // namespace kovra_sim::stats_files
