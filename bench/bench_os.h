// What the load driver needs from the OS beyond platform/: the bare IPC
// floor (a client and a thread-per-connection server over the service's
// transport, without any of the product's code), a look at another
// process's resources, and stopping the service. One implementation file
// per OS (bench_os_posix.cpp, bench_os_win32.cpp) chosen by the build.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace bench {

// A bare thread-per-connection server: every accepted connection gets a
// detached thread that reads one framed request, writes one framed answer
// and closes. POSIX: a Unix-domain stream socket with the 4-byte
// little-endian length framing; Windows: a named pipe with the service's
// instance parameters (duplex, message mode, unlimited instances, 4096-byte
// buffers, 5000 ms default time-out).
class FloorServer {
public:
    // Starts serving on a name of its own under folder; invalid on failure.
    static std::unique_ptr<FloorServer> start(const std::string &folder);
    virtual ~FloorServer() = default;
    // What a client passes to floor_call.
    virtual const std::string &address() const = 0;
};

// One floor call: connect, one write of request, one read of the answer,
// close. True when an answer came back.
bool floor_call(const std::string &address, const std::string &request);

// A process's resident memory (KiB), thread count and open handles or
// descriptors; -1 where a figure cannot be had.
struct Resources {
    long rss_kib = -1;
    long threads = -1;
    long handles = -1;
};
Resources process_resources(int pid);

// True while process pid exists.
bool process_alive(int pid);

// Asks process pid to end (SIGTERM; Windows: TerminateProcess with 15) and
// waits up to timeout_ms for it to go. True when it has gone.
bool stop_process(int pid, unsigned timeout_ms);

// Sets (or with an empty value, on Windows removes) an environment variable
// of the calling process.
void set_env(const char *name, const std::string &value);

// A monotonic clock shared by all processes of the machine, in ns, so a
// start time can be handed to child processes.
long long now_ns();

// Sleeps until now_ns() reaches t.
void sleep_until_ns(long long t);

// The path separator and the programs' file-name suffix of this OS.
char separator();
std::string exe_suffix();

// A command made ready for std::system: Windows' command processor strips
// the first and last quote of a line that starts with one, so it gets an
// outer pair there.
std::string shell_command(const std::string &command);

// The OS, CPU and core count, for the summary.
std::string machine_description();

}  // namespace bench
