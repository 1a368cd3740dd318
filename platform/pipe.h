// The service pipe: one interface over Windows named pipes and, on POSIX,
// Unix-domain stream sockets that behave like them.
//
// Names: callers pass the full Windows pipe name
// ("\\.\pipe\...\gemx_pkl_service_pipe_request<login>"). Windows uses it as
// it is; POSIX uses the socket <tmpdir>/<last component of the name>, where
// tmpdir is fileutl_get_tmpdir's directory.
//
// Messages: a write is one message and a server read never consumes more
// than the current message, on both systems. POSIX frames every message as
// a 4-byte little-endian length followed by its bytes; any size up to
// 4 GiB - 1 works, and a zero-length message is a complete read of 0 bytes.
//
// Signals: no call raises SIGPIPE; a write to a peer that has gone fails.
//
// Access: only the owning user reaches the pipe. Windows: the DACL of
// nt_owner_security_attributes. POSIX: the socket is created 0600 and every
// peer's credentials are checked on both sides; a peer of another uid is
// dropped without an answer, and a server of another uid gets nothing.
//
// Threads: one object is used by one thread at a time; different objects
// may be used concurrently. Every object owns its OS handle and releases it
// when destroyed; objects move, they do not copy.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// Outcome of a server-side read of at most N bytes.
enum class ReadStatus {
    complete,   // the bytes read end the current message
    more_data,  // the message continues; read again (ERROR_MORE_DATA)
    failed,     // nothing more can be read: error, or the client has gone
};

// One server-side instance of the pipe, connected to at most one client.
class PipeInstance {
public:
    // Creates an instance of the named pipe with the service's instance
    // parameters (duplex, message mode, blocking, unlimited instances,
    // 4096-byte buffers, 5000 ms default time-out, owner-only security).
    // Returns an invalid instance on failure, also when the owner-only
    // security attributes cannot be had. POSIX: the first instance of a
    // socket path in a process binds and listens (a path too long for
    // sun_path, a path that is not a socket, or a live listener of another
    // process already there, fails: so unlike on Windows a second service
    // of the same user does not start serving; a stale socket file is
    // replaced); later instances of the same name share that listening
    // socket without looking at the temporary directory again (so a
    // service goes on serving its 0600 socket if the folder's mode changes
    // under it), and closing the last of them closes it and removes the
    // socket file if it is still the one bound.
    static PipeInstance create(const std::string &pipe_name);

    // The process id of another live server of the calling user that holds
    // the pipe, or 0 when there is none or it cannot be told. POSIX: the
    // listener behind the socket, from its peer credentials (the probe
    // reaches it as a connection that sends nothing). Windows: always 0,
    // since several servers may serve one pipe there.
    static int live_server_pid(const std::string &pipe_name);

    PipeInstance();
    ~PipeInstance();
    PipeInstance(PipeInstance &&) noexcept;
    PipeInstance &operator=(PipeInstance &&) noexcept;

    bool valid() const;

    // Blocks until a client connects. True when connected (a client that
    // connected before the call counts: ERROR_PIPE_CONNECTED; so does a
    // second call on a connected instance). POSIX: a peer of another uid is
    // dropped unanswered and the wait goes on. After disconnect() an
    // instance may connect again.
    bool connect();

    // Reads at most max bytes of the current message into buf; *got gets
    // the count (0 when the read failed). Blocks until that much of the
    // message, or all of its rest, has arrived.
    ReadStatus read(char *buf, std::size_t max, std::size_t *got);

    // Writes data as one message. True when all of it was written.
    bool write(const char *data, std::size_t size);

    // Returns once the client has read what was written, or has gone.
    // A client that neither reads nor closes keeps it waiting, as
    // FlushFileBuffers does. POSIX: wakes at once when the client closes,
    // otherwise looks again after pauses of at most 50 ms.
    bool flush();

    // Ends the connection with the client; what it has not read is lost.
    bool disconnect();

    // Releases the instance; the object becomes invalid.
    void close();

    struct Impl;

private:
    explicit PipeInstance(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The client end of one connection to the pipe.
class PipeClient {
public:
    explicit PipeClient(std::string pipe_name);
    ~PipeClient();
    PipeClient(PipeClient &&) noexcept;
    PipeClient &operator=(PipeClient &&) noexcept;

    // Waits up to timeout_ms for a free instance (WaitNamedPipeA; 0 means
    // the pipe's default of 5000 ms). Fails at once when the pipe does not
    // exist; POSIX: also when the socket file has no live listener, and it
    // waits only while the listener's backlog is full. POSIX keeps the
    // connection a successful wait made, and open() uses it, so no empty
    // connection reaches the server; a new wait() drops an unopened one.
    bool wait(unsigned timeout_ms);

    // Opens the pipe for reading and writing (OPEN_EXISTING, no sharing,
    // the client end left in byte read mode). False when there is no
    // instance to open; POSIX: connects itself when no wait() came first,
    // without waiting, and fails when the server is not owned by the
    // calling user, before anything is sent. True at once when open.
    bool open();

    // True when the last open() failed only because another client took
    // the free instance first (Windows ERROR_PIPE_BUSY), so waiting again
    // may succeed. POSIX: always false, since there a successful wait holds
    // its connection and an open can fail only for good (a server of
    // another user, an error).
    bool busy() const;

    // Writes the whole request as one message; *written gets the count.
    bool write(const char *data, std::size_t size, std::size_t *written);

    // One read of at most max bytes of the answer, in byte mode: a longer
    // answer gives its first max bytes, the rest waits for the next read.
    // A successful read of 0 bytes is possible (the server wrote an empty
    // message); false when the server closed without answering. Blocks
    // until the answer arrives; there is no time-out.
    bool read(char *buf, std::size_t max, std::size_t *got);

    // Closes the connection if one is open.
    void close();

    // The full name the object was made with.
    const std::string &name() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
