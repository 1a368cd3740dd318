// The scripted client end of the pipe (see fake_pipe_client.h). It defines
// platform::PipeClient in place of the platform's, which the test program
// then does not take from the platform library.
#include "fake_pipe_client.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "pipe.h"

namespace fake_pipe {
namespace {

Script script;
Record rec;
std::size_t next_step = 0;

Step take_step() {
    const Step s = next_step < script.steps.size() ? script.steps[next_step] : script.rest;
    ++next_step;
    return s;
}

}  // namespace

void set_script(Script s) {
    script = std::move(s);
    rec = Record{};
    next_step = 0;
}

const Record &record() { return rec; }

}  // namespace fake_pipe

namespace platform {

struct PipeClient::Impl {
    std::string name;
    bool waited = false;   // a wait succeeded and its open is pending
    fake_pipe::Step step = fake_pipe::Step::no_pipe;
    bool open = false;
    bool busy = false;
    std::size_t answered = 0;  // bytes of the answer already read
};

PipeClient::PipeClient(std::string pipe_name) : impl_(std::make_unique<Impl>()) { impl_->name = std::move(pipe_name); }
PipeClient::~PipeClient() = default;
PipeClient::PipeClient(PipeClient &&) noexcept = default;
PipeClient &PipeClient::operator=(PipeClient &&) noexcept = default;

bool PipeClient::wait(unsigned /*timeout_ms*/) {
    ++fake_pipe::rec.waits;
    impl_->step = fake_pipe::take_step();
    impl_->waited = impl_->step != fake_pipe::Step::no_pipe;
    return impl_->waited;
}

bool PipeClient::open() {
    if (impl_->open) return true;
    ++fake_pipe::rec.opens;
    const fake_pipe::Step step = impl_->waited ? impl_->step : fake_pipe::take_step();
    impl_->waited = false;
    impl_->open = step == fake_pipe::Step::opens;
    impl_->busy = step == fake_pipe::Step::busy;
    return impl_->open;
}

bool PipeClient::busy() const { return impl_->busy; }

bool PipeClient::write(const char *data, std::size_t size, std::size_t *written) {
    *written = 0;
    if (!impl_->open) return false;
    fake_pipe::rec.written.append(data, size);
    *written = size;
    return true;
}

bool PipeClient::read(char *buf, std::size_t max, std::size_t *got) {
    *got = 0;
    if (!impl_->open) return false;
    const std::string &answer = fake_pipe::script.answer;
    *got = std::min(max, answer.size() - impl_->answered);
    std::memcpy(buf, answer.data() + impl_->answered, *got);
    impl_->answered += *got;
    return true;
}

void PipeClient::close() { impl_->open = false; }

const std::string &PipeClient::name() const { return impl_->name; }

}  // namespace platform
