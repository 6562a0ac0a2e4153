// The stand-in's call path, one entry point per kind of call. Every call is
// counted and may be faulted, its body runs, and the journal, when on,
// records it with its arguments and status. Nothing thrown inside leaves:
// running out of memory is KOVRA_SIM_STATUS_NO_RESOURCES, anything else
// KOVRA_SIM_STATUS_INTERNAL.
#include "client/bridge.h"

#include <kovra_sim/control.h>
#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <tuple>
#include <vector>

#include "client/call.h"
#include "client/library.h"
#include "common/args.h"
#include "observe/describe.h"
#include "wire/initiators.h"

using namespace kovra_sim;

namespace {

template <class Body>
int32_t guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (std::bad_alloc const&) {
        return KOVRA_SIM_STATUS_NO_RESOURCES;
    } catch (...) {
        return KOVRA_SIM_STATUS_INTERNAL;
    }
}

void no_arguments(Library&, Entry&, int32_t) {}

// Runs `body(lib)` unless a fault fires for `function`, observed as the
// trace layer observes a call: timed when statistics are on, and journaled
// with `describe(lib, entry, status)` when the journal is on.
template <class Body, class Describe = decltype(&no_arguments)>
int32_t call(int function, Body&& body, Describe&& describe = no_arguments) noexcept {
    return guarded([&] {
        Library& lib = library();
        return lib.observe(
            lib.ledger, function, [&] { return body(lib); },
            [&](Entry& e, int32_t status) { describe(lib, e, status); });
    });
}

// Request `function` with argument types A...: the caller's arguments,
// checked, typed and put to the camera, its replies handed back.
template <class... A>
int32_t request(int function, kovra_initiator* initiator, char const* target, void* const* argv,
                Types<A...>) {
    TypedCall<A...> typed(argv);
    return call(
        function,
        [&](Library& lib) -> int32_t {
            HandleInfo h, ipc;
            if (!lib.handles.live(initiator, HandleKind::initiator, &h) ||
                h.service != function_info(function).service) {
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            }
            if (!lib.handles.live_ipc(h.ipc, &ipc)) return KOVRA_SIM_STATUS_NOT_CONNECTED;
            if (!target || !typed.given()) return KOVRA_SIM_STATUS_NULL_POINTER;
            int32_t const status = ipc.transport->request(function, h.number, target, typed);
            if (status == KOVRA_SIM_STATUS_OK) typed.commit(lib.arrays);
            return status;
        },
        [&](Library& lib, Entry& e, int32_t status) {
            std::apply(
                [&](A... args) { describe_request(e, lib, status, initiator, target, args...); },
                typed.args());
        });
}

// Event handlers only go on broker initiators opened with events = 1.
bool event_broker(Library& lib, kovra_initiator* broker, HandleInfo* info, HandleInfo* ipc) {
    return lib.handles.live(broker, HandleKind::initiator, info) && info->service == svc_broker &&
           info->events && lib.handles.live_ipc(info->ipc, ipc);
}

}  // namespace

extern "C" int32_t ksim_request(int32_t function, kovra_initiator* initiator, char const* target,
                                void* const* argv) {
    return visit_request(
        function, [&](auto types) { return request(function, initiator, target, argv, types); });
}

