// What the mouse hook costs an Alt press: WatchMouse(true) when a tap starts
// pending installs the low-level mouse hook, WatchMouse(false) when it is
// decided removes it, both on the thread that runs the keyboard hook. Timed
// over many pairs; needs a display, as the program does. Prints the median,
// the 99th percentile and the longest, in microseconds.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/windows/timing.h"
#include "remap/keyboard_hook.h"

namespace {

const int PAIRS = 4000;

}  // namespace

int wmain()
{
    QueryPerformanceFrequency(&Frequency);
    // The hook's thread has a message queue, through which its hooks are called.
    MSG message;
    PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
    std::vector<double> install, removal, pair;
    LARGE_INTEGER start, middle, end;
    int failed = 0;
    for (int i = 0; i < PAIRS; ++i) {
        SetLastError(ERROR_SUCCESS);
        QueryPerformanceCounter(&start);
        WatchMouse(true);
        QueryPerformanceCounter(&middle);
        failed += GetLastError() != ERROR_SUCCESS ? 1 : 0;
        WatchMouse(false);
        QueryPerformanceCounter(&end);
        install.push_back(Microseconds(start, middle));
        removal.push_back(Microseconds(middle, end));
        pair.push_back(Microseconds(start, end));
        // Mouse events that came while the hook was in place are handled, as
        // the program's message loop would.
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    if (failed > 0) {
        std::printf("the mouse hook could not be installed %d times\n", failed);
        return 1;
    }
    Report("mouse hook installed (SetWindowsHookExW)", install);
    Report("mouse hook removed (UnhookWindowsHookEx)", removal);
    Report("both, as one Alt tap pays them", pair);
    return 0;
}
