// Processes, threads and termination on Windows, through the C runtime
// (_beginthread, signal, _getpid) and the process calls of the system and
// its process status library.
#include "processes.h"

#include <windows.h>
#include <psapi.h>

#include <process.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

namespace {

// Owns one kernel handle and closes it when destroyed.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept : h_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// The start-up record's size is part of the call's contract.
static_assert(sizeof(void *) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of a 32-bit build");

}  // namespace

int current_pid() { return _getpid(); }

bool start_detached_thread(void (*fn)(void *), void *arg) {
    if (fn == nullptr) return false;
    uintptr_t thread = _beginthread(fn, 0, arg);
    return thread != static_cast<uintptr_t>(-1L) && thread != 0;
}

void install_termination_handler(void (*handler)(int)) {
    if (handler == nullptr) return;
    std::signal(SIGTERM, handler);
}

bool launch_hidden(const std::string &program) {
    if (program.empty()) return false;
    // CreateProcessA may write into the command line, so it gets a
    // zero-filled buffer of its own.
    std::string command = "\"" + program + "\"";
    std::unique_ptr<char[]> line(new (std::nothrow) char[command.size() + 1]());
    if (!line) return false;
    std::memcpy(line.get(), command.data(), command.size());

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!CreateProcessA(nullptr, line.get(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    // The caller keeps nothing of the new process.
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    return true;
}

bool process_image_path(int pid, char *buf, std::size_t size) {
    if (buf != nullptr && size > 0) std::memset(buf, 0, size);
    if (pid <= 0) return false;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid)));
    if (!process) return false;
    // A process that has ended can still be opened while anyone holds a
    // handle to it; it no longer runs a program, so it counts as gone.
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code) || exit_code != STILL_ACTIVE) return false;
    if (buf == nullptr || size < 2) return true;
    // One byte is kept back so the text ends in a NUL even where the call
    // does not terminate a truncated name. A name that fills the space
    // offered may have been cut short: it is reported unknown.
    DWORD offered = size - 1 > 0xFFFFu ? 0xFFFFu : static_cast<DWORD>(size - 1);
    DWORD got = GetModuleFileNameExA(process.get(), nullptr, buf, offered);
    if (got + 1 >= offered) std::memset(buf, 0, size);
    return true;
}

std::string comparable_image_path(const std::string &path) { return path; }

}  // namespace platform
