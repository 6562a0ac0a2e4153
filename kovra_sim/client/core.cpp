// libkovra-core: the core functions of the client library, served by the
// stand-in's runtime in libkovra-sim.
#include "client/bridge.h"
#include "common/functions.h"

// Each row of the table's hand-written functions must match its declaration:
// a function converts to a pointer of the row's type only if it has exactly
// that type (checked unevaluated, so the functions need not be linked here).
#define KOVRA_FUNCTION(name, params) \
    using row_##name = decltype(static_cast<int32_t(*) params>(&name));
#include <kovra/kovra_requests.def>

#define KOVRA_EXPORT extern "C" __attribute__((visibility("default")))

KOVRA_EXPORT int32_t kovra_core_init(void) { return ksim_core_init(); }

KOVRA_EXPORT int32_t kovra_core_deinit(void) { return ksim_core_deinit(); }

KOVRA_EXPORT int32_t kovra_core_logging_init(char const* identity, void** log) {
    return ksim_logging_init(identity, log);
}

KOVRA_EXPORT int32_t kovra_core_logging_deinit(void* log) { return ksim_logging_deinit(log); }

KOVRA_EXPORT int32_t kovra_core_logging_log(void* log, int32_t level, char const* format, ...) {
    va_list args;
    va_start(args, format);
    int32_t const status = ksim_logging_vlog(log, level, format, args);
    va_end(args);
    return status;
}

KOVRA_EXPORT int32_t kovra_core_ipc_initiator_init(void* log, char const* url, void** ipc) {
    return ksim_ipc_init(log, url, ipc);
}

KOVRA_EXPORT int32_t kovra_core_ipc_deinit(void* ipc) { return ksim_ipc_deinit(ipc); }

KOVRA_EXPORT int32_t kovra_core_free_string_array(kovra_string_array* array) {
    return ksim_free_array(kovra_sim::fn_kovra_core_free_string_array, array);
}

KOVRA_EXPORT int32_t kovra_core_free_bool_array(kovra_bool_array* array) {
    return ksim_free_array(kovra_sim::fn_kovra_core_free_bool_array, array);
}
