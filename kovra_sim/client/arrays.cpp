#include "client/arrays.h"

namespace kovra_sim {

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
