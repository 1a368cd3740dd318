// Windows side of the load driver's OS needs: the floor over a Win32 named
// pipe with the service's instance parameters, process status for
// resources.
#include "bench_os.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace bench {
namespace {

// An owned handle.
class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { if (valid()) CloseHandle(h_); }
    Handle(Handle &&o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    Handle &operator=(Handle &&o) noexcept { std::swap(h_, o.h_); return *this; }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() { HANDLE h = h_; h_ = INVALID_HANDLE_VALUE; return h; }

private:
    HANDLE h_;
};

const char kAnswer[] = "<response_start>0<response_end>";

Handle create_instance(const std::string &name) {
    return Handle(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 5000, nullptr));
}

// One connection: read the request message, answer, flush, disconnect.
DWORD WINAPI serve_connection(void *arg) {
    Handle pipe(static_cast<HANDLE>(arg));
    char buf[4096];
    DWORD got = 0;
    BOOL ok;
    do {
        ok = ReadFile(pipe.get(), buf, sizeof buf, &got, nullptr);
    } while (!ok && GetLastError() == ERROR_MORE_DATA);
    if (ok) {
        DWORD written = 0;
        WriteFile(pipe.get(), kAnswer, sizeof kAnswer - 1, &written, nullptr);
        FlushFileBuffers(pipe.get());
    }
    DisconnectNamedPipe(pipe.get());
    return 0;
}

class Win32FloorServer : public FloorServer {
public:
    Win32FloorServer(std::string name, Handle first) : name_(std::move(name)), first_(std::move(first)) {
        thread_ = std::thread([this] { accept_loop(); });
    }
    ~Win32FloorServer() override {
        stop_ = true;
        floor_call(name_, "");  // wakes the pending connect
        thread_.join();
    }
    const std::string &address() const override { return name_; }

private:
    // Connects, makes the next instance, then hands the connection to a
    // thread of its own; an instance always exists for the next client.
    void accept_loop() {
        Handle instance = std::move(first_);
        while (!stop_ && instance.valid()) {
            BOOL connected = ConnectNamedPipe(instance.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
            Handle next = create_instance(name_);
            if (connected && !stop_) {
                HANDLE h = instance.release();
                HANDLE t = CreateThread(nullptr, 0, serve_connection, h, 0, nullptr);
                if (t) CloseHandle(t);
                else CloseHandle(h);
            }
            instance = std::move(next);
        }
    }

    std::string name_;
    Handle first_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<FloorServer> FloorServer::start(const std::string &) {
    std::string name = "\\\\.\\pipe\\kestrin_bench_floor_" + std::to_string(GetCurrentProcessId());
    Handle first = create_instance(name);
    if (!first.valid()) return nullptr;
    return std::make_unique<Win32FloorServer>(name, std::move(first));
}

bool floor_call(const std::string &address, const std::string &request) {
    // The usual Windows client loop, as the bridge does it: when another
    // client takes the free instance between the wait and the open, wait
    // again (a busy open does not count as an attempt, up to 1000 times).
    Handle pipe;
    int busy = 0;
    for (int attempt = 0; attempt < 3 && !pipe.valid(); ++attempt) {
        if (!WaitNamedPipeA(address.c_str(), 5000)) continue;
        pipe = Handle(CreateFileA(address.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!pipe.valid() && GetLastError() == ERROR_PIPE_BUSY && busy++ < 1000) --attempt;
    }
    if (!pipe.valid()) return false;
    DWORD written = 0;
    if (!WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) return false;
    char buf[4096];
    DWORD got = 0;
    return ReadFile(pipe.get(), buf, sizeof buf, &got, nullptr) && got > 0;
}

Resources process_resources(int pid) {
    Resources res;
    Handle p(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid)));
    if (p.valid()) {
        PROCESS_MEMORY_COUNTERS pmc{};
        if (GetProcessMemoryInfo(p.get(), &pmc, sizeof pmc)) res.rss_kib = static_cast<long>(pmc.WorkingSetSize / 1024);
        DWORD count = 0;
        if (GetProcessHandleCount(p.get(), &count)) res.handles = static_cast<long>(count);
    }
    Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snap.valid()) {
        THREADENTRY32 te{};
        te.dwSize = sizeof te;
        long n = 0;
        for (BOOL more = Thread32First(snap.get(), &te); more; more = Thread32Next(snap.get(), &te)) {
            if (te.th32OwnerProcessID == static_cast<DWORD>(pid)) ++n;
        }
        res.threads = n;
    }
    return res;
}

bool process_alive(int pid) {
    if (pid <= 0) return false;
    Handle p(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    DWORD code = 0;
    return p.valid() && GetExitCodeProcess(p.get(), &code) && code == STILL_ACTIVE;
}

// Windows has no termination signal to send to another process: the
// service is ended with TerminateProcess and status 15 (its helper stays
// until the Wine server or the session ends).
bool stop_process(int pid, unsigned timeout_ms) {
    if (pid <= 0) return false;
    Handle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!p.valid()) return !process_alive(pid);
    TerminateProcess(p.get(), 15);
    return WaitForSingleObject(p.get(), timeout_ms) == WAIT_OBJECT_0;
}

void set_env(const char *name, const std::string &value) { _putenv_s(name, value.c_str()); }

long long now_ns() {
    static const long long freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<long long>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<long long>(c.QuadPart / freq * 1000000000LL + (c.QuadPart % freq) * 1000000000LL / freq);
}

void sleep_until_ns(long long t) {
    for (long long now = now_ns(); now < t; now = now_ns()) {
        long long ms = (t - now) / 1000000LL;
        Sleep(ms > 1 ? static_cast<DWORD>(ms - 1) : 0);
    }
}

std::string shell_command(const std::string &command) { return "\"" + command + "\""; }

char separator() { return '\\'; }

std::string exe_suffix() { return ".exe"; }

std::string machine_description() {
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    std::string wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") ? " under Wine" : "";
    return "Windows (32-bit program)" + wine + ", " + std::to_string(si.dwNumberOfProcessors) + " cores";
}

}  // namespace bench
