#include "trace/handlers.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "trace/tracer.h"

namespace kovra_sim::trace::handlers {

namespace {

// The program's handler each trampoline calls; null: the trampoline is
// free. Trampolines read it without a lock; it never changes while the
// library may call the trampoline. Constant-initialized and never
// destroyed, so a call while the process exits still finds it.
std::atomic<kovra_broker_new_target_handler> programs[kTrampolines];

// The registrations made with one trampoline on one broker.
struct OnBroker {
    kovra_initiator* broker = nullptr;
    uint32_t live = 0;    // made and not undone
    uint32_t moving = 0;  // being made or undone: the library may hold them or not
};

struct Book {
    std::mutex mutex;  // held for bookkeeping only, never across a call of the library
    std::array<std::vector<OnBroker>, kTrampolines> made;  // by trampoline
};

// Made at the first registration and never destroyed. A child forked while
// another thread held the lock would find it held for good: fork waits.
Book& book() {
    static Book* const made = [] {
        auto* const b = new Book();
        pthread_atfork([] { book().mutex.lock(); }, [] { book().mutex.unlock(); },
                       [] { book().mutex.unlock(); });
        return b;
    }();
    return *made;
}

std::vector<OnBroker>::iterator on(size_t slot, kovra_initiator* broker) {
    auto& made = book().made[slot];
    return std::find_if(made.begin(), made.end(),
                        [&](OnBroker const& o) { return o.broker == broker; });
}

// Forgets brokers with nothing on them; a trampoline with nothing left is free.
void tidy(size_t slot) {
    auto& made = book().made[slot];
    made.erase(std::remove_if(made.begin(), made.end(),
                              [](OnBroker const& o) { return !o.live && !o.moving; }),
               made.end());
    if (made.empty()) programs[slot].store(nullptr, std::memory_order_relaxed);
}

void relay(size_t slot, char const* service, char const* target, uint8_t flag, char const* address,
           void* context) {
    Tracer* t = active.load();
    if (t == kChildWakes) t = wake_child();
    if (t) t->announced(service, target, flag, address);
    programs[slot].load(std::memory_order_acquire)(service, target, flag, address, context);
}

template <size_t N>
void trampoline(char const* service, char const* target, uint8_t flag, char const* address,
                void* context) {
    relay(N, service, target, flag, address, context);
}

template <size_t... N>
constexpr std::array<kovra_broker_new_target_handler, kTrampolines> make_trampolines(
    std::index_sequence<N...>) {
    return {&trampoline<N>...};
}
constexpr auto trampolines = make_trampolines(std::make_index_sequence<kTrampolines>());

}  // namespace

Registering start_registering(kovra_initiator* broker,
                              kovra_broker_new_target_handler handler) noexcept {
    try {
        std::lock_guard lock(book().mutex);
        size_t slot = kTrampolines, free = kTrampolines;
        for (size_t i = 0; i < kTrampolines && slot == kTrampolines; ++i) {
            auto const program = programs[i].load(std::memory_order_relaxed);
            if (program == handler) slot = i;
            if (!program && free == kTrampolines) free = i;
        }
        if (slot == kTrampolines) slot = free;
        if (slot == kTrampolines) return {};
        auto it = on(slot, broker);
        if (it == book().made[slot].end()) it = book().made[slot].insert(it, OnBroker{broker});
        ++it->moving;
        programs[slot].store(handler, std::memory_order_release);
        return {slot, trampolines[slot]};
    } catch (...) {
        return {};  // no memory for the bookkeeping: nothing counted
    }
}

void done_registering(Registering const& r, kovra_initiator* broker, bool made) noexcept {
    try {
        std::lock_guard lock(book().mutex);
        auto const it = on(r.slot, broker);
        --it->moving;
        if (made) ++it->live;
        tidy(r.slot);
    } catch (...) {
        // Left counted as under way: the trampoline stays taken.
    }
}

Unregistering start_unregistering(kovra_initiator* broker,
                                  kovra_broker_new_target_handler handler) noexcept {
    if (!handler) return {};
    try {
        std::lock_guard lock(book().mutex);
        for (size_t slot = 0; slot < kTrampolines; ++slot) {
            if (programs[slot].load(std::memory_order_relaxed) != handler) continue;
            auto const it = on(slot, broker);
            if (it == book().made[slot].end() || !it->live) return {};
            uint32_t const count = std::exchange(it->live, 0);
            it->moving += count;
            return {slot, trampolines[slot], count};
        }
    } catch (...) {
        // The library answers as it would without the layer.
    }
    return {};
}

void done_unregistering(Unregistering const& u, kovra_initiator* broker, bool removed) noexcept {
    try {
        std::lock_guard lock(book().mutex);
        auto const it = on(u.slot, broker);
        it->moving -= u.count;
        // Not removed, or perhaps in part: all still count as made.
        if (!removed) it->live += u.count;
        tidy(u.slot);
    } catch (...) {
        // Left counted as under way: the trampoline stays taken.
    }
}

}  // namespace kovra_sim::trace::handlers
