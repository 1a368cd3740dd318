// The tests' OS services on Windows.
#include <windows.h>

#include <cstdlib>

#include "test_os.h"

namespace gemxapis_test {

const char kProgramSuffix[] = ".exe";

int current_pid() { return static_cast<int>(GetCurrentProcessId()); }

namespace {

// Owns one kernel handle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.h_;
            other.h_ = nullptr;
        }
        return *this;
    }
    HANDLE get() const { return h_; }
    void reset() {
        if (h_) CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

class Win32Child final : public Child {
public:
    Win32Child(UniqueHandle process, DWORD pid, UniqueHandle in, UniqueHandle out)
        : process_(std::move(process)), pid_(pid), in_(std::move(in)), out_(std::move(out)) {}
    ~Win32Child() override {
        in_.reset();
        out_.reset();
        kill_hard();
    }
    bool read_line(std::string *line) override {
        for (;;) {
            std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::size_t length = end;
                if (length > 0 && buffer_[length - 1] == '\r') --length;
                *line = buffer_.substr(0, length);
                buffer_.erase(0, end + 1);
                return true;
            }
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(out_.get(), chunk, sizeof chunk, &got, nullptr) || got == 0) return false;
            buffer_.append(chunk, got);
        }
    }
    void close_input() override { in_.reset(); }
    void kill_hard() override {
        if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 9);
        WaitForSingleObject(process_.get(), INFINITE);
    }
    int wait() override {
        WaitForSingleObject(process_.get(), INFINITE);
        DWORD code = 0;
        if (!GetExitCodeProcess(process_.get(), &code)) return -1;
        return static_cast<int>(code);
    }
    int pid() const override { return static_cast<int>(pid_); }

private:
    UniqueHandle process_;
    DWORD pid_;
    UniqueHandle in_;
    UniqueHandle out_;
    std::string buffer_;
};

}  // namespace

bool process_running(int pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    return process.get() && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

std::unique_ptr<Child> start_child(const std::string &program, const std::vector<std::string> &args) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, &sa, 0)) return nullptr;
    UniqueHandle child_in(r);
    UniqueHandle to_child(w);
    if (!CreatePipe(&r, &w, &sa, 0)) return nullptr;
    UniqueHandle from_child(r);
    UniqueHandle child_out(w);
    SetHandleInformation(child_in.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(child_out.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    std::string command_line = "\"" + program + "\"";
    for (const std::string &arg : args) command_line += " \"" + arg + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in.get();
    si.hStdOutput = child_out.get();
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return std::make_unique<Win32Child>(UniqueHandle(pi.hProcess), pi.dwProcessId, std::move(to_child),
                                        std::move(from_child));
}

}  // namespace gemxapis_test
