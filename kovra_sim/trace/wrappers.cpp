// Every function of the client library, expanded from kovra_requests.def
// (the hand-written rows written out below): each forwards to the next
// definition, through the tracer when KOVRA_TRACE is on.
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "trace/handlers.h"
#include "trace/tracer.h"

using namespace kovra_sim;
using namespace kovra_sim::trace;

#define KOVRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Calls the next definition of function F (of type Fn) with `args`.
template <int F, class Fn, class... A>
int32_t forward(A... args) noexcept {
    auto const next_f = reinterpret_cast<Fn>(next[F]);
    return next_f ? next_f(args...) : kInternal;
}

// The same through the tracer `t`, `describe(tracer, entry, status)` saying
// how the call reads in the journal.
template <int F, class Fn, class Describe, class... A>
int32_t through(Tracer* t, Describe& describe, A... args) noexcept {
    if (t == kChildWakes && !(t = wake_child())) return forward<F, Fn>(args...);
    return t->call(
        F, [&] { return forward<F, Fn>(args...); },
        [&](Entry& e, int32_t status) { describe(*t, e, status); });
}

// Apart from the call the layer only forwards, which then prepares nothing
// for the tracer.
template <int F, class Fn, class Describe, class... A>
[[gnu::noinline]] int32_t through_apart(Tracer* t, Describe& describe, A... args) noexcept {
    return through<F, Fn>(t, describe, args...);
}

// Calls the next definition of function F, through the tracer when tracing.
template <int F, class Fn, class Describe, class... A>
int32_t traced(Describe&& describe, A... args) noexcept {
    Tracer* const t = active.load(std::memory_order_relaxed);
    if (!t) return forward<F, Fn>(args...);
    return through_apart<F, Fn>(t, describe, args...);
}

template <int F, class Fn, class... A>
[[gnu::noinline]] int32_t request_through(Tracer* t, kovra_initiator* initiator, char const* target,
                                          A... args) noexcept {
    auto describe = [&](Tracer& tracer, Entry& e, int32_t status) {
        describe_request(e, tracer, status, initiator, target, args...);
    };
    return through<F, Fn>(t, describe, initiator, target, args...);
}

// A request row: the first argument only says its parameter types. The
// arguments are taken apart only when tracing, as in traced().
template <int F, class... A>
int32_t request(int32_t (*)(kovra_initiator*, char const*, A...), kovra_initiator* initiator,
                char const* target, A... args) noexcept {
    using Fn = int32_t (*)(kovra_initiator*, char const*, A...);
    Tracer* const t = active.load(std::memory_order_relaxed);
    if (!t) return forward<F, Fn>(initiator, target, args...);
    return request_through<F, Fn>(t, initiator, target, args...);
}

}  // namespace

#define KOVRA_SERVICE(svc, target)                                                             \
    KOVRA_EXPORT int32_t kovra_api_##svc##_initiator_init(                                     \
        void* ipc, void* log, kovra_initiator** initiator, int32_t events, int32_t reserved) { \
        return traced<fn_kovra_api_##svc##_initiator_init,                                     \
                      decltype(&kovra_api_##svc##_initiator_init)>(                            \
            [&](Tracer& t, Entry& e, int32_t status) {                                         \
                if (status == 0 && initiator) t.opened(*initiator);                            \
                e.handle(ipc, t.handle(ipc)).handle(log, t.handle(log));                       \
                describe_opened(e, t, reinterpret_cast<void* const*>(initiator), status);      \
                e.number(events).number(reserved);                                             \
            },                                                                                 \
            ipc, log, initiator, events, reserved);                                            \
    }                                                                                          \
    KOVRA_EXPORT int32_t kovra_api_##svc##_initiator_deinit(kovra_initiator* initiator) {      \
        return traced<fn_kovra_api_##svc##_initiator_deinit,                                   \
                      decltype(&kovra_api_##svc##_initiator_deinit)>(                          \
            [&](Tracer& t, Entry& e, int32_t) { e.handle(initiator, t.handle(initiator)); },   \
            initiator);                                                                        \
    }
#define KOVRA_ACTION(svc, op)                                                            \
    KOVRA_EXPORT int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator,       \
                                                       char const* target) {             \
        return request<fn_kovra_api_##svc##_##op##_send>(&kovra_api_##svc##_##op##_send, \
                                                         initiator, target);             \
    }
#define KOVRA_REQUEST(svc, op, ...)                                                          \
    KOVRA_EXPORT int32_t kovra_api_##svc##_##op##_send(                                      \
        kovra_initiator* initiator, char const* target KOVRA_PARAMS(__VA_ARGS__)) {          \
        return request<fn_kovra_api_##svc##_##op##_send>(                                    \
            &kovra_api_##svc##_##op##_send, initiator, target KOVRA_ARG_NAMES(__VA_ARGS__)); \
    }
#include <kovra/kovra_requests.def>

KOVRA_EXPORT int32_t kovra_core_init(void) {
    if (int32_t const refused = wake()) return refused;
    return traced<fn_kovra_core_init, decltype(&kovra_core_init)>([](Tracer&, Entry&, int32_t) {});
}

// The files are finished after the call, so a journal ends with it.
KOVRA_EXPORT int32_t kovra_core_deinit(void) {
    int32_t const status =
        traced<fn_kovra_core_deinit, decltype(&kovra_core_deinit)>([](Tracer&, Entry&, int32_t) {});
    Tracer* const t = active.load();
    if (t && t != kChildWakes) t->finish();
    return status;
}

