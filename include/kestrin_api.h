/* Export marking shared by the product's libraries and programs. */
#ifndef KESTRIN_API_H
#define KESTRIN_API_H

/* KESTRIN_EXPORT marks a definition that a library or program offers to its
 * users: exported from the DLL or EXE on Windows, default visibility in a
 * POSIX build whose other symbols are hidden. Importers need no marking:
 * MinGW's import libraries resolve plain declarations. */
#if defined(_WIN32)
#define KESTRIN_EXPORT __declspec(dllexport)
#else
#define KESTRIN_EXPORT __attribute__((visibility("default")))
#endif

#endif
