// The owner-only policy on POSIX: what the pipe layer applies to a socket
// in place of Windows security attributes.
#include <unistd.h>

#include "veyrant.h"

extern "C" void *nt_owner_security_attributes(uint32_t access_mask, int /*inherit*/) {
    // Nothing is inherited across processes here, so inherit selects
    // nothing. One policy per thread, kept until the thread's next call.
    thread_local nt_owner_policy_t policy;
    policy.access_mask = access_mask;
    policy.mode = 0600;
    policy.uid = static_cast<uint32_t>(::geteuid());
    return &policy;
}
