// The bridge's private operations: request building and response reading
// (module "gemxbridge"), the pipe client (module "com_utils") and service
// discovery and launch (module "process_utils"). None of them is exported;
// the library's only export is invoke_gemx_ui.
#pragma once

#include <string>

#include "kestrin_api.h"

// ---- gemxbridge ----------------------------------------------------------

// The library's export: makes sure the service runs, sends it one request
// and returns its answer, or 1 when the bridge fails at any step. Never
// throws. One call at a time per process.
extern "C" KESTRIN_EXPORT int invoke_gemx_ui(int client_kind, int op_id, const char *args);

// The request text for the operation id and argument string, with the cwd
// field when the current directory can be read.
std::string construct_request(int op_id, const char *args);

// The integer between the response tags, or 1 when the tags are missing, the
// value is empty, or it holds no number within the 32-bit range.
int process_response(std::string response);

// ---- com_utils -----------------------------------------------------------

// Sends request over the service pipe of the calling user and reads one
// answer. 1 with response replaced by the answer; 0 with response untouched
// when the pipe cannot be opened, written or read (each traced).
int send_data_win32(const std::string &request, std::string &response, int client_kind);

// The service pipe's base name for a client kind (the same for every kind).
std::string pipe_base_name_for(int client_kind);

// The pause taken after each failed wait for a pipe instance (seconds).
// Tests replace it so the retry schedule runs without real waits.
using SleepFunction = unsigned int (*)(unsigned int seconds);
void set_sleep_function(SleepFunction fn);

// ---- process_utils -------------------------------------------------------

// True when the service runs or has just been started; false when it
// neither runs nor could be launched. Stores the client kind first.
bool init_gemx_service(int client_kind);

// True when the pid file names a running process of this installation's
// service program.
bool gemx_ser_proc_check();

// True when process pid runs this installation's service program.
bool proc_exists(int pid);

// True when two module paths name the same program: equal apart from the
// case of ASCII letters (Windows paths are case-insensitive; bytes above
// 127 are compared as they are).
bool same_image_path(const std::string &a, const std::string &b);

// Starts the service program hidden and detached: 0 when the process was
// created, 1 when not.
int create_lsp();

// The service program of this installation: product dir + suffix.
std::string service_exe_path();
std::string service_exe_suffix();
std::string service_pid_file_name();

// The client kind stored by the last init_gemx_service.
int current_client_kind();
