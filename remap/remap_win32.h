// The Windows binding of the engine: the installed hook and its procedure,
// and the watch on the foreground window.
#pragma once

#include <windows.h>

// Null until installed; handed to CallNextHookEx on every passed event.
extern HHOOK KeyboardHookHandle;

// WH_KEYBOARD_LL procedure: runs RemapKeyEvent, returns 1 to swallow.
LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// Installs the keyboard hook; when one is installed already, installs a new
// one in front of it and then removes the old one. Windows drops a hook
// without notice when it once answers too late (most easily while the
// system resumes or a session is unlocked), and there is no telling whether
// it did: a new hook is the only cure. This thread judges no key between the
// two calls, so no key passes unhooked and none is judged twice. When the
// new hook cannot be installed the old one stays.
void InstallKeyboardHook();

// Removes the keyboard hook; no key is remapped any more.
void RemoveKeyboardHook();

// Watches the foreground window and the input desktop from this thread (its
// message loop) and resets the engine when the focus comes back from a
// window of a process above our integrity level, whose keys the hook never
// saw, and at every desktop switch.
void WatchForeground();
void StopWatchingForeground();
