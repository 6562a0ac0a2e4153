/* Controls of the stand-in camera client library (libkovra-sim): fault
 * injection, the call journal, the simulated camera's settings and target
 * restarts, for tests and tools that link libkovra-sim; a program under test
 * reaches them through KOVRA_SIM instead (see kovra_sim_configure).
 *
 * Every function here is safe from any thread, also while requests run;
 * names functions by their C names ("kovra_core_init"), an unknown one being
 * KOVRA_SIM_STATUS_BAD_ARGUMENT; allocates nothing the caller must free; and
 * when filling a caller's buffer returns the length the full text needs
 * (without its NUL) and writes at most len - 1 characters and a NUL. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses returned by the stand-in's client-library functions. */
enum {
    KOVRA_SIM_STATUS_OK = 0,
    KOVRA_SIM_STATUS_BAD_HANDLE = -1,     /* handle unknown, released, or of another service;
                                             also an array released twice, an event handler
                                             not registered, a log handle that is not live */
    KOVRA_SIM_STATUS_NULL_POINTER = -2,   /* NULL where a value or out-parameter is needed */
    KOVRA_SIM_STATUS_UNKNOWN_TARGET = -3, /* no such target on the service, or no such instance */
    KOVRA_SIM_STATUS_NOT_CONNECTED = -4,  /* no connection: the camera refused it, dropped it,
                                             or is away (reconnecting); or the IPC handle was
                                             released */
    KOVRA_SIM_STATUS_INJECTED = -5,       /* default status of an injected fault */
    KOVRA_SIM_STATUS_BAD_CONFIG = -6,     /* KOVRA_SIM could not be parsed or applied */
    KOVRA_SIM_STATUS_BAD_ARGUMENT = -7,   /* a control was called with a bad argument, an
                                             initiator with events/reserved out of range, or a
                                             URL that is not tcp://HOST[:PORT] */
    KOVRA_SIM_STATUS_TIMEOUT = -8,        /* the camera did not answer within the deadline */
    KOVRA_SIM_STATUS_PROTOCOL = -9,       /* the camera speaks another protocol version or was
                                             built from another table of functions, or it sent
                                             something malformed */
    KOVRA_SIM_STATUS_NO_RESOURCES = -10,  /* memory, a thread, or one of the camera's limits
                                             (connections, requests in flight) ran out */
    KOVRA_SIM_STATUS_INTERNAL = -11       /* an unexpected error inside the stand-in */
};

/* Applies directives in the syntax of the KOVRA_SIM environment variable:
 * a list of NAME=VALUE separated by ';' (blanks around a directive and empty
 * ones are ignored). `kovra-sim-info --directives` lists those a program's
 * KOVRA_SIM takes, with what each does; among them fail=, set=, restart=
 * and latency= shape the camera in this process, and with a tcp:// URL
 * belong to the daemon. Each file must be a regular file, a link to one or
 * a new name, named once. KOVRA_SIM is read once, on the first call of any
 * function of the stand-in; if it does not parse, one line
 * "kovra-sim: KOVRA_SIM: <reason>" goes to stderr, nothing of it is applied,
 * and kovra_core_init and kovra_core_logging_init return
 * KOVRA_SIM_STATUS_BAD_CONFIG (also after a reset). A file that cannot be
 * written is said on stderr as "kovra-sim: cannot write PATH: <reason>".
 * Returns 0, or KOVRA_SIM_STATUS_BAD_CONFIG with nothing applied. */
int32_t kovra_sim_configure(char const* directives);

/* Back to the start: default settings, no faults, journal off and empty,
 * call counts 0, no restarts pending, no latency, no journal or state file,
 * no event handlers (the announcer thread is stopped). Every handle is
 * forgotten: one held from before the reset gives KOVRA_SIM_STATUS_BAD_HANDLE,
 * and handle numbers count from 1 again. Arrays handed out before stay
 * outstanding until released. KOVRA_SIM is not read again. */
void kovra_sim_reset(void);

/* Faults, as fail=FUNCTION[@N][:STATUS] gives them: FUNCTION returns STATUS
 * on every call, or on its N-th since the reset (n = 0 is not allowed for
 * kovra_sim_fail_nth). Faults on different N add up, one on call N wins over
 * an every-call one, a later one on the same call replaces an earlier one.
 * An unknown function or a status of 0 gives KOVRA_SIM_STATUS_BAD_ARGUMENT. */
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
 * After a failed call an out-parameter reads "&?" (it was left untouched);
 * a pointer that was never a handle or array reads "#?" or "[#?]"; event
 * handlers and contexts read "ptr" or "null". Texts escape \" \\ \n \t. An f64
 * is printed with %.15g, or %.17g when that is needed to read back exactly,
 * so 1.0 reads "1". kovra_core_logging_log shows the formatted message.
 * Off by default; when off, a call costs no journal work. `on` is 0 (off),
 * 1 (on) or 2 (on, and each entry begins with "T<n> ", the calling thread:
 * threads are numbered from 1 in the order they first add an entry after
 * the last reset or kovra_sim_journal_clear). */
void kovra_sim_journal_enable(int on);
void kovra_sim_journal_clear(void);
size_t kovra_sim_journal_size(void);
size_t kovra_sim_journal_entry(size_t index, char* buffer, size_t len);

/* Settings. A key is "SERVICE.SETTING", with "[K1,K2]" behind it for a
 * setting with instances ("img_param.stream_dim[0,1]", "log.settings[KOVRA_IPC]").
 * Values are written as a comma-separated list with one value per slot,
 * numbers in decimal, texts unquoted with \\ \n \t \, \| escaped, a list of
 * texts or of bools (0/1) as its items joined by '|'. kovra_sim_setting_set gives
 * KOVRA_SIM_STATUS_BAD_ARGUMENT for an unknown key or values that do not fit;
 * kovra_sim_setting_get gives "" for an unknown key. */
int32_t kovra_sim_setting_set(char const* key, char const* values);
size_t kovra_sim_setting_get(char const* key, char* buffer, size_t len);
/* The whole configuration, one "key=values" line per setting, sorted by key. */
size_t kovra_sim_snapshot(char* buffer, size_t len);

/* Restarts a target ("exposure" or "exposure:0"): the broker announces it to
 * every registered handler from a library thread. Returns once the
 * announcement has been delivered, or KOVRA_SIM_STATUS_BAD_ARGUMENT for an
 * unknown service or target. */
int32_t kovra_sim_restart_target(char const* target);

/* Arrays handed out by requests and not yet released. */
uint32_t kovra_sim_outstanding_arrays(void);

#ifdef __cplusplus
}
#endif
