// User messages on standard output.
#include <cstdarg>
#include <cstdio>

#include "veyraks.h"

extern "C" void imsg_print(int level, const char *text, ...) {
    if (!text) return;
    if (level == 7) {
        // Level 7: text is a printf format; the first further argument is a
        // message code (-1 for none), the rest fill the format.
        va_list ap;
        va_start(ap, text);
        (void)va_arg(ap, int);
        std::vfprintf(stdout, text, ap);
        va_end(ap);
    } else {
        // Every other level prints a finished text as it is, so a "%" that
        // came from user input is never taken for a conversion.
        std::fputs(text, stdout);
    }
    std::fflush(stdout);
}
