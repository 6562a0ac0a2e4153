/* The link between the two client-library objects (libkovra-core,
 * libkovra-interfaces) and the simulated camera in libkovra-sim. Private to
 * the stand-in: the program never sees it, and it may change with the
 * stand-in. Everything here is plain C so that the three shared objects only
 * agree on C symbols. */
#ifndef KOVRA_SIM_BRIDGE_H
#define KOVRA_SIM_BRIDGE_H

#include <stdarg.h>
#include <stdint.h>

#include <kovra/kovra_api.h>

#define KOVRA_SIM_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* The hand-written functions of the client library; the rest come from
 * kovra_requests.def. */
#define KOVRA_SIM_CORE_FUNCTIONS(X)  \
    X(kovra_core_init)               \
    X(kovra_core_deinit)             \
    X(kovra_core_logging_init)       \
    X(kovra_core_logging_deinit)     \
    X(kovra_core_logging_log)        \
    X(kovra_core_ipc_initiator_init) \
    X(kovra_core_ipc_deinit)         \
    X(kovra_core_free_string_array)  \
    X(kovra_core_free_bool_array)
#define KOVRA_SIM_EVENT_FUNCTIONS(X)                      \
    X(kovra_api_broker_new_target_register_event_handler) \
    X(kovra_api_broker_new_target_unregister_event_handler)

/* One number per client-library function, in a fixed order: core functions,
 * then the table's rows, then the broker's event functions. */
#define KOVRA_SIM_FN_ID(name) KOVRA_SIM_FN_##name,
enum kovra_sim_function_id {
    KOVRA_SIM_CORE_FUNCTIONS(KOVRA_SIM_FN_ID)
#define KOVRA_SERVICE(svc) \
    KOVRA_SIM_FN_kovra_api_##svc##_initiator_init, KOVRA_SIM_FN_kovra_api_##svc##_initiator_deinit,
#define KOVRA_ACTION(svc, op) KOVRA_SIM_FN_kovra_api_##svc##_##op##_send,
#define KOVRA_REQUEST(svc, op, setting, ...) KOVRA_SIM_FN_kovra_api_##svc##_##op##_send,
#include <kovra/kovra_requests.def>
        KOVRA_SIM_EVENT_FUNCTIONS(KOVRA_SIM_FN_ID) KOVRA_SIM_FUNCTION_COUNT
};
#undef KOVRA_SIM_FN_ID

enum kovra_sim_service_id {
#define KOVRA_SERVICE(svc) KOVRA_SIM_SVC_##svc,
#include <kovra/kovra_requests.def>
    KOVRA_SIM_SERVICE_COUNT
};

enum kovra_sim_direction { KOVRA_SIM_IN, KOVRA_SIM_KEY, KOVRA_SIM_SET, KOVRA_SIM_GET };
enum kovra_sim_type {
    KOVRA_SIM_u8,
    KOVRA_SIM_u32,
    KOVRA_SIM_i32,
    KOVRA_SIM_f64,
    KOVRA_SIM_text,
    KOVRA_SIM_texts,
    KOVRA_SIM_bools
};

/* One argument item of a table row. */
struct kovra_sim_arg {
    uint8_t direction;
    uint8_t type;
    uint8_t slot;
};

/* KOVRA_SIM_ARG(i, item) is the kovra_sim_arg initialiser of a table item. */
#define KOVRA_SIM_ARG(i, item) KOVRA_CAT(KOVRA_SIM_ARG_, item),
#define KOVRA_SIM_ARG_IN(t) \
    { KOVRA_SIM_IN, KOVRA_SIM_##t, 0 }
#define KOVRA_SIM_ARG_KEY(t) \
    { KOVRA_SIM_KEY, KOVRA_SIM_##t, 0 }
#define KOVRA_SIM_ARG_SET(t, slot) \
    { KOVRA_SIM_SET, KOVRA_SIM_##t, slot }
#define KOVRA_SIM_ARG_GET(t, slot) \
    { KOVRA_SIM_GET, KOVRA_SIM_##t, slot }

/* A request function as the camera serves it. `setting` is NULL for an
 * action and "none" for a request that stores nothing. */
struct kovra_sim_request {
    int32_t function;
    int32_t service;
    char const* setting;
    uint32_t argc;
    struct kovra_sim_arg const* args;
};

/* The arrays requests hand out; `number` is the "#N" of the journal. */
struct kovra_string_array {
    uint32_t number;
    uint32_t count;
    char** items;
};
struct kovra_bool_array {
    uint32_t number;
    uint32_t count;
    uint8_t* items;
};

/* Serves one request. argv[i] points at the value of argument i for IN, KEY
 * and SET items, and is the caller's out-parameter pointer for GET items. */
KOVRA_SIM_EXPORT int32_t kovra_sim_serve(struct kovra_sim_request const* request,
                                         kovra_initiator* initiator, char const* target,
                                         void* const* argv);

KOVRA_SIM_EXPORT int32_t kovra_sim_initiator_init(int32_t function, int32_t service, void* ipc,
                                                  void* log, kovra_initiator** initiator,
                                                  int32_t events, int32_t reserved);
KOVRA_SIM_EXPORT int32_t kovra_sim_initiator_deinit(int32_t function, int32_t service,
                                                    kovra_initiator* initiator);

KOVRA_SIM_EXPORT int32_t kovra_sim_core_init(void);
KOVRA_SIM_EXPORT int32_t kovra_sim_core_deinit(void);
KOVRA_SIM_EXPORT int32_t kovra_sim_logging_init(char const* identity, void** log);
KOVRA_SIM_EXPORT int32_t kovra_sim_logging_deinit(void* log);
KOVRA_SIM_EXPORT int32_t kovra_sim_logging_vlog(void* log, int32_t level, char const* format,
                                                va_list args);
KOVRA_SIM_EXPORT int32_t kovra_sim_ipc_init(void* log, char const* url, void** ipc);
KOVRA_SIM_EXPORT int32_t kovra_sim_ipc_deinit(void* ipc);
KOVRA_SIM_EXPORT int32_t kovra_sim_free_string_array(kovra_string_array* array);
KOVRA_SIM_EXPORT int32_t kovra_sim_free_bool_array(kovra_bool_array* array);
KOVRA_SIM_EXPORT int32_t kovra_sim_register_target_handler(kovra_initiator* broker,
                                                           kovra_broker_new_target_handler handler,
                                                           void* context);
KOVRA_SIM_EXPORT int32_t kovra_sim_unregister_target_handler(
    kovra_initiator* broker, kovra_broker_new_target_handler handler);

#ifdef __cplusplus
}
#endif

#endif
