#include <windows.h>

#include "remap/remap_win32.h"

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/key_injection.h"
#include "remap/remap_options.h"

HHOOK KeyboardHookHandle;
uint32_t KeyboardHookTime;

namespace {

// Installed only while an Alt tap is pending (WatchMouse): with no tap
// pending the mouse never waits for this thread.
HHOOK MouseHookHandle;

// When Windows was done with the mouse hook's last call.
uint32_t MouseHookAnswered;

HWINEVENTHOOK ForegroundHook;
ForegroundReport ForegroundReporter;
HWINEVENTHOOK DesktopHook;
uint32_t OwnIntegrity;

uint32_t IntegrityLevel(HANDLE process)
{
    uint32_t level = UNKNOWN_INTEGRITY;
    HANDLE token = NULL;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return level;
    }
    // Room for a TOKEN_MANDATORY_LABEL and the one SID it points to.
    union {
        TOKEN_MANDATORY_LABEL label;
        BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    if (GetTokenInformation(token, TokenIntegrityLevel, &info, sizeof info, &size)) {
        PSID sid = info.label.Label.Sid;
        level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
    }
    CloseHandle(token);
    return level;
}

// A process we may not even query (an elevated one, as a rule) counts as
// one whose keys the hook does not see; one already gone (a window that
// closed as it came forward) tells nothing; our own is our own.
uint32_t WindowIntegrityLevel(HWND window)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == GetCurrentProcessId()) {
        return OWN_PROCESS;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == NULL) {
        return GetLastError() == ERROR_INVALID_PARAMETER ? PROCESS_GONE : UNKNOWN_INTEGRITY;
    }
    const uint32_t level = IntegrityLevel(process);
    CloseHandle(process);
    return level;
}

void CALLBACK ForegroundEventProc(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD)
{
    if (window != NULL && ForegroundReturnsToSight(WindowIntegrityLevel(window), OwnIntegrity)) {
        ResetEngine();
    }
    if (window != NULL) {
        ForegroundReporter(window);
    }
}

// Another desktop (Ctrl+Alt+Del, a UAC prompt) took the keyboard, or ours
// has it back; the hook saw nothing of what was typed there and injections
// went nowhere. Which way it went does not matter: a reset while away
// releases nothing the system does not take, and the one on return does
// the rest.
void CALLBACK DesktopEventProc(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD)
{
    ResetEngine();
}

LRESULT CALLBACK MouseHookProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode >= 0) {
        const MSLLHOOKSTRUCT* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        const uint32_t now = GetTickCount();
        HookMouseEvent event;
        event.message = wParam;
        event.flags = mouse->flags;
        event.extra = mouse->dwExtraInfo;
        event.mouse_data = mouse->mouseData;
        event.late = now - HookWaitBegan(MouseHookAnswered, mouse->time, now) >= LateHookMs;
        if (RemapMouseEvent(event) == Swallow) {
            return 1;
        }
    }
    return CallNextHookEx(MouseHookHandle, nCode, wParam, lParam);
}

// The user's LowLevelHooksTimeout, 0 when unset or unreadable.
uint32_t HookTimeoutSetting()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS read = RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LowLevelHooksTimeout",
                                      RRF_RT_REG_DWORD, NULL, &value, &size);
    return read == ERROR_SUCCESS ? value : 0;
}

void CALLBACK HoldTimerProc(HWND, UINT, UINT_PTR idEvent, DWORD)
{
    HoldTimerExpired(idEvent);
}

}  // namespace

