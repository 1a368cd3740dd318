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

/* Checks the argc operand texts of argv against the selector kind (vob is
 * the argument of "-vob", or null) and may rework the array's entries in
 * place; afterwards every entry still holds a pathname text (memory from
 * area). 0 on success; a nonzero code after a message through imsg_print
 * for a bad operand. */
VEYRACMDSYN_API int cmdsyn_argv_to_objsels(int kind, const char *vob, char **argv, int argc,
                                          stg_area_t area);

#ifdef __cplusplus
}
#endif

#endif
