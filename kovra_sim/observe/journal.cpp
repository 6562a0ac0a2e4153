#include "observe/journal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <system_error>

#include "common/files.h"

namespace kovra_sim {
namespace {

constexpr size_t kFlushBytes = 64 * 1024;
constexpr auto kFlushAge = std::chrono::milliseconds(100);

// The journals with a file open, for the fatal-signal handler.
std::atomic<Journal*> streaming[4];

// On a signal that would end the process, what the journals hold goes out
// before it ends as it would have. Only signals the program left at their
// default get this, so its own handlers (ipc_soak's Ctrl-C) stay in charge.
extern "C" void flush_and_die(int signal) {
    for (auto& j : streaming) {
        if (Journal* journal = j.load()) journal->flush_on_signal();
    }
    ::raise(signal);  // the handler was installed with SA_RESETHAND
}

void catch_fatal_signals() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal :
             {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction flush {};
            flush.sa_handler = flush_and_die;
            flush.sa_flags = SA_RESETHAND;
            sigemptyset(&flush.sa_mask);
            ::sigaction(signal, &flush, nullptr);
        }
    });
}

}  // namespace

Journal::~Journal() {
    std::string ignored;
    close_file(ignored);
}

void Journal::flush_on_signal() {
    int const fd = fd_.load();
    size_t const n = committed_.load();
    // Only whole lines are committed, and the buffer never moves.
    if (fd >= 0 && n > 0 && ::write(fd, buffer_.get(), n) >= 0) committed_.store(0);
}

void Journal::enable(int mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    update_on();
}

void Journal::update_on() { on_.store(mode_ != 0 || fd_.load() >= 0, std::memory_order_relaxed); }

bool Journal::open_file(std::string const& path, uint64_t max_bytes, std::string& error,
                        bool append) {
    int const fd = open_exclusive(path, error, append);
    if (fd < 0) return false;
    std::string ignored;
    close_file(ignored);
    std::lock_guard lock(mutex_);
    path_ = path;
    max_bytes_ = max_bytes;
    written_ = 0;
    if (!buffer_) buffer_.reset(new char[kFlushBytes]);
    try {
        writer_ = std::thread(&Journal::write_behind, this);
    } catch (std::system_error const&) {
        ::close(fd);
        error = "cannot start its writer thread";
        return false;
    }
    fd_.store(fd);
    update_on();
    for (auto& j : streaming) {
        Journal* expected = nullptr;
        if (j.load() == this || j.compare_exchange_strong(expected, this)) break;
    }
    catch_fatal_signals();
    return true;
}

// Lines reach the file at most 100 ms after they were added, whether or not
// more calls follow.
void Journal::write_behind() {
    std::unique_lock lock(mutex_);
    while (!stop_writer_) {
        wake_.wait_for(lock, kFlushAge);
        std::string error;
        if (!flush_locked(error) && write_error_.empty()) write_error_ = error;
    }
}

bool Journal::flush_locked(std::string& error) {
    size_t const n = committed_.load();
    if (fd_.load() < 0 || n == 0) return true;
    bool const ok = write_capped(buffer_.get(), n, error);
    committed_.store(0);
    return ok;
}

bool Journal::write_capped(char const* data, size_t n, std::string& error) {
    while (max_bytes_ && written_ + n > max_bytes_) {
        // What fits, up to its last line's end; a line longer than the room
        // left starts the next file.
        size_t fits = 0;
        for (size_t i = 0; i < n && written_ + i < max_bytes_; ++i)
            fits = data[i] == '\n' ? i + 1 : fits;
        if (fits == 0 && written_ == 0) break;  // a line longer than the cap: written whole
        if (!write_all(fd_.load(), data, fits, error)) return false;
        data += fits;
        n -= fits;
        std::string const older = path_ + ".1";
        if (std::rename(path_.c_str(), older.c_str()) != 0) {
            error = "cannot turn over to " + older + ": " + std::strerror(errno);
            return false;
        }
        int const fd = open_exclusive(path_, error);
        if (fd < 0) return false;
        ::close(fd_.exchange(fd));
        written_ = 0;
    }
    written_ += n;
    return write_all(fd_.load(), data, n, error);
}

