/* The command-syntax parsers of the launcher service: each checks the
 * argument string of one operation and fills that operation's parameter
 * record. The service program exports them unmangled.
 *
 * Records are sequences of 32-bit integers and pointers in a fixed word
 * order (one 32-bit word each in the 32-bit build). Every record begins with
 * the args prefix: `code`, a constant of the syntax, and `area`, the storage
 * area the parser was given. Reserved words are cleared by the parser and
 * never set. Every text a record points to, and every operand array, lives
 * in the storage area (or the option parser's memory inside it) and stays
 * valid until the caller frees the area; the caller frees nothing else.
 *
 * Results: 0 when the string is valid and the record filled, 1001 for a
 * syntax failure of any kind (the parser has printed its own message where
 * there is one). cmdsyn_history may also return the nonzero code of the
 * object-selector conversion. The parsers keep no state between calls and
 * may run on several threads at once, each with its own area and record. */
#ifndef CMDSYN_H
#define CMDSYN_H

#include <stdint.h>

#include "kestrin_api.h"
#include "veyraks.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The one failure result of the parsers' own. */
#define CMDSYN_SYNTAX_ERROR 1001

/* deliver: code 4; 31 words. */
typedef struct deliver_args {
    int32_t code;
    stg_area_t area;
    int32_t reserved_3_5[3];
    char *stream; /* argument of -str[eam], or null */
    char *to;     /* argument of -to, or null */
    char *target; /* argument of -tar[get], or null */
    int32_t reserved_9_25[17];
    int32_t query; /* 0; 9 for -q[uery]; 11 for -qal[l] */
    int32_t reserved_27_31[5];
} deliver_args;

/* rebase: code 2; 27 words. */
typedef struct rebase_args {
    int32_t code;
    stg_area_t area;
    int32_t reserved_3_4[2];
    char *view;   /* argument of -vie[w], or null */
    char *stream; /* argument of -str[eam], or null */
    int32_t reserved_7_21[15];
    int32_t query; /* 0; 9 for -q[uery]; 11 for -qal[l] */
    int32_t reserved_23_27[5];
} rebase_args;

/* update: code 5; 20 words; the count stands before the array. */
typedef struct update_args {
    int32_t code;
    stg_area_t area;
    int32_t reserved_3_17[15];
    int32_t argc; /* number of operands, 0 or more */
    char **argv;  /* operands in order; null when there are none */
    int32_t reserved_20;
} update_args;

/* vtree: code 1; 14 words. */
typedef struct vtree_args {
    int32_t code;
    stg_area_t area;
    char **argv;  /* operands in order */
    int32_t argc; /* at least 1 after a successful parse */
    int32_t reserved_5_7[3];
    int32_t all; /* 1 for -a[ll] */
    int32_t reserved_9;
    int32_t nco;    /* 1 for -nco */
    int32_t nmerge; /* 1 for -nme[rge] */
    int32_t reserved_12_14[3];
} vtree_args;

/* history: code 5; 23 words. */
typedef struct history_args {
    int32_t code;
    stg_area_t area;
    char **argv;  /* operands in order; null when there are none */
    int32_t argc; /* number of operands */
    int32_t reserved_5_6[2];
    int32_t pname;     /* 1 for -pna[me] */
    int32_t recurse;   /* 1 for -r[ecurse] */
    int32_t directory; /* 1 for -d[irectory] */
    int32_t all;       /* 1 for -a[ll] */
    int32_t avobs;     /* 1 for -avo[bs] */
    int32_t local;     /* 1 for -local */
    int32_t minor;     /* 1 for -min[or] */
    int32_t nco;       /* 1 for -nco */
    int32_t reserved_15_16[2];
    char *user;   /* argument of -use[r], or null */
    char *branch; /* argument of -bra[nch], or null */
    int32_t reserved_19_22[4];
    int32_t help; /* 1 for -h[elp]; no help text is printed */
} history_args;

/* Options -str[eam] -to -tar[get], and -q[uery] or -qal[l]; no operands are
 * asked for. 1001 when an option's argument is missing. */
KESTRIN_EXPORT int32_t cmdsyn_deliver(const char *args, stg_area_t area, deliver_args *rec);

/* Options -vie[w] -str[eam], and -q[uery] or -qal[l]; no operands are asked
 * for. 1001 when an option's argument is missing. */
KESTRIN_EXPORT int32_t cmdsyn_rebase(const char *args, stg_area_t area, rebase_args *rec);

/* No options; zero or more operands. Fails only when the string cannot be
 * split or holds an option word, or the area gives no memory. */
KESTRIN_EXPORT int32_t cmdsyn_update(const char *args, stg_area_t area, update_args *rec);

/* Flags -a[ll] -nme[rge] -nco and one or more operands. */
KESTRIN_EXPORT int32_t cmdsyn_vtree(const char *args, stg_area_t area, vtree_args *rec);

/* The history syntax: 25 options in two mutual-exclusion groups, a selector
 * kind chosen by the type options (0 for plain pathnames, 1 when -vob
 * stands in for the operands), and the conversion of typed operands by
 * cmdsyn_argv_to_objsels, whose nonzero result is returned unchanged. *kind
 * receives the selector kind, except after the -pna[me] rejection and a
 * failing conversion, which leave it as it was. */
KESTRIN_EXPORT int32_t cmdsyn_history(const char *args, stg_area_t area, history_args *rec, int32_t *kind);

#ifdef __cplusplus
}

/* In the 32-bit build every word is 4 bytes, as the records' users expect. */
#include <cstddef>
#define CMDSYN_WORD(rec, member, word) (sizeof(void *) != 4 || offsetof(rec, member) == ((word) - 1) * 4)
static_assert(sizeof(void *) != 4 || sizeof(deliver_args) == 31 * 4, "deliver_args is 31 words");
static_assert(sizeof(void *) != 4 || sizeof(rebase_args) == 27 * 4, "rebase_args is 27 words");
static_assert(sizeof(void *) != 4 || sizeof(update_args) == 20 * 4, "update_args is 20 words");
static_assert(sizeof(void *) != 4 || sizeof(vtree_args) == 14 * 4, "vtree_args is 14 words");
static_assert(sizeof(void *) != 4 || sizeof(history_args) == 23 * 4, "history_args is 23 words");
static_assert(CMDSYN_WORD(deliver_args, stream, 6) && CMDSYN_WORD(deliver_args, query, 26));
static_assert(CMDSYN_WORD(rebase_args, view, 5) && CMDSYN_WORD(rebase_args, query, 22));
static_assert(CMDSYN_WORD(update_args, argc, 18) && CMDSYN_WORD(update_args, argv, 19));
static_assert(CMDSYN_WORD(vtree_args, argv, 3) && CMDSYN_WORD(vtree_args, nmerge, 11));
static_assert(CMDSYN_WORD(history_args, pname, 7) && CMDSYN_WORD(history_args, user, 17) &&
              CMDSYN_WORD(history_args, help, 23));
#undef CMDSYN_WORD
#endif

#endif
