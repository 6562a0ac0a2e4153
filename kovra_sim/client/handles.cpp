#include "client/handles.h"

namespace kovra_sim {

void* Handles::open(HandleKind kind, HandleInfo const& info) {
    std::lock_guard lock(mutex_);
    uint32_t const number = uint32_t(records_.size()) + 1;
    if (number >= (1u << kNumberBits)) return nullptr;
    records_.push_back({kind, true, info});
    records_.back().info.number = number;
    return reinterpret_cast<void*>(uintptr_t(epoch_) << kNumberBits | number);
}

Handles::Record* Handles::find(void const* handle) const {
    uintptr_t const value = reinterpret_cast<uintptr_t>(handle);
    uint32_t const number = uint32_t(value & ((1u << kNumberBits) - 1));
    if (value >> kNumberBits != epoch_ || number == 0 || number > records_.size()) return nullptr;
    return &records_[number - 1];
}

void Handles::attach(void const* handle, Transport* transport) {
    std::lock_guard lock(mutex_);
    if (Record* r = find(handle)) r->info.transport = transport;
}

bool Handles::close(void const* handle, HandleKind kind) {
    std::lock_guard lock(mutex_);
    Record* const r = find(handle);
    if (!r || !r->live || r->kind != kind) return false;
    r->live = false;
    return true;
}

bool Handles::live(void const* handle, HandleKind kind, HandleInfo* info) const {
    std::lock_guard lock(mutex_);
    Record const* const r = find(handle);
    if (!r || !r->live || r->kind != kind) return false;
    if (info) *info = r->info;
    return true;
}

bool Handles::live_ipc(uint32_t number, HandleInfo* info) const {
    std::lock_guard lock(mutex_);
    if (number == 0 || number > records_.size()) return false;
    Record const& r = records_[number - 1];
    if (!r.live || r.kind != HandleKind::ipc) return false;
    *info = r.info;
    return true;
}

uint32_t Handles::number(void const* handle) const {
    std::lock_guard lock(mutex_);
    Record const* const r = find(handle);
    return r ? r->info.number : 0;
}

void Handles::reset() {
    std::lock_guard lock(mutex_);
    // The epoch fills the bits above the number; on a 32-bit machine it wraps
    // after 4095 resets, long after any handle of the first is gone.
    uint32_t const bits = sizeof(uintptr_t) * 8 - kNumberBits;
    epoch_ = bits >= 32 || epoch_ + 1 < (1u << bits) ? epoch_ + 1 : 1;
    records_.clear();
}

}  // namespace kovra_sim