unsigned SendMouseInput(uintptr_t message, uint32_t mouse_data, uintptr_t extra)
{
    // SendInput says it sent what UIPI drops: not to a window above us.
    POINT cursor;
    if (!GetCursorPos(&cursor)) {
        return 0;
    }
    if (OwnIntegrity == 0) {
        OwnIntegrity = IntegrityLevel(GetCurrentProcess());
    }
    const uint32_t level = WindowIntegrityLevel(WindowFromPoint(cursor));
    if (level != OWN_PROCESS && level != PROCESS_GONE && level > OwnIntegrity) {
        return 0;
    }
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_MOUSE;
    // No MOUSEEVENTF_MOVE: the click lands where the cursor is.
    switch (message) {
    case WM_LBUTTONDOWN:
        input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        break;
    case WM_RBUTTONDOWN:
        input.mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
        break;
    case WM_MBUTTONDOWN:
        input.mi.dwFlags = MOUSEEVENTF_MIDDLEDOWN;
        break;
    case WM_XBUTTONDOWN:
        input.mi.dwFlags = MOUSEEVENTF_XDOWN;
        input.mi.mouseData = HIWORD(mouse_data);
        break;
    case WM_LBUTTONUP:
        input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
        break;
    case WM_RBUTTONUP:
        input.mi.dwFlags = MOUSEEVENTF_RIGHTUP;
        break;
    case WM_MBUTTONUP:
        input.mi.dwFlags = MOUSEEVENTF_MIDDLEUP;
        break;
    case WM_XBUTTONUP:
        input.mi.dwFlags = MOUSEEVENTF_XUP;
        input.mi.mouseData = HIWORD(mouse_data);
        break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        input.mi.dwFlags = message == WM_MOUSEWHEEL ? MOUSEEVENTF_WHEEL : MOUSEEVENTF_HWHEEL;
        input.mi.mouseData = static_cast<DWORD>(static_cast<LONG>(static_cast<SHORT>(HIWORD(mouse_data))));
        break;
    default:
        return 0;
    }
    // The pen's or a touch's mark goes with it: a program that handles the
    // pen itself must not take the click for the mouse's as well.
    input.mi.dwExtraInfo = extra;
    return SendInput(1, &input, sizeof(INPUT));
}

bool WatchMouse(bool on)
{
    if (on && MouseHookHandle == NULL) {
        MouseHookHandle = SetWindowsHookExW(WH_MOUSE_LL, MouseHookProc, GetModuleHandleW(NULL), 0);
    } else if (!on && MouseHookHandle != NULL) {
        UnhookWindowsHookEx(MouseHookHandle);
        MouseHookHandle = NULL;
    }
    return !on || MouseHookHandle != NULL;
}

uint32_t TickCount()
{
    return GetTickCount();
}

unsigned SendKeyInput(uint16_t vk, int isDown, uintptr_t tag, uint32_t scan)
{
    // Programs that read scan codes (remote desktop clients, terminals,
    // games) drop or misread a key without one. Masking events stay bare.
    if (scan == 0 && tag != SELF_MASK_TAG) {
        scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC_EX);
    }
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(scan & 0xFF);
    input.ki.dwFlags = (isDown ? 0 : KEYEVENTF_KEYUP) | ((scan >> 8) == 0xE0 ? KEYEVENTF_EXTENDEDKEY : 0);
    input.ki.time = 0;
    input.ki.dwExtraInfo = tag;
    return SendInput(1, &input, sizeof(INPUT));
}

bool SystemKeyDown(uint16_t vk)
{
    return GetAsyncKeyState(vk) < 0;
}

bool SystemKeyToggled(uint16_t vk)
{
    return (GetKeyState(vk) & 1) != 0;
}

uintptr_t StartHoldTimer(unsigned ms)
{
    return SetTimer(NULL, 0, ms, HoldTimerProc);
}

void CancelHoldTimer(uintptr_t timer_id)
{
    KillTimer(NULL, timer_id);
}

LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    // The clock, not key->time: a program that injects keys may give them a
    // time of its own, an old one that makes a live hook look dead or a
    // future one that hides a dead hook. Every call is a sign of life,
    // whoever sent the key, and never earlier than the key it is called for.
    KeyboardHookTime = GetTickCount();
    // Below zero the event is not ours to judge.
    if (nCode >= 0) {
        HookKeyEvent event;
        event.code = nCode;
        event.message = wParam;
        event.vkCode = key->vkCode;
        event.flags = key->flags;
        event.dwExtraInfo = key->dwExtraInfo;
        event.scanCode = key->scanCode;
        event.time = key->time;
        event.now = KeyboardHookTime;
        event.wait_began = HookWaitBegan(KeyboardHookAnswered, key->time, KeyboardHookTime);
        if (RemapKeyEvent(event) == Swallow) {
            return 1;
        }
    }
    return CallNextHookEx(KeyboardHookHandle, nCode, wParam, lParam);
}

