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
 * POSIX: ${TMPDIR:-/tmp}/kestrin-<euid>, TMPDIR read on every call, without
 * its trailing slashes; an empty or relative TMPDIR counts as unset. The
 * directory is created 0700 when missing, and used only while it is a real
 * directory (not a symlink) owned by the effective user with no group or
 * other permission bits.
 * When the directory fails its check, cannot be made, or does not fit in
 * size bytes, the result is nonzero and buf gets a path under which every
 * create or open fails ("/dev/null/kestrin-unsafe-tmpdir" on POSIX,
 * "<kestrin-no-tmpdir>" on Windows), or "" when even that does not fit.
 * Null buf or size <= 0: nonzero, nothing written.
 * reserved and flags are always 0 in this system. Thread-safe. */
VEYRAKS_API int fileutl_get_tmpdir(int reserved, char *buf, int size, int flags);

/* 0 with the process's current directory in buf; nonzero, with buf made
 * "" when size allows, when it cannot be read or does not fit in size bytes
 * with its NUL. */
VEYRAKS_API int fileutl_getcwd(char *buf, int size);

/* 0 with the absolute form of pathname in buf: resolved against the
 * process's current directory and lexically normalised (".", "..", repeated
 * and trailing separators; ".." at the root stays there); no filesystem
 * access besides reading the current directory. POSIX output uses "/".
 * Windows rules on Windows, output with "\": "C:\x"; drive-relative "C:x"
 * against the cwd when it is on that drive, else against "C:\"; UNC
 * "\\server\share\x" keeps server and share and ".." never climbs above
 * the share; rooted "\x" against the cwd's drive or share; "/" accepted as
 * a separator. A root keeps its separator ("/", "C:\", "\\srv\share\").
 * Nonzero, with buf made "" when size allows, for a null or empty pathname,
 * a malformed UNC path, a current directory that is needed but cannot be
 * read, or a result that does not fit in size bytes. */
VEYRAKS_API int fileutl_abspn(const char *pathname, char *buf, int size);

/* The login name of the user running the process: POSIX the passwd entry of
 * the effective uid (its digits when there is none), Windows GetUserNameA.
 * Never null; the text lives as long as the process. */
VEYRAKS_API const char *sysutl_myloginname(void);

/* The product installation directory, without trailing separator: the
 * parent of the folder that holds this library's file (P/lib/libveyraks.so
 * and P\bin\libveyraks.dll both give P), absolute, found once when the
 * library is loaded. Written into buf (1024 bytes, NUL-terminated) and
 * returned; when it cannot be found or does not fit, buf gets a path under
 * which nothing can be opened or started. Null buf: returns null. flags is
 * always 0. */
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
 * until the area is freed. Null for an unknown or freed area, a size above
 * 1 GiB, or no memory.
 * Thread-safe across areas; one area is used by one thread at a time. */
VEYRAKS_API void *stg_alloc(stg_area_t area, size_t size);

/* Releases the area and everything allocated in it. flags is 1 in this
 * system. Nonzero for an unknown, already freed or heap area. */
VEYRAKS_API int stg_free_area(stg_area_t area, int flags);

/* ---- Option parsing ---------------------------------------------------- */

