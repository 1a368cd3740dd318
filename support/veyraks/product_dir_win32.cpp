// The product directory on Windows, found from the module that holds a
// given address.
#include <windows.h>

#include <cstring>
#include <vector>

#include "product_dir.h"

namespace veyraks_product {

namespace {

// "<" and ">" are not allowed in file names: no program can be started and
// no file opened below this path.
constexpr const char kUnusableProductDir[] = "<kestrin-no-product-dir>";

// path without its last component and the separator before it ("C:\x"
// gives "C:"); path itself when it has no separator.
std::string folder_of(const std::string &path) {
    std::size_t sep = path.find_last_of("\\/");
    if (sep == std::string::npos) return path;
    return path.substr(0, sep);
}

// The full file name of module, or "" when it cannot be read.
std::string module_file_name(HMODULE module) {
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<char> buf(size);
        DWORD n = GetModuleFileNameA(module, buf.data(), size);
        if (n == 0) return std::string();
        if (n < size) return std::string(buf.data(), n);
    }
    return std::string();
}

}  // namespace

std::string product_dir_of(const void *address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return kUnusableProductDir;
    }
    std::string file = module_file_name(module);
    if (file.empty()) return kUnusableProductDir;
    return folder_of(folder_of(file));
}

char *copy_product_dir(const std::string &dir, char *buf) {
    if (!buf) return nullptr;
    const std::string &text = dir.size() < kProductDirBufferSize ? dir : kUnusableProductDir;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return buf;
}

}  // namespace veyraks_product
