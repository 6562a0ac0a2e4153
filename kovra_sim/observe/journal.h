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
#include <memory>
#include <mutex>
#include <string>
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
    // From a signal handler: writes the whole lines buffered, taking no lock.
    void flush_on_signal();
    // Forgets the lines in memory and numbers threads from 1 again.
    void clear();
    size_t size() const;
    // The line at index, or "" past the end.
    std::string line(size_t index) const;

private:
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

// Builds one journal line. Texts are quoted with \" \\ \n \t escaped; NULL
// reads "null".
class Entry {
public:
    explicit Entry(char const* function) : line_(function) { line_ += '('; }
    Entry& raw(std::string const& s);
    Entry& text(char const* s);
    // "#N", "null", or "#?" for a value that is no handle (number 0).
    Entry& handle(void const* p, uint32_t number);
    // A pointer that is no handle (handler, context): "null" or "ptr".
    Entry& pointer(void const* p);
    // Ends the line with the call's status and hands it over.
    std::string done(int32_t status);
    // Ends the line of something that has no status (an announcement).
    std::string done();

private:
    Entry& next();
    std::string line_;
    bool first_ = true;
};

}  // namespace kovra_sim
