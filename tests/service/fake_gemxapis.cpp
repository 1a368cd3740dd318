// The recording stand-in for libgemxapis: see fake_gemxapis.h.
#include "fake_gemxapis.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace fake_gemxapis {

namespace {

// Everything the fake has seen, and what it is to answer. Never destroyed,
// so workers that still trace while the test program exits meet a live lock.
struct State {
    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<std::string> trace;
    std::map<std::string, std::deque<int>> scripts;
    int close_files = 0;
    bool echo = false;
    int initialize_result = 0;
    gemx_api_handle_t initialize_handle = kInitializeHandle;
};

State &state() {
    static State *s = new State;
    return *s;
}

// Writes text and ";" to standard error when echoing; the caller holds the lock.
void echo(const State &s, const std::string &text) {
    if (!s.echo) return;
    std::fputs((text + ";").c_str(), stderr);
    std::fflush(stderr);
}

// Records the call and gives its scripted result.
int record(Call call) {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    echo(s, call.name + " " + std::to_string(call.handle));
    int result = 0;
    auto it = s.scripts.find(call.name);
    if (it != s.scripts.end() && !it->second.empty()) {
        result = it->second.front();
        it->second.pop_front();
    }
    s.calls.push_back(std::move(call));
    return result;
}

std::string text_of(const char *text) { return text ? std::string(text) : std::string("<null>"); }

void add_trace(const char *component, const char *module, const char *function, const std::string &tail) {
    std::string line = text_of(component) + "::" + text_of(module) + "::" + text_of(function) + "::" + tail;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    echo(s, line);
    s.trace.push_back(std::move(line));
}

}  // namespace

void PrintTo(const Call &call, std::ostream *out) {
    *out << call.name << "(handle " << call.handle;
    for (const std::string &t : call.texts) *out << ", \"" << t << "\"";
    for (int n : call.numbers) *out << ", " << n;
    *out << ")";
}

Call deliver(gemx_api_handle_t h, const std::string &cwd) { return {"deliver", h, {cwd}, {}}; }
Call rebase(gemx_api_handle_t h, const std::string &cwd) { return {"rebase", h, {cwd}, {}}; }
Call find_merge(gemx_api_handle_t h) { return {"find_merge", h, {}, {}}; }
Call history(gemx_api_handle_t h, const std::string &pathname) { return {"history", h, {pathname}, {}}; }
Call update(gemx_api_handle_t h, const std::vector<std::string> &paths) {
    return {"update", h, paths, {0, static_cast<int>(paths.size()), 0, 0, 0, 0}};
}
Call vtree(gemx_api_handle_t h, const std::string &pathname, int flags) {
    return {"vtree", h, {pathname}, {flags}};
}

void reset() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.trace.clear();
    s.scripts.clear();
    s.close_files = 0;
    s.echo = false;
    s.initialize_result = 0;
    s.initialize_handle = kInitializeHandle;
}

std::vector<Call> calls() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::vector<std::string> trace() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.trace;
}

int close_file_count() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.close_files;
}

void script(const std::string &name, std::vector<int> results) {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.scripts[name] = std::deque<int>(results.begin(), results.end());
}

void echo_to_stderr(bool on) {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.echo = on;
}

void set_initialize(int result, gemx_api_handle_t handle) {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.initialize_result = result;
    s.initialize_handle = handle;
}

}  // namespace fake_gemxapis

using fake_gemxapis::Call;

extern "C" {

int gemx_api_initialize(gemx_api_handle_t *handle) {
    Call call{"initialize", handle ? *handle : 0, {}, {}};
    fake_gemxapis::State &s = fake_gemxapis::state();
    int result = 0;
    gemx_api_handle_t value = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        result = s.initialize_result;
        value = s.initialize_handle;
        fake_gemxapis::echo(s, "initialize " + std::to_string(call.handle));
        s.calls.push_back(call);
    }
    if (result == 0 && handle) *handle = value;
    return result;
}

int gemx_api_uninitialize(gemx_api_handle_t *handle) {
    int result = fake_gemxapis::record({"uninitialize", handle ? *handle : 0, {}, {}});
    if (handle) *handle = 0;
    return result;
}

int gemx_api_deliver(gemx_api_handle_t handle, const char *cwd) {
    return fake_gemxapis::record({"deliver", handle, {fake_gemxapis::text_of(cwd)}, {}});
}

int gemx_api_rebase(gemx_api_handle_t handle, const char *cwd) {
    return fake_gemxapis::record({"rebase", handle, {fake_gemxapis::text_of(cwd)}, {}});
}

int gemx_api_find_merge(gemx_api_handle_t handle) { return fake_gemxapis::record({"find_merge", handle, {}, {}}); }

int gemx_api_history(gemx_api_handle_t handle, const char *pathname) {
    return fake_gemxapis::record({"history", handle, {fake_gemxapis::text_of(pathname)}, {}});
}

int gemx_api_update(gemx_api_handle_t handle, int reserved, const char **paths, int count, int reserved2,
                    int reserved3, int reserved4, int reserved5) {
    Call call{"update", handle, {}, {reserved, count, reserved2, reserved3, reserved4, reserved5}};
    for (int i = 0; paths && i < count; ++i) call.texts.push_back(fake_gemxapis::text_of(paths[i]));
    return fake_gemxapis::record(std::move(call));
}

int gemx_api_vtree(gemx_api_handle_t handle, const char *pathname, int flags) {
    return fake_gemxapis::record({"vtree", handle, {fake_gemxapis::text_of(pathname)}, {flags}});
}

}  // extern "C"

GEMXAPIS_Tracer::GEMXAPIS_Tracer(const char *component, const char *module, const char *function)
    : component_(component), module_(module), function_(function) {
    fake_gemxapis::add_trace(component_, module_, function_, "Entering");
}

GEMXAPIS_Tracer::~GEMXAPIS_Tracer() { fake_gemxapis::add_trace(component_, module_, function_, "Exiting"); }

void GEMXAPIS_Tracer::writeTrace(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0u, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    fake_gemxapis::add_trace(component_, module_, function_, text);
}

void GEMXAPIS_Tracer::close_file() {
    fake_gemxapis::State &s = fake_gemxapis::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    fake_gemxapis::echo(s, "close_file");
    ++s.close_files;
}
