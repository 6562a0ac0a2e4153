/* The camera client library's core: start-up, logging, the IPC connection
 * and the release of arrays that requests return.
 *
 * Rules every function here and in kovra_api.h follows:
 *  1. Every function returns an int32_t status: 0 is success, anything else
 *     a failure whose value belongs to the library.
 *  2. Handles are opaque. The log handle and the IPC handle are void*; an
 *     initiator is a kovra_initiator*. Each is filled through an
 *     out-parameter by its init function and given back to its deinit.
 *  3. Texts a request returns through a char** out-parameter belong to the
 *     caller, who releases them with free(); free(NULL) is fine after a
 *     failed request.
 *  4. Arrays a request returns belong to the caller, who releases them with
 *     kovra_core_free_string_array or kovra_core_free_bool_array; both
 *     accept NULL.
 *  5. Requests block until the reply has arrived. Requests on one initiator
 *     may be made from many threads at once. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kovra_string_array kovra_string_array;
typedef struct kovra_bool_array kovra_bool_array;

/* First call of the process. */
int32_t kovra_core_init(void);
/* Last call of the process. */
int32_t kovra_core_deinit(void);

/* Opens the camera log under `identity` and fills *log. */
int32_t kovra_core_logging_init(char const* identity, void** log);
int32_t kovra_core_logging_deinit(void* log);
/* Writes one printf-style line to the camera log; level 3 is an error. */
int32_t kovra_core_logging_log(void* log, int32_t level, char const* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

/* Connects to the camera at `url` ("tcp://ipaddr"), or to the camera the
 * program runs on when url is NULL, and fills *ipc. */
int32_t kovra_core_ipc_initiator_init(void* log, char const* url, void** ipc);
int32_t kovra_core_ipc_deinit(void* ipc);

/* Release an array returned by a request. NULL is accepted. */
int32_t kovra_core_free_string_array(kovra_string_array* array);
int32_t kovra_core_free_bool_array(kovra_bool_array* array);

#ifdef __cplusplus
}
#endif
