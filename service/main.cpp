// gemx_pkl_service: the per-user launcher service. It takes no arguments
// and reads no settings.
#include "service_internal.h"

int main() { return service_main(); }
