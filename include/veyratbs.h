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
 * same way as ks_product_dir, and returns buf. flags is always 0. */
VEYRATBS_API char *tbs_product_dir(char *buf, int flags);

/* The text of message msgno of the message table, formatted with the
 * further arguments: 99 takes one operand text, 100 none. The text lives in
 * a buffer of the calling thread until its next call. */
VEYRATBS_API const char *_tbs_cmsg_tbs_msg_table_adr(int msgno, ...);

#ifdef __cplusplus
}
#endif

#endif
