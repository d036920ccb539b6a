// The least a low-level-hook remapper can do, as a yardstick for the added
// latency of lumbrix.exe: swallow the physical J key and inject H in its
// place with one SendInput call; nothing else. With the argument "mouse",
// the least a mouse hook can do instead: pass every mouse event on. Test-only,
// never shipped. A hidden window of class "LumbrixYardstick" tells the
// benchmark that the hook is in place.
#include <windows.h>

#include <cwchar>

namespace {

HHOOK yardstick_hook;

LRESULT CALLBACK YardstickProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION) {
        const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (key->vkCode == 'J' && !(key->flags & LLKHF_INJECTED)) {
            INPUT input;
            ZeroMemory(&input, sizeof input);
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = 'H';
            input.ki.dwFlags = (wParam == WM_KEYUP || wParam == WM_SYSKEYUP) ? KEYEVENTF_KEYUP : 0;
            SendInput(1, &input, sizeof(INPUT));
            return 1;
        }
    }
    return CallNextHookEx(yardstick_hook, nCode, wParam, lParam);
}

LRESULT CALLBACK YardstickMouseProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(yardstick_hook, nCode, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int)
{
    if (wcscmp(command_line, L"mouse") == 0) {
        yardstick_hook = SetWindowsHookExW(WH_MOUSE_LL, YardstickMouseProc, instance, 0);
    } else {
        yardstick_hook = SetWindowsHookExW(WH_KEYBOARD_LL, YardstickProc, instance, 0);
    }
    WNDCLASSW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"LumbrixYardstick";
    RegisterClassW(&window_class);
    CreateWindowExW(0, L"LumbrixYardstick", L"", WS_POPUP, 0, 0, 0, 0, NULL, NULL, instance, NULL);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    UnhookWindowsHookEx(yardstick_hook);
    return 0;
}
