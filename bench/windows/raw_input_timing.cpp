// What the watchdog costs the window's thread per key: one WM_INPUT, taken
// from the queue, its header read and judged as lumbrix.exe does, then handed
// to DefWindowProcW. Timed over keys (F24) that this program sends to its own
// window, the handling alone and with the message's retrieval; needs a
// display. Prints the median, the 99th percentile and the longest, in
// microseconds.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "remap/engine_life.h"
#include "bench/windows/timing.h"
#include "remap/remap_options.h"
#include "remap/remap_win32.h"

namespace {

const size_t EVENTS = 4000;

HookWatch Watch;
std::vector<double> Micros;
std::vector<double> WithRetrieval;

LRESULT CALLBACK TimingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INPUT) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const uint32_t time = static_cast<uint32_t>(GetMessageTime());
    if (IsRawKeyboardEvent(lParam, time)) {
        // As for a key typed in another program's window, the usual case:
        // this window is in front, and its own keys would be passed over.
        WatchRawKey(Watch, time, RIM_INPUTSINK, KeyboardHookTime, GetTickCount(), ForegroundElevated());
    }
    const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
    QueryPerformanceCounter(&end);
    Micros.push_back(Microseconds(start, end));
    return result;
}

void SendF24(bool down)
{
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_F24;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

}  // namespace

int wmain()
{
    QueryPerformanceFrequency(&Frequency);
    WNDCLASSEXW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = TimingWindowProc;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.lpszClassName = L"LumbrixRawInputTiming";
    RegisterClassExW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"raw input timing", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, NULL, NULL, window_class.hInstance, NULL);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    WatchRawKeyboard(window);
    const ULONGLONG until = GetTickCount64() + 60000;
    for (size_t sent = 0; sent < EVENTS && GetTickCount64() < until;) {
        SendF24((sent & 1) == 0);
        ++sent;
        // One event at a time, as keys come.
        while (Micros.size() < sent && GetTickCount64() < until) {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
            MSG message;
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
                QueryPerformanceCounter(&end);
                if (message.message == WM_INPUT) {
                    WithRetrieval.push_back(Microseconds(start, end));
                }
                start = end;
            }
        }
    }
    StopWatchingRawKeyboard();
    if (Micros.empty()) {
        std::printf("no WM_INPUT arrived\n");
        return 1;
    }
    Report("WM_INPUT handled", Micros);
    Report("WM_INPUT taken from the queue and handled", WithRetrieval);
    return 0;
}