bool Journal::flush(std::string& error) {
    std::lock_guard lock(mutex_);
    return flush_reporting(error);
}

bool Journal::flush_reporting(std::string& error) {
    bool const ok = flush_locked(error);
    if (write_error_.empty()) return ok;
    error = write_error_;
    return false;
}

bool Journal::close_file(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        stop_writer_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard lock(mutex_);
    stop_writer_ = false;
    bool const ok = flush_reporting(error);
    write_error_.clear();
    for (auto& j : streaming) {
        Journal* self = this;
        j.compare_exchange_strong(self, nullptr);
    }
    int const fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    update_on();
    return ok;
}

void Journal::add(std::string line) {
    std::lock_guard lock(mutex_);
    add_locked(std::move(line));
}

void Journal::add(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (mode_ != 0) {
        add_locked(std::string(line));
    } else if (fd_.load(std::memory_order_relaxed) >= 0) {
        buffer_locked(line);
    }
}

void Journal::add_locked(std::string line) {
    thread_local uint64_t epoch = 0;
    thread_local uint32_t number = 0;
    if (mode_ == 2) {
        if (epoch != epoch_) {
            epoch = epoch_;
            number = ++threads_;
        }
        line.insert(0, "T" + std::to_string(number) + " ");
    }
    if (fd_.load(std::memory_order_relaxed) >= 0) buffer_locked(line);
    if (mode_ != 0) lines_.push_back(std::move(line));
}

void Journal::buffer_locked(std::string_view line) {
    // A journal that cannot be written is reported when it is closed.
    std::string error;
    size_t const size = line.size() + 1;  // with its newline
    size_t const committed = committed_.load(std::memory_order_relaxed);
    if (committed + size > kFlushBytes && !flush_locked(error) && write_error_.empty())
        write_error_ = error;
    if (size > kFlushBytes) {
        std::string whole(line);
        whole += '\n';
        if (!write_capped(whole.data(), whole.size(), error) && write_error_.empty())
            write_error_ = error;
        return;
    }
    // Moved on only under mutex_; the signal handler reads it without.
    size_t const at = committed_.load(std::memory_order_relaxed);
    char* const end = buffer_.get() + at;
    std::memcpy(end, line.data(), line.size());
    end[line.size()] = '\n';
    committed_.store(at + size);
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

void Entry::grow(size_t n) {
    if (data_ == inline_) long_.assign(inline_, size_);
    long_.resize(std::max(size_ + n, 2 * capacity_));
    data_ = long_.data();
    capacity_ = long_.size();
}

namespace {

// The characters a quoted text escapes, with the letter after the backslash.
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> e{};
    e[uint8_t('"')] = '"';
    e[uint8_t('\\')] = '\\';
    e[uint8_t('\n')] = 'n';
    e[uint8_t('\t')] = 't';
    return e;
}();

}  // namespace

Entry& Entry::put_text(char const* s) {
    if (!s) return put("null");
    reserve(2);
    char* p = data_ + size_;
    *p++ = '"';
    for (; *s; ++s) {
        // Room for an escaped character and the closing quote.
        if (size_t(data_ + capacity_ - p) < 3) {
            size_ = size_t(p - data_);
            grow(3);
            p = data_ + size_;
        }
        if (char const e = kEscapes[uint8_t(*s)]) {
            *p++ = '\\';
            *p++ = e;
        } else {
            *p++ = *s;
        }
    }
    *p++ = '"';
    size_ = size_t(p - data_);
    return *this;
}

Entry& Entry::handle(void const* p, uint32_t number) {
    next();
    if (!p) return put("null");
    if (!number) return put("#?");
    return put("#").put(int64_t(number));
}

std::string Entry::done(int32_t status) { return std::string(end(status)); }

std::string Entry::done() {
    put(")");
    return std::string(data_, size_);
}

std::string_view Entry::end(int32_t status) {
    put(") = ").put(int64_t(status));
    return std::string_view(data_, size_);
}

}  // namespace kovra_sim
