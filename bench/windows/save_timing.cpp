// What a switch click's save costs the thread that runs the keyboard hook:
// SaveSettingsInBackground, timed over many clicks into the folder of this
// program, once with no saver at work (the click starts one) and once while
// one is at work (the click only leaves it the newest switches). For scale,
// also the save itself, which now runs on the worker. Prints the median, the
// 99th percentile and the longest, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "settings/settings_win32.h"

namespace {

const int CLICKS = 400;
const int BURST = 8;

LARGE_INTEGER Frequency;

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(Frequency.QuadPart);
}

void Report(const char* what, std::vector<double>& ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s over %zu: median %.3f ms, 99th percentile %.3f ms, longest %.3f ms\n", what, ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

}  // namespace

int wmain()
{
    RemapSettings* settings = CreateRemapSettings(false);
    if (settings == NULL) {
        return 1;
    }
    QueryPerformanceFrequency(&Frequency);
    std::vector<double> idle, busy, save;
    LARGE_INTEGER start, end;
    for (int i = 0; i < CLICKS; ++i) {
        settings->use_dvorak = i & 1;
        QueryPerformanceCounter(&start);
        SaveSettingsInBackground(*settings);
        QueryPerformanceCounter(&end);
        idle.push_back(Milliseconds(start, end));
        // Every second round, the clicks that follow find that saver at work.
        for (int j = 0; (i & 1) && j < BURST; ++j) {
            settings->swap_alt_for_ctrl = j & 1;
            QueryPerformanceCounter(&start);
            SaveSettingsInBackground(*settings);
            QueryPerformanceCounter(&end);
            busy.push_back(Milliseconds(start, end));
        }
        FinishSettingsSave(INFINITE);
    }
    for (int i = 0; i < CLICKS; ++i) {
        settings->use_dvorak = i & 1;
        QueryPerformanceCounter(&start);
        SaveSettings(*settings);
        QueryPerformanceCounter(&end);
        save.push_back(Milliseconds(start, end));
    }
    Report("click, no saver at work", idle);
    Report("click, a saver at work", busy);
    Report("the save itself (on the worker)", save);
    DeleteFileW(settings->file_path);
    HeapFree(GetProcessHeap(), 0, settings);
    return 0;
}
