// The one path every client-library function of the stand-in takes: the
// call is counted and may be faulted, its body runs, and the journal, when
// on, records it with its arguments and status.
#pragma once

#include <string>
#include <utility>

#include "camera.h"
#include "catalog.h"
#include "kovra_sim/control.h"

namespace kovra_sim {

// Runs `body(camera)` unless a fault fires for `function`, journals the call
// with `describe(camera, entry, status)` when the journal is on, and returns
// the status.
template <class Body, class Describe>
int32_t call(int function, Body&& body, Describe&& describe) {
    Camera& cam = camera();
    int32_t status = cam.faults.on_call(function);
    if (status == KOVRA_SIM_STATUS_OK) status = std::forward<Body>(body)(cam);
    if (cam.journal.on()) {
        Entry e(kovra_sim::function(function).name);
        describe(cam, e, status);
        cam.journal.add(e.done(status));
    }
    return status;
}

// An out-parameter that holds a handle after the call.
template <class T>
void out_handle(Camera& cam, Entry& e, T* const* out, int32_t status) {
    if (!out) {
        e.raw("null");
    } else if (status != KOVRA_SIM_STATUS_OK) {
        e.raw("&?");
    } else {
        e.raw("&#" + std::to_string(cam.registry.number(*out)));
    }
}

}  // namespace kovra_sim
