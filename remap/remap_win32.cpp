#include <windows.h>

#include "remap/remap_win32.h"

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"

HHOOK KeyboardHookHandle;

unsigned InjectKey(uint16_t vk, int isDown, uint32_t tag)
{
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = 0;
    input.ki.dwFlags = isDown ? 0 : KEYEVENTF_KEYUP;
    input.ki.time = 0;
    input.ki.dwExtraInfo = static_cast<ULONG_PTR>(tag);
    return SendInput(1, &input, sizeof(INPUT));
}

uintptr_t StartHoldTimer()
{
    return SetTimer(NULL, 0, ALT_HOLD_MS, AltTapTimerProc);
}

void CancelHoldTimer(uintptr_t timer_id)
{
    KillTimer(NULL, timer_id);
}

LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    // Below zero the event is not ours to read: lParam is left untouched.
    if (nCode >= 0) {
        const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        HookKeyEvent event;
        event.code = nCode;
        event.message = wParam;
        event.vkCode = key->vkCode;
        event.flags = key->flags;
        event.dwExtraInfo = key->dwExtraInfo;
        if (RemapKeyEvent(event) == Swallow) {
            return 1;
        }
    }
    return CallNextHookEx(KeyboardHookHandle, nCode, wParam, lParam);
}
