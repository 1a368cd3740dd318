// File services on POSIX: the user's private temporary directory, the
// current directory and absolute pathnames.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "fileutl_internal.h"
#include "veyraks.h"

namespace {

// Handed out instead of a temporary directory that failed its check: a
// path below a character device, under which every create and open fails.
constexpr const char kUnusableTmpdir[] = "/dev/null/kestrin-unsafe-tmpdir";

// The base of the private temporary directory: TMPDIR without its trailing
// slashes, or /tmp when TMPDIR is unset or empty. A relative TMPDIR counts
// as unset: the service changes its current directory, and the service and
// the bridge must agree on one directory whatever their current ones are.
std::string tmpdir_base() {
    const char *env = std::getenv("TMPDIR");
    std::string base = (env && env[0] == '/') ? env : "/tmp";
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;  // "" stands for the root
}

// Creates dir with mode 0700 when it is missing. A directory made here is
// set to 0700 even under a umask that takes bits away from the owner; the
// mode change does not follow a link, so it cannot reach anything else.
bool ensure_directory(const std::string &dir) {
    if (::mkdir(dir.c_str(), 0700) == 0) {
        (void)::fchmodat(AT_FDCWD, dir.c_str(), 0700, AT_SYMLINK_NOFOLLOW);
        return true;
    }
    return errno == EEXIST;
}

// True when st describes a real directory (not a symbolic link) owned by
// uid with no permission bits for group or others.
bool is_private(const struct stat &st, uid_t uid) {
    return S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// True when dir is, or has just been made, the private directory of uid.
// The directory normally exists already, so it is looked at first and made
// only when missing: one system call on every call of the service and the
// bridge instead of two.
bool private_directory_ready(const std::string &dir, uid_t uid) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0) return is_private(st, uid);
    if (errno != ENOENT || !ensure_directory(dir)) return false;
    return ::lstat(dir.c_str(), &st) == 0 && is_private(st, uid);
}

// The process's current directory, or "" when it cannot be read.
std::string current_directory() {
    std::vector<char> buf(1024);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) return std::string(buf.data());
        if (errno != ERANGE || buf.size() >= (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

extern "C" {

int fileutl_get_tmpdir(int /*reserved*/, char *buf, int size, int /*flags*/) {
    if (!buf || size <= 0) return 1;
    uid_t uid = ::geteuid();
    std::string dir = tmpdir_base() + "/kestrin-" + std::to_string(uid);
    if (private_directory_ready(dir, uid) && veyraks_fileutl::copy_to_buffer(dir, buf, size)) {
        return 0;
    }
    // Callers use the buffer without looking at the result, so it must not
    // name a directory that someone else could control.
    veyraks_fileutl::copy_to_buffer(kUnusableTmpdir, buf, size);
    return 1;
}

int fileutl_getcwd(char *buf, int size) {
    if (!buf || size <= 0) return 1;
    if (::getcwd(buf, static_cast<size_t>(size))) return 0;
    buf[0] = '\0';
    return 1;
}

int fileutl_abspn(const char *pathname, char *buf, int size) {
    if (buf && size > 0) buf[0] = '\0';
    if (!pathname || !*pathname) return 1;
    std::string cwd = pathname[0] == '/' ? std::string() : current_directory();
    auto normal = veyraks_fileutl::normalize_posix(cwd, pathname);
    return normal && veyraks_fileutl::copy_to_buffer(*normal, buf, size) ? 0 : 1;
}

}  // extern "C"