extern "C" int32_t ksim_initiator_init(int32_t function, void* ipc, void* log,
                                       kovra_initiator** initiator, int32_t events,
                                       int32_t reserved) {
    int const service = function_info(function).service;
    return call(
        function,
        [&](Library& lib) -> int32_t {
            if (!initiator) return KOVRA_SIM_STATUS_NULL_POINTER;
            HandleInfo connection;
            if (!lib.handles.live(ipc, HandleKind::ipc, &connection) ||
                !lib.handles.live(log, HandleKind::log)) {
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            }
            if (int32_t const fits = Initiators::check(service, events, reserved)) return fits;
            void* const opened = lib.handles.open(HandleKind::initiator,
                                                  {0, service, events == 1, connection.number});
            if (!opened) return KOVRA_SIM_STATUS_NO_RESOURCES;
            int32_t const status = connection.transport->open_initiator(lib.handles.number(opened),
                                                                        service, events == 1);
            if (status != KOVRA_SIM_STATUS_OK) {
                lib.handles.close(opened, HandleKind::initiator);
                return status;
            }
            *initiator = static_cast<kovra_initiator*>(opened);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library& lib, Entry& e, int32_t status) {
            e.handle(ipc, lib.handle(ipc)).handle(log, lib.handle(log));
            describe_opened(e, lib, reinterpret_cast<void* const*>(initiator), status);
            e.raw(std::to_string(events)).raw(std::to_string(reserved));
        });
}

extern "C" int32_t ksim_initiator_deinit(int32_t function, kovra_initiator* initiator) {
    int const service = function_info(function).service;
    return call(
        function,
        [&](Library& lib) -> int32_t {
            HandleInfo h, ipc;
            if (!lib.handles.live(initiator, HandleKind::initiator, &h) || h.service != service) {
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            }
            // Its subscriptions end with it, so no handler is called for a dead broker.
            if (lib.handles.live_ipc(h.ipc, &ipc)) {
                ipc.transport->subscriptions.remove(h.number);
                ipc.transport->close_initiator(h.number, service);
            }
            lib.handles.close(initiator, HandleKind::initiator);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library& lib, Entry& e, int32_t) { e.handle(initiator, lib.handle(initiator)); });
}

extern "C" int32_t ksim_core_init(void) {
    return call(fn_kovra_core_init, [](Library& lib) -> int32_t {
        return lib.bad_config() ? KOVRA_SIM_STATUS_BAD_CONFIG : KOVRA_SIM_STATUS_OK;
    });
}

// Its own journal line is added before the files are finished, so a journal
// file ends with the kovra_core_deinit that finished it.
extern "C" int32_t ksim_core_deinit(void) {
    int32_t const status =
        call(fn_kovra_core_deinit, [](Library&) -> int32_t { return KOVRA_SIM_STATUS_OK; });
    if (status != KOVRA_SIM_STATUS_OK) return status;
    return guarded([]() -> int32_t {
        Library& lib = library();
        lib.announcer.stop();
        lib.finish_files();
        return KOVRA_SIM_STATUS_OK;
    });
}

extern "C" int32_t ksim_logging_init(char const* identity, void** log) {
    return call(
        fn_kovra_core_logging_init,
        [&](Library& lib) -> int32_t {
            if (!identity || !log) return KOVRA_SIM_STATUS_NULL_POINTER;
            if (lib.bad_config()) return KOVRA_SIM_STATUS_BAD_CONFIG;
            void* const opened = lib.handles.open(HandleKind::log, {});
            if (!opened) return KOVRA_SIM_STATUS_NO_RESOURCES;
            openlog(lib.keep_identity(identity), LOG_PID, LOG_USER);
            *log = opened;
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library& lib, Entry& e, int32_t status) {
            e.text(identity);
            describe_opened(e, lib, log, status);
        });
}

extern "C" int32_t ksim_logging_deinit(void* log) {
    return call(
        fn_kovra_core_logging_deinit,
        [&](Library& lib) -> int32_t {
            return lib.handles.close(log, HandleKind::log) ? KOVRA_SIM_STATUS_OK
                                                           : KOVRA_SIM_STATUS_BAD_HANDLE;
        },
        [&](Library& lib, Entry& e, int32_t) { e.handle(log, lib.handle(log)); });
}

