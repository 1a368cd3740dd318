// The stream close beneath the file streams of the product's programs.
#include <cstdio>

#include "veyrant.h"

extern "C" int unix_nt_fclose(FILE *stream) {
    if (!stream) return EOF;
    return std::fclose(stream) == 0 ? 0 : EOF;
}
