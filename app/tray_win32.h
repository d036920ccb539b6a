// The icon in the notification area: its picture, its tooltip, its popup
// menu, its balloon, and its return when the shell drops it (Explorer
// restarted, or not ready at logon).
#pragma once

#include <windows.h>

// At the window's creation: adds the icon for `window`, which receives its
// callbacks as WM_TRAYICON; while the shell refuses it, it is tried again on
// the window's TRAY_RETRY_TIMER_ID for a while. Also lets Explorer's
// "TaskbarCreated" through to an elevated window, and starts the worker that
// hands the icon's changes to the shell.
void AddTray(HWND window);

// WM_TRAYICON: a click shows the settings window, a right click opens the
// menu, built anew at each opening from the switches, the pause and the
// last application in front; its items come back to `window` as WM_COMMAND.
void TrayIconMessage(HWND window, WPARAM wParam, LPARAM lParam);

// Whether `message` is Explorer's "TaskbarCreated"; the icon, which the new
// taskbar lacks, is then added again.
bool TrayTaskbarCreated(HWND window, UINT message);

// WM_TIMER: true when `id` was the tray's retry timer, now served.
bool TrayTimer(HWND window, WPARAM id);

// The icon and the tooltip as the state now is (paused, an administrator
// window in front, the application in front left alone, the re-arms), handed
// to the tray's worker: the shell may keep a caller waiting, and this thread
// runs the keyboard hook. Only the newest state is shown.
void ShowTrayState(HWND window);

// As ShowTrayState after a re-arm; an icon the shell has refused so far is
// tried again now instead, on this thread.
void UpdateTrayTip(HWND window);

// Whether the run started with /hide, set by the entry.
extern bool StartedHidden;

// At the window's closing: the balloon telling that the program goes on in
// the tray, the first time in a run, unless the run started hidden.
void ShowTrayBalloon(HWND window);

// For the window's destruction: the icon goes at once rather than when the
// pointer next passes over it, and with it the retries and the worker.
void RemoveTray(HWND window);
