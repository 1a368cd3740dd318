// The login name of the user running the process, on POSIX.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "veyraks.h"

namespace {

// The name of the passwd entry of uid, or uid's decimal digits when there
// is no entry (or it has an empty name). The environment is not consulted:
// $USER can be set to anything, and the name selects the user's pipe.
std::string login_name_of(uid_t uid) {
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
    for (;;) {
        struct passwd entry;
        struct passwd *found = nullptr;
        int rc = ::getpwuid_r(uid, &entry, buf.data(), buf.size(), &found);
        if (rc == 0 && found && found->pw_name && found->pw_name[0]) return found->pw_name;
        if (rc != ERANGE || buf.size() >= (1u << 20)) break;
        buf.resize(buf.size() * 2);
    }
    return std::to_string(uid);
}

}  // namespace

extern "C" const char *sysutl_myloginname(void) {
    // Computed once; never destroyed, so threads still running while the
    // process exits keep a valid text.
    static const std::string *name = new std::string(login_name_of(::geteuid()));
    return name->c_str();
}
