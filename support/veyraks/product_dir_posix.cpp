// The product directory on POSIX, found through the dynamic loader's record
// of the library that holds a given address.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "product_dir.h"

namespace veyraks_product {

namespace {

// Below a character device: nothing can be found or made under it.
constexpr const char kUnusableProductDir[] = "/dev/null/kestrin-no-product-dir";

// The folder part of path: "." for a bare name, "/" for a file in the root.
std::string folder_of(const std::string &path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string product_dir_of(const void *address) {
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname || !info.dli_fname[0]) {
        return kUnusableProductDir;
    }
    // The loader may know the library by a relative name; the real path of
    // its folder is absolute and stays right after the process changes its
    // current directory.
    std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(folder_of(info.dli_fname).c_str(), nullptr), &std::free);
    if (!real) return kUnusableProductDir;
    return folder_of(real.get());
}

char *copy_product_dir(const std::string &dir, char *buf) {
    if (!buf) return nullptr;
    const std::string &text = dir.size() < kProductDirBufferSize ? dir : kUnusableProductDir;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return buf;
}

}  // namespace veyraks_product
