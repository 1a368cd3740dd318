#include "process_probe.h"

#include <windows.h>

#include <string>

namespace probe {

// How the process was asked to show itself (STARTUPINFO) and whether it
// has a console window. Sessions, descriptors and signal masks have no
// counterpart here.
std::string start_facts() {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    std::string facts;
    facts += "use_show_window=" + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0) + "\n";
    facts += "show_window=" + std::to_string(startup.wShowWindow) + "\n";
    facts += "console_window=" + std::to_string(GetConsoleWindow() != nullptr ? 1 : 0) + "\n";
    return facts;
}

int termination_blocked_here() { return -1; }

}  // namespace probe
