// Timing shared by the benchmark programs run under Wine: microseconds
// between two QueryPerformanceCounter readings, and one line for a series:
// its median, 99th percentile and longest.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

// Set by QueryPerformanceFrequency before the first reading.
inline LARGE_INTEGER Frequency;

inline double Microseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(Frequency.QuadPart);
}

inline void Report(const char* what, std::vector<double>& us)
{
    std::sort(us.begin(), us.end());
    std::printf("%s over %zu: median %.1f us, 99th percentile %.1f us, longest %.1f us\n", what, us.size(),
                us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}
