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
 * Windows: a SECURITY_ATTRIBUTES* whose DACL holds exactly one entry, an
 * access-allowed entry for the user SID of the process token with
 * access_mask; bInheritHandle is inherit (1 in this system).
 * POSIX: a nt_owner_policy_t* with access_mask, mode 0600 and the
 * effective uid; inherit selects nothing there.
 * Owned by the library: valid until the calling thread's next call (or its
 * end); null on failure. */
VEYRANT_API void *nt_owner_security_attributes(uint32_t access_mask, int inherit);

/* Closes a standard I/O stream as the runtime's fclose does: 0 on success,
 * nonzero (EOF) when the close fails or stream is null. */
VEYRANT_API int unix_nt_fclose(FILE *stream);

#ifdef _WIN32
/* Pauses the calling thread for seconds seconds; returns 0. Only the
 * Windows build defines it: POSIX programs use the C library's sleep. */
VEYRANT_API unsigned int sleep(unsigned int seconds);
#endif

#ifdef __cplusplus
}
#endif

#endif
