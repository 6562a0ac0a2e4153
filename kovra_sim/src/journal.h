// The call journal: one line per completed call, "name(arg, ...) = status".
// When it is off, callers check on() (one relaxed load) and build nothing.
// Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kovra_sim {

class Journal {
public:
    bool on() const { return mode_.load(std::memory_order_relaxed) != 0; }
    // 0 off, 1 on, 2 on with each entry tagged "T<n> " by its calling thread.
    void enable(int mode) { mode_.store(mode, std::memory_order_relaxed); }
    void add(std::string entry);
    // Forgets the entries and starts numbering threads from 1 again.
    void clear();
    size_t size() const;
    // The entry at index, or "" past the end.
    std::string entry(size_t index) const;
    std::vector<std::string> entries() const;

private:
    std::atomic<int> mode_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    uint64_t epoch_ = 1;  // a thread's number is valid for one epoch
    uint32_t threads_ = 0;
};

// Builds one entry. Texts are quoted with \" \\ \n \t escaped; NULL reads "null".
class Entry {
public:
    explicit Entry(char const* function) : line_(function) { line_ += '('; }
    Entry& raw(std::string const& s);
    Entry& text(char const* s);
    // "#N", "null", or "#?" for a pointer that was never a handle.
    Entry& handle(void const* p, uint32_t number);
    // A pointer that is no handle (handler, context): "null" or "ptr".
    Entry& pointer(void const* p);
    std::string done(int32_t status);

private:
    Entry& next();
    std::string line_;
    bool first_ = true;
};

std::string quote(char const* s);

}  // namespace kovra_sim
