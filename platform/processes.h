// Processes, threads and termination: one interface, one implementation
// file per OS (processes_posix.cpp, processes_win32.cpp) chosen by the build.
// Every call is safe from any thread unless it says otherwise. Nothing here
// throws; failures are reported through the results.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The calling process's id (_getpid / getpid).
int current_pid();

// Starts a thread running fn(arg) that nobody joins (_beginthread with the
// default stack size; POSIX: a detached pthread). False when the thread
// could not be started; fn is then never called and arg stays the caller's.
bool start_detached_thread(void (*fn)(void *), void *arg);

// Arranges for handler(15) to run when the termination signal arrives.
// Windows: signal(SIGTERM, handler), so the handler runs on the thread the
// signal is raised on. POSIX: SIGTERM is blocked in the calling thread and
// a dedicated thread takes it with sigwait and calls the handler there,
// outside signal context, so the handler may trace, stop the helper and
// exit. Call it from the main thread before any other thread starts, so
// every later thread inherits the blocked mask (a thread started earlier
// with SIGTERM unblocked could still take the signal with its default
// action). On POSIX the signal must be sent to the process (kill); one
// raised with raise() in a thread that blocks it stays pending there. A
// handler is meant to end the process; if it returns, POSIX
// calls it again for the next signal, while the Windows runtime has reset
// SIGTERM to its default action before calling it. A null handler is
// ignored; a second call replaces the handler.
void install_termination_handler(void (*handler)(int));

// Starts program (no arguments) hidden and detached: the caller keeps no
// handle and never waits for it. Windows: CreateProcessA with the quoted
// path as command line, STARTF_USESHOWWINDOW/SW_HIDE, CREATE_NO_WINDOW,
// no handle inheritance, both handles closed at once. POSIX: the program
// runs in a new session with standard input, output and error on
// /dev/null, default signal dispositions, an empty signal mask and no
// other inherited descriptors; it is not a child of the caller (the one
// short-lived intermediate process is reaped by this call, by its pid, so
// the caller's own SIGCHLD handling is left alone). The call returns once
// the program has been executed or has failed to be; a program that
// cannot be executed (missing, not executable) is a failure and leaves no
// process behind. True when the program was started; on POSIX errno tells
// why not otherwise.
bool launch_hidden(const std::string &program);

// Writes the path of the main module of process pid into buf (size bytes,
// always NUL-terminated when size > 0; empty when unknown, also when the
// path does not fit). False when pid <= 0 or the process cannot be
// inspected (no such process, one that has already ended, access denied). Windows: OpenProcess(0x0410) and
// GetModuleFileNameExA; POSIX: /proc/<pid>/exe, which names the program
// with symbolic links resolved.
bool process_image_path(int pid, char *buf, std::size_t size);

// The form of path that process_image_path reports for a program at path:
// POSIX resolves symbolic links and relative parts (realpath), as the
// kernel does for /proc/<pid>/exe; Windows returns path unchanged. Empty
// when the path cannot be resolved (POSIX: no such file).
std::string comparable_image_path(const std::string &path);

}  // namespace platform
