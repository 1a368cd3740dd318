/* LIBVEYRATBS: product location and the message table. */
#ifndef VEYRATBS_H
#define VEYRATBS_H

#include "kestrin_api.h"

#if defined(VEYRATBS_BUILD) || !defined(_WIN32)
#define VEYRATBS_API KESTRIN_EXPORT
#else
#define VEYRATBS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fills buf (1024 bytes) with the product installation directory, found the
 * same way as ks_product_dir but from this library's own file (P/lib on
 * POSIX, P\bin on Windows, give P), and returns buf. When the directory
 * cannot be found or does not fit, buf gets a path under which nothing can
 * be opened or started. Null buf: returns null. flags is always 0. */
VEYRATBS_API char *tbs_product_dir(char *buf, int flags);

/* The text of message msgno of the message table, formatted with the
 * further arguments, ending in a newline:
 * - 99, one operand text: the "-avobs" option takes no operand, naming the
 *   operand (inserted as it is; a "%" in it is not a conversion);
 * - 100, no argument: the option parser met an option it cannot handle, an
 *   internal error;
 * - any other number: a text saying that the message number is unknown.
 * The text lives in a buffer of the calling thread until its next call. */
VEYRATBS_API const char *_tbs_cmsg_tbs_msg_table_adr(int msgno, ...);

#ifdef __cplusplus
}
#endif

#endif
