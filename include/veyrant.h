/* LIBVEYRANT: compatibility services. */
#ifndef VEYRANT_H
#define VEYRANT_H

#include <stdint.h>
#include <stdio.h>

#include "kestrin_api.h"

#if defined(VEYRANT_BUILD) || !defined(_WIN32)
#define VEYRANT_API KESTRIN_EXPORT
#else
#define VEYRANT_API
#endif

#ifndef _WIN32
#include <unistd.h> /* POSIX: the C library's sleep serves. */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The owner-only policy that the POSIX pipe layer applies: the socket's
 * mode and the only uid whose peers are served. */
typedef struct nt_owner_policy {
    uint32_t access_mask;
    uint32_t mode;
    uint32_t uid;
} nt_owner_policy_t;

/* Security attributes that grant access_mask to the current user alone.
 * Windows: a SECURITY_ATTRIBUTES* whose DACL holds one entry for the
 * current user; POSIX: a nt_owner_policy_t*. inherit is the attributes'
 * bInheritHandle (1 in this system). Owned by the library, valid until the
 * calling thread's next call; null on failure. */
VEYRANT_API void *nt_owner_security_attributes(uint32_t access_mask, int inherit);

/* Closes a standard I/O stream as the runtime's fclose does; 0 on success. */
VEYRANT_API int unix_nt_fclose(FILE *stream);

#ifdef _WIN32
/* Pauses the calling thread for seconds seconds; returns 0. */
VEYRANT_API unsigned int sleep(unsigned int seconds);
#endif

#ifdef __cplusplus
}
#endif

#endif
