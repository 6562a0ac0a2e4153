// libkovra-interfaces: every service function of the client library,
// expanded from kovra_requests.def. A request hands the addresses of its
// arguments and its function id to the stand-in's runtime, which knows each
// argument's kind from the function's one descriptor.
#include "bridge.h"
#include "functions.h"

#define KOVRA_EXPORT extern "C" __attribute__((visibility("default")))

// The address the runtime reads argument aN through: the value's own
// address for items sent, the caller's out-parameter for GET items.
#define KSIM_ARGV(i, item) KOVRA_CAT(KSIM_ARGV_, item)(a##i),
#define KSIM_ARGV_IN(t) KSIM_SENT
#define KSIM_ARGV_KEY(t) KSIM_SENT
#define KSIM_ARGV_SET(t, slot) KSIM_SENT
#define KSIM_ARGV_GET(t, slot) KSIM_RECEIVED
#define KSIM_SENT(a) const_cast<void*>(static_cast<void const*>(&a))
#define KSIM_RECEIVED(a) static_cast<void*>(a)

#define KOVRA_SERVICE(svc, target)                                                                 \
    KOVRA_EXPORT int32_t kovra_api_##svc##_initiator_init(                                         \
        void* ipc, void* log, kovra_initiator** initiator, int32_t events, int32_t reserved) {     \
        return ksim_initiator_init(kovra_sim::fn_kovra_api_##svc##_initiator_init, ipc, log,       \
                                   initiator, events, reserved);                                   \
    }                                                                                              \
    KOVRA_EXPORT int32_t kovra_api_##svc##_initiator_deinit(kovra_initiator* initiator) {          \
        return ksim_initiator_deinit(kovra_sim::fn_kovra_api_##svc##_initiator_deinit, initiator); \
    }

#define KOVRA_ACTION(svc, op)                                                               \
    KOVRA_EXPORT int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator,          \
                                                       char const* target) {                \
        return ksim_request(kovra_sim::fn_kovra_api_##svc##_##op##_send, initiator, target, \
                            nullptr);                                                       \
    }

#define KOVRA_REQUEST(svc, op, setting, ...)                                                       \
    KOVRA_EXPORT int32_t kovra_api_##svc##_##op##_send(                                            \
        kovra_initiator* initiator, char const* target KOVRA_PARAMS(__VA_ARGS__)) {                \
        void* const argv[] = {KOVRA_EACH(KSIM_ARGV, __VA_ARGS__)};                                 \
        return ksim_request(kovra_sim::fn_kovra_api_##svc##_##op##_send, initiator, target, argv); \
    }

#include <kovra/kovra_requests.def>

KOVRA_EXPORT int32_t kovra_api_broker_new_target_register_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler, void* context) {
    return ksim_register(broker, handler, context);
}

KOVRA_EXPORT int32_t kovra_api_broker_new_target_unregister_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler) {
    return ksim_unregister(broker, handler);
}
