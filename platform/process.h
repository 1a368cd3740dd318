// Processes, threads and termination: one interface, one implementation
// file per OS (process_posix.cpp, process_win32.cpp) chosen by the build.
// Every call is safe from any thread unless it says otherwise.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The calling process's id (_getpid / getpid).
int current_pid();

// Starts a thread running fn(arg) that nobody joins (_beginthread with the
// default stack size). False when the thread could not be started; fn is
// then never called and arg stays the caller's.
bool start_detached_thread(void (*fn)(void *), void *arg);

// Arranges for handler(15) to run when the termination signal arrives.
// Windows: signal(SIGTERM, handler). POSIX: SIGTERM is blocked in every
// thread and a dedicated thread takes it with sigwait and calls the handler
// there, outside signal context, so the handler may trace, stop the helper
// and exit. Call it before any other thread starts, so every thread
// inherits the blocked mask.
void install_termination_handler(void (*handler)(int));

// Starts program (no arguments) hidden and detached: the caller keeps no
// handle and never waits. Windows: CreateProcessA with the quoted path as
// command line, STARTF_USESHOWWINDOW/SW_HIDE, CREATE_NO_WINDOW, both
// handles closed at once. POSIX: a new session, standard streams on
// /dev/null, no other inherited descriptors, not a child of the caller;
// a program that cannot be executed is a failure and leaves no process.
// True when the process was created.
bool launch_hidden(const std::string &program);

// Writes the path of the main module of process pid into buf (size bytes,
// always NUL-terminated; empty when unknown). False when the process cannot
// be opened (no such process, access denied). Windows:
// OpenProcess(0x0410) and GetModuleFileNameExA; POSIX: /proc/<pid>/exe.
bool process_image_path(int pid, char *buf, std::size_t size);

// The form of path that process_image_path reports for a program at path:
// POSIX resolves symbolic links (as the kernel does for /proc/<pid>/exe);
// Windows returns path unchanged. Empty when the path cannot be resolved.
std::string comparable_image_path(const std::string &path);

}  // namespace platform
