/* Controls of the stand-in camera client library (libkovra-sim): fault
 * injection, the call journal, the simulated camera's settings and target
 * restarts. A program under test never needs this header; tests and tools
 * link libkovra-sim and use it in-process. The same controls are reachable
 * from outside the process through the KOVRA_SIM environment variable (see
 * kovra_sim_configure).
 *
 * Rules every function here follows:
 *  1. Functions are safe to call from any thread, also while requests run.
 *  2. Functions are named by their C names ("kovra_api_exposure_get_frame_rate_send",
 *     "kovra_core_init"). An unknown name is an error (KOVRA_SIM_STATUS_BAD_ARGUMENT).
 *  3. Functions that fill a caller's buffer return the length the full text
 *     needs (without its NUL) and write at most len - 1 characters and a NUL.
 *  4. Nothing here allocates memory that the caller must free. */
#ifndef KOVRA_SIM_CONTROL_H
#define KOVRA_SIM_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses returned by the stand-in's client-library functions. */
enum {
    KOVRA_SIM_STATUS_OK = 0,
    KOVRA_SIM_STATUS_BAD_HANDLE = -1,     /* handle unknown, released, or of another service */
    KOVRA_SIM_STATUS_NULL_POINTER = -2,   /* NULL where a value or out-parameter is needed */
    KOVRA_SIM_STATUS_UNKNOWN_TARGET = -3, /* no such target on the service, or no such instance */
    KOVRA_SIM_STATUS_NOT_CONNECTED = -4,  /* no connection: URL not served, or IPC released */
    KOVRA_SIM_STATUS_INJECTED = -5,       /* default status of an injected fault */
    KOVRA_SIM_STATUS_BAD_CONFIG = -6,     /* KOVRA_SIM could not be parsed */
    KOVRA_SIM_STATUS_BAD_ARGUMENT = -7    /* a control was called with a bad argument */
};

/* Applies directives in the syntax of the KOVRA_SIM environment variable:
 * a list separated by ';', each one of
 *   fail=FUNCTION[@N][:STATUS]   FUNCTION returns STATUS (default -5) on every
 *                                call, or only on its N-th call (1-based)
 *   set=SERVICE.SETTING[KEY]=V1,V2,...
 *                                presets a setting of the simulated camera
 *   restart=SERVICE[:TARGET]*COUNT/EVERY
 *                                the target restarts COUNT times, once after
 *                                every EVERY requests the camera has served
 *   latency=MICROSECONDS         every request takes this long to answer
 *   journal=PATH                 journal every call, written to PATH at
 *                                kovra_core_deinit
 *   state=PATH                   at kovra_core_deinit, write the settings, the
 *                                call counts and the outstanding arrays to PATH
 * Returns 0, or KOVRA_SIM_STATUS_BAD_CONFIG with nothing applied. */
int32_t kovra_sim_configure(char const* directives);

/* Back to the start: default settings, no faults, journal off and empty,
 * call counts 0, no restarts pending, no latency. */
void kovra_sim_reset(void);

/* Faults. */
int32_t kovra_sim_fail_always(char const* function, int32_t status);
int32_t kovra_sim_fail_nth(char const* function, uint32_t n, int32_t status);
void kovra_sim_clear_faults(void);

/* Number of calls of a function since the last reset (0 for an unknown name). */
uint32_t kovra_sim_call_count(char const* function);

/* Journal: one entry per call of any client-library function, in the order
 * the calls completed, formatted as
 *   name(arg, arg, ...) = status
 * Handles are "#N" (N counts the handles opened since the reset); texts
 * are quoted; an out-parameter is "&" and the value it holds after the call;
 * arrays are "[#N]" (N counts the arrays handed out) and NULL is "null".
 * Off by default; when off, a call costs no journal work. */
void kovra_sim_journal_enable(int on);
void kovra_sim_journal_clear(void);
size_t kovra_sim_journal_size(void);
size_t kovra_sim_journal_entry(size_t index, char* buffer, size_t len);

/* Settings. A key is "SERVICE.SETTING", with "[K1,K2]" behind it for a
 * setting with instances ("img_param.stream_dim[0,1]", "log.settings[KOVRA_IPC]").
 * Values are written as a comma-separated list, texts unquoted. */
int32_t kovra_sim_setting_set(char const* key, char const* values);
size_t kovra_sim_setting_get(char const* key, char* buffer, size_t len);
/* The whole configuration, one "key=values" line per setting, sorted by key. */
size_t kovra_sim_snapshot(char* buffer, size_t len);

/* Restarts a target ("exposure" or "exposure:0"): the broker announces it to
 * every registered handler from a library thread. Returns once the
 * announcement has been delivered. */
int32_t kovra_sim_restart_target(char const* target);

/* Arrays handed out by requests and not yet released. */
uint32_t kovra_sim_outstanding_arrays(void);

#ifdef __cplusplus
}
#endif

#endif
