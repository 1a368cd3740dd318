// A stand-in for the service's end of the pipe: one instance of the service
// pipe, served on a thread of its own, that records the request it gets and
// answers as the test asks. Also the recording fake of the pause between
// waits for the pipe.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pipe.h"

namespace bridge_test {

// What the server does once it has read the request.
enum class Reply {
    answer,                // writes the answer bytes as one message
    close_without_answer,  // disconnects at once
};

class TestServer {
public:
    // Creates the instance at once (so a client that waits afterwards finds
    // it) and serves one connection on a thread.
    TestServer(const std::string &pipe_name, Reply reply, std::string answer);
    // Releases a server that nobody connected to, then joins its thread.
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    bool created() const { return created_; }
    // Waits for the connection to be served; the request it brought.
    const std::string &request();

private:
    void serve();
    void finish();

    std::string name_;
    Reply reply_;
    std::string answer_;
    platform::PipeInstance instance_;
    bool created_ = false;
    std::atomic<bool> connected_{false};
    std::string request_;
    std::thread thread_;
};

// The pauses the pipe client took, and what to do at each one.
struct PauseLog {
    std::vector<unsigned> seconds;
    std::function<void(std::size_t count)> on_pause;  // called with the count so far
};

// The process's pause log, used by recording_pause.
PauseLog &pause_log();

// Records the pause in pause_log() and returns at once.
unsigned int recording_pause(unsigned int seconds);

}  // namespace bridge_test
