// The call journal: one line per completed call, "name(arg, ...) = status".
// Lines go to memory (for the controls, while enabled there) and to a file
// (while one is open), or both. The file is streamed: lines are buffered and
// written out every 64 KiB, by a writer thread at most 100 ms after they were
// added, on flush() and when the file is closed, so a long soak holds little
// memory and the file is never far behind.
// A signal that ends the process (abort, a crash, an unhandled SIGINT or
// SIGTERM) writes what is buffered first. When neither is on, callers check
// on() (one relaxed load) and build nothing. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kovra_sim {

class Journal {
public:
    ~Journal();

    bool on() const { return on_.load(std::memory_order_relaxed); }
    // Memory: 0 off, 1 on, 2 on with each line tagged "T<n> " by its thread.
    void enable(int mode);
    // Streams lines to `path` from now on; false with the reason in
    // `error`. With `max_bytes`, a file that would grow past it turns over:
    // it becomes PATH.1 (replacing an older one) and a new PATH begins.
    bool open_file(std::string const& path, uint64_t max_bytes, std::string& error,
                   bool append = false);
    // Writes out what is buffered, and says the first write that failed
    // since the file was opened; false with the reason in `error`.
    bool flush(std::string& error);
    // Flushes and closes the file; false with the reason in `error`.
    bool close_file(std::string& error);

    void add(std::string line);
    // The same, for a line that is copied: into the file's buffer, held
    // only for the copy, when the journal is not kept in memory.
    void add(std::string_view line);
    // From a signal handler: writes the whole lines buffered, taking no lock.
    void flush_on_signal();
    // Forgets the lines in memory and numbers threads from 1 again.
    void clear();
    size_t size() const;
    // The line at index, or "" past the end.
    std::string line(size_t index) const;

private:
    // With mutex_ held.
    void add_locked(std::string line);
    void buffer_locked(std::string_view line);
    void update_on();
    bool flush_locked(std::string& error);
    // Writes `n` bytes of whole lines, turning the file over where the cap says.
    bool write_capped(char const* data, size_t n, std::string& error);
    // flush_locked(), failing with the first earlier write error if there was one.
    bool flush_reporting(std::string& error);
    void write_behind();

    std::atomic<bool> on_{false};
    mutable std::mutex mutex_;
    int mode_ = 0;
    std::vector<std::string> lines_;
    uint64_t epoch_ = 1;  // a thread's number holds for one epoch
    uint32_t threads_ = 0;
    std::atomic<int> fd_{-1};
    std::string path_;
    uint64_t max_bytes_ = 0;            // 0: no cap
    uint64_t written_ = 0;              // to the file since it began
    std::unique_ptr<char[]> buffer_;    // never moves once made, for flush_on_signal
    std::atomic<size_t> committed_{0};  // whole lines in buffer_
    std::string write_error_;           // the first, until the file is closed
    std::thread writer_;
    std::condition_variable wake_;
    bool stop_writer_ = false;
};

// The digits of 0 to 99, two each.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes `v` in decimal to `out` (at most 20 characters); the end.
inline char* write_decimal(char* out, uint64_t v) {
    int n = 1;
    for (uint64_t x = v;; x /= 10000, n += 4) {
        if (x < 10) break;
        if (x < 100) {
            n += 1;
            break;
        }
        if (x < 1000) {
            n += 2;
            break;
        }
        if (x < 10000) {
            n += 3;
            break;
        }
    }
    char* p = out + n;
    for (; v >= 100; v /= 100) {
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * (v % 100), 2);
    }
    if (v >= 10) {
        std::memcpy(p - 2, kDigitPairs + 2 * v, 2);
    } else {
        p[-1] = char('0' + v);
    }
    return out + n;
}

// Builds one journal line. Texts are quoted with \" \\ \n \t escaped; NULL
// reads "null". The line is built inside the entry, on the stack: only one
// that outgrows it takes memory.
class Entry {
public:
    explicit Entry(char const* function) : data_(inline_) { begin(function); }
    // A line that begins with what `prefix(out)` writes to `out`, at most
    // kPrefixBytes, returning where it ends (a stamp), before the function's name.
    static constexpr size_t kPrefixBytes = 256;
    template <class Prefix>
    Entry(Prefix&& prefix, char const* function) : data_(inline_) {
        size_ = size_t(prefix(inline_) - inline_);
        begin(function);
    }
    Entry(Entry const&) = delete;
    Entry& operator=(Entry const&) = delete;

    Entry& raw(std::string_view s) { return next().put(s); }
    Entry& text(char const* s) { return next().put_text(s); }
    Entry& number(int64_t v) { return next().put(v); }
    // "#N", "null", or "#?" for a value that is no handle (number 0).
    Entry& handle(void const* p, uint32_t number);
    // A pointer that is no handle (handler, context): "null" or "ptr".
    Entry& pointer(void const* p) { return raw(p ? "ptr" : "null"); }

    // An argument written in parts: next() begins it, put() adds to it.
    Entry& next() {
        if (!first_) put(", ");
        first_ = false;
        return *this;
    }
    Entry& put(std::string_view s) {
        if (!s.empty()) std::memcpy(room(s.size()), s.data(), s.size());
        return *this;
    }
    Entry& put(int64_t v) {
        reserve(20);
        char* p = data_ + size_;
        if (v < 0) *p++ = '-';
        size_ = size_t(write_decimal(p, v < 0 ? 0 - uint64_t(v) : uint64_t(v)) - data_);
        return *this;
    }
    // A text quoted, or "null".
    Entry& put_text(char const* s);

    // Ends the line with the call's status and hands it over.
    std::string done(int32_t status);
    // Ends the line of something that has no status (an announcement).
    std::string done();
    // Ends the line with the call's status; it lives as long as the entry.
    std::string_view end(int32_t status);

private:
    void begin(char const* function) { put(function).put("("); }
    // Room for `n` more bytes.
    void reserve(size_t n) {
        if (n > capacity_ - size_) grow(n);
    }
    // `n` more bytes at the line's end.
    char* room(size_t n) {
        reserve(n);
        char* const at = data_ + size_;
        size_ += n;
        return at;
    }
    void grow(size_t n);

    static constexpr size_t kInline = 512;
    static_assert(kPrefixBytes <= kInline);
    char* data_;
    size_t size_ = 0;
    size_t capacity_ = kInline;
    bool first_ = true;
    std::string long_;  // the line, once it outgrows inline_
    char inline_[kInline];
};

}  // namespace kovra_sim
