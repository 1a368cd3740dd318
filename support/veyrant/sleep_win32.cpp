// sleep for Windows programs, which have no C library sleep of this form.
#include <windows.h>

#include "veyrant.h"

extern "C" unsigned int sleep(unsigned int seconds) {
    // Long pauses in steps, so seconds * 1000 cannot overflow a DWORD.
    constexpr unsigned int kMaxStep = 0xFFFFFFFEu / 1000u;
    while (seconds > kMaxStep) {
        Sleep(kMaxStep * 1000u);
        seconds -= kMaxStep;
    }
    Sleep(seconds * 1000u);
    return 0;
}
