#include <windows.h>

#include "dynlib.h"

namespace platform {

struct DynamicLibrary::Impl {
    explicit Impl(HMODULE h) : handle(h) {}
    ~Impl() { FreeLibrary(handle); }
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    HMODULE handle;
};

std::string program_directory() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return ".";
    std::string self(buf, n);
    std::size_t sep = self.find_last_of("\\/");
    return sep == std::string::npos ? "." : self.substr(0, sep);
}

std::string product_library_path(const std::string &bin_dir, const std::string &name) {
    return bin_dir + "\\lib" + name + ".dll";
}

DynamicLibrary DynamicLibrary::load(const std::string &path, std::string *error) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        if (error) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return DynamicLibrary();
    }
    return DynamicLibrary(std::make_unique<Impl>(h));
}

void *DynamicLibrary::symbol(const char *name) const {
    return impl_ ? reinterpret_cast<void *>(GetProcAddress(impl_->handle, name)) : nullptr;
}

DynamicLibrary::DynamicLibrary() = default;
DynamicLibrary::DynamicLibrary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DynamicLibrary::~DynamicLibrary() = default;
DynamicLibrary::DynamicLibrary(DynamicLibrary &&) noexcept = default;
DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&) noexcept = default;
bool DynamicLibrary::valid() const { return impl_ != nullptr; }

}  // namespace platform
