#include "handles.h"

namespace kovra_sim {
namespace {

constexpr uint32_t kLive = 1u << 2;
constexpr uint32_t kEvents = 1u << 3;

}  // namespace

Handles::~Handles() {
    for (auto& c : chunks_) delete c.load(std::memory_order_relaxed);
}

void* Handles::open(HandleKind kind, HandleInfo const& info) {
    std::lock_guard lock(mutex_);
    uint32_t const number = count_.load(std::memory_order_relaxed) + 1;
    if (number >= (1u << kIndexBits)) return nullptr;
    std::atomic<Chunk*>& slot = chunks_[number >> kChunkBits];
    Chunk* chunk = slot.load(std::memory_order_relaxed);
    if (!chunk) {
        chunk = new Chunk();
        slot.store(chunk, std::memory_order_release);
    }
    Record& r = (*chunk)[number & (kChunkSize - 1)];
    r.ipc.store(info.ipc, std::memory_order_relaxed);
    r.transport.store(info.transport, std::memory_order_relaxed);
    r.word.store(
        uint32_t(kind) | kLive | (info.events ? kEvents : 0) | uint32_t(info.service + 1) << 8,
        std::memory_order_release);
    count_.store(number, std::memory_order_release);
    uintptr_t const value =
        uintptr_t(epoch_.load(std::memory_order_relaxed)) << kIndexBits | number;
    return reinterpret_cast<void*>(value);
}

Handles::Record const* Handles::at(uint32_t number) const {
    if (number == 0 || number > count_.load(std::memory_order_acquire)) return nullptr;
    Chunk const* chunk = chunks_[number >> kChunkBits].load(std::memory_order_acquire);
    return chunk ? &(*chunk)[number & (kChunkSize - 1)] : nullptr;
}

Handles::Record const* Handles::find(void const* handle, uint32_t* number) const {
    uintptr_t const value = reinterpret_cast<uintptr_t>(handle);
    if (value >> kIndexBits != epoch_.load(std::memory_order_acquire)) return nullptr;
    *number = uint32_t(value & ((1u << kIndexBits) - 1));
    return at(*number);
}

bool Handles::read(Record const& r, HandleKind kind, uint32_t number, HandleInfo* info) const {
    uint32_t const word = r.word.load(std::memory_order_acquire);
    if ((word & 3) != uint32_t(kind) || !(word & kLive)) return false;
    if (info) {
        info->number = number;
        info->service = int(word >> 8) - 1;
        info->events = word & kEvents;
        info->ipc = r.ipc.load(std::memory_order_relaxed);
        info->transport = r.transport.load(std::memory_order_acquire);
    }
    return true;
}

void Handles::attach(void const* handle, Transport* transport) {
    uint32_t number = 0;
    if (Record const* r = find(handle, &number)) {
        const_cast<Record*>(r)->transport.store(transport, std::memory_order_release);
    }
}

bool Handles::close(void const* handle, HandleKind kind) {
    std::lock_guard lock(mutex_);
    uint32_t number = 0;
    Record const* r = find(handle, &number);
    if (!r || !read(*r, kind, number, nullptr)) return false;
    auto& word = const_cast<Record*>(r)->word;
    word.store(word.load(std::memory_order_relaxed) & ~kLive, std::memory_order_release);
    return true;
}

bool Handles::live(void const* handle, HandleKind kind, HandleInfo* info) const {
    uint32_t number = 0;
    Record const* r = find(handle, &number);
    return r && read(*r, kind, number, info);
}

bool Handles::live_ipc(uint32_t number, HandleInfo* info) const {
    Record const* r = at(number);
    return r && read(*r, HandleKind::ipc, number, info);
}

uint32_t Handles::number(void const* handle) const {
    uint32_t number = 0;
    Record const* r = find(handle, &number);
    return r && r->word.load(std::memory_order_acquire) ? number : 0;
}

void Handles::reset() {
    std::lock_guard lock(mutex_);
    uint32_t const epoch = epoch_.load(std::memory_order_relaxed) + 1;
    // The epoch fills the bits above the number; on a 32-bit machine it wraps
    // after 4095 resets, long after any handle of the first is gone.
    uint32_t const bits = sizeof(uintptr_t) * 8 - kIndexBits;
    epoch_.store(bits >= 32 || epoch < (1u << bits) ? epoch : 1, std::memory_order_release);
    for (uint32_t n = 1; n <= count_.load(std::memory_order_relaxed); ++n) {
        const_cast<Record*>(at(n))->word.store(0, std::memory_order_release);
    }
    count_.store(0, std::memory_order_release);
}

}  // namespace kovra_sim
