// The program's event handlers, registered behind trampolines of the layer's
// so that each announcement is counted on its way to the program.
//
// The library tells registrations apart by handler pointer alone: it
// unregisters every registration of a pointer on a broker at once. So two
// different handler functions never share a trampoline, while one function
// keeps its trampoline for all its registrations, on any broker, with any
// context; the context reaches the library unchanged. A trampoline is free
// again once the last registration made with it is undone. Registrations
// are wrapped whether the layer traces yet or not, so that one made before
// it wakes is undone with the rest.
//
// The layer keeps at least what the library holds: a registration counts
// until an unregister call that began after it was made succeeded (the
// library guarantees that no call of the handler runs or follows then).
// When in doubt (a failed unregister, a broker released without one) the
// trampoline stays taken, never handed to another function while the
// library may still call it.
#pragma once

#include <kovra/kovra_api.h>

#include <cstddef>
#include <cstdint>

namespace kovra_sim::trace::handlers {

// At most this many distinct handler functions are registered at once.
constexpr size_t kTrampolines = 64;

// The trampoline that stands for `handler`, with one registration on
// `broker` counted as under way: the library is to be given `trampoline`,
// and done_registering() told how that went. `trampoline` is null when
// every trampoline belongs to another function (or no memory is left):
// the registration is refused and nothing is counted.
struct Registering {
    size_t slot = kTrampolines;
    kovra_broker_new_target_handler trampoline = nullptr;
};
Registering start_registering(kovra_initiator* broker,
                              kovra_broker_new_target_handler handler) noexcept;
void done_registering(Registering const& r, kovra_initiator* broker, bool made) noexcept;

// The registrations of `handler` on `broker`, now under way out: the
// library is to unregister `trampoline`, and done_unregistering() told how
// that went. `trampoline` is null when the layer made none: the call goes
// to the library as it came.
struct Unregistering {
    size_t slot = kTrampolines;
    kovra_broker_new_target_handler trampoline = nullptr;
    uint32_t count = 0;
};
Unregistering start_unregistering(kovra_initiator* broker,
                                  kovra_broker_new_target_handler handler) noexcept;
void done_unregistering(Unregistering const& u, kovra_initiator* broker, bool removed) noexcept;

}  // namespace kovra_sim::trace::handlers
