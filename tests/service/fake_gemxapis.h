// A recording stand-in for the operations API (libgemxapis), linked into the
// service's unit tests in place of the real library: every gemx_api_* call
// is kept with copies of its arguments, every GEMXAPIS_Tracer line is kept
// as "component::module::function::Entering", "...::Exiting" or
// "...::<message>", and each call's result comes from a script. Everything
// is guarded by one lock, so workers on several threads may call at once.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "gemxapis.h"

namespace fake_gemxapis {

// One API call as the service made it.
struct Call {
    std::string name;                // "deliver", "update", "initialize", ...
    gemx_api_handle_t handle = 0;    // the handle passed (for initialize: *handle on entry)
    std::vector<std::string> texts;  // cwd, pathname, or update's whole path list
    std::vector<int> numbers;        // update: reserved, count, reserved2..5; vtree: flags

    bool operator==(const Call &) const = default;
};

// Shows a call in GoogleTest's messages.
void PrintTo(const Call &call, std::ostream *out);

// Shorthands for the expected calls.
Call deliver(gemx_api_handle_t h, const std::string &cwd);
Call rebase(gemx_api_handle_t h, const std::string &cwd);
Call find_merge(gemx_api_handle_t h);
Call history(gemx_api_handle_t h, const std::string &pathname);
Call update(gemx_api_handle_t h, const std::vector<std::string> &paths);
Call vtree(gemx_api_handle_t h, const std::string &pathname, int flags);

// Forgets every call, trace line and script; initialize answers 0 with the
// handle kInitializeHandle again.
void reset();

inline constexpr gemx_api_handle_t kInitializeHandle = 0x5eed;

// The calls made since the last reset, in order.
std::vector<Call> calls();

// The trace lines written since the last reset, in order.
std::vector<std::string> trace();

// How often GEMXAPIS_Tracer::close_file was called since the last reset.
int close_file_count();

// The results of the next calls of the named operation, in order; once
// they are used up the operation answers 0.
void script(const std::string &name, std::vector<int> results);

// When on, every trace line, API call and close_file is also written to
// standard error as it happens, each followed by ";" (a call as its name
// and handle: "uninitialize 5;"), so that a test of a process that ends
// at once (cleanup) can read them from the outside.
void echo_to_stderr(bool on);

// What gemx_api_initialize answers, and the handle it stores on success.
void set_initialize(int result, gemx_api_handle_t handle);

}  // namespace fake_gemxapis
