#include "client/arrays.h"

#include <cstring>

#include "client/exhaust.h"

namespace kovra_sim {

kovra_string_array* make_array(std::vector<std::string> const& texts) {
    size_t bytes = sizeof(kovra_string_array) + texts.size() * sizeof(char*);
    for (std::string const& text : texts) bytes += text.size() + 1;
    auto* array = static_cast<kovra_string_array*>(allocate(bytes));
    *array = {0, uint32_t(texts.size()), reinterpret_cast<char**>(array + 1)};
    char* at = reinterpret_cast<char*>(array->items + texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        array->items[i] = at;
        std::memcpy(at, texts[i].c_str(), texts[i].size() + 1);
        at += texts[i].size() + 1;
    }
    return array;
}

kovra_bool_array* make_array(std::vector<uint8_t> const& bools) {
    auto* array = static_cast<kovra_bool_array*>(allocate(sizeof(kovra_bool_array) + bools.size()));
    *array = {0, uint32_t(bools.size()), reinterpret_cast<uint8_t*>(array + 1)};
    for (size_t i = 0; i < bools.size(); ++i) array->items[i] = bools[i] ? 1 : 0;
    return array;
}

uint32_t Arrays::add(void const* array) {
    std::lock_guard lock(mutex_);
    outstanding_.insert(array);
    return next_++;
}

bool Arrays::remove(void const* array) {
    std::lock_guard lock(mutex_);
    return outstanding_.erase(array) == 1;
}

uint32_t Arrays::outstanding() const {
    std::lock_guard lock(mutex_);
    return uint32_t(outstanding_.size());
}

void Arrays::renumber() {
    std::lock_guard lock(mutex_);
    next_ = 1;
}

}  // namespace kovra_sim
