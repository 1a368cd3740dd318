// The service pipe on POSIX: a Unix-domain stream socket in the user's
// private temporary directory that behaves like a Windows message-mode
// named pipe.
//
// Framing: every message is a 4-byte little-endian length followed by its
// bytes, so the server can report "more data" exactly as a message-mode
// pipe does and never reads into the next message.
//
// Owner only, in three layers: the directory is the user's 0700 temporary
// directory; the socket file is made with the policy's mode without
// touching the process-wide umask (the socket's own inode mode is set with
// fchmod before bind, which Linux gives the bound file, masked by the
// umask; chmod after bind then sets the exact mode and stat verifies mode
// and owner before listen, so no client can connect before the check); and
// both ends check the peer's credentials (SO_PEERCRED) against the policy's
// uid.
//
// Instances: every create() of one socket path in this process shares one
// listening socket, counted in a registry; the last instance to go closes
// it and removes the socket file if it is still the one bound here.
#include "pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <linux/sockios.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "veyraks.h"
#include "veyrant.h"

namespace platform {
namespace {

// Owns one file descriptor; closes it when destroyed or reset.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// The access mask the service pipe is created with (FILE_ALL_ACCESS).
constexpr std::uint32_t kPipeAccessMask = 0x1F01FF;

// How long WaitNamedPipe waits when asked for the pipe's default time-out.
constexpr unsigned kDefaultWaitMs = 5000;
constexpr unsigned kWaitForever = 0xFFFFFFFFu;

// Connections the kernel queues before the service accepts them.
constexpr int kBacklog = 128;

// The owner-only policy in force: the socket's mode and the only uid
// served. Copied at once, since the library's result lives only until this
// thread's next call.
bool owner_policy(nt_owner_policy_t *out) {
    const auto *policy = static_cast<const nt_owner_policy_t *>(nt_owner_security_attributes(kPipeAccessMask, 1));
    if (policy == nullptr) {
        return false;
    }
    *out = *policy;
    return true;
}

// The socket address for a pipe name: the user's temporary directory joined
// with the name's last backslash-separated component. False when the
// component is empty or contains a slash, or the path does not fit
// sun_path with its NUL.
bool socket_address(const std::string &pipe_name, sockaddr_un *addr, std::string *path) {
    const std::size_t slash = pipe_name.find_last_of('\\');
    const std::string leaf = slash == std::string::npos ? pipe_name : pipe_name.substr(slash + 1);
    if (leaf.empty() || leaf.find('/') != std::string::npos || leaf.find('\0') != std::string::npos) {
        return false;
    }
    char dir[1024] = {};
    fileutl_get_tmpdir(0, dir, 1023, 0);
    *path = std::string(dir) + "/" + leaf;
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path->size() >= sizeof addr->sun_path) {
        return false;
    }
    std::memcpy(addr->sun_path, path->c_str(), path->size() + 1);
    return true;
}

// The uid of the process at the other end of a connected socket.
bool peer_uid(int fd, uid_t *uid) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return false;
    }
    *uid = cred.uid;
    return true;
}

// Sends all of the iovecs, retrying short sends and interruptions. Never
// raises SIGPIPE: a peer that has gone gives a failed send.
bool send_all(int fd, iovec *iov, int count) {
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        auto left = static_cast<std::size_t>(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

// Sends data as one framed message: its length, then its bytes.
bool send_message(int fd, const char *data, std::size_t size) {
    if (size > 0xFFFFFFFFu) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(size);
    unsigned char header[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                               static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    iovec iov[2] = {{header, sizeof header}, {const_cast<char *>(data), size}};
    return send_all(fd, iov, size > 0 ? 2 : 1);
}

// Receives until size bytes have arrived or the peer has closed. Returns the
// count received, or -1 on an error.
ssize_t recv_full(int fd, void *buf, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, static_cast<char *>(buf) + done, size - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Reads a message header; false when the peer closed or failed first.
bool recv_header(int fd, std::uint32_t *length) {
    unsigned char header[4];
    if (recv_full(fd, header, sizeof header) != static_cast<ssize_t>(sizeof header)) {
        return false;
    }
    *length = static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
              static_cast<std::uint32_t>(header[2]) << 16 | static_cast<std::uint32_t>(header[3]) << 24;
    return true;
}

// Connects a new socket to path. wait_ms 0: do not wait for room in a full
// backlog; kWaitForever: wait without limit; otherwise wait up to wait_ms.
// Fails at once when there is no socket file or no listener behind it.
Fd connect_socket(const sockaddr_un &addr, unsigned wait_ms) {
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (wait_ms == 0 ? SOCK_NONBLOCK : 0);
    Fd fd(::socket(AF_UNIX, type, 0));
    if (!fd.valid()) {
        return Fd();
    }
    if (wait_ms != 0 && wait_ms != kWaitForever) {
        // A blocking Unix-socket connect waits for backlog room no longer
        // than the send time-out.
        timeval tv{static_cast<time_t>(wait_ms / 1000), static_cast<suseconds_t>((wait_ms % 1000) * 1000)};
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
            return Fd();
        }
    }
    for (;;) {
        if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EISCONN) {
            break;
        }
        return Fd();
    }
    // Later writes and reads block without limit, as pipe I/O does.
    timeval none{0, 0};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none) != 0) {
        return Fd();
    }
    if (wait_ms == 0) {
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            return Fd();
        }
    }
    return fd;
}

