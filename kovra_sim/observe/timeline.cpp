#include "observe/timeline.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/files.h"

namespace kovra_sim {

Timeline::~Timeline() {
    std::string ignored;
    finish(ignored);
}

bool Timeline::start(std::string const& path, std::chrono::seconds interval, Stats& stats,
                     std::string& error) {
    std::string ignored;
    finish(ignored);
    int const fd = open_exclusive(path, error);
    if (fd < 0) return false;
    std::lock_guard lock(mutex_);
    fd_ = fd;
    stats_ = &stats;
    interval_ = interval;
    lines_ = 0;
    stop_ = false;
    stats.cut();  // the first line starts now
    try {
        writer_ = std::thread(&Timeline::write_every, this);
    } catch (std::system_error const&) {
        ::close(fd_);
        fd_ = -1;
        error = "cannot start its writer thread";
        return false;
    }
    return true;
}

void Timeline::write_every() {
    std::unique_lock lock(mutex_);
    auto next = std::chrono::steady_clock::now() + interval_;
    while (!stop_) {
        if (wake_.wait_until(lock, next, [&] { return stop_; })) break;
        write_line();
        next += interval_;
    }
}

void Timeline::write_line() {
    Report line = stats_->cut();
    line.interval = lines_++;
    std::string error;
    if (!write_all(fd_, to_json(line).dump() + "\n", error) && error_.empty()) error_ = error;
}

bool Timeline::finish(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return true;
    write_line();
    bool ok = error_.empty();
    if (!ok) error = error_;
    error_.clear();
    if (::close(fd_) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

}  // namespace kovra_sim
