// The platform probe: a small program that the platform tests start, by
// launch_hidden or as an ordinary child, to observe from inside what a
// started process gets. The OS-specific observations live in
// process_probe_posix.cpp and process_probe_win32.cpp.
#pragma once

#include <string>

namespace probe {

// "key=value" lines about how this process was started (parent, session,
// inherited descriptors, signal state), each ending in a newline.
std::string start_facts();

// 1 when the termination signal is blocked in the calling thread, 0 when
// not, -1 where the notion does not apply.
int termination_blocked_here();

}  // namespace probe
