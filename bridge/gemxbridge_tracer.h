// The bridge's trace log: one plain-text file per process, written only when
// KESTRIN_GEMXBRIDGE_TRACE_DIR names a directory when the process's first
// trace scope is made.
//
// Every traced operation makes a GEMXBRIDGE_Tracer on entry. The scope
// writes "component::module::function::Entering" when it is made, message
// lines on request, and "...::Exiting" when it goes out of scope. The log
// is named <dir>/gemxbridge_log_d<HHMMSS>.txt after the UTC time of the
// first scope, opened for appending and not shared: a second process whose
// log name coincides runs untraced. close_file ends tracing for the rest of
// the process, so in a process that calls the bridge several times only the
// first call is traced.
//
// Threads: the state is process-wide and unguarded; the bridge's callers
// run one call at a time per process.
#pragma once

#include <cstdio>

class GEMXBRIDGE_Tracer {
public:
    GEMXBRIDGE_Tracer(const char *component, const char *module, const char *function);
    ~GEMXBRIDGE_Tracer();
    GEMXBRIDGE_Tracer(const GEMXBRIDGE_Tracer &) = delete;
    GEMXBRIDGE_Tracer &operator=(const GEMXBRIDGE_Tracer &) = delete;

    // Writes one message line, printf-style, and flushes the log. The text
    // is formatted once into a buffer of its own and written as it is, so a
    // "%" in an argument reaches the file unchanged.
    void writeTrace(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Closes the log if it is open; tracing stays off for the rest of the
    // process.
    static void close_file();

    // Puts the process-wide state back to "not read yet", closing the log.
    // For tests, which need several first uses in one process.
    static void reset_for_testing();

private:
    static void first_use_init();
    static void open_log();
    static bool active() { return trace_enabled && file_open; }

    const char *component;
    const char *module;
    const char *function;

    static bool first_use;
    static bool trace_enabled;
    static bool file_open;
    static std::FILE *log_file;
    // The variable's value, held only while the first scope names the log.
    static char *trace_dir;
};
