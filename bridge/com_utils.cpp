// The pipe client: one connection per call, one request, one answer.
#include <cstring>
#include <string>

#include "bridge_internal.h"
#include "gemx_protocol.h"
#include "gemxbridge_tracer.h"
#include "pipe.h"
#include "veyraks.h"
#include "veyrant.h"

namespace {

const int kWaitAttempts = 25;
const unsigned kWaitTimeoutMs = 10000;
const unsigned kPauseSeconds = 5;
// Each busy retry blocks in the wait until an instance is free again, so
// the limit bounds the retries, not a spin.
const int kBusyRetries = 1000;
const std::size_t kAnswerBuffer = 4096;

unsigned int real_sleep(unsigned int seconds) { return sleep(seconds); }

SleepFunction sleep_function = real_sleep;

}  // namespace

void set_sleep_function(SleepFunction fn) { sleep_function = fn ? fn : real_sleep; }

std::string pipe_base_name_for(int /*client_kind*/) { return pipe_base_name; }

int send_data_win32(const std::string &request, std::string &response, int client_kind) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "com_utils", "send_data_win32");
    std::string name = service_pipe_name(pipe_base_name_for(client_kind), sysutl_myloginname());
    platform::PipeClient pipe(name);

    // A freshly launched service has no pipe yet: the retries give it time.
    // Between a successful wait and the open another client may take the
    // free instance (Windows reports the pipe busy). Many clients at once
    // can make one of them lose that race many times in a row, so a busy
    // open waits again at once, without the pause and without using up one
    // of the attempts, up to a limit of its own. Any other failed open
    // after a successful wait is final: the pipe is there, but not for us.
    int busy_retries = 0;
    for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
        if (pipe.wait(kWaitTimeoutMs)) {
            if (pipe.open()) break;
            if (!pipe.busy()) break;
            if (busy_retries++ < kBusyRetries) --attempt;
            continue;
        }
        sleep_function(kPauseSeconds);
    }
    if (!pipe.open()) {
        tracer.writeTrace("Unable to obtain pipe %s", name.c_str());
        return 0;
    }
    std::size_t written = 0;
    if (!pipe.write(request.data(), request.size(), &written)) {
        tracer.writeTrace("error encountered while writing request to pipe");
        return 0;
    }
    char buffer[kAnswerBuffer];
    std::memset(buffer, 0, sizeof buffer);
    std::size_t got = 0;
    if (!pipe.read(buffer, kAnswerBuffer - 1, &got)) {
        tracer.writeTrace("error encountered while reading response from pipe");
        return 0;
    }
    buffer[got] = '\0';
    response.assign(buffer);  // up to the first NUL
    return 1;
}
