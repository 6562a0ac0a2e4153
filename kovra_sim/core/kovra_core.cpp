// libkovra-core: the core functions of the client library, served by the
// simulated camera in libkovra-sim.
// Declared before bridge.h pulls the header in, so these declarations export.
#pragma GCC visibility push(default)
#include <kovra/kovra_core.h>
#pragma GCC visibility pop

#include "bridge.h"

int32_t kovra_core_init(void) { return kovra_sim_core_init(); }

int32_t kovra_core_deinit(void) { return kovra_sim_core_deinit(); }

int32_t kovra_core_logging_init(char const* identity, void** log) {
    return kovra_sim_logging_init(identity, log);
}

int32_t kovra_core_logging_deinit(void* log) { return kovra_sim_logging_deinit(log); }

int32_t kovra_core_logging_log(void* log, int32_t level, char const* format, ...) {
    va_list args;
    va_start(args, format);
    int32_t const status = kovra_sim_logging_vlog(log, level, format, args);
    va_end(args);
    return status;
}

int32_t kovra_core_ipc_initiator_init(void* log, char const* url, void** ipc) {
    return kovra_sim_ipc_init(log, url, ipc);
}

int32_t kovra_core_ipc_deinit(void* ipc) { return kovra_sim_ipc_deinit(ipc); }

int32_t kovra_core_free_string_array(kovra_string_array* array) {
    return kovra_sim_free_string_array(array);
}

int32_t kovra_core_free_bool_array(kovra_bool_array* array) {
    return kovra_sim_free_bool_array(array);
}
