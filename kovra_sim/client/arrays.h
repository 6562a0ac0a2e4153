// The arrays requests hand out, and the register of those not yet released.
// An array is one allocation (header, item pointers and items together), so
// handing one out costs one block and releasing it one free.
#pragma once

#include <kovra/kovra_core.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

// The library's array types; opaque to its callers. `number` is the "#N" of
// the journal.
struct kovra_string_array {
    uint32_t number;
    uint32_t count;
    char** items;
};
struct kovra_bool_array {
    uint32_t number;
    uint32_t count;
    uint8_t* items;
};

namespace kovra_sim {

// New arrays, numbered 0, of these texts or bools; throw std::bad_alloc as
// allocate() does.
kovra_string_array* make_array(std::vector<std::string> const& texts);
kovra_bool_array* make_array(std::vector<uint8_t> const& bools);

// Arrays handed out and not yet released. Thread-safe.
class Arrays {
public:
    // Registers an array being handed out; returns its number.
    uint32_t add(void const* array);
    // Forgets an array being released; false if it is not outstanding.
    bool remove(void const* array);
    uint32_t outstanding() const;
    // Numbers count from 1 again; outstanding arrays stay outstanding.
    void renumber();

private:
    mutable std::mutex mutex_;
    std::unordered_set<void const*> outstanding_;
    uint32_t next_ = 1;
};

}  // namespace kovra_sim