/* Rules of the option parser:
 *
 * Words. Blanks and tabs separate words. A double quote opens a part that
 * runs to the next double quote; the quotes are removed and the part joins
 * the text around it, so a"b c"d is the one word `ab cd` and "" alone is an
 * empty word. There is no other escape: backslashes pass unchanged, so
 * Windows paths such as C:\a\b need no quoting. A quote left open makes
 * clp_create_hdl_using_string fail. Quoting does not change what a word is:
 * "-all" in quotes is still an option word.
 *
 * Option words. A word is an option word when it begins with "-", is not
 * the lone "-" (that is an operand) and stands before the first "--" word.
 * The first "--" ends the options: it is dropped wherever it stands, and
 * every word after it is an operand, even one that begins with "-".
 *
 * Matching. A spec "-str[eam]" has the shortest spelling -str and the full
 * name -stream; a spec without brackets ("-to") is its own shortest
 * spelling and full name. A typed option matches a spec when it is a prefix
 * of the full name at least as long as the shortest spelling (-str, -stre,
 * -stream all match "-str[eam]"; -st and -streams do not). Matching is
 * case-sensitive. An option word that matches no spec, or two specs with
 * different full names or flag values, makes handle creation fail. A table
 * without options ({NULL, -1, 0} alone) therefore rejects every option word.
 *
 * Order. Options come before the operands. The options end at the first
 * word that is neither an option word nor taken as an option's argument;
 * an option word after that point is an error (see clp_get_next_flag_value).
 * An option's argument is the word after it, unless that word is an option
 * word or the "--" (then the argument is missing). So an argument cannot
 * begin with "-" unless it is the lone "-".
 *
 * Mutual exclusion. The entries between CLP_START_MUTEX and the next
 * CLP_END_MUTEX form one group; clp_switch_flags rejects a string that holds
 * two different options of one group. The same option twice is allowed.
 *
 * Tables. Each entry is a marker (its spec text and flag value must agree),
 * an option spec (beginning with "-", a shortest spelling of at least two
 * characters, at most one bracket pair, closing at the end; flag value 0 or
 * more) or the terminator (null spec). Groups do not nest and must be
 * closed before the terminator, which must come within 1024 entries. A
 * table that breaks these rules fails the call that is given it. The
 * reserved word of an entry is not looked at.
 *
 * Messages. Every failure that a user or a table can cause prints one line
 * through imsg_print at level 6 before the call returns; calls given a null
 * or foreign handle just fail. Results of failure are 1 (never 0 or
 * CLP_NONE_LEFT) for the int calls, null for clp_create_hdl_using_string.
 *
 * Memory and threads. The handle, the words and every text handed out are
 * allocated with stg_alloc in the area and stay valid until the area is
 * freed; nothing needs freeing by the caller. An area that gives no memory
 * (an unknown or freed handle) fails the call. The parser keeps no global
 * state: parses on different threads, each with its own area, are safe. */

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

/* Splits args into words and matches every option word against the table.
 * Null, after a message through imsg_print, when args or table is null, the
 * table is malformed, a quote is left open, an option word matches no spec
 * or two, or the area gives no memory. The handle is allocated in area. */
VEYRAKS_API clp_hdl_t *clp_create_hdl_using_string(const char *args, const clp_option_t *table,
                                                   stg_area_t area);

/* Applies the table (the one the handle was made with, or one that accepts
 * the same option words) to the handle's option words and checks the
 * mutual-exclusion groups: two different options of one group fail after
 * the message "Options "<first>" and "<second>" cannot be used together"
 * with both full names. area must be the handle's area. 0 on success, 1 on
 * failure. */
VEYRAKS_API int clp_switch_flags(clp_hdl_t *hdl, const clp_option_t *table, stg_area_t area);

/* While the word at the cursor is an option word: 0, with its flag value in
 * *value; the cursor moves past it and the option becomes the one read
 * last. At the first word that is not an option word (or at the end) the
 * options end: CLP_NONE_LEFT, and CLP_NONE_LEFT from every later call; a
 * "--" standing there is stepped over. When an option word still follows
 * at that point ("d1 -all"), the result is 1 after the message
 * "Option "-all" must come before the operands", and every later call of
 * this and clp_get_next_arg fails too. 1 for a null handle or value.
 * reserved is always null and not looked at. */
VEYRAKS_API int clp_get_next_flag_value(clp_hdl_t *hdl, void *reserved, int32_t *value);

/* Hands out the word at the cursor in *arg and moves past it; 0. Right after
 * clp_get_next_flag_value has read an option, that word is the option's
 * argument: when it is an option word or the "--", or nothing is left, the
 * result is CLP_NONE_LEFT and the cursor stays, so "-str -to t1" reports
 * -str's argument missing and -to is read next. Otherwise the word is the
 * next operand (the options end first, as in clp_get_next_flag_value, with
 * the same failure when an option word is left); CLP_NONE_LEFT when no
 * operand is left. *arg is untouched unless the result is 0. The text lives
 * in the area. 1 for a null handle or arg. */
VEYRAKS_API int clp_get_next_arg(clp_hdl_t *hdl, char **arg);

/* 0 with the name of the option read last in buf (size bytes, NUL
 * included): which 1 gives its full name ("-stream" for a typed -str),
 * which 0 the word as typed. 1, with buf made empty when size allows, for
 * any other which, no option read yet, a buffer too small or a null
 * handle. */
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
