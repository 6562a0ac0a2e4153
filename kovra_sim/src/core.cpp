// The hand-written client-library functions: start-up, logging, the IPC
// connection, array release and the broker's event handlers.
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "call.h"
#include "camera.h"
#include "catalog.h"
#include "kovra_sim/control.h"

using namespace kovra_sim;

namespace {

template <class Array>
int32_t free_array(int function, Array* array) {
    uint32_t number = 0;
    return call(
        function,
        [&](Camera& cam) {
            if (!array) return KOVRA_SIM_STATUS_OK;
            if (!cam.registry.remove_array(array)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            number = array->number;
            for (uint32_t i = 0; i < array->count; ++i) {
                if constexpr (std::is_same_v<Array, kovra_string_array>) std::free(array->items[i]);
            }
            delete[] array->items;
            delete array;
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera&, Entry& e, int32_t) {
            e.raw(!array ? "null" : number ? "[#" + std::to_string(number) + "]" : "[#?]");
        });
}

// Event handlers only go on broker initiators opened with events = 1.
bool is_event_broker(Camera& cam, kovra_initiator* broker) {
    Handle h;
    return cam.registry.live(broker, HandleKind::initiator, &h) &&
           h.service == KOVRA_SIM_SVC_broker && h.events;
}

}  // namespace

extern "C" int32_t kovra_sim_core_init(void) {
    return call(
        KOVRA_SIM_FN_kovra_core_init,
        [](Camera& cam) {
            return cam.bad_config() ? KOVRA_SIM_STATUS_BAD_CONFIG : KOVRA_SIM_STATUS_OK;
        },
        [](Camera&, Entry&, int32_t) {});
}

// Its own journal entry is made before the files are written, so a journal
// file ends with the kovra_core_deinit that wrote it.
extern "C" int32_t kovra_sim_core_deinit(void) {
    Camera& cam = camera();
    int32_t const status = cam.faults.on_call(KOVRA_SIM_FN_kovra_core_deinit);
    if (status == KOVRA_SIM_STATUS_OK) cam.announcer.stop();
    if (cam.journal.on()) cam.journal.add(Entry("kovra_core_deinit").done(status));
    if (status == KOVRA_SIM_STATUS_OK) cam.write_files();
    return status;
}

extern "C" int32_t kovra_sim_logging_init(char const* identity, void** log) {
    return call(
        KOVRA_SIM_FN_kovra_core_logging_init,
        [&](Camera& cam) {
            if (!identity || !log) return KOVRA_SIM_STATUS_NULL_POINTER;
            if (cam.bad_config()) return KOVRA_SIM_STATUS_BAD_CONFIG;
            openlog(cam.keep_identity(identity), LOG_PID, LOG_USER);
            *log = cam.registry.open(Handle{HandleKind::log});
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t status) {
            e.text(identity);
            out_handle(cam, e, log, status);
        });
}

extern "C" int32_t kovra_sim_logging_deinit(void* log) {
    return call(
        KOVRA_SIM_FN_kovra_core_logging_deinit,
        [&](Camera& cam) {
            return cam.registry.close(log, HandleKind::log) ? KOVRA_SIM_STATUS_OK
                                                            : KOVRA_SIM_STATUS_BAD_HANDLE;
        },
        [&](Camera& cam, Entry& e, int32_t) { e.handle(log, cam.registry.number(log)); });
}

extern "C" int32_t kovra_sim_logging_vlog(void* log, int32_t level, char const* format,
                                          va_list args) {
    char small[512];
    std::vector<char> large;
    char const* message = nullptr;
    return call(
        KOVRA_SIM_FN_kovra_core_logging_log,
        [&](Camera& cam) {
            if (!cam.registry.live(log, HandleKind::log)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            if (!format) return KOVRA_SIM_STATUS_NULL_POINTER;
            va_list again;
            va_copy(again, args);
            int const n = std::vsnprintf(small, sizeof small, format, args);
            message = small;
            if (n >= int(sizeof small)) {
                large.resize(size_t(n) + 1);
                std::vsnprintf(large.data(), large.size(), format, again);
                message = large.data();
            }
            va_end(again);
            syslog(std::clamp(level, 0, 7), "%s", message);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t) {
            e.handle(log, cam.registry.number(log)).raw(std::to_string(level));
            e.text(message ? message : format);
        });
}

extern "C" int32_t kovra_sim_ipc_init(void* log, char const* url, void** ipc) {
    return call(
        KOVRA_SIM_FN_kovra_core_ipc_initiator_init,
        [&](Camera& cam) {
            if (!ipc) return KOVRA_SIM_STATUS_NULL_POINTER;
            if (!cam.registry.live(log, HandleKind::log)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            // Only the embedded camera is served; a network transport is not there yet.
            if (url) return KOVRA_SIM_STATUS_NOT_CONNECTED;
            *ipc = cam.registry.open(Handle{HandleKind::ipc});
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t status) {
            e.handle(log, cam.registry.number(log)).text(url);
            out_handle(cam, e, ipc, status);
        });
}

extern "C" int32_t kovra_sim_ipc_deinit(void* ipc) {
    return call(
        KOVRA_SIM_FN_kovra_core_ipc_deinit,
        [&](Camera& cam) {
            return cam.registry.close(ipc, HandleKind::ipc) ? KOVRA_SIM_STATUS_OK
                                                            : KOVRA_SIM_STATUS_BAD_HANDLE;
        },
        [&](Camera& cam, Entry& e, int32_t) { e.handle(ipc, cam.registry.number(ipc)); });
}

extern "C" int32_t kovra_sim_free_string_array(kovra_string_array* array) {
    return free_array(KOVRA_SIM_FN_kovra_core_free_string_array, array);
}

extern "C" int32_t kovra_sim_free_bool_array(kovra_bool_array* array) {
    return free_array(KOVRA_SIM_FN_kovra_core_free_bool_array, array);
}

extern "C" int32_t kovra_sim_register_target_handler(kovra_initiator* broker,
                                                     kovra_broker_new_target_handler handler,
                                                     void* context) {
    return call(
        KOVRA_SIM_FN_kovra_api_broker_new_target_register_event_handler,
        [&](Camera& cam) {
            if (!is_event_broker(cam, broker)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            if (!handler) return KOVRA_SIM_STATUS_NULL_POINTER;
            cam.announcer.subscribe(broker, handler, context);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t) {
            e.handle(broker, cam.registry.number(broker))
                .pointer(reinterpret_cast<void const*>(handler))
                .pointer(context);
        });
}

extern "C" int32_t kovra_sim_unregister_target_handler(kovra_initiator* broker,
                                                       kovra_broker_new_target_handler handler) {
    return call(
        KOVRA_SIM_FN_kovra_api_broker_new_target_unregister_event_handler,
        [&](Camera& cam) {
            if (!is_event_broker(cam, broker)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            if (!handler) return KOVRA_SIM_STATUS_NULL_POINTER;
            // A handler that was never registered on this broker is no subscription handle.
            return cam.announcer.unsubscribe(broker, handler) ? KOVRA_SIM_STATUS_OK
                                                              : KOVRA_SIM_STATUS_BAD_HANDLE;
        },
        [&](Camera& cam, Entry& e, int32_t) {
            e.handle(broker, cam.registry.number(broker))
                .pointer(reinterpret_cast<void const*>(handler));
        });
}
