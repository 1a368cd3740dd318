// What the end-to-end tests need to run the real service program: a
// product tree of its own, a private temporary directory and trace folder,
// raw exchanges over the service pipe, and the files the service and its
// helper write (pid file, journal, trace log).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service_test_os.h"
#include "test_common.h"

namespace service_test {

// A product tree in a temporary folder: bin/ with the service program (and,
// when asked for, the helper program) and the shared libraries where the
// build puts them (lib/*.so, bin/*.dll). Files are hard links where the
// file system allows, else copies, so the programs find the tree as their
// product directory.
class ProductTree {
public:
    explicit ProductTree(bool with_helper);
    const std::string &root() const { return dir_.path(); }
    std::string service_program() const;

private:
    kestrin_test::TempDir dir_{"p"};
};

// The environment of one service: a private temporary directory (the pid
// file, the journal and, on POSIX, the pipe's socket live there) and a
// trace folder, set in this process's environment for its life so that the
// started service and this test see the same ones.
class ServiceEnvironment {
public:
    ServiceEnvironment();
    ~ServiceEnvironment();
    ServiceEnvironment(const ServiceEnvironment &) = delete;
    ServiceEnvironment &operator=(const ServiceEnvironment &) = delete;

    // The user's temporary directory as the service sees it.
    std::string user_tmpdir() const;
    std::string pid_file() const;
    std::string journal_file() const;
    std::string socket_file() const;  // POSIX: where the pipe's socket lies
    std::string trace_file(int pid) const;
    // The service pipe's name for this user.
    std::string pipe_name() const;

private:
    kestrin_test::TempDir tmp_{"s"};
    kestrin_test::TempDir traces_{"trace"};
    ScopedTempDirEnv tmp_env_{tmp_.path()};
    bool had_trace_dir_ = false;
    std::string old_trace_dir_;
};

// Sends message as one request and returns the whole answer; nullopt when
// no connection could be made within timeout_ms, or no answer came.
std::optional<std::string> exchange(const std::string &pipe_name, const std::string &message,
                                    int timeout_ms = 30000);

// Sends operation 0 until it is answered with 0 or the service ends; false
// when it ended or did not answer within timeout_ms.
bool wait_until_serving(Process &service, const std::string &pipe_name, int timeout_ms);

// The lines of a file, without their "\n"; none when it cannot be read.
std::vector<std::string> read_lines(const std::string &path);

// True when expected occurs in lines in order, not necessarily adjacent.
bool contains_in_order(const std::vector<std::string> &lines, const std::vector<std::string> &expected);

// Polls the file until its lines from index from on contain expected in
// order, or timeout_ms passes; true when they did.
bool wait_for_lines(const std::string &path, std::size_t from, const std::vector<std::string> &expected,
                    int timeout_ms = 30000);

using kestrin_test::journal_field;

}  // namespace service_test
