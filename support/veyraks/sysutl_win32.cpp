// The login name of the user running the process, on Windows.
#include <windows.h>

#include <string>
#include <vector>

#include "veyraks.h"

namespace {

// GetUserNameA's answer, or "unknown" when it gives none.
std::string query_login_name() {
    std::vector<char> buf(257);  // UNLEN + 1
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD len = static_cast<DWORD>(buf.size());
        if (GetUserNameA(buf.data(), &len) && buf[0] != '\0') return std::string(buf.data());
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || len <= buf.size()) break;
        buf.resize(len);
    }
    return "unknown";
}

}  // namespace

extern "C" const char *sysutl_myloginname(void) {
    // Computed once; never destroyed, so threads still running while the
    // process exits keep a valid text.
    static const std::string *name = new std::string(query_login_name());
    return name->c_str();
}
