#include "journal.h"

#include <unistd.h>

#include "files.h"
#include "value.h"

namespace kovra_sim {
namespace {

constexpr size_t kFlushBytes = 64 * 1024;
constexpr auto kFlushAge = std::chrono::milliseconds(100);

}  // namespace

Journal::~Journal() {
    std::string ignored;
    close_file(ignored);
}

void Journal::enable(int mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    update_on();
}

void Journal::update_on() { on_.store(mode_ != 0 || fd_ >= 0, std::memory_order_relaxed); }

bool Journal::open_file(std::string const& path, std::string& error) {
    int const fd = open_exclusive(path, error);
    if (fd < 0) return false;
    std::string ignored;
    close_file(ignored);
    std::lock_guard lock(mutex_);
    fd_ = fd;
    buffer_.reserve(kFlushBytes);
    flushed_ = std::chrono::steady_clock::now();
    update_on();
    return true;
}

bool Journal::flush_locked(std::string& error) {
    flushed_ = std::chrono::steady_clock::now();
    if (fd_ < 0 || buffer_.empty()) return true;
    bool const ok = write_all(fd_, buffer_, error);
    buffer_.clear();
    return ok;
}

bool Journal::flush(std::string& error) {
    std::lock_guard lock(mutex_);
    return flush_locked(error);
}

bool Journal::close_file(std::string& error) {
    std::lock_guard lock(mutex_);
    bool ok = flush_locked(error);
    if (!write_error_.empty()) {
        error = write_error_;
        ok = false;
    }
    write_error_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    update_on();
    return ok;
}

void Journal::add(std::string line) {
    thread_local uint64_t epoch = 0;
    thread_local uint32_t number = 0;
    std::lock_guard lock(mutex_);
    if (mode_ == 2) {
        if (epoch != epoch_) {
            epoch = epoch_;
            number = ++threads_;
        }
        line.insert(0, "T" + std::to_string(number) + " ");
    }
    if (fd_ >= 0) {
        buffer_ += line;
        buffer_ += '\n';
        if (buffer_.size() >= kFlushBytes ||
            std::chrono::steady_clock::now() - flushed_ > kFlushAge) {
            // A journal that cannot be written is reported when it is closed.
            std::string error;
            if (!flush_locked(error) && write_error_.empty()) write_error_ = error;
        }
    }
    if (mode_ != 0) lines_.push_back(std::move(line));
}

void Journal::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    ++epoch_;
    threads_ = 0;
}

size_t Journal::size() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

std::string Journal::line(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < lines_.size() ? lines_[index] : std::string();
}

Entry& Entry::next() {
    if (!first_) line_ += ", ";
    first_ = false;
    return *this;
}

Entry& Entry::raw(std::string const& s) {
    next().line_ += s;
    return *this;
}

Entry& Entry::text(char const* s) { return raw(quote(s)); }

Entry& Entry::handle(void const* p, uint32_t number) {
    return raw(!p ? "null" : number ? "#" + std::to_string(number) : "#?");
}

Entry& Entry::pointer(void const* p) { return raw(p ? "ptr" : "null"); }

std::string Entry::done(int32_t status) { return line_ + ") = " + std::to_string(status); }

}  // namespace kovra_sim