// What lies at a socket path that bind found taken.
enum class Occupant { stale_socket, live_listener, other };

// Tells a crashed service's socket file from a live one by trying to
// connect (without waiting): refused means nobody listens behind it. The
// probe of a live listener shows up there as a connection that sends
// nothing and closes at once.
Occupant examine_occupant(const sockaddr_un &addr) {
    struct stat st{};
    if (::lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return Occupant::other;
    }
    Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe.valid()) {
        return Occupant::other;
    }
    if (::connect(probe.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
        return Occupant::live_listener;
    }
    if (errno == ECONNREFUSED) {
        return Occupant::stale_socket;
    }
    if (errno == EAGAIN) {
        return Occupant::live_listener;  // its backlog is full
    }
    return Occupant::other;
}

// One bound, listening socket and the file it was bound to.
struct Listener {
    Fd fd;
    std::string path;
    std::string pipe_name;  // the name it was bound for
    uid_t owner_uid = 0;    // the user whose clients it serves
    dev_t dev = 0;
    ino_t ino = 0;

    // Removes the socket file only while it is still the one bound here, so
    // a file that someone else has put in its place survives.
    ~Listener() {
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
            ::unlink(path.c_str());
        }
    }
};

// Binds and listens on the socket path with the policy's mode. Replaces a
// stale socket file; fails on a live listener, on anything that is not a
// socket, and when the bound file's mode or owner is not the policy's.
std::unique_ptr<Listener> bind_listener(const sockaddr_un &addr, const std::string &path,
                                        const nt_owner_policy_t &policy) {
    const mode_t mode = static_cast<mode_t>(policy.mode & 0777);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::fchmod(fd.get(), mode) != 0) {
        return nullptr;
    }
    bool bound = ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    if (!bound && errno == EADDRINUSE && examine_occupant(addr) == Occupant::stale_socket) {
        ::unlink(path.c_str());
        bound = ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    }
    if (!bound) {
        return nullptr;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        return nullptr;  // the file is not there to be recorded or removed
    }
    auto listener = std::make_unique<Listener>();
    listener->path = path;
    listener->dev = st.st_dev;
    listener->ino = st.st_ino;
    listener->fd = std::move(fd);
    // From here on the listener's destructor removes the file on failure.
    if (::chmod(path.c_str(), mode) != 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
        (st.st_mode & 07777) != mode || st.st_uid != ::geteuid() || st.st_dev != listener->dev ||
        st.st_ino != listener->ino) {
        return nullptr;
    }
    if (::listen(listener->fd.get(), kBacklog) != 0) {
        return nullptr;
    }
    return listener;
}

// The listening sockets of this process by path, with the number of
// instances that share each.
class ListenerRegistry {
public:
    static ListenerRegistry &instance() {
        static ListenerRegistry registry;
        return registry;
    }

    // A share of the listener that an instance of this process already holds
    // for pipe_name, or null when there is none. The listener was bound in a
    // folder that passed its check and keeps its 0600 socket and credential
    // checks, so a later instance needs neither the folder nor the policy
    // again: the service makes one for every connection.
    Listener *share_by_name(const std::string &pipe_name) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &[path, entry] : entries_) {
            if (entry.listener->pipe_name == pipe_name) {
                ++entry.users;
                return entry.listener.get();
            }
        }
        return nullptr;
    }

    // The listener for path, bound now when no instance holds one. Null when
    // it cannot be bound.
    Listener *acquire(const sockaddr_un &addr, const std::string &path, const std::string &pipe_name,
                      const nt_owner_policy_t &policy) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(path);
        if (it == entries_.end()) {
            auto listener = bind_listener(addr, path, policy);
            if (!listener) {
                return nullptr;
            }
            listener->pipe_name = pipe_name;
            listener->owner_uid = static_cast<uid_t>(policy.uid);
            it = entries_.emplace(path, Entry{std::move(listener), 0}).first;
        }
        ++it->second.users;
        return it->second.listener.get();
    }

    // Gives back one instance's share; the last one closes the listener.
    void release(const std::string &path) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(path);
        if (it != entries_.end() && --it->second.users == 0) {
            entries_.erase(it);
        }
    }

