/* The link between the two client-library objects (libkovra-core,
 * libkovra-interfaces) and the stand-in's runtime in libkovra-sim: one
 * entry point per kind of call. Private to the stand-in: exported from
 * libkovra-sim only under the ksim_ prefix and the KSIM_PRIVATE version
 * node, so nothing outside the stand-in can link to it by accident. Plain C,
 * so that the three objects agree on C symbols only. None of these lets an
 * exception out: every failure is a status. */
#pragma once

#include <kovra/kovra_api.h>
#include <stdarg.h>
#include <stdint.h>

#define KSIM_BRIDGE __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

KSIM_BRIDGE int32_t ksim_core_init(void);
KSIM_BRIDGE int32_t ksim_core_deinit(void);
KSIM_BRIDGE int32_t ksim_logging_init(char const* identity, void** log);
KSIM_BRIDGE int32_t ksim_logging_deinit(void* log);
KSIM_BRIDGE int32_t ksim_logging_vlog(void* log, int32_t level, char const* format, va_list args);
KSIM_BRIDGE int32_t ksim_ipc_init(void* log, char const* url, void** ipc);
KSIM_BRIDGE int32_t ksim_ipc_deinit(void* ipc);
/* `function` is the id of kovra_core_free_string_array or _bool_array. */
KSIM_BRIDGE int32_t ksim_free_array(int32_t function, void* array);
/* `function` is the id of the service's initiator init or deinit. */
KSIM_BRIDGE int32_t ksim_initiator_init(int32_t function, void* ipc, void* log,
                                        kovra_initiator** initiator, int32_t events,
                                        int32_t reserved);
KSIM_BRIDGE int32_t ksim_initiator_deinit(int32_t function, kovra_initiator* initiator);
/* One request: argv[i] points at argument i (the runtime knows its type). */
KSIM_BRIDGE int32_t ksim_request(int32_t function, kovra_initiator* initiator, char const* target,
                                 void* const* argv);
KSIM_BRIDGE int32_t ksim_register(kovra_initiator* broker, kovra_broker_new_target_handler handler,
                                  void* context);
KSIM_BRIDGE int32_t ksim_unregister(kovra_initiator* broker,
                                    kovra_broker_new_target_handler handler);

#ifdef __cplusplus
}
#endif
