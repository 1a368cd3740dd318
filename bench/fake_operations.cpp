// A stand-in for the operations of libgemxapis that answers 0 at once, so
// the dispatch micro-benchmark measures the service's own work. The
// program still takes the trace class from the real library; these
// definitions in the program come first for the service core's calls.
#include "gemxapis.h"

extern "C" {
int gemx_api_deliver(gemx_api_handle_t, const char *) { return 0; }
int gemx_api_rebase(gemx_api_handle_t, const char *) { return 0; }
int gemx_api_find_merge(gemx_api_handle_t) { return 0; }
int gemx_api_history(gemx_api_handle_t, const char *) { return 0; }
int gemx_api_update(gemx_api_handle_t, int, const char **, int, int, int, int, int) { return 0; }
int gemx_api_vtree(gemx_api_handle_t, const char *, int) { return 0; }
}
