// libkovra-interfaces: every service function of the client library. The
// initiator pairs and the requests are expanded from kovra_requests.def; each
// request describes its arguments once, at compile time, and hands their
// addresses to the simulated camera, which serves and journals them.
// Declared before bridge.h pulls the header in, so these declarations export.
#pragma GCC visibility push(default)
#include <kovra/kovra_api.h>
#pragma GCC visibility pop

#include "bridge.h"

// The address serve() reads argument aN through: the value's own address for
// items sent, the caller's out-parameter for GET items.
#define KOVRA_SIM_ARGV(i, item) KOVRA_CAT(KOVRA_SIM_ARGV_, item)(a##i),
#define KOVRA_SIM_ARGV_IN(t) KOVRA_SIM_SENT
#define KOVRA_SIM_ARGV_KEY(t) KOVRA_SIM_SENT
#define KOVRA_SIM_ARGV_SET(t, slot) KOVRA_SIM_SENT
#define KOVRA_SIM_ARGV_GET(t, slot) KOVRA_SIM_RECEIVED
#define KOVRA_SIM_SENT(a) const_cast<void*>(static_cast<void const*>(&a))
#define KOVRA_SIM_RECEIVED(a) static_cast<void*>(a)

#define KOVRA_SERVICE(svc)                                                                      \
    int32_t kovra_api_##svc##_initiator_init(void* ipc, void* log, kovra_initiator** initiator, \
                                             int32_t events, int32_t reserved) {                \
        return kovra_sim_initiator_init(KOVRA_SIM_FN_kovra_api_##svc##_initiator_init,          \
                                        KOVRA_SIM_SVC_##svc, ipc, log, initiator, events,       \
                                        reserved);                                              \
    }                                                                                           \
    int32_t kovra_api_##svc##_initiator_deinit(kovra_initiator* initiator) {                    \
        return kovra_sim_initiator_deinit(KOVRA_SIM_FN_kovra_api_##svc##_initiator_deinit,      \
                                          KOVRA_SIM_SVC_##svc, initiator);                      \
    }

#define KOVRA_ACTION(svc, op)                                                                  \
    int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator, char const* target) {    \
        static constexpr kovra_sim_request request{KOVRA_SIM_FN_kovra_api_##svc##_##op##_send, \
                                                   KOVRA_SIM_SVC_##svc, nullptr, 0, nullptr};  \
        return kovra_sim_serve(&request, initiator, target, nullptr);                          \
    }

#define KOVRA_REQUEST(svc, op, setting, ...)                                                   \
    int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator,                          \
                                          char const* target KOVRA_PARAMS(__VA_ARGS__)) {      \
        static constexpr kovra_sim_arg args[] = {KOVRA_EACH(KOVRA_SIM_ARG, __VA_ARGS__)};      \
        static constexpr kovra_sim_request request{KOVRA_SIM_FN_kovra_api_##svc##_##op##_send, \
                                                   KOVRA_SIM_SVC_##svc, #setting,              \
                                                   sizeof args / sizeof args[0], args};        \
        void* const argv[] = {KOVRA_EACH(KOVRA_SIM_ARGV, __VA_ARGS__)};                        \
        return kovra_sim_serve(&request, initiator, target, argv);                             \
    }

#include <kovra/kovra_requests.def>

int32_t kovra_api_broker_new_target_register_event_handler(kovra_initiator* broker,
                                                           kovra_broker_new_target_handler handler,
                                                           void* context) {
    return kovra_sim_register_target_handler(broker, handler, context);
}

int32_t kovra_api_broker_new_target_unregister_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler) {
    return kovra_sim_unregister_target_handler(broker, handler);
}
