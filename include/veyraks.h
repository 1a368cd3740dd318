/* libveyraks: files, user, product location, storage areas, option parsing
 * and messages. Plain C calls; the caller removes the arguments; texts are
 * NUL-terminated 8-bit texts; 0 means success unless said otherwise. */
#ifndef VEYRAKS_H
#define VEYRAKS_H

#include <stddef.h>
#include <stdint.h>

#include "kestrin_api.h"

#if defined(VEYRAKS_BUILD) || !defined(_WIN32)
#define VEYRAKS_API KESTRIN_EXPORT
#else
#define VEYRAKS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Files and user ---------------------------------------------------- */

/* Fills buf (size bytes offered, text always NUL-terminated) with the
 * calling user's private temporary directory, without a trailing separator.
 * Windows: GetTempPathA without its trailing separator.
 * POSIX: ${TMPDIR:-/tmp}/kestrin-<uid>, created 0700 when missing, and used
 * only while it is a real directory (not a symlink) owned by the caller with
 * no group or other permission bits. When that check fails the buffer gets
 * a path under which every create or open fails, and the result is nonzero.
 * reserved and flags are always 0 in this system. Thread-safe. */
VEYRAKS_API int fileutl_get_tmpdir(int reserved, char *buf, int size, int flags);

/* 0 with the process's current directory in buf; nonzero when it cannot be
 * read or does not fit in size bytes with its NUL. */
VEYRAKS_API int fileutl_getcwd(char *buf, int size);

/* 0 with the absolute form of pathname in buf: resolved against the
 * process's current directory and lexically normalised (".", "..", repeated
 * separators); no filesystem access besides reading the current directory.
 * Windows rules on Windows (drive letters, UNC, rooted "\x", "/" accepted as
 * a separator). Nonzero when the result does not fit in size bytes. */
VEYRAKS_API int fileutl_abspn(const char *pathname, char *buf, int size);

/* The login name of the user running the process: POSIX the passwd entry of
 * the effective uid (its digits when there is none), Windows GetUserNameA.
 * Never null; the text lives as long as the process. */
VEYRAKS_API const char *sysutl_myloginname(void);

/* The product installation directory, without trailing separator: the
 * parent of the folder that holds this library's file (P/lib/libveyraks.so
 * and P\bin\libveyraks.dll both give P). Written into buf (1024 bytes) and
 * returned; flags is always 0. */
VEYRAKS_API char *ks_product_dir(char *buf, int flags);

/* ---- Storage areas ----------------------------------------------------- */

/* A storage area handle: a 32-bit integer; 0 is never a valid area. */
typedef int32_t stg_area_t;

/* The handle that stands for the heap: a process-wide area that lives until
 * the process ends and is never freed by stg_free_area. */
#define STG_HEAP_AREA ((stg_area_t)1)

/* Makes a new area whose memory is taken in blocks of at least block_size
 * bytes. Returns 0 when no area can be made. Thread-safe. */
VEYRAKS_API stg_area_t stg_create_area(int32_t block_size);

/* A block of size bytes from the area, aligned for any object type, valid
 * until the area is freed. Null for an unknown or freed area (or no memory).
 * Thread-safe across areas; one area is used by one thread at a time. */
VEYRAKS_API void *stg_alloc(stg_area_t area, size_t size);

/* Releases the area and everything allocated in it. flags is 1 in this
 * system. Nonzero for an unknown, already freed or heap area. */
VEYRAKS_API int stg_free_area(stg_area_t area, int flags);

/* ---- Option parsing ---------------------------------------------------- */

/* One entry of an option table: a spec such as "-str[eam]" (shortest
 * spelling before the bracket, the rest of the full name inside it) or one
 * of the group markers, the flag value reported for it, and a reserved word
 * (always 0). A table ends with {NULL, -1, 0}. */
typedef struct clp_option {
    const char *spec;
    int32_t flag;
    uint32_t reserved;
} clp_option_t;

#define CLP_START_MUTEX "Start Mutual Exclusion"
#define CLP_END_MUTEX "End Mutual Exclusion"
#define CLP_FLAG_START_MUTEX (-2)
#define CLP_FLAG_END_MUTEX (-3)
#define CLP_FLAG_END (-1)

/* Results of the clp_get_ calls besides 0. */
#define CLP_NONE_LEFT 2

/* A parse handle; it lives in the storage area it was made in. */
typedef struct clp_hdl clp_hdl_t;

/* Splits args into words and matches option words against the table.
 * Null on failure, after a message through imsg_print. */
VEYRAKS_API clp_hdl_t *clp_create_hdl_using_string(const char *args, const clp_option_t *table,
                                                   stg_area_t area);

/* Applies the table to the handle's words; 0 on success. */
VEYRAKS_API int clp_switch_flags(clp_hdl_t *hdl, const clp_option_t *table, stg_area_t area);

/* 0 with the next option's flag value in *value; CLP_NONE_LEFT when no
 * option is left; anything else on failure. reserved is always null. */
VEYRAKS_API int clp_get_next_flag_value(clp_hdl_t *hdl, void *reserved, int32_t *value);

/* 0 with *arg pointing at the next argument: the argument of the option
 * just read, or the next operand (texts live in the area);
 * CLP_NONE_LEFT when nothing is left to take. */
VEYRAKS_API int clp_get_next_arg(clp_hdl_t *hdl, char **arg);

/* 0 with the name of the option read last in buf (size bytes). */
VEYRAKS_API int clp_get_last_flag_name(clp_hdl_t *hdl, int which, int size, char *buf);

/* ---- Messages ---------------------------------------------------------- */

/* Prints a message for the user on standard output and flushes it.
 * Level 7: text is a printf format, followed by a message code (-1 for
 * none) and the values of the format's conversions. Every other level:
 * text is a finished message, printed as it is ("%" included). */
VEYRAKS_API void imsg_print(int level, const char *text, ...);

#ifdef __cplusplus
}
#endif

#endif