private:
    struct Entry {
        std::unique_ptr<Listener> listener;
        int users;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

// One instance's share of a listening socket; gives it back when destroyed.
class ListenerShare {
public:
    ListenerShare(Listener *listener, std::string path) : listener_(listener), path_(std::move(path)) {}
    ~ListenerShare() { ListenerRegistry::instance().release(path_); }
    ListenerShare(const ListenerShare &) = delete;
    ListenerShare &operator=(const ListenerShare &) = delete;

    int fd() const { return listener_->fd.get(); }

private:
    Listener *listener_;
    std::string path_;
};

}  // namespace

struct PipeInstance::Impl {
    ListenerShare share;
    uid_t owner_uid;
    Fd conn;
    bool in_message = false;
    std::uint32_t remaining = 0;  // bytes of the current message not yet read

    Impl(Listener *listener, std::string path, uid_t uid) : share(listener, std::move(path)), owner_uid(uid) {}
};

PipeInstance PipeInstance::create(const std::string &pipe_name) {
    if (Listener *shared = ListenerRegistry::instance().share_by_name(pipe_name)) {
        return PipeInstance(std::make_unique<Impl>(shared, shared->path, shared->owner_uid));
    }
    nt_owner_policy_t policy{};
    sockaddr_un addr{};
    std::string path;
    if (!owner_policy(&policy) || !socket_address(pipe_name, &addr, &path)) {
        return PipeInstance();
    }
    Listener *listener = ListenerRegistry::instance().acquire(addr, path, pipe_name, policy);
    if (listener == nullptr) {
        return PipeInstance();
    }
    return PipeInstance(std::make_unique<Impl>(listener, path, static_cast<uid_t>(policy.uid)));
}

int PipeInstance::live_server_pid(const std::string &pipe_name) {
    nt_owner_policy_t policy{};
    sockaddr_un addr{};
    std::string path;
    if (!owner_policy(&policy) || !socket_address(pipe_name, &addr, &path)) {
        return 0;
    }
    Fd fd = connect_socket(addr, 0);
    if (!fd.valid()) {
        return 0;
    }
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred ||
        cred.uid != static_cast<uid_t>(policy.uid) || cred.pid == ::getpid()) {
        return 0;
    }
    return static_cast<int>(cred.pid);
}

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
    if (impl_->conn.valid()) {
        return true;  // already connected, as ERROR_PIPE_CONNECTED reports
    }
    for (;;) {
        Fd conn(::accept4(impl_->share.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!conn.valid()) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) {
                continue;
            }
            return false;
        }
        uid_t uid = 0;
        if (!peer_uid(conn.get(), &uid) || uid != impl_->owner_uid) {
            continue;  // another user's client is dropped unanswered
        }
        impl_->conn = std::move(conn);
        impl_->in_message = false;
        impl_->remaining = 0;
        return true;
    }
}

ReadStatus PipeInstance::read(char *buf, std::size_t max, std::size_t *got) {
    *got = 0;
    if (!impl_ || !impl_->conn.valid()) {
        return ReadStatus::failed;
    }
    const int fd = impl_->conn.get();
    if (!impl_->in_message) {
        if (!recv_header(fd, &impl_->remaining)) {
            return ReadStatus::failed;
        }
        impl_->in_message = true;
    }
    const std::size_t want = std::min<std::size_t>(max, impl_->remaining);
    if (recv_full(fd, buf, want) != static_cast<ssize_t>(want)) {
        return ReadStatus::failed;  // the client went in the middle of its message
    }
    impl_->remaining -= static_cast<std::uint32_t>(want);
    *got = want;
    if (impl_->remaining > 0) {
        return ReadStatus::more_data;
    }
    impl_->in_message = false;
    return ReadStatus::complete;
}

bool PipeInstance::write(const char *data, std::size_t size) {
    return impl_ && impl_->conn.valid() && send_message(impl_->conn.get(), data, size);
}

