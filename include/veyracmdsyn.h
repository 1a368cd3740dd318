/* libveyracmdsyn: conversion of history operands into object selectors. */
#ifndef VEYRACMDSYN_H
#define VEYRACMDSYN_H

#include "kestrin_api.h"
#include "veyraks.h"

#if defined(VEYRACMDSYN_BUILD) || !defined(_WIN32)
#define VEYRACMDSYN_API KESTRIN_EXPORT
#else
#define VEYRACMDSYN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of cmdsyn_argv_to_objsels besides 0. */
#define CMDSYN_OBJSELS_BAD_OPERAND 1002 /* an operand breaks its kind's rule */
#define CMDSYN_OBJSELS_BAD_CALL 1003    /* no operands, a null one, or an unknown kind */

/* Checks the argc operand texts of argv against the selector kind; vob is
 * the argument of "-vob", or null. 0 when every operand is valid.
 *
 * Rules, by kind:
 * - 1 (VOB, from "-vob"): a VOB pathname: non-empty, without control
 *   characters (bytes below 0x20 and 0x7F).
 * - 10 (hyperlink): a hyperlink type name, "@" and the hyperlink's decimal
 *   number, optionally followed by "@" and a VOB pathname ("H1@42",
 *   "H1@42@/vobs/x").
 * - 12 pool, 13 element type, 14 branch type, 15 attribute type,
 *   16 hyperlink type, 17 trigger type, 18 report type, 20 label type,
 *   24 VOB replica, 27 activity type, 29 state type: a name of letters,
 *   digits, "_", "." and "-" that does not begin with "-" or ".",
 *   optionally followed by "@" and a VOB pathname ("L1", "L1@/vobs/x").
 * A vob that is not null must be a VOB pathname too, whatever the kind.
 *
 * Failures print one message through imsg_print at level 6 and return:
 * CMDSYN_OBJSELS_BAD_OPERAND for an operand (or vob) that breaks its rule,
 * with a message naming the kind and the operand, such as
 * Invalid label type name: "x y" (control characters shown as \xNN);
 * CMDSYN_OBJSELS_BAD_CALL for argc <= 0, a null argv or entry, or a kind
 * not listed above (0 included: plain pathnames are not converted).
 *
 * The array's entries are left as they are, so afterwards every entry
 * still holds the operand's pathname text; area is not used. */
VEYRACMDSYN_API int cmdsyn_argv_to_objsels(int kind, const char *vob, char **argv, int argc,
                                          stg_area_t area);

#ifdef __cplusplus
}
#endif

#endif
