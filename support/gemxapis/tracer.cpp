// GEMXAPIS_Tracer: the service's trace log. When KESTRIN_GEMXAPIS_TRACE_DIR
// names a directory at the first trace call of the process, every scope and
// message becomes one line of gemxapis_log_<pid>.txt in it:
// "component::module::function::Entering", "...::Exiting" and
// "...::<message>". Each line is written whole under one lock and flushed,
// so lines of concurrent workers never mix and a crash loses none.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "gemxapis.h"
#include "helper_link.h"

namespace {

enum TraceState : int { kUnread = 0, kOn = 1, kOff = 2 };

// The open log. Made once and never destroyed, so workers that trace while
// the process exits never meet a destroyed lock.
struct TraceLog {
    std::mutex mutex;
    std::FILE *file = nullptr;  // guarded by mutex; null once closed
};

constinit std::atomic<int> g_state{kUnread};
constinit std::once_flag g_once;
TraceLog *g_log = nullptr;  // set before g_state becomes kOn

// Reads the variable and opens the log; runs once per process.
void open_log() {
    const char *dir = std::getenv("KESTRIN_GEMXAPIS_TRACE_DIR");
    std::error_code ec;
    if (!dir || !*dir || !std::filesystem::is_directory(dir, ec)) {
        g_state.store(kOff, std::memory_order_release);
        return;
    }
    std::filesystem::path path = std::filesystem::path(dir) /
                                 ("gemxapis_log_" + std::to_string(gemxapis::current_process_id()) + ".txt");
    // Binary mode: lines end in "\n" alone on every OS.
    std::FILE *file = std::fopen(path.string().c_str(), "ab");
    if (!file) {
        g_state.store(kOff, std::memory_order_release);
        return;
    }
    g_log = new TraceLog;
    g_log->file = file;
    g_state.store(kOn, std::memory_order_release);
}

// True while lines are to be written; the first call of the process reads
// the environment. Afterwards it is one atomic load.
bool tracing() {
    int state = g_state.load(std::memory_order_acquire);
    if (state == kUnread) {
        std::call_once(g_once, open_log);
        state = g_state.load(std::memory_order_acquire);
    }
    return state == kOn;
}

// Writes one whole line and flushes it.
void write_line(const std::string &line) {
    std::lock_guard<std::mutex> lock(g_log->mutex);
    if (!g_log->file) return;
    std::fwrite(line.data(), 1, line.size(), g_log->file);
    std::fflush(g_log->file);
}

std::string prefix(const char *component, const char *module, const char *function) {
    std::string line;
    line += component ? component : "";
    line += "::";
    line += module ? module : "";
    line += "::";
    line += function ? function : "";
    line += "::";
    return line;
}

}  // namespace

GEMXAPIS_Tracer::GEMXAPIS_Tracer(const char *component, const char *module, const char *function)
    : component_(component), module_(module), function_(function) {
    if (!tracing()) return;
    write_line(prefix(component_, module_, function_) + "Entering\n");
}

GEMXAPIS_Tracer::~GEMXAPIS_Tracer() {
    if (g_state.load(std::memory_order_acquire) != kOn) return;
    write_line(prefix(component_, module_, function_) + "Exiting\n");
}

void GEMXAPIS_Tracer::writeTrace(const char *format, ...) {
    if (!tracing() || !format) return;
    std::va_list args;
    va_start(args, format);
    std::va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string line = prefix(component_, module_, function_);
    if (n > 0) {
        std::size_t start = line.size();
        line.resize(start + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(line.data() + start, static_cast<std::size_t>(n) + 1, format, args);
        line.resize(start + static_cast<std::size_t>(n));
    }
    va_end(args);
    // The formatted text is copied as it is: a "%" in an argument stays.
    line += '\n';
    write_line(line);
}

void GEMXAPIS_Tracer::close_file() {
    // Before any trace call this settles the state as off for good.
    std::call_once(g_once, [] { g_state.store(kOff, std::memory_order_release); });
    if (g_state.load(std::memory_order_acquire) != kOn) return;
    std::lock_guard<std::mutex> lock(g_log->mutex);
    if (g_log->file) {
        std::fflush(g_log->file);
        std::fclose(g_log->file);
        g_log->file = nullptr;
    }
    g_state.store(kOff, std::memory_order_release);
}
