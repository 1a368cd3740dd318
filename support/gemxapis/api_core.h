// The logic of libgemxapis behind its C functions: one helper process at a
// time, its handle, the exchange of one request line for one answer line,
// and stopping the helper while other threads may be using it. It knows the
// helper only through HelperLink, so it is tested over a fake link.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "gemxapis.h"
#include "helper_link.h"

namespace gemxapis {

// The library's own failure results. The helper's answers (1 a path that
// does not exist, 2 an operation that could not be journaled, 3 a request
// it could not read) are passed on as they are, so these start at 101.
enum Result : int {
    kOk = 0,
    kBadArgument = 101,       // a null pointer, a negative count
    kStartFailed = 102,       // the helper program is missing or cannot be started
    kNotReady = 103,          // the helper ended or said something else before "ready"
    kNotCurrentHandle = 104,  // the handle names no running helper
    kStopping = 105,          // the helper is being stopped
    kHelperGone = 106,        // the helper's input or output broke
    kBadAnswer = 107,         // the helper's answer is not a decimal number
};

// The time limits of the helper's life, in milliseconds.
struct Timeouts {
    int ready_ms = 30000;  // for the ready line after the start
    int busy_ms = 2000;    // for an exchange in progress when stopping
    int stop_ms = 5000;    // for the helper to end after its input closed
};

// The first line a helper writes once it reads requests.
inline constexpr char kReadyLine[] = "ready";

// Starts a helper and returns its link, or null when it cannot be started.
using LinkStarter = std::function<std::unique_ptr<HelperLink>()>;

class ApiCore {
public:
    ApiCore(LinkStarter starter, Timeouts timeouts);
    ~ApiCore();
    ApiCore(const ApiCore &) = delete;
    ApiCore &operator=(const ApiCore &) = delete;

    // Starts a helper and waits for its ready line; 0 and a nonzero *handle
    // then. While a sound helper runs already, 0 with its handle. On
    // failure *handle is left as it was.
    int initialize(gemx_api_handle_t *handle);

    // Stops the helper that *handle names: ends its input, waits for it to
    // end and kills it when it does not. *handle becomes 0 in every case
    // (when it names no helper too, with kNotCurrentHandle). Exchanges
    // waiting for the helper then fail; one in progress is allowed to finish
    // for Timeouts::busy_ms before the helper is killed under it.
    int uninitialize(gemx_api_handle_t *handle);

    // Sends line (without line end) to the helper named by handle and
    // returns its answer: 0, the helper's nonzero code, or a Result.
    // Exchanges of concurrent callers are carried out one after another.
    int exchange(gemx_api_handle_t handle, const std::string &line);

    // The process id of the helper named by handle, 0 when none.
    int helper_process_id(gemx_api_handle_t handle);

    // The time limits in force, and their replacement for later calls.
    Timeouts timeouts() const;
    void set_timeouts(Timeouts timeouts);

private:
    struct Session;

    std::shared_ptr<Session> session_for(gemx_api_handle_t handle);
    void stop(Session &session);
    gemx_api_handle_t next_handle();

    LinkStarter starter_;
    std::atomic<int> ready_ms_;
    std::atomic<int> busy_ms_;
    std::atomic<int> stop_ms_;
    std::mutex lifecycle_mutex_;  // one initialize or uninitialize at a time
    std::mutex current_mutex_;    // guards current_ and last_handle_
    std::shared_ptr<Session> current_;
    gemx_api_handle_t last_handle_ = 0;
};

}  // namespace gemxapis
