// The icon in the notification area: its picture, its tooltip, its popup
// menu, its balloon, and its return when the shell drops it (Explorer
// restarted, or not ready at logon). Every call to the shell is made by the
// tray's worker: the shell may keep a caller waiting, and the window's
// thread runs the keyboard hook.
#pragma once

#include <windows.h>

#include <cstdint>

// At the window's creation: starts the worker and has it add the icon for
// `window`, which receives its callbacks as WM_TRAYICON and the worker's
// report as WM_TRAY_ADDED (TrayAdded). Also lets Explorer's
// "TaskbarCreated" through to an elevated window.
void AddTray(HWND window);

// WM_TRAY_ADDED: whether the worker got the icon into the tray. While the
// shell refuses it, it is tried again on the window's TRAY_RETRY_TIMER_ID
// for a while.
void TrayAdded(HWND window, bool added);

// Opens the menu at the pointer, built anew from the switches, the pause
// and the last application in front (whose name MenuApplicationName keeps
// until the next opening), with `window` in front as the menu needs; returns
// the chosen item's id, 0 when none was chosen. The caller carries out the
// command and decides where the keyboard goes afterwards.
uint32_t OpenTrayMenu(HWND window);
const wchar_t* MenuApplicationName();

// Whether `message` is Explorer's "TaskbarCreated"; the icon, which the new
// taskbar may lack, is then added again.
bool TrayTaskbarCreated(HWND window, UINT message);

// WM_TIMER: true when `id` was the tray's retry timer, now served.
bool TrayTimer(HWND window, WPARAM id);

// The icon and the tooltip as the state now is (paused, an administrator
// window in front, the application in front left alone, the re-arms), for
// the worker. Only the newest state is shown.
void ShowTrayState(HWND window);

// As ShowTrayState after a re-arm; an icon the shell has refused so far is
// added instead.
void UpdateTrayTip(HWND window);

// Whether the run started with /hide, set by the entry.
extern bool StartedHidden;

// At the window's closing: the balloon telling that the program goes on in
// the tray, the first time in a run, unless the run started hidden.
void ShowTrayBalloon(HWND window);

// For the exit: the retries and the worker stop. With `wait_ms` above 0 the
// worker's last call removes the icon at once rather than when the pointer
// next passes over it, and it is waited for up to `wait_ms`. With 0 the
// icon is left to the shell and nothing is waited for.
void RemoveTray(HWND window, DWORD wait_ms);
