// The helper's OS services on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "helper_os.h"

namespace gemx_helper {

const char kPathSeparator = '\\';

bool path_exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool append_to_file(const std::string &path, const std::string &bytes) {
    // FILE_APPEND_DATA alone: every write goes to the end of the file as it
    // is at that moment, whoever else appends.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        ok = WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) &&
             written > 0;
        done += written;
    }
    if (!CloseHandle(h)) ok = false;
    return ok;
}

void use_binary_stdio() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace gemx_helper
