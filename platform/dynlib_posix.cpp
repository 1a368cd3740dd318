#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "dynlib.h"

namespace platform {

struct DynamicLibrary::Impl {
    explicit Impl(void *h) : handle(h) {}
    ~Impl() { dlclose(handle); }
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    void *handle;
};

std::string program_directory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string self(buf, static_cast<std::size_t>(n));
    std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : self.substr(0, slash));
}

std::string product_library_path(const std::string &bin_dir, const std::string &name) {
    return bin_dir + "/../lib/lib" + name + ".so";
}

DynamicLibrary DynamicLibrary::load(const std::string &path, std::string *error) {
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        if (error) {
            const char *why = dlerror();
            *error = why ? why : "cannot load " + path;
        }
        return DynamicLibrary();
    }
    return DynamicLibrary(std::make_unique<Impl>(h));
}

void *DynamicLibrary::symbol(const char *name) const { return impl_ ? dlsym(impl_->handle, name) : nullptr; }

DynamicLibrary::DynamicLibrary() = default;
DynamicLibrary::DynamicLibrary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DynamicLibrary::~DynamicLibrary() = default;
DynamicLibrary::DynamicLibrary(DynamicLibrary &&) noexcept = default;
DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&) noexcept = default;
bool DynamicLibrary::valid() const { return impl_ != nullptr; }

}  // namespace platform
