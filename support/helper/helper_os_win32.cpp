// The helper's OS services on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "helper_os.h"

namespace gemx_helper {

const char kPathSeparator = '\\';

bool path_exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

namespace {

// Owns one file handle; close() reports whether closing worked.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { close(); }
    UniqueHandle(UniqueHandle &&other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    UniqueHandle &operator=(UniqueHandle &&) = delete;
    HANDLE get() const { return h_; }
    bool close() {
        bool ok = !h_ || CloseHandle(h_);
        h_ = nullptr;
        return ok;
    }

private:
    HANDLE h_;
};

}  // namespace

bool append_to_file(const std::string &path, const std::string &bytes) {
    // FILE_APPEND_DATA alone: every write goes to the end of the file as it
    // is at that moment, whoever else appends.
    UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.get()) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return file.close();
}

void use_binary_stdio() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace gemx_helper
