/* The camera's services: one family of functions per service word, expanded
 * from kovra_requests.def. The rules at the top of kovra_core.h apply.
 *
 * For each service word <svc>:
 *   kovra_api_<svc>_initiator_init(ipc, log, &initiator, events, reserved)
 *       opens an initiator on the service; `events` is 1 for an initiator
 *       that will receive event handlers (only the broker has events), else 0;
 *       `reserved` is 0.
 *   kovra_api_<svc>_initiator_deinit(initiator)
 *   kovra_api_<svc>_<operation>_send(initiator, target, args...)
 *       one request to the named target of the service, blocking until the
 *       reply; out-parameters are filled on success. */
#pragma once

#include <stdint.h>

#include "kovra_core.h"
#include "kovra_table.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kovra_initiator kovra_initiator;

#define KOVRA_SERVICE(svc, target)                                                              \
    int32_t kovra_api_##svc##_initiator_init(void* ipc, void* log, kovra_initiator** initiator, \
                                             int32_t events, int32_t reserved);                 \
    int32_t kovra_api_##svc##_initiator_deinit(kovra_initiator* initiator);
#define KOVRA_ACTION(svc, op) \
    int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator, char const* target);
#define KOVRA_REQUEST(svc, op, ...)                                   \
    int32_t kovra_api_##svc##_##op##_send(kovra_initiator* initiator, \
                                          char const* target KOVRA_PARAMS(__VA_ARGS__));
#include "kovra_requests.def"

/* Called each time a service target announces itself on the broker: the
 * service word, the target name, a flag, the address the target serves on,
 * and the context given at registration. */
typedef void (*kovra_broker_new_target_handler)(char const* service, char const* target,
                                                uint8_t flag, char const* address, void* context);

/* Subscribes `handler` on a broker initiator opened with events = 1. The
 * handler runs on a library thread until it is unregistered. */
int32_t kovra_api_broker_new_target_register_event_handler(kovra_initiator* broker,
                                                           kovra_broker_new_target_handler handler,
                                                           void* context);
/* Ends the subscription; no call of `handler` is running or follows once
 * this returns. */
int32_t kovra_api_broker_new_target_unregister_event_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler);

#ifdef __cplusplus
}
#endif
