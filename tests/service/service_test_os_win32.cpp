// The service tests' OS services on Windows.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>

#include "service_test_os.h"

namespace service_test {

const bool kCanSendTerminationSignal = false;
const bool kPipeIsSocketFile = false;
const int kFailureStatus = -1;

namespace {

// Owns one handle.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

}  // namespace

bool process_running(int pid) {
    Handle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process.valid()) return false;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

std::vector<int> child_processes(int parent_pid, const std::string &name) {
    std::vector<int> found;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (static_cast<int>(entry.th32ParentProcessID) != parent_pid) continue;
        if (lstrcmpiA(entry.szExeFile, name.c_str()) != 0) continue;
        if (process_running(static_cast<int>(entry.th32ProcessID)))
            found.push_back(static_cast<int>(entry.th32ProcessID));
    }
    return found;
}

namespace {

class WinProcess final : public Process {
public:
    WinProcess(HANDLE process, DWORD pid) : process_(process), pid_(pid) {}
    ~WinProcess() override { kill_hard(); }
    int pid() const override { return static_cast<int>(pid_); }

    bool wait_exit(int timeout_ms, int *status) override {
        if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        *status = static_cast<int>(code);
        return true;
    }

    bool terminate_signal() override { return false; }

    void kill_hard() override {
        if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) return;
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 60000);
    }

private:
    Handle process_;
    DWORD pid_;
};

}  // namespace

std::unique_ptr<Process> start_process(const std::string &program, const std::string &cwd) {
    std::string command = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        cwd.c_str(), &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return std::make_unique<WinProcess>(info.hProcess, info.dwProcessId);
}

bool make_stale_socket(const std::string &) { return false; }

}  // namespace service_test
