/* libgemxapis: the operations API. It starts and stops the helper process
 * that presents each operation, carries out the six operations, and
 * supplies the service's trace class. Every integer result is 0 for
 * success, anything else for failure. Texts are only read during a call. */
#ifndef GEMXAPIS_H
#define GEMXAPIS_H

#include <stdint.h>

#include "kestrin_api.h"

#if defined(GEMXAPIS_BUILD) || !defined(_WIN32)
#define GEMXAPIS_API KESTRIN_EXPORT
#else
#define GEMXAPIS_API
#endif

/* The helper handle: opaque, 0 means no helper process. */
typedef int32_t gemx_api_handle_t;

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the helper program <current directory>/bin/gemx_helper (the caller
 * makes the product directory current), waits until it is ready and stores
 * a nonzero handle. Nonzero when the helper is missing or does not start. */
GEMXAPIS_API int gemx_api_initialize(gemx_api_handle_t *handle);

/* Stops the helper process, waits for it and stores 0. May run while
 * operations are in progress on other threads. */
GEMXAPIS_API int gemx_api_uninitialize(gemx_api_handle_t *handle);

/* The operations. Each may be called from many threads at once. */
GEMXAPIS_API int gemx_api_deliver(gemx_api_handle_t handle, const char *cwd);
GEMXAPIS_API int gemx_api_rebase(gemx_api_handle_t handle, const char *cwd);
GEMXAPIS_API int gemx_api_find_merge(gemx_api_handle_t handle);
GEMXAPIS_API int gemx_api_history(gemx_api_handle_t handle, const char *pathname);
GEMXAPIS_API int gemx_api_update(gemx_api_handle_t handle, int reserved, const char **paths, int count,
                                 int reserved2, int reserved3, int reserved4, int reserved5);
GEMXAPIS_API int gemx_api_vtree(gemx_api_handle_t handle, const char *pathname, int flags);

#ifdef __cplusplus
}

/* A trace scope of the service: made on entry of a traced function, it
 * writes an Entering line, message lines on request and an Exiting line
 * when it goes out of scope. The three names are string literals that
 * outlive the object. Safe to use from any number of threads at once. */
class GEMXAPIS_API GEMXAPIS_Tracer {
public:
    GEMXAPIS_Tracer(const char *component, const char *module, const char *function);
    ~GEMXAPIS_Tracer();
    GEMXAPIS_Tracer(const GEMXAPIS_Tracer &) = delete;
    GEMXAPIS_Tracer &operator=(const GEMXAPIS_Tracer &) = delete;

    /* One message line, printf-style. */
    void writeTrace(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    /* Flushes and closes the trace output, so that nothing is lost when the
     * process exits right after. Later trace calls write nothing. */
    static void close_file();

private:
    const char *component_;
    const char *module_;
    const char *function_;
};
#endif

#endif
