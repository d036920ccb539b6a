// The Windows binding of the engine: the installed hook and its procedure,
// and the watch on the foreground window.
#pragma once

#include <windows.h>

#include <cstdint>

// Null until installed; handed to CallNextHookEx on every passed event.
extern HHOOK KeyboardHookHandle;

// The tick count of KeyboardHookProc's last call, stamped on every path,
// and of the hook's last install: the watchdog's sign that Windows still
// calls the hook.
extern uint32_t KeyboardHookTime;

// WH_KEYBOARD_LL procedure: stamps the tick count, runs RemapKeyEvent with
// the event, that stamp and when Windows began waiting for the call
// (whether the call is late), returns 1 to swallow.
LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// Installs the keyboard hook; when one is installed already, installs a new
// one in front of it and then removes the old one. Windows drops a hook
// without notice when it once answers too late (most easily while the
// system resumes or a session is unlocked), and there is no telling whether
// it did: a new hook is the only cure. This thread judges no key between the
// two calls, so no key passes unhooked and none is judged twice. Every
// install attempt stamps KeyboardHookTime, a failed one too, so that the
// watchdog sees a hook that never came. When the new hook cannot be
// installed the old one stays.
void InstallKeyboardHook();

// Removes the keyboard hook; no key is remapped any more.
void RemoveKeyboardHook();

// Told each new foreground window, on this thread, after the engine has
// judged it: first the one in front when the watch starts.
typedef void (*ForegroundReport)(HWND front);

// Watches the foreground window and the input desktop from this thread (its
// message loop) and resets the engine when the focus comes back from a
// window of a process above our integrity level, whose keys the hook never
// saw, and at every desktop switch; tells `report` of each foreground
// window, the one in front now first, before returning.
void WatchForeground(ForegroundReport report);
void StopWatchingForeground();

// Asks for raw keyboard input (WM_INPUT) at `window`, also while another
// window has the focus, and stops asking. Raw input passes no hook and knows
// no time-out, so it tells the watchdog when keys are typed. False when
// Windows refused: no watchdog until asked again.
bool WatchRawKeyboard(HWND window);
void StopWatchingRawKeyboard();

// Whether the WM_INPUT whose lParam is `input`, stamped `time`, carries a
// keyboard event; a key's release goes to the engine too (RawKeyReleased)
// with its device, null for injected input, which the hook may never get.
bool IsRawKeyboardEvent(LPARAM input, uint32_t time);
