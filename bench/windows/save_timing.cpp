// How long SaveSettings holds the thread that runs the keyboard hook: the
// temporary file's write and flush and the write-through rename, timed over
// many saves into the folder of this program. Prints the median, the 99th
// percentile and the longest, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "settings/settings_win32.h"

int wmain()
{
    RemapSettings* settings = CreateRemapSettings();
    if (settings == NULL) {
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> ms;
    for (int i = 0; i < 400; ++i) {
        settings->use_dvorak = i & 1;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        SaveSettings(*settings);
        QueryPerformanceCounter(&end);
        ms.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("SaveSettings over %zu saves: median %.2f ms, 99th percentile %.2f ms, longest %.2f ms\n", ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    DeleteFileW(settings->file_path);
    HeapFree(GetProcessHeap(), 0, settings);
    return 0;
}
