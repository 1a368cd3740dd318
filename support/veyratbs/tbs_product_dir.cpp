// tbs_product_dir: the product directory, found from LIBVEYRATBS's own file.
#include <string>

#include "product_dir.h"
#include "veyratbs.h"

namespace {

// An object of this library: its address leads to the library's file. It
// has internal linkage, so no other module can stand in for it.
const char anchor = 0;

// Found once and kept; never destroyed, so threads still running while the
// process exits keep a valid text.
const std::string &product_dir() {
    static const std::string *dir = new std::string(veyraks_product::product_dir_of(&anchor));
    return *dir;
}

// Found when the library is loaded, before the program can change its
// current directory.
const bool found_at_load = (product_dir(), true);

}  // namespace

extern "C" char *tbs_product_dir(char *buf, int /*flags*/) {
    (void)found_at_load;
    return veyraks_product::copy_product_dir(product_dir(), buf);
}
