// The message table: the texts that the option parsers show to the user.
#include <cstdarg>
#include <string>

#include "veyratbs.h"

namespace {

// The message that says the "-avobs" option takes no operand, naming it.
// The operand is inserted as it is, never taken for a format.
std::string no_operand_for_avobs(const char *operand) {
    std::string text = "The -avobs option takes no operand, but \"";
    text += operand ? operand : "";
    text += "\" was given.\n";
    return text;
}

}  // namespace

extern "C" const char *_tbs_cmsg_tbs_msg_table_adr(int msgno, ...) {
    // One text per thread, kept until the thread's next call.
    thread_local std::string text;
    try {
        switch (msgno) {
            case 99: {
                va_list ap;
                va_start(ap, msgno);
                const char *operand = va_arg(ap, const char *);
                va_end(ap);
                text = no_operand_for_avobs(operand);
                break;
            }
            case 100:
                text = "Internal error: the option parser met an option that it cannot handle.\n";
                break;
            default:
                text = "Unknown message number " + std::to_string(msgno) + ".\n";
                break;
        }
    } catch (...) {
        // No memory for the text: an empty message rather than an exception
        // across the C interface.
        text.clear();
    }
    return text.c_str();
}
