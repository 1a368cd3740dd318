// The helper's OS services on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "helper_os.h"

namespace gemx_helper {

const char kPathSeparator = '/';

bool path_exists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

namespace {

// Owns one file descriptor; close() reports whether closing worked.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { close(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd &operator=(UniqueFd &&) = delete;
    int get() const { return fd_; }
    bool close() {
        bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

}  // namespace

bool append_to_file(const std::string &path, const std::string &bytes) {
    // O_APPEND: the write lands at the end as it is at that moment, whoever
    // else appends, so lines of several helpers never overlap.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return fd.close();
}

void use_binary_stdio() {}

}  // namespace gemx_helper
