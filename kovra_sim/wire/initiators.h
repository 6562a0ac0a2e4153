// What one connection has open on the camera: its initiators by handle
// number, with the event handlers registered on each. The daemon checks a
// session's calls against it; the client keeps it to open everything again
// under the same numbers after reconnecting. Not thread-safe.
#pragma once

#include <kovra_sim/control.h>

#include <cstdint>
#include <map>

#include "common/functions.h"

namespace kovra_sim {

class Initiators {
public:
    struct Initiator {
        int service;
        bool events;
        uint32_t handlers = 0;
        uint32_t contexts = 0;  // of the handlers, those registered with a context
    };

    // The status an initiator init gets for its `events` and `reserved`:
    // events only on the broker, reserved always 0.
    static int32_t check(int service, int32_t events, int32_t reserved) {
        bool const fits = (events == 0 || (events == 1 && service == svc_broker)) && reserved == 0;
        return fits ? KOVRA_SIM_STATUS_OK : KOVRA_SIM_STATUS_BAD_ARGUMENT;
    }

    int32_t open(uint32_t handle, int service, bool events) {
        if (handle == 0 || open_.count(handle)) return KOVRA_SIM_STATUS_BAD_HANDLE;
        if (open_.size() >= kMost) return KOVRA_SIM_STATUS_NO_RESOURCES;
        open_.emplace(handle, Initiator{service, events});
        return KOVRA_SIM_STATUS_OK;
    }
    int32_t close(uint32_t handle, int service) {
        Initiator const* i = find(handle, service);
        if (!i) return KOVRA_SIM_STATUS_BAD_HANDLE;
        handlers_ -= i->handlers;
        open_.erase(handle);
        return KOVRA_SIM_STATUS_OK;
    }
    Initiator const* find(uint32_t handle, int service) const {
        auto const it = open_.find(handle);
        return it != open_.end() && it->second.service == service ? &it->second : nullptr;
    }
    // A handler comes or goes on a broker opened with events.
    int32_t subscribe(uint32_t broker, bool context) {
        Initiator* b = events_broker(broker);
        if (!b) return KOVRA_SIM_STATUS_BAD_HANDLE;
        ++b->handlers, ++handlers_;
        b->contexts += context;
        return KOVRA_SIM_STATUS_OK;
    }
    int32_t unsubscribe(uint32_t broker) {
        Initiator* b = events_broker(broker);
        if (!b || b->handlers == 0) return KOVRA_SIM_STATUS_BAD_HANDLE;
        --b->handlers, --handlers_;
        b->contexts -= b->contexts > b->handlers;
        return KOVRA_SIM_STATUS_OK;
    }
    // Whether any broker has a handler.
    bool subscribed() const { return handlers_ > 0; }
    std::map<uint32_t, Initiator> const& all() const { return open_; }

private:
    // A session holds at most this many initiators; a client needs a few dozen.
    static constexpr size_t kMost = 4096;

    Initiator* events_broker(uint32_t handle) {
        auto const it = open_.find(handle);
        bool const fits =
            it != open_.end() && it->second.service == svc_broker && it->second.events;
        return fits ? &it->second : nullptr;
    }

    std::map<uint32_t, Initiator> open_;
    uint32_t handlers_ = 0;
};

}  // namespace kovra_sim
