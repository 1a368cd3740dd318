#include "pipe_test_server.h"

#include <utility>

namespace bridge_test {

TestServer::TestServer(const std::string &pipe_name, Reply reply, std::string answer)
    : name_(pipe_name), reply_(reply), answer_(std::move(answer)), instance_(platform::PipeInstance::create(pipe_name)) {
    created_ = instance_.valid();
    if (created_) thread_ = std::thread(&TestServer::serve, this);
}

TestServer::~TestServer() { finish(); }

const std::string &TestServer::request() {
    finish();
    return request_;
}

// Reads the whole request, answers as asked and ends the connection.
void TestServer::serve() {
    if (!instance_.connect()) return;
    connected_ = true;
    char buf[4096];
    for (;;) {
        std::size_t got = 0;
        platform::ReadStatus status = instance_.read(buf, sizeof buf, &got);
        request_.append(buf, got);
        if (status != platform::ReadStatus::more_data) break;
    }
    if (reply_ == Reply::answer) {
        instance_.write(answer_.data(), answer_.size());
        instance_.flush();
    }
    instance_.disconnect();
    instance_.close();
}

// A server still waiting for its client gets one that connects and goes,
// so its thread can end.
void TestServer::finish() {
    if (!thread_.joinable()) return;
    if (!connected_) {
        platform::PipeClient poke(name_);
        poke.open();
    }
    thread_.join();
}

PauseLog &pause_log() {
    static PauseLog log;
    return log;
}

unsigned int recording_pause(unsigned int seconds) {
    PauseLog &log = pause_log();
    log.seconds.push_back(seconds);
    if (log.on_pause) log.on_pause(log.seconds.size());
    return 0;
}

}  // namespace bridge_test
