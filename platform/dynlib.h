// Loading a library of the product at run time, the way the product's
// command-line client loads the bridge: one interface, one implementation
// file per OS (dynlib_posix.cpp, dynlib_win32.cpp) chosen by the build.
#pragma once

#include <memory>
#include <string>

namespace platform {

// The folder that holds the running program (its bin/ folder).
std::string program_directory();

// Where a shared library of the product lies, seen from the product's bin/
// folder: POSIX <bin>/../lib/lib<name>.so, Windows <bin>\lib<name>.dll.
std::string product_library_path(const std::string &bin_dir, const std::string &name);

// A loaded library; unloaded when the object goes. Move-only.
class DynamicLibrary {
public:
    // Loads path; an invalid object and a reason in *error on failure.
    static DynamicLibrary load(const std::string &path, std::string *error);

    DynamicLibrary();
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary &&) noexcept;
    DynamicLibrary &operator=(DynamicLibrary &&) noexcept;

    bool valid() const;

    // The address of an exported symbol, or null.
    void *symbol(const char *name) const;

    struct Impl;

private:
    explicit DynamicLibrary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
