// Stand-in for the message table of LIBVEYRATBS with texts the tests know:
// 99 "[message 99: <operand>]\n", 100 "[message 100]\n", anything else
// "[message <n>]\n".
#include <cstdarg>
#include <cstdio>

#include "veyratbs.h"

extern "C" const char *_tbs_cmsg_tbs_msg_table_adr(int msgno, ...) {
    thread_local char text[512];
    if (msgno == 99) {
        va_list ap;
        va_start(ap, msgno);
        const char *operand = va_arg(ap, const char *);
        va_end(ap);
        std::snprintf(text, sizeof text, "[message 99: %s]\n", operand ? operand : "(null)");
    } else {
        std::snprintf(text, sizeof text, "[message %d]\n", msgno);
    }
    return text;
}

extern "C" char *tbs_product_dir(char *buf, int /*flags*/) {
    if (buf) buf[0] = '\0';
    return buf;
}
