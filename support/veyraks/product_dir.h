// Finding the product installation directory from a library's own file.
// Compiled into every support library that reports the product directory,
// so each one answers from its own location.
#pragma once

#include <string>

namespace veyraks_product {

// The size of the buffers the product directory is written into.
constexpr int kProductDirBufferSize = 1024;

// The product directory of the module (shared library) that holds address:
// the parent of the folder that holds the module's file (P/lib/x.so and
// P\bin\x.dll both give P), absolute, without trailing separator. When it
// cannot be found, a path under which no file exists or can be made, so a
// caller that uses it untested starts and opens nothing.
std::string product_dir_of(const void *address);

// Writes dir with its NUL into buf (kProductDirBufferSize bytes) and returns
// buf; a dir that does not fit gives the unusable path instead. Null buf:
// returns null.
char *copy_product_dir(const std::string &dir, char *buf);

}  // namespace veyraks_product
