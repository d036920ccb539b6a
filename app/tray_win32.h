// The icon in the notification area: its picture, its tooltip, its popup
// menu, and its return when the shell drops it (Explorer restarted, or not
// ready at logon).
#pragma once

#include <windows.h>

// At the window's creation: adds the icon for `window`, which receives its
// callbacks as WM_TRAYICON; while the shell refuses it, it is tried again on
// the window's TRAY_RETRY_TIMER_ID for a while. Also lets Explorer's
// "TaskbarCreated" through to an elevated window.
void AddTray(HWND window);

// WM_TRAYICON: a click shows the settings window, a right click opens the
// menu, whose items come back to `window` as WM_COMMAND.
void TrayIconMessage(HWND window, WPARAM wParam, LPARAM lParam);

// Whether `message` is Explorer's "TaskbarCreated"; the icon, which the new
// taskbar lacks, is then added again.
bool TrayTaskbarCreated(HWND window, UINT message);

// WM_TIMER: true when `id` was the tray's retry timer, now served.
bool TrayTimer(HWND window, WPARAM id);

// The tooltip again: the title, and how often the engine had to install its
// hook anew (EngineRearmCount), once it had to. An icon the shell has
// refused so far is tried again now instead.
void UpdateTrayTip(HWND window);

// For the window's destruction: the icon goes at once rather than when the
// pointer next passes over it, and with it the menu and the retries.
void RemoveTray(HWND window);
