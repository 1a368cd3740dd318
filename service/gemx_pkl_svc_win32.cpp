// The service program's core: start-up, pid file, pipe listener and helper
// start, termination, the connection worker and request dispatch.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>


#include "files.h"
#include "gemx_protocol.h"
#include "gemxapis.h"
#include "processes.h"
#include "service_internal.h"
#include "veyraks.h"
#include "veyrant.h"
#include "veyratbs.h"

std::atomic<gemx_api_handle_t> helper_handle{0};

namespace {

const int kPathBuffer = 1024;
const std::size_t kReadBuffer = 4096;

// The pause before a connect that follows a failed one.
const int kConnectRetryPauseMs = 50;

// Starts the helper process with the product directory current, then makes
// the previous directory current again. False, after a trace line, when
// the current directory cannot be read or the helper does not start; the
// product directory then stays current.
bool start_helper(GEMXAPIS_Tracer &tracer) {
    tracer.writeTrace("Initializing the helper process for : %s", "pikal");
    char cwd[kPathBuffer];
    if (fileutl_getcwd(cwd, kPathBuffer) != 0) {
        tracer.writeTrace("Failed to get current working directory");
        return false;
    }
    char product[kPathBuffer] = {0};
    tbs_product_dir(product, 0);
    platform::change_directory(product);
    gemx_api_handle_t handle = helper_handle.load();
    if (gemx_api_initialize(&handle) != 0) {
        tracer.writeTrace("Initialize failed ");
        return false;
    }
    helper_handle.store(handle);
    platform::change_directory(cwd);
    return true;
}

// Writes pid to the pid file in the temporary directory, replacing what it
// held; false when the file cannot be opened for writing.
bool write_pid(int pid) {
    char tmpdir[kPathBuffer] = {0};
    fileutl_get_tmpdir(0, tmpdir, kPathBuffer - 1, 0);
    std::string path = std::string(tmpdir) + platform::kPathSeparator + pid_file_name;
    std::FILE *f = platform::open_shared_for_write(path.c_str());
    if (!f) return false;
    std::fprintf(f, "%d", pid);
    unix_nt_fclose(f);
    return true;
}

// The response text for a result.
std::string make_response(int result) {
    std::string response = response_start_tag;
    response += std::to_string(result);
    response += response_end_tag;
    return response;
}

}  // namespace

int service_main() {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "gemx_pkl_svc_win32", "main");
    platform::install_termination_handler(cleanup);
    if (!write_pid_file()) {
        tracer.writeTrace("create of lock file failed");
        return -1;
    }
    const std::string name = service_pipe_name(pipe_base_name, sysutl_myloginname());
    platform::PipeInstance instance = platform::PipeInstance::create(name);
    if (!instance.valid()) {
        tracer.writeTrace("Could not create launcher request pipe\n");
        // Where only one server can hold the pipe, another service of this
        // user already serves it. The pid file is handed back to that one:
        // left naming this ending process, it would make every later call
        // launch yet another service that cannot serve.
        const int owner = platform::PipeInstance::live_server_pid(name);
        if (owner > 0) write_pid(owner);
        return -1;
    }
    bool last_connect_failed = false;
    for (;;) {
        if (helper_handle.load() == 0 && !start_helper(tracer)) return -1;
        const bool connected = instance.connect();
        if (!connected && last_connect_failed) {
            // Connects that keep failing (no descriptors left, say) would
            // otherwise turn this loop into a busy spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryPauseMs));
        }
        last_connect_failed = !connected;
        // The next instance is made before the connected one goes to its
        // worker: a fast worker could otherwise close the only instance, and
        // a client arriving in that moment would find no pipe at all (on
        // POSIX the listening socket goes with the last instance) and pay
        // the bridge's full pause.
        platform::PipeInstance next = platform::PipeInstance::create(name);
        if (connected) {
            auto *block = new (std::nothrow) platform::PipeInstance(std::move(instance));
            if (!block) {
                tracer.writeTrace("Out of memory \n");
                return -1;
            }
            if (!platform::start_detached_thread(com_worker, block)) {
                // No worker will answer: closing the connection at once lets
                // the client's read fail instead of waiting for ever.
                delete block;
            }
        }
        // An instance whose connect failed is closed by the assignment below.
        instance = std::move(next);
        if (!instance.valid()) {
            tracer.writeTrace("Could not create launcher request pipe\n");
            return -1;
        }
    }
}

