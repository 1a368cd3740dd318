// The helper link on Windows: two anonymous pipes for the helper's standard
// input and output. Only the helper's ends are made inheritable, and only
// for the moment of CreateProcessA, so the library's own ends never reach
// any child: when this process ends, the helper sees end of input.
#include <windows.h>

#include <chrono>
#include <mutex>

#include "helper_link.h"

namespace gemxapis {

const char kProgramSuffix[] = ".exe";

int current_process_id() { return static_cast<int>(GetCurrentProcessId()); }

namespace {

// Owns one kernel handle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept : h_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.release();
        }
        return *this;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset() {
        if (h_) CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

// Serialises the moments in which this library holds inheritable handles,
// so two helpers started at once never receive each other's pipe ends.
std::mutex &spawn_mutex() {
    static std::mutex *m = new std::mutex;
    return *m;
}

class Win32HelperLink final : public HelperLink {
public:
    Win32HelperLink(UniqueHandle to_child, UniqueHandle from_child, UniqueHandle process, DWORD pid)
        : to_child_(std::move(to_child)), from_child_(std::move(from_child)), process_(std::move(process)),
          pid_(pid) {}

    ~Win32HelperLink() override {
        to_child_.reset();
        from_child_.reset();
        if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 1);
            WaitForSingleObject(process_.get(), INFINITE);
        }
    }

    bool send(std::string_view bytes) override {
        if (!to_child_) return false;
        while (!bytes.empty()) {
            DWORD written = 0;
            DWORD chunk = bytes.size() > 65536 ? 65536 : static_cast<DWORD>(bytes.size());
            if (!WriteFile(to_child_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

    LineStatus receive_line(std::string *line, int timeout_ms) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
        for (;;) {
            std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::size_t length = end;
                if (length > 0 && buffer_[length - 1] == '\r') --length;
                line->assign(buffer_, 0, length);
                buffer_.erase(0, end + 1);
                return LineStatus::line;
            }
            if (output_ended_) return LineStatus::closed;
            DWORD want = 4096;
            if (timeout_ms >= 0) {
                // Anonymous pipes have no overlapped reads: a bounded wait
                // looks at what is there and naps between looks. It is used
                // only for the helper's ready line.
                DWORD available = 0;
                if (!PeekNamedPipe(from_child_.get(), nullptr, 0, nullptr, &available, nullptr)) {
                    output_ended_ = true;
                    continue;
                }
                if (available == 0) {
                    if (Clock::now() >= deadline) return LineStatus::timed_out;
                    Sleep(5);
                    continue;
                }
                if (available < want) want = available;
            }
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(from_child_.get(), chunk, want, &got, nullptr) || got == 0) {
                output_ended_ = true;
                continue;
            }
            buffer_.append(chunk, got);
        }
    }

    void close_input() override { to_child_.reset(); }

    bool wait_for_exit(int timeout_ms) override {
        DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
        return WaitForSingleObject(process_.get(), wait) == WAIT_OBJECT_0;
    }

    void terminate() override {
        if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    }

    int process_id() const override { return static_cast<int>(pid_); }

private:
    UniqueHandle to_child_;
    UniqueHandle from_child_;
    UniqueHandle process_;
    const DWORD pid_;
    bool output_ended_ = false;
    std::string buffer_;  // output read past the last line handed out
};

// A pipe whose two handles are not inheritable.
bool make_pipe(UniqueHandle *read_end, UniqueHandle *write_end) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, &sa, 0)) return false;
    *read_end = UniqueHandle(r);
    *write_end = UniqueHandle(w);
    return true;
}

}  // namespace

std::unique_ptr<HelperLink> start_helper_link(const std::string &program) {
    UniqueHandle child_in;
    UniqueHandle to_child;
    UniqueHandle from_child;
    UniqueHandle child_out;
    if (!make_pipe(&child_in, &to_child) || !make_pipe(&from_child, &child_out)) return nullptr;

    // The helper's standard error goes nowhere: its standard output carries
    // the protocol and the library has no console to show anything on.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle child_err(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));

    std::string command_line = "\"" + program + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in.get();
    si.hStdOutput = child_out.get();
    si.hStdError = child_err.get();
    PROCESS_INFORMATION pi{};
    {
        std::lock_guard<std::mutex> lock(spawn_mutex());
        if (!SetHandleInformation(child_in.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !SetHandleInformation(child_out.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            return nullptr;
        BOOL started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
        if (!started) return nullptr;
    }
    CloseHandle(pi.hThread);
    UniqueHandle process(pi.hProcess);
    // child_in, child_out and child_err close here: the helper has its own.
    return std::make_unique<Win32HelperLink>(std::move(to_child), std::move(from_child), std::move(process),
                                             pi.dwProcessId);
}

}  // namespace gemxapis
