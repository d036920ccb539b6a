// The settings window, the program's one top-level window; it wires the
// tray icon's and the engine's messages to them.
#pragma once

#include <windows.h>

#include <cstdint>

// Window procedure of class "Lumbrix". WM_CREATE builds the controls and the
// tray icon; run from the temporary folder, the notice asks to unpack the
// zip first and the startup box stays clear and disabled; the program's
// life (life_win32.h) starts the engine once the window has been painted
// (at the message WM_CREATE posts); the window, created at its size for 96
// DPI, is sized and laid out for its own DPI then and again at
// WM_DPICHANGED; the focus it is given goes back to the control that had
// it, else to the first box, and a hidden window keeps it and drops the
// keys; closing hides; session and power changes reset the engine; switch
// clicks and their tray menu items are applied as one and saved on a
// worker; the tray menu pauses and leaves applications alone, which the
// window's list shows and removes, and after its command the application
// in front before it gets the keyboard back; the icon follows each
// foreground change; the startup box follows its worker's report;
// WM_DESTROY and WM_ENDSESSION end the program (EndProgram, EndSession).
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// For the message loop, as IsDialogMessageW: true when `message` belonged to
// the settings window or one of its controls and has been handled (Tab and
// Shift+Tab move the focus, Space presses the focused control, Esc hides
// the window; every key while it is hidden); false for every other message,
// which the caller dispatches.
// Enter reaches nothing but a focused link, which opens on it; Delete on
// the list of applications left alone removes the selected one.
bool IsSettingsDialogMessage(HWND window, MSG* message);
