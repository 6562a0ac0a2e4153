#include "registry.h"

namespace kovra_sim {

void* Registry::open(Handle handle) {
    auto owned = std::make_unique<Handle>(handle);
    std::lock_guard lock(mutex_);
    owned->number = next_handle_++;
    void* p = owned.get();
    handles_.emplace(p, std::move(owned));
    return p;
}

bool Registry::close(void const* p, HandleKind kind) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(p);
    if (it == handles_.end() || !it->second->live || it->second->kind != kind) return false;
    it->second->live = false;
    return true;
}

bool Registry::live(void const* p, HandleKind kind, Handle* out) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(p);
    if (it == handles_.end() || !it->second->live || it->second->kind != kind) return false;
    if (out) *out = *it->second;
    return true;
}

uint32_t Registry::number(void const* p) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(p);
    return it == handles_.end() ? 0 : it->second->number;
}

uint32_t Registry::add_array(void const* p) {
    std::lock_guard lock(mutex_);
    arrays_.insert(p);
    return next_array_++;
}

bool Registry::remove_array(void const* p) {
    std::lock_guard lock(mutex_);
    return arrays_.erase(p) == 1;
}

uint32_t Registry::outstanding_arrays() const {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(arrays_.size());
}

void Registry::reset() {
    std::lock_guard lock(mutex_);
    handles_.clear();
    next_handle_ = 1;
    next_array_ = 1;
}

}  // namespace kovra_sim