KOVRA_EXPORT int32_t kovra_core_logging_init(char const* identity, void** log) {
    if (int32_t const refused = wake()) return refused;
    return traced<fn_kovra_core_logging_init, decltype(&kovra_core_logging_init)>(
        [&](Tracer& t, Entry& e, int32_t status) {
            if (status == 0 && log) t.opened(*log);
            e.text(identity);
            describe_opened(e, t, log, status);
        },
        identity, log);
}

KOVRA_EXPORT int32_t kovra_core_logging_deinit(void* log) {
    return traced<fn_kovra_core_logging_deinit, decltype(&kovra_core_logging_deinit)>(
        [&](Tracer& t, Entry& e, int32_t) { e.handle(log, t.handle(log)); }, log);
}

// Arguments cannot be passed on as they came: the message is formatted
// here and passed on as "%s", so the library logs the same line.
KOVRA_EXPORT int32_t kovra_core_logging_log(void* log, int32_t level, char const* format, ...) {
    using Log = int32_t (*)(void*, int32_t, char const*, ...);
    char message[4096];  // longer lines are cut
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    auto const describe = [&](Tracer& t, Entry& e, int32_t) {
        e.handle(log, t.handle(log)).number(level).text(format ? message : nullptr);
    };
    if (!format) return traced<fn_kovra_core_logging_log, Log>(describe, log, level, format);
    return traced<fn_kovra_core_logging_log, Log>(describe, log, level, "%s",
                                                  static_cast<char const*>(message));
}

KOVRA_EXPORT int32_t kovra_core_ipc_initiator_init(void* log, char const* url, void** ipc) {
    return traced<fn_kovra_core_ipc_initiator_init, decltype(&kovra_core_ipc_initiator_init)>(
        [&](Tracer& t, Entry& e, int32_t status) {
            if (status == 0 && ipc) t.opened(*ipc);
            e.handle(log, t.handle(log)).text(url);
            describe_opened(e, t, ipc, status);
        },
        log, url, ipc);
}

KOVRA_EXPORT int32_t kovra_core_ipc_deinit(void* ipc) {
    return traced<fn_kovra_core_ipc_deinit, decltype(&kovra_core_ipc_deinit)>(
        [&](Tracer& t, Entry& e, int32_t) { e.handle(ipc, t.handle(ipc)); }, ipc);
}

KOVRA_EXPORT int32_t kovra_core_free_string_array(kovra_string_array* array) {
    return traced<fn_kovra_core_free_string_array, decltype(&kovra_core_free_string_array)>(
        [&](Tracer& t, Entry& e, int32_t) {
            shown::put(e.next(), t, static_cast<kovra_string_array const*>(array));
            t.released(array);
        },
        array);
}

KOVRA_EXPORT int32_t kovra_core_free_bool_array(kovra_bool_array* array) {
    return traced<fn_kovra_core_free_bool_array, decltype(&kovra_core_free_bool_array)>(
        [&](Tracer& t, Entry& e, int32_t) {
            shown::put(e.next(), t, static_cast<kovra_bool_array const*>(array));
            t.released(array);
        },
        array);
}

// The program's event handlers are registered behind trampolines of the
// layer's (handlers.h), so that each announcement is recorded on its way.
namespace {

// A call the layer refuses itself, with `status`, recorded as the library's
// would be.
template <int F, class Describe>
int32_t refused(Describe& describe, int32_t status) noexcept {
    Tracer* t = active.load(std::memory_order_relaxed);
    if (t == kChildWakes) t = wake_child();
    if (!t) return status;
    return t->call(
        F, [&] { return status; }, [&](Entry& e, int32_t s) { describe(*t, e, s); });
}

}  // namespace

// A handler the layer cannot put behind a trampoline of its own (all are
// taken by other functions) is refused: through unwrapped, it would be
// neither counted nor unregistered with the rest.
KOVRA_EXPORT int32_t kovra_api_broker_new_target_register_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler, void* context) {
    using Register = decltype(&kovra_api_broker_new_target_register_event_handler);
    constexpr int id = fn_kovra_api_broker_new_target_register_event_handler;
    auto const describe = [&](Tracer& t, Entry& e, int32_t) {
        e.handle(broker, t.handle(broker)).pointer(reinterpret_cast<void*>(handler));
        e.pointer(context);
    };
    // No handler: the library's to refuse.
    if (!handler) return traced<id, Register>(describe, broker, handler, context);
    handlers::Registering const r = handlers::start_registering(broker, handler);
    if (!r.trampoline) return refused<id>(describe, kNoResources);
    int32_t const status = traced<id, Register>(describe, broker, r.trampoline, context);
    handlers::done_registering(r, broker, status == 0);
    return status;
}

// Every registration of `handler` on `broker` is undone at once, as the
// library undoes those of one pointer; one the layer did not make is the
// library's to answer for.
KOVRA_EXPORT int32_t kovra_api_broker_new_target_unregister_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler) {
    using Unregister = decltype(&kovra_api_broker_new_target_unregister_event_handler);
    constexpr int id = fn_kovra_api_broker_new_target_unregister_event_handler;
    auto const describe = [&](Tracer& t, Entry& e, int32_t) {
        e.handle(broker, t.handle(broker)).pointer(reinterpret_cast<void*>(handler));
    };
    handlers::Unregistering const u = handlers::start_unregistering(broker, handler);
    if (!u.trampoline) return traced<id, Unregister>(describe, broker, handler);
    int32_t const status = traced<id, Unregister>(describe, broker, u.trampoline);
    handlers::done_unregistering(u, broker, status == 0);
    return status;
}
