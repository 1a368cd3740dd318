#include "process_test_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrin_test {

ChildRun run_and_wait(const std::string &program, const std::vector<std::string> &args) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ChildRun run;
    pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        execv(program.c_str(), argv.data());
        _exit(126);
    }
    run.started = true;
    run.pid = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool process_running(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The state follows the command name, which is in parentheses and may
    // itself hold blanks and parentheses.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace kestrin_test
