// The application in front, as the engine's foreground watch reports it:
// its executable's file name (a Store app's by its own process, not by the
// frame that hosts them all), the last application window, and whether it
// is left alone, which is decided here once and told to the engine.
#pragma once

#include <windows.h>

// Posted to the window WatchApplications was given at each foreground
// change, once the engine knows whether the application is left alone.
const UINT WM_FOREGROUND_CHANGED = WM_USER + 1004;

// Before the engine starts: the window that hears of foreground changes.
void WatchApplications(HWND window);

// The engine's ForegroundReport: names the application of `front`, tells
// the engine whether it is left alone (EngineLeaveAlone) and posts
// WM_FOREGROUND_CHANGED. Nothing before WatchApplications.
void NoteForeground(HWND front);

// Judges the application in front anew, after the list changed.
void DecideLeftAlone();

// The executable file name of the last application window that was in
// front (never ours, the taskbar's or the desktop's); empty when there was
// none whose process could be opened.
const wchar_t* LastApplicationName();

// The last window in front other than the taskbars and the desktop, ours
// included; null before any.
HWND LastFrontWindow();

// The executable file name of the application in front; empty for ours and
// for one that cannot be opened.
const wchar_t* ForegroundApplicationName();
