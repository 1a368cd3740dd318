#include "process_probe.h"

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace probe {

namespace {

std::string link_target(const std::string &link) {
    char buf[4096];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string("none") : std::string(buf, static_cast<std::size_t>(n));
}

// The descriptors above 2 that this process holds, as "3,7"; the
// directory stream used for the walk is left out.
std::string open_descriptors() {
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir("/proc/self/fd"), &closedir);
    if (!dir) return "unknown";
    std::string list;
    int own = dirfd(dir.get());
    while (struct dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == own) continue;
        if (!list.empty()) list += ',';
        list += entry->d_name;
    }
    return list;
}

// The masks of /proc/self/status ("SigBlk", "SigIgn") as hex text.
std::string status_field(const std::string &field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::size_t start = line.find_first_not_of(" \t", field.size() + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return "unknown";
}

}  // namespace

std::string start_facts() {
    std::string facts;
    facts += "ppid=" + std::to_string(getppid()) + "\n";
    facts += "sid=" + std::to_string(getsid(0)) + "\n";
    facts += "pgid=" + std::to_string(getpgrp()) + "\n";
    facts += "fds=" + open_descriptors() + "\n";
    for (int fd = 0; fd <= 2; ++fd) facts += "fd" + std::to_string(fd) + "=" + link_target("/proc/self/fd/" + std::to_string(fd)) + "\n";
    facts += "sigblk=" + status_field("SigBlk") + "\n";
    facts += "sigign=" + status_field("SigIgn") + "\n";
    return facts;
}

int termination_blocked_here() {
    sigset_t current;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &current) != 0) return -1;
    return sigismember(&current, SIGTERM) == 1 ? 1 : 0;
}

}  // namespace probe
