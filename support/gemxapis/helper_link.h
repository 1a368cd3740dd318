// The connection to the helper process: the one place of libgemxapis that
// knows the OS (helper_link_posix.cpp, helper_link_win32.cpp, chosen by the
// build). The rest of the library drives the helper through HelperLink only,
// so its logic can be tested over a fake link.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace gemxapis {

// What receive_line found.
enum class LineStatus { line, closed, timed_out };

// A running helper process whose standard input and output are connected
// to the library. Thread rules: send, close_input and receive_line are
// called by one thread at a time (the library's exchange lock);
// process_id, terminate and wait_for_exit may be called from any thread at
// any time, also while another thread is blocked in receive_line.
class HelperLink {
public:
    virtual ~HelperLink() = default;

    // Writes all of bytes to the helper's input. False when the helper has
    // gone or its input is closed; never raises a signal.
    virtual bool send(std::string_view bytes) = 0;

    // Reads the next line of the helper's output into *line, without its
    // line end (a carriage return before the newline is dropped too). Waits
    // at most timeout_ms milliseconds, or without limit when it is
    // negative. closed: the output ended (the helper exited or closed it).
    virtual LineStatus receive_line(std::string *line, int timeout_ms) = 0;

    // Ends the helper's input, so a helper reading it sees end of input.
    // Later sends fail.
    virtual void close_input() = 0;

    // True once the helper process has ended (and has been reaped), waiting
    // at most timeout_ms milliseconds, or without limit when negative.
    virtual bool wait_for_exit(int timeout_ms) = 0;

    // Ends the helper process at once (SIGKILL, TerminateProcess), without
    // waiting for it. Does nothing once it has ended and been reaped.
    virtual void terminate() = 0;

    // The helper's process id.
    virtual int process_id() const = 0;
};

// Starts program (an absolute path) without arguments, with its standard
// input and output connected to the returned link and nothing else of this
// process inherited. Null when it cannot be started. The destructor of the
// link ends a helper that still runs and reaps it.
std::unique_ptr<HelperLink> start_helper_link(const std::string &program);

// The file name ending of programs on this OS ("" or ".exe").
extern const char kProgramSuffix[];

// The calling process's id.
int current_process_id();

}  // namespace gemxapis
