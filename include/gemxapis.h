/* libgemxapis: the operations API. It starts and stops the helper process
 * that presents each operation, carries out the six operations, and
 * supplies the service's trace class. Every integer result is 0 for
 * success, anything else for failure. Texts are only read during a call;
 * they may hold any byte but NUL.
 *
 * The helper is the program bin/gemx_helper (bin\gemx_helper.exe) of the
 * product tree. It talks to the library over its standard input and output,
 * one line per operation and one answer line each, and records every
 * operation it is given as one line of the journal "gemx_helper.journal" in
 * the user's temporary directory (fileutl_get_tmpdir): the operation's name
 * and its arguments, separated by tabs, with a backslash, tab, newline or
 * carriage return inside an argument written as "\\", "\t", "\n", "\r";
 * lines end in a single "\n". The journal line is written before the answer.
 *
 * Nonzero results besides those of the helper (1: a pathname or cwd is
 * empty or does not exist; 2: the operation could not be journaled; 3: the
 * helper could not read the request) start at 101: a null or otherwise bad
 * argument, a helper that cannot be started or is not ready, a handle that
 * names no running helper, a helper being stopped, or one whose pipe broke. */
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
 * makes the product directory current; the path is made absolute at once),
 * waits until it says it is ready and stores a nonzero handle. While a
 * sound helper runs already, 0 with that helper's handle. Nonzero, with
 * *handle unchanged, when the helper is missing or cannot be started, or
 * ends, or says anything else than that it is ready, or stays silent for 30
 * seconds. The helper keeps only its standard input and output from this
 * process and ends by itself at their end, so it never outlives the
 * process that started it. */
GEMXAPIS_API int gemx_api_initialize(gemx_api_handle_t *handle);

/* Stops the helper process that *handle names: ends its input, waits up to
 * 5 seconds for it to end and kills it otherwise; stores 0 in every case
 * (nonzero when *handle named no running helper, which is then left alone).
 * May run while operations are in progress on other threads: those that
 * have not yet reached the helper fail, one that waits for an answer gets 2
 * more seconds before the helper is killed under it, and then fails. */
GEMXAPIS_API int gemx_api_uninitialize(gemx_api_handle_t *handle);

/* The operations. Each may be called from many threads at once; their
 * exchanges with the helper are carried out one after another. A handle
 * that names no running helper (0, stale) fails at once. An operation fails
 * when a pathname or cwd it is given is empty or does not exist (find_merge
 * has none). An operation waits for its answer as long as the helper takes.
 * update: count is the number of paths (at least 1, none null); the four
 * reserved arguments select nothing and are passed as 0. vtree: flags is
 * the flag word (1 all, 2 nco, 4 nmerge), passed on in decimal. */
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
 * outlive the object. Safe to use from any number of threads at once.
 *
 * The trace is on when, at the first trace call of the process, the
 * environment variable KESTRIN_GEMXAPIS_TRACE_DIR names a directory; the
 * log is then "gemxapis_log_<pid>.txt" in it, appended to. Lines, each
 * ending in a single "\n", are "component::module::function::Entering",
 * "...::Exiting" and "...::<message>". Every line is written whole under
 * one lock and flushed at once, so lines of concurrent threads never mix
 * and a crash loses none. With the trace off (variable missing, no such
 * directory, the log cannot be opened) nothing is written and each call
 * costs one flag test. */
class GEMXAPIS_API GEMXAPIS_Tracer {
public:
    GEMXAPIS_Tracer(const char *component, const char *module, const char *function);
    ~GEMXAPIS_Tracer();
    GEMXAPIS_Tracer(const GEMXAPIS_Tracer &) = delete;
    GEMXAPIS_Tracer &operator=(const GEMXAPIS_Tracer &) = delete;

    /* One message line, printf-style; the formatted text is written as it
     * is (a "%" in an argument reaches the log unchanged). */
    void writeTrace(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    /* Flushes and closes the trace output, so that nothing is lost when the
     * process exits right after. Later trace calls write nothing (also when
     * it is called before the first trace call). */
    static void close_file();

private:
    const char *component_;
    const char *module_;
    const char *function_;
};
#endif

#endif