bool PipeInstance::flush() {
    if (!impl_ || !impl_->conn.valid()) {
        return false;
    }
    const int fd = impl_->conn.get();
    // A Unix socket's sent bytes stay charged to the sender until the peer
    // has read them, so an empty output queue means "read". The kernel has
    // no wake-up for that moment, so the queue is looked at again after a
    // pause that grows up to 50 ms; a client that closes or shuts its end
    // wakes the poll at once, which is the common case.
    int pause_ms = 1;
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, SIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued == 0) {
            return true;
        }
        pollfd p{fd, POLLRDHUP, 0};
        const int n = ::poll(&p, 1, pause_ms);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (n > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return true;  // the client has gone; nothing more will be read
        }
        pause_ms = std::min(pause_ms * 2, 50);
    }
}

bool PipeInstance::disconnect() {
    if (!impl_ || !impl_->conn.valid()) {
        return false;
    }
    ::shutdown(impl_->conn.get(), SHUT_RDWR);
    impl_->conn.reset();
    impl_->in_message = false;
    impl_->remaining = 0;
    return true;
}

void PipeInstance::close() { impl_.reset(); }

struct PipeClient::Impl {
    std::string name;
    Fd conn;
    bool opened = false;
    bool in_message = false;
    std::uint32_t remaining = 0;  // bytes of the current answer not yet read

    void reset() {
        conn.reset();
        opened = false;
        in_message = false;
        remaining = 0;
    }
};

PipeClient::PipeClient(std::string pipe_name) : impl_(std::make_unique<Impl>()) {
    impl_->name = std::move(pipe_name);
}
PipeClient::~PipeClient() = default;
PipeClient::PipeClient(PipeClient &&) noexcept = default;
PipeClient &PipeClient::operator=(PipeClient &&) noexcept = default;

bool PipeClient::wait(unsigned timeout_ms) {
    if (!impl_) {
        return false;
    }
    impl_->reset();
    sockaddr_un addr{};
    std::string path;
    if (!socket_address(impl_->name, &addr, &path)) {
        return false;
    }
    // A time-out of 0 asks for the pipe's default, as with WaitNamedPipe.
    impl_->conn = connect_socket(addr, timeout_ms == 0 ? kDefaultWaitMs : timeout_ms);
    return impl_->conn.valid();
}

bool PipeClient::open() {
    if (!impl_) {
        return false;
    }
    if (impl_->opened) {
        return true;
    }
    if (!impl_->conn.valid()) {
        sockaddr_un addr{};
        std::string path;
        if (!socket_address(impl_->name, &addr, &path)) {
            return false;
        }
        impl_->conn = connect_socket(addr, 0);
        if (!impl_->conn.valid()) {
            return false;
        }
    }
    // A socket that another user listens on gets nothing from us.
    nt_owner_policy_t policy{};
    uid_t uid = 0;
    if (!owner_policy(&policy) || !peer_uid(impl_->conn.get(), &uid) || uid != static_cast<uid_t>(policy.uid)) {
        impl_->reset();
        return false;
    }
    impl_->opened = true;
    return true;
}

bool PipeClient::write(const char *data, std::size_t size, std::size_t *written) {
    *written = 0;
    if (!impl_ || !impl_->opened || !send_message(impl_->conn.get(), data, size)) {
        return false;
    }
    *written = size;
    return true;
}

bool PipeClient::read(char *buf, std::size_t max, std::size_t *got) {
    *got = 0;
    if (!impl_ || !impl_->opened) {
        return false;
    }
    const int fd = impl_->conn.get();
    if (!impl_->in_message) {
        // The server closing before any header means it never answered.
        if (!recv_header(fd, &impl_->remaining)) {
            return false;
        }
        impl_->in_message = true;
    }
    const std::size_t want = std::min<std::size_t>(max, impl_->remaining);
    const ssize_t n = recv_full(fd, buf, want);
    if (n < 0 || (n == 0 && want > 0)) {
        return false;  // the server went before sending the rest
    }
    impl_->remaining -= static_cast<std::uint32_t>(n);
    if (impl_->remaining == 0) {
        impl_->in_message = false;
    }
    *got = static_cast<std::size_t>(n);
    return true;
}

void PipeClient::close() {
    if (impl_) {
        impl_->reset();
    }
}

bool PipeClient::busy() const { return false; }

const std::string &PipeClient::name() const {
    static const std::string moved_from;
    return impl_ ? impl_->name : moved_from;
}

}  // namespace platform