extern "C" int32_t ksim_logging_vlog(void* log, int32_t level, char const* format, va_list args) {
    char small[512];
    std::vector<char> large;
    char const* message = nullptr;
    return call(
        fn_kovra_core_logging_log,
        [&](Library& lib) -> int32_t {
            if (!lib.handles.live(log, HandleKind::log)) return KOVRA_SIM_STATUS_BAD_HANDLE;
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
        [&](Library& lib, Entry& e, int32_t) {
            e.handle(log, lib.handle(log)).raw(std::to_string(level));
            e.text(message ? message : format);
        });
}

extern "C" int32_t ksim_ipc_init(void* log, char const* url, void** ipc) {
    return call(
        fn_kovra_core_ipc_initiator_init,
        [&](Library& lib) -> int32_t {
            if (!ipc) return KOVRA_SIM_STATUS_NULL_POINTER;
            if (!lib.handles.live(log, HandleKind::log)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            void* const opened = lib.handles.open(HandleKind::ipc, {});
            if (!opened) return KOVRA_SIM_STATUS_NO_RESOURCES;
            int32_t status = KOVRA_SIM_STATUS_OK;
            Transport* const transport =
                lib.connect(url, lib.handles.number(opened), lib.handles.number(log), status);
            if (!transport) {
                lib.handles.close(opened, HandleKind::ipc);
                return status;
            }
            lib.handles.attach(opened, transport);
            *ipc = opened;
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library& lib, Entry& e, int32_t status) {
            e.handle(log, lib.handle(log)).text(url);
            describe_opened(e, lib, ipc, status);
        });
}

extern "C" int32_t ksim_ipc_deinit(void* ipc) {
    return call(
        fn_kovra_core_ipc_deinit,
        [&](Library& lib) -> int32_t {
            HandleInfo h;
            if (!lib.handles.live(ipc, HandleKind::ipc, &h)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            lib.handles.close(ipc, HandleKind::ipc);
            h.transport->close();
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library& lib, Entry& e, int32_t) { e.handle(ipc, lib.handle(ipc)); });
}

extern "C" int32_t ksim_free_array(int32_t id, void* array) {
    uint32_t number = 0;
    return call(
        id,
        [&](Library& lib) -> int32_t {
            if (!array) return KOVRA_SIM_STATUS_OK;
            if (!lib.arrays.remove(array)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            // Both kinds of array start with their number.
            number = *static_cast<uint32_t const*>(array);
            std::free(array);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Library&, Entry& e, int32_t) {
            e.raw(!array ? "null" : number ? "[#" + std::to_string(number) + "]" : "[#?]");
        });
}

extern "C" int32_t ksim_register(kovra_initiator* broker, kovra_broker_new_target_handler handler,
                                 void* context) {
    return call(
        fn_kovra_api_broker_new_target_register_event_handler,
        [&](Library& lib) -> int32_t {
            HandleInfo h, ipc;
            if (!event_broker(lib, broker, &h, &ipc)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            if (!handler) return KOVRA_SIM_STATUS_NULL_POINTER;
            int32_t const status = ipc.transport->subscribe(h.number, context != nullptr);
            if (status == KOVRA_SIM_STATUS_OK)
                ipc.transport->subscriptions.add(h.number, handler, context);
            return status;
        },
        [&](Library& lib, Entry& e, int32_t) {
            e.handle(broker, lib.handle(broker))
                .pointer(reinterpret_cast<void const*>(handler))
                .pointer(context);
        });
}

extern "C" int32_t ksim_unregister(kovra_initiator* broker,
                                   kovra_broker_new_target_handler handler) {
    return call(
        fn_kovra_api_broker_new_target_unregister_event_handler,
        [&](Library& lib) -> int32_t {
            HandleInfo h, ipc;
            if (!event_broker(lib, broker, &h, &ipc)) return KOVRA_SIM_STATUS_BAD_HANDLE;
            if (!handler) return KOVRA_SIM_STATUS_NULL_POINTER;
            // A handler that was never registered on this broker is no subscription handle.
            if (!ipc.transport->subscriptions.remove(h.number, handler))
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            return ipc.transport->unsubscribe(h.number);
        },
        [&](Library& lib, Entry& e, int32_t) {
            e.handle(broker, lib.handle(broker)).pointer(reinterpret_cast<void const*>(handler));
        });
}
