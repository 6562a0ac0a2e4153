// libkovra-interfaces: every service function of the client library,
// expanded from kovra_requests.def. A request hands its function number and
// the addresses of its arguments to the stand-in's runtime, which knows
// their types from the same declarations.
#include "client/bridge.h"
#include "common/functions.h"

#define KOVRA_EXPORT extern "C" __attribute__((visibility("default")))

// The address of each argument: the runtime reads them back with their types.
#define KSIM_ARGV(i, item) const_cast<void*>(static_cast<void const*>(&a##i)),

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

#define KOVRA_REQUEST(svc, op, ...)                                                                \
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