void InstallKeyboardHook()
{
    LateHookMs = LateHookLimitMs(HookTimeoutSetting());
    // Every attempt is stamped, a failed one too: a hook dropped before its
    // first call, or never installed, must still look silent from here on,
    // whatever stamp the last one left (none at all after a logon, which
    // past 24.9 days of uptime would look like a call still to come). No
    // hook call runs on this thread before the install returns.
    KeyboardHookTime = GetTickCount();
    HHOOK fresh = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(NULL), 0);
    if (fresh == NULL) {
        return;
    }
    if (KeyboardHookHandle != NULL) {
        UnhookWindowsHookEx(KeyboardHookHandle);
    }
    KeyboardHookHandle = fresh;
}

void RemoveKeyboardHook()
{
    UnhookWindowsHookEx(KeyboardHookHandle);
    KeyboardHookHandle = NULL;
}

void WatchForeground(ForegroundReport report)
{
    ForegroundReporter = report;
    OwnIntegrity = IntegrityLevel(GetCurrentProcess());
    ForegroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, NULL, ForegroundEventProc, 0, 0,
                                     WINEVENT_OUTOFCONTEXT);
    DesktopHook = SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, NULL, DesktopEventProc, 0, 0,
                                  WINEVENT_OUTOFCONTEXT);
    // Started behind an elevated window (at logon, say), the engine must
    // know it is blind until that window goes.
    HWND front = GetForegroundWindow();
    if (front != NULL) {
        ForegroundReturnsToSight(WindowIntegrityLevel(front), OwnIntegrity);
        report(front);
    }
}

void StopWatchingForeground()
{
    UnhookWinEvent(ForegroundHook);
    UnhookWinEvent(DesktopHook);
    ForegroundHook = NULL;
    DesktopHook = NULL;
}

bool WatchRawKeyboard(HWND window)
{
    RAWINPUTDEVICE keyboard;
    keyboard.usUsagePage = 0x01;  // generic desktop controls
    keyboard.usUsage = 0x06;      // keyboard
    keyboard.dwFlags = RIDEV_INPUTSINK;
    keyboard.hwndTarget = window;
    return RegisterRawInputDevices(&keyboard, 1, sizeof keyboard) != FALSE;
}

void StopWatchingRawKeyboard()
{
    RAWINPUTDEVICE keyboard;
    keyboard.usUsagePage = 0x01;
    keyboard.usUsage = 0x06;
    keyboard.dwFlags = RIDEV_REMOVE;
    keyboard.hwndTarget = NULL;
    RegisterRawInputDevices(&keyboard, 1, sizeof keyboard);
}

bool IsRawKeyboardEvent(LPARAM input, uint32_t time)
{
    RAWINPUT raw;
    UINT size = sizeof raw;
    const UINT read = GetRawInputData(reinterpret_cast<HRAWINPUT>(input), RID_INPUT, &raw, &size, sizeof raw.header);
    if (read == static_cast<UINT>(-1) || read < sizeof raw.header || raw.header.dwType != RIM_TYPEKEYBOARD) {
        return false;
    }
    const RAWKEYBOARD& key = raw.data.keyboard;
    const bool released = (key.Flags & RI_KEY_BREAK) != 0 || key.Message == WM_KEYUP || key.Message == WM_SYSKEYUP;
    if (released) {
        RawKeyReleased(reinterpret_cast<uintptr_t>(raw.header.hDevice),
                       key.MakeCode | ((key.Flags & RI_KEY_E0) != 0 ? 0xE000u : 0u), time);
    }
    return true;
}
