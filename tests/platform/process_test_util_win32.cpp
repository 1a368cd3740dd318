#include "process_test_util.h"

#include <windows.h>

#include <cstdlib>

namespace kestrin_test {

namespace {

// Owns one kernel handle.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != nullptr) CloseHandle(h_);
    }
    Handle(Handle &&other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

ChildRun run_and_wait(const std::string &program, const std::vector<std::string> &args) {
    std::string line = "\"" + program + "\"";
    for (const auto &a : args) line += " \"" + a + "\"";
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ChildRun run;
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return run;
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);
    run.started = true;
    run.pid = static_cast<int>(pi.dwProcessId);
    WaitForSingleObject(process.get(), 120000);
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) run.exit_code = static_cast<int>(code);
    return run;
}

bool process_running(int pid) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (process.get() == nullptr) return false;
    DWORD code = 0;
    return GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

}  // namespace kestrin_test
