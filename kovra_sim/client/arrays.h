// The arrays requests hand out, and the register of those not yet released.
// An array is one allocation (header, item pointers and items together), so
// handing one out costs one block and releasing it one free.
#pragma once

#include <kovra/kovra_core.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_set>

#include "client/exhaust.h"

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

// An array of `count` texts, item i being get(i) (a std::string_view).
template <class Get>
kovra_string_array* make_string_array(size_t count, Get get) {
    size_t bytes = sizeof(kovra_string_array) + count * sizeof(char*);
    for (size_t i = 0; i < count; ++i) bytes += get(i).size() + 1;
    auto* array = static_cast<kovra_string_array*>(allocate(bytes));
    array->number = 0;
    array->count = uint32_t(count);
    array->items = reinterpret_cast<char**>(array + 1);
    char* text = reinterpret_cast<char*>(array->items + count);
    for (size_t i = 0; i < count; ++i) {
        std::string_view const item = get(i);
        if (!item.empty())
            std::memcpy(text, item.data(), item.size());  // an empty one may have no data
        text[item.size()] = '\0';
        array->items[i] = text;
        text += item.size() + 1;
    }
    return array;
}

// An array of `count` bools, item i being get(i).
template <class Get>
kovra_bool_array* make_bool_array(size_t count, Get get) {
    auto* array = static_cast<kovra_bool_array*>(allocate(sizeof(kovra_bool_array) + count));
    array->number = 0;
    array->count = uint32_t(count);
    array->items = reinterpret_cast<uint8_t*>(array + 1);
    for (size_t i = 0; i < count; ++i) array->items[i] = get(i) ? 1 : 0;
    return array;
}

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
