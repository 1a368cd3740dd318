// The service pipe on Windows: a named pipe in message mode, created with
// the service's fixed instance parameters and opened by the client with the
// plain Win32 calls.
#include "pipe.h"

#include <windows.h>

#include <utility>

#include "veyrant.h"

namespace platform {
namespace {

// Owns one HANDLE; closes it when destroyed or reset.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(Handle &&other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
    Handle &operator=(Handle &&other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void reset() {
        if (valid()) {
            CloseHandle(h_);
        }
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The service's instance parameters.
constexpr DWORD kOpenMode = 3;        // PIPE_ACCESS_DUPLEX
constexpr DWORD kPipeMode = 6;        // PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT
constexpr DWORD kMaxInstances = 255;  // PIPE_UNLIMITED_INSTANCES
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kDefaultTimeoutMs = 5000;
constexpr DWORD kAccessMask = 0x1F01FF;  // FILE_ALL_ACCESS

constexpr DWORD kErrorMoreData = 234;       // ERROR_MORE_DATA
constexpr DWORD kErrorPipeConnected = 535;  // ERROR_PIPE_CONNECTED

// The largest count one ReadFile or WriteFile call takes.
constexpr std::size_t kMaxIo = 0xFFFFFFFFu;

}  // namespace

struct PipeInstance::Impl {
    Handle pipe;
};

PipeInstance PipeInstance::create(const std::string &pipe_name) {
    // Fresh owner-only attributes for every instance; without them the pipe
    // would get the default DACL, which lets other users read, so no
    // instance is made.
    auto *security = static_cast<SECURITY_ATTRIBUTES *>(nt_owner_security_attributes(kAccessMask, 1));
    if (security == nullptr) {
        return PipeInstance();
    }
    Handle pipe(CreateNamedPipeA(pipe_name.c_str(), kOpenMode, kPipeMode, kMaxInstances, kBufferSize, kBufferSize,
                                 kDefaultTimeoutMs, security));
    if (!pipe.valid()) {
        return PipeInstance();
    }
    auto impl = std::make_unique<Impl>();
    impl->pipe = std::move(pipe);
    return PipeInstance(std::move(impl));
}

int PipeInstance::live_server_pid(const std::string &) { return 0; }

PipeInstance::PipeInstance() = default;
PipeInstance::PipeInstance(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PipeInstance::~PipeInstance() = default;
PipeInstance::PipeInstance(PipeInstance &&) noexcept = default;
PipeInstance &PipeInstance::operator=(PipeInstance &&) noexcept = default;

bool PipeInstance::valid() const { return impl_ != nullptr; }

bool PipeInstance::connect() {
    if (!impl_) {
        return false;
    }
    if (ConnectNamedPipe(impl_->pipe.get(), nullptr)) {
        return true;
    }
    return GetLastError() == kErrorPipeConnected;
}

ReadStatus PipeInstance::read(char *buf, std::size_t max, std::size_t *got) {
    *got = 0;
    if (!impl_ || max > kMaxIo) {
        return ReadStatus::failed;
    }
    DWORD n = 0;
    const BOOL ok = ReadFile(impl_->pipe.get(), buf, static_cast<DWORD>(max), &n, nullptr);
    if (ok) {
        *got = n;
        return ReadStatus::complete;
    }
    if (GetLastError() == kErrorMoreData) {
        *got = n;
        return ReadStatus::more_data;
    }
    return ReadStatus::failed;
}

bool PipeInstance::write(const char *data, std::size_t size) {
    if (!impl_ || size > kMaxIo) {
        return false;
    }
    DWORD n = 0;
    return WriteFile(impl_->pipe.get(), data, static_cast<DWORD>(size), &n, nullptr) && n == size;
}

bool PipeInstance::flush() { return impl_ && FlushFileBuffers(impl_->pipe.get()); }

bool PipeInstance::disconnect() { return impl_ && DisconnectNamedPipe(impl_->pipe.get()); }

void PipeInstance::close() { impl_.reset(); }

struct PipeClient::Impl {
    std::string name;
    Handle pipe;
    bool busy = false;  // the last open found every instance taken
};

PipeClient::PipeClient(std::string pipe_name) : impl_(std::make_unique<Impl>()) {
    impl_->name = std::move(pipe_name);
}
PipeClient::~PipeClient() = default;
PipeClient::PipeClient(PipeClient &&) noexcept = default;
PipeClient &PipeClient::operator=(PipeClient &&) noexcept = default;

bool PipeClient::wait(unsigned timeout_ms) {
    return impl_ && WaitNamedPipeA(impl_->name.c_str(), timeout_ms);
}

bool PipeClient::open() {
    if (!impl_) {
        return false;
    }
    if (impl_->pipe.valid()) {
        return true;
    }
    // The client end keeps the default byte read mode.
    HANDLE h = CreateFileA(impl_->name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    impl_->busy = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY;
    impl_->pipe = Handle(h);
    return impl_->pipe.valid();
}

bool PipeClient::busy() const { return impl_ && impl_->busy; }

bool PipeClient::write(const char *data, std::size_t size, std::size_t *written) {
    *written = 0;
    if (!impl_ || !impl_->pipe.valid() || size > kMaxIo) {
        return false;
    }
    DWORD n = 0;
    const BOOL ok = WriteFile(impl_->pipe.get(), data, static_cast<DWORD>(size), &n, nullptr);
    *written = n;
    return ok != 0;
}

bool PipeClient::read(char *buf, std::size_t max, std::size_t *got) {
    *got = 0;
    if (!impl_ || !impl_->pipe.valid() || max > kMaxIo) {
        return false;
    }
    DWORD n = 0;
    const BOOL ok = ReadFile(impl_->pipe.get(), buf, static_cast<DWORD>(max), &n, nullptr);
    *got = n;
    return ok != 0;
}

void PipeClient::close() {
    if (impl_) {
        impl_->pipe.reset();
    }
}

const std::string &PipeClient::name() const {
    static const std::string moved_from;
    return impl_ ? impl_->name : moved_from;
}

}  // namespace platform
