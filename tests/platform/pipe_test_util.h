// Helpers shared by the pipe tests: unique pipe names, a private temporary
// directory for the POSIX socket, and whole-message reads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pipe.h"
#include "test_common.h"

namespace pipe_test {

// A pipe name no other test uses: "\\.\pipe\kestrin\test_pipe_<pid>_<n>".
std::string unique_pipe_name();

// The last component of a pipe name, which names the POSIX socket file.
std::string leaf_of(const std::string &pipe_name);

// Points TMPDIR at a private folder for the life of the object (POSIX; the
// Windows pipe does not use it) and puts the old value back afterwards.
class ScopedTmpdir {
public:
    ScopedTmpdir();
    ~ScopedTmpdir();
    ScopedTmpdir(const ScopedTmpdir &) = delete;
    ScopedTmpdir &operator=(const ScopedTmpdir &) = delete;
    const std::string &path() const { return dir_.path(); }

private:
    kestrin_test::TempDir dir_{"pipe"};
    bool had_old_ = false;
    std::string old_;
};

// One server read: its status and the bytes it gave.
struct Chunk {
    platform::ReadStatus status;
    std::size_t size;
};

// Reads one message in reads of at most chunk bytes until a read completes
// or fails; the bytes go to *data, every read's outcome to the result.
std::vector<Chunk> read_message(platform::PipeInstance &server, std::size_t chunk, std::string *data);

// Connects a client as the bridge does (wait, then open); false on failure.
bool connect_client(platform::PipeClient &client);

// Writes text as one message; false on failure or a short write.
bool send(platform::PipeClient &client, const std::string &text);

// One client read of at most max bytes; false when the read failed.
bool receive(platform::PipeClient &client, std::size_t max, std::string *text);

}  // namespace pipe_test
