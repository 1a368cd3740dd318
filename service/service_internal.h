// The service's parts, declared for the program's own units and its tests:
// start-up and listener, the connection worker and request dispatch
// (module "gemx_pkl_svc_win32"), and the operation adapters (module
// "operations").
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "gemxapis.h"
#include "pipe.h"

// The helper handle: written by the listener (gemx_api_initialize) and by
// the termination path (gemx_api_uninitialize), read by every worker at
// dispatch, so it is atomic.
extern std::atomic<gemx_api_handle_t> helper_handle;

// The largest request a worker keeps. A longer one is answered with 1 and
// the rest of it is not read.
inline constexpr std::size_t kRequestLimit = 16u * 1024u * 1024u;

// ---- gemx_pkl_svc_win32 ----------------------------------------------------

// The program: pid file, pipe, helper start and listener. Returns -1 when
// start-up or the listener fails; otherwise it does not return.
int service_main();

// Writes the process id to the pid file in the temporary directory; false
// when the file cannot be opened for writing.
bool write_pid_file();

// The termination handler: stops the helper process and ends the process
// with signal as its exit status.
[[noreturn]] void cleanup(int signal);

// Thread procedure of one connection: block is a heap-allocated
// platform::PipeInstance that the worker owns from its start.
void com_worker(void *block);

// Reads one whole message from the instance in chunks of at most 4095
// bytes; each chunk is kept up to its first NUL. On a read error it returns
// what it has so far. *too_large is set when the message passes
// kRequestLimit; reading then stops and the rest is not kept.
std::string read_request(platform::PipeInstance &instance, bool *too_large);

// Takes a request apart and carries it out: 0 or 1.
int proc_req(std::string message);

// ---- operations --------------------------------------------------------------

int deliver(gemx_api_handle_t handle, std::string args, std::string cwd);
int find_merge(gemx_api_handle_t handle);
int history(gemx_api_handle_t handle, std::string args, std::string cwd);
int rebase(gemx_api_handle_t handle, std::string args, std::string cwd);
int update(gemx_api_handle_t handle, std::string args, std::string cwd);
int vtree(gemx_api_handle_t handle, std::string args, std::string cwd);

// Writes the absolute form of pathname, taken relative to the client cwd,
// into path (1024 bytes). False, after a trace line, when the cwd is empty
// or not an accessible directory, or the result does not fit.
bool make_abs_pn(std::string cwd, const char *pathname, char *path);
