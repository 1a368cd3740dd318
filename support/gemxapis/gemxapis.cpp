// The C functions of libgemxapis: each operation becomes one request line
// for the helper process (see line_codec.h), exchanged through the
// process-wide ApiCore.
#include "gemxapis.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "api_core.h"
#include "gemxapis_testing.h"
#include "helper_link.h"
#include "line_codec.h"

namespace {

namespace fs = std::filesystem;

// <current directory>/bin/gemx_helper, absolute, so the helper's identity
// does not depend on where the service moves its current directory later.
// Empty when the current directory cannot be read.
std::string helper_program_path() {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (ec) return {};
    return (cwd / "bin" / (std::string("gemx_helper") + gemxapis::kProgramSuffix)).string();
}

std::unique_ptr<gemxapis::HelperLink> start_installed_helper() {
    std::string program = helper_program_path();
    std::error_code ec;
    if (program.empty() || !fs::is_regular_file(program, ec)) return nullptr;
    return gemxapis::start_helper_link(program);
}

// The process-wide core. It is never destroyed: the service ends with
// exit() while workers may still be inside an operation.
gemxapis::ApiCore &core() {
    static gemxapis::ApiCore *instance = new gemxapis::ApiCore(start_installed_helper, gemxapis::Timeouts{});
    return *instance;
}

int run(gemx_api_handle_t handle, const char *name, const std::vector<std::string> &args) {
    return core().exchange(handle, gemxapis_line::build_line(name, args));
}

}  // namespace

extern "C" {

int gemx_api_initialize(gemx_api_handle_t *handle) { return core().initialize(handle); }

int gemx_api_uninitialize(gemx_api_handle_t *handle) { return core().uninitialize(handle); }

int gemx_api_deliver(gemx_api_handle_t handle, const char *cwd) {
    if (!cwd) return gemxapis::kBadArgument;
    return run(handle, "deliver", {cwd});
}

int gemx_api_rebase(gemx_api_handle_t handle, const char *cwd) {
    if (!cwd) return gemxapis::kBadArgument;
    return run(handle, "rebase", {cwd});
}

int gemx_api_find_merge(gemx_api_handle_t handle) { return run(handle, "find_merge", {}); }

int gemx_api_history(gemx_api_handle_t handle, const char *pathname) {
    if (!pathname) return gemxapis::kBadArgument;
    return run(handle, "history", {pathname});
}

// The reserved arguments select nothing in this library; the service passes
// them as 0.
int gemx_api_update(gemx_api_handle_t handle, int /*reserved*/, const char **paths, int count,
                    int /*reserved2*/, int /*reserved3*/, int /*reserved4*/, int /*reserved5*/) {
    if (!paths || count < 1) return gemxapis::kBadArgument;
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count) + 1);
    args.push_back(std::to_string(count));
    for (int i = 0; i < count; ++i) {
        if (!paths[i]) return gemxapis::kBadArgument;
        args.emplace_back(paths[i]);
    }
    return run(handle, "update", args);
}

int gemx_api_vtree(gemx_api_handle_t handle, const char *pathname, int flags) {
    if (!pathname) return gemxapis::kBadArgument;
    return run(handle, "vtree", {pathname, std::to_string(flags)});
}

int gemx_api_testing_helper_pid(gemx_api_handle_t handle) { return core().helper_process_id(handle); }

void gemx_api_testing_set_timeouts(int ready_ms, int busy_ms, int stop_ms) {
    gemxapis::Timeouts current = core().timeouts();
    if (ready_ms >= 0) current.ready_ms = ready_ms;
    if (busy_ms >= 0) current.busy_ms = busy_ms;
    if (stop_ms >= 0) current.stop_ms = stop_ms;
    core().set_timeouts(current);
}

}  // extern "C"
