// One helper process at a time and the line exchanges with it.
#include "api_core.h"

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace gemxapis {

namespace {

// A lock that can also be waited for with a time limit, for the one
// exchange at a time with the helper. It is built from a plain mutex and a
// condition variable rather than std::timed_mutex, whose timed wait thread
// checkers do not follow, so a checked build reports real races only.
class ExchangeGate {
public:
    void lock() {
        std::unique_lock<std::mutex> hold(mutex_);
        free_.wait(hold, [this] { return !held_; });
        held_ = true;
    }
    bool try_lock_for(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (!free_.wait_for(hold, limit, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            held_ = false;
        }
        free_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
};

}  // namespace

// A started helper. Its link lives as long as the last thread that uses it,
// so stopping the helper never pulls the link from under an exchange.
struct ApiCore::Session {
    Session(std::unique_ptr<HelperLink> l, gemx_api_handle_t h) : link(std::move(l)), handle(h) {}
    const std::unique_ptr<HelperLink> link;
    const gemx_api_handle_t handle;
    ExchangeGate exchange_mutex;      // one request and its answer at a time
    bool input_closed = false;        // guarded by exchange_mutex
    std::atomic<bool> stopping{false};
    std::atomic<bool> broken{false};  // an exchange failed: the helper is out of use
};

ApiCore::ApiCore(LinkStarter starter, Timeouts timeouts)
    : starter_(std::move(starter)), ready_ms_(timeouts.ready_ms), busy_ms_(timeouts.busy_ms),
      stop_ms_(timeouts.stop_ms) {}

ApiCore::~ApiCore() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(current_mutex_);
        session = std::move(current_);
    }
    if (session) stop(*session);
}

Timeouts ApiCore::timeouts() const { return Timeouts{ready_ms_, busy_ms_, stop_ms_}; }

void ApiCore::set_timeouts(Timeouts timeouts) {
    ready_ms_ = timeouts.ready_ms;
    busy_ms_ = timeouts.busy_ms;
    stop_ms_ = timeouts.stop_ms;
}

gemx_api_handle_t ApiCore::next_handle() {
    // Handles are never 0 and not reused soon, so a stale handle from an
    // earlier helper is refused instead of reaching a new one.
    last_handle_ = last_handle_ == std::numeric_limits<gemx_api_handle_t>::max() ? 1 : last_handle_ + 1;
    return last_handle_;
}

int ApiCore::initialize(gemx_api_handle_t *handle) {
    if (!handle) return kBadArgument;
    std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
    std::shared_ptr<Session> old;
    {
        std::lock_guard<std::mutex> lock(current_mutex_);
        if (current_ && !current_->broken) {
            *handle = current_->handle;
            return kOk;
        }
        old = std::move(current_);
    }
    // A helper whose pipe broke is replaced by a new one.
    if (old) stop(*old);

    std::unique_ptr<HelperLink> link = starter_();
    if (!link) return kStartFailed;
    std::string first;
    if (link->receive_line(&first, ready_ms_) != LineStatus::line || first != kReadyLine) {
        link->close_input();
        if (!link->wait_for_exit(stop_ms_)) {
            link->terminate();
            link->wait_for_exit(-1);
        }
        return kNotReady;
    }
    std::lock_guard<std::mutex> lock(current_mutex_);
    current_ = std::make_shared<Session>(std::move(link), next_handle());
    *handle = current_->handle;
    return kOk;
}

int ApiCore::uninitialize(gemx_api_handle_t *handle) {
    if (!handle) return kBadArgument;
    std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(current_mutex_);
        if (current_ && *handle != 0 && current_->handle == *handle) session = std::move(current_);
    }
    // The caller's handle names no helper from now on; workers that read it
    // after this point fail at once.
    *handle = 0;
    if (!session) return kNotCurrentHandle;
    stop(*session);
    return kOk;
}

void ApiCore::stop(Session &session) {
    session.stopping = true;
    std::unique_lock<ExchangeGate> exchange(session.exchange_mutex, std::defer_lock);
    if (!exchange.try_lock_for(std::chrono::milliseconds(busy_ms_.load()))) {
        // An exchange hangs on a helper that does not answer: killing the
        // helper ends its output, which ends that exchange.
        session.link->terminate();
        if (!exchange.try_lock_for(std::chrono::milliseconds(stop_ms_.load()))) {
            // The exchange still holds on (its output must be held open by
            // some other process); the helper is dead all the same, and the
            // input is left to the link's destructor.
            session.link->wait_for_exit(-1);
            return;
        }
    }
    session.link->close_input();
    session.input_closed = true;
    exchange.unlock();
    if (!session.link->wait_for_exit(stop_ms_)) {
        session.link->terminate();
        session.link->wait_for_exit(-1);
    }
}

std::shared_ptr<ApiCore::Session> ApiCore::session_for(gemx_api_handle_t handle) {
    std::lock_guard<std::mutex> lock(current_mutex_);
    if (handle == 0 || !current_ || current_->handle != handle) return nullptr;
    return current_;
}

namespace {

// The decimal value of an answer line ("0", "1", "-7"); false for anything
// else, including values outside int.
bool parse_answer(const std::string &text, int *value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > std::numeric_limits<int>::max()) return false;
    }
    *value = static_cast<int>(negative ? -v : v);
    return true;
}

}  // namespace

int ApiCore::exchange(gemx_api_handle_t handle, const std::string &line) {
    std::shared_ptr<Session> session = session_for(handle);
    if (!session) return kNotCurrentHandle;
    std::lock_guard<ExchangeGate> exchange(session->exchange_mutex);
    if (session->stopping || session->input_closed) return kStopping;
    if (session->broken) return kHelperGone;
    if (!session->link->send(line + "\n")) {
        session->broken = true;
        return session->stopping ? kStopping : kHelperGone;
    }
    std::string answer;
    if (session->link->receive_line(&answer, -1) != LineStatus::line) {
        session->broken = true;
        return session->stopping ? kStopping : kHelperGone;
    }
    int value = 0;
    if (!parse_answer(answer, &value)) {
        // Answers and requests are no longer known to match.
        session->broken = true;
        return kBadAnswer;
    }
    return value;
}

int ApiCore::helper_process_id(gemx_api_handle_t handle) {
    std::shared_ptr<Session> session = session_for(handle);
    return session ? session->link->process_id() : 0;
}

}  // namespace gemxapis