bool write_pid_file() { return write_pid(platform::current_pid()); }

void cleanup(int signal) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "gemx_pkl_svc_win32", "cleanup");
    gemx_api_handle_t handle = helper_handle.load();
    if (handle != 0) {
        tracer.writeTrace("Killing the helper gemx process");
        gemx_api_uninitialize(&handle);
        helper_handle.store(handle);
        tracer.writeTrace("Killed the helper gemx process");
        GEMXAPIS_Tracer::close_file();
    }
    // Workers may still be running: ending without running static
    // destructors keeps them from touching torn-down state on the way out.
    std::fflush(nullptr);
    std::_Exit(signal);
}

void com_worker(void *block) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "gemx_pkl_svc_win32", "com_worker");
    std::unique_ptr<platform::PipeInstance> instance(static_cast<platform::PipeInstance *>(block));
    int result = 1;
    bool too_large = false;
    try {
        std::string message = read_request(*instance, &too_large);
        if (too_large) {
            tracer.writeTrace("request larger than %u bytes refused", static_cast<unsigned>(kRequestLimit));
        } else {
            result = proc_req(message);
        }
    } catch (const std::bad_alloc &) {
        // A request that cannot be held or handled costs only its own answer.
        tracer.writeTrace("Out of memory \n");
        result = 1;
    } catch (...) {
        // Nothing a request causes may end the process: an exception would
        // otherwise leave this detached thread and terminate the service.
        tracer.writeTrace("unexpected failure while processing request");
        result = 1;
    }
    std::string response = make_response(result);
    instance->write(response.data(), response.size());
    // After a refused oversize request the client may still be writing the
    // rest: waiting for it to read the answer would wait for ever, so the
    // connection is ended at once and its write fails.
    if (!too_large) instance->flush();
    instance->disconnect();
    instance->close();
}

std::string read_request(platform::PipeInstance &instance, bool *too_large) {
    std::string message;
    std::size_t total = 0;
    *too_large = false;
    char buffer[kReadBuffer];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        std::size_t got = 0;
        platform::ReadStatus status = instance.read(buffer, kReadBuffer - 1, &got);
        if (status == platform::ReadStatus::failed) return message;
        buffer[got] = '\0';
        total += got;
        if (total > kRequestLimit) {
            *too_large = true;
            return std::string();
        }
        message.append(buffer, std::strlen(buffer));
        if (status == platform::ReadStatus::complete) return message;
    }
}

int proc_req(std::string message) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "gemx_pkl_svc_win32", "proc_req");
    std::string content;
    if (extract_tagged(message, request_start_tag, request_end_tag, content)) {
        tracer.writeTrace("Error in processing request");
        return 1;
    }
    std::string op_text;
    std::int32_t op = 0;
    if (extract_tagged(content, op_id_start_tag, op_id_end_tag, op_text) || convert_decimal(op_text, &op) != 0) {
        tracer.writeTrace("Error in processing op");
        return 1;
    }
    std::string args;
    if (extract_tagged(content, args_start_tag, args_end_tag, args)) {
        tracer.writeTrace("Error in processing args");
        return 1;
    }
    std::string cwd;
    if (extract_tagged(content, cwd_start_tag, cwd_end_tag, cwd)) {
        tracer.writeTrace("Error in processing cwd");
        return 1;
    }
    const gemx_api_handle_t handle = helper_handle.load();
    switch (op) {
        case gemx_op_none:
            return 0;
        case gemx_op_deliver:
            return deliver(handle, args, cwd);
        case gemx_op_find_merge:
            return find_merge(handle);
        case gemx_op_history:
            return history(handle, args, cwd);
        case gemx_op_rebase:
            return rebase(handle, args, cwd);
        case gemx_op_update:
            return update(handle, args, cwd);
        case gemx_op_vtree:
            return vtree(handle, args, cwd);
        default:
            tracer.writeTrace("Unknown operation called");
            return 1;
    }
}
