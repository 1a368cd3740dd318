/* Diagnostic calls of libgemxapis for the tests of the library itself:
 * they let a test see the helper process and shorten the time limits. The
 * service does not use them. */
#ifndef GEMXAPIS_TESTING_H
#define GEMXAPIS_TESTING_H

#include "gemxapis.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The process id of the helper that handle names, 0 when it names none. */
GEMXAPIS_API int gemx_api_testing_helper_pid(gemx_api_handle_t handle);

/* Replaces the time limits in milliseconds: for the helper's ready line
 * (30000), for an exchange in progress when stopping (2000), for the helper
 * to end after its input closed (5000). Values below 0 keep a limit. */
GEMXAPIS_API void gemx_api_testing_set_timeouts(int ready_ms, int busy_ms, int stop_ms);

#ifdef __cplusplus
}
#endif

#endif
