#include "gemxbridge_tracer.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "veyrant.h"

namespace {

const char kTraceDirVariable[] = "KESTRIN_GEMXBRIDGE_TRACE_DIR";

// The log path must fit a 256-byte buffer with its NUL.
const std::size_t kLogPathBuffer = 256;

}  // namespace

bool GEMXBRIDGE_Tracer::first_use = true;
bool GEMXBRIDGE_Tracer::trace_enabled = false;
bool GEMXBRIDGE_Tracer::file_open = false;
std::FILE *GEMXBRIDGE_Tracer::log_file = nullptr;
char *GEMXBRIDGE_Tracer::trace_dir = nullptr;

GEMXBRIDGE_Tracer::GEMXBRIDGE_Tracer(const char *component_, const char *module_, const char *function_)
    : component(component_), module(module_), function(function_) {
    if (first_use) first_use_init();
    if (active()) std::fprintf(log_file, "%s::%s::%s::Entering\n", component, module, function);
}

GEMXBRIDGE_Tracer::~GEMXBRIDGE_Tracer() {
    if (active()) std::fprintf(log_file, "%s::%s::%s::Exiting\n", component, module, function);
}

// Reads the trace directory once per process and opens the log when it is
// set. An empty value counts as unset: it would put the log at the root of
// the file system.
void GEMXBRIDGE_Tracer::first_use_init() {
    first_use = false;
    std::string value;
    if (!platform::get_environment(kTraceDirVariable, &value) || value.empty()) return;
    trace_dir = static_cast<char *>(std::malloc(value.size() + 1));
    if (!trace_dir) return;
    std::memcpy(trace_dir, value.c_str(), value.size() + 1);
    trace_enabled = true;
    open_log();
    // The directory is needed only to name the log, which happens once per
    // process. Releasing it now keeps a host that unloads the library from
    // losing the block.
    std::free(trace_dir);
    trace_dir = nullptr;
}

// Opens <trace_dir><sep>gemxbridge_log_d<HHMMSS>.txt for appending. A path
// that does not fit the 256-byte buffer, or a file that cannot be opened,
// leaves tracing off for the rest of the process.
void GEMXBRIDGE_Tracer::open_log() {
    if (log_file) return;
    platform::UtcTime now = platform::utc_time_of_day();
    char stamp[kLogPathBuffer];
    std::snprintf(stamp, sizeof stamp, "d%02d%02d%02d", now.hour, now.minute, now.second);
    std::string path = trace_dir;
    path += platform::kPathSeparator;
    path += "gemxbridge_log_";
    path += stamp;
    path += ".txt";
    if (path.size() < kLogPathBuffer) log_file = platform::open_exclusive_for_append(path.c_str());
    if (log_file) {
        file_open = true;
    } else {
        trace_enabled = false;
    }
}

void GEMXBRIDGE_Tracer::writeTrace(const char *format, ...) {
    if (!trace_enabled || !file_open) return;
    std::fprintf(log_file, "%s::%s::%s::", component, module, function);
    va_list ap;
    va_start(ap, format);
    va_list measure;
    va_copy(measure, ap);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n >= 0) {
        char *text = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
        if (text) {
            std::vsnprintf(text, static_cast<std::size_t>(n) + 1, format, ap);
            std::fputs(text, log_file);
            std::free(text);
        }
    }
    va_end(ap);
    std::fputs("\n", log_file);
    std::fflush(log_file);
}

void GEMXBRIDGE_Tracer::close_file() {
    if (!log_file) return;
    unix_nt_fclose(log_file);
    log_file = nullptr;
    file_open = false;
    trace_enabled = false;
}

void GEMXBRIDGE_Tracer::reset_for_testing() {
    close_file();
    std::free(trace_dir);
    trace_dir = nullptr;
    first_use = true;
    trace_enabled = false;
    file_open = false;
}
