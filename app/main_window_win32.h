// The settings window, the program's one top-level window; it wires the
// tray icon's and the engine's messages to them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dispatch.h"
#include "res/version.h"

const wchar_t* const MAIN_WINDOW_CLASS = L"Lumbrix";
const wchar_t* const PROGRAM_TITLE = L"Lumbrix " LUMBRIX_VERSION;

// False when the settings record behind active_settings is a stand-in with no
// file: switch clicks are then applied but never written.
extern bool SettingsFileKnown;

// True when the `setting` file had to be written at the start and could not
// be: the notice line says that nothing can be saved in this folder.
extern bool SettingsUnsaved;

// Window procedure of class "Lumbrix". WM_CREATE builds the controls and the
// tray icon; run from the temporary folder, the notice asks to unpack the
// zip first and the startup box stays clear and disabled; the engine starts
// with *active_settings once the window has been painted (at the message
// WM_CREATE posts); the window, created at its size for 96 DPI, is sized and
// laid out for its own DPI then and again at WM_DPICHANGED; the focus it is
// given goes to the first box; closing hides; session and power changes
// reset the engine (and re-arm its hook after an unlock or a resume, or when
// raw keyboard input shows that Windows stopped calling it, which the tray
// tooltip counts); switch clicks and their tray menu items are applied as
// one and saved on a worker; the tray menu pauses and leaves applications
// alone, which the window's list shows and removes; the icon follows each
// foreground change; the startup box follows its worker's report;
// WM_DESTROY releases what the engine holds, stops it, waits (bounded) for
// the workers and posts the quit message, or ends the process when a wait
// ran out; WM_ENDSESSION at the session's end destroys the window, with
// waits that fit Windows' budget.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the settings window, restored when minimised, and brings it to the
// front: for the tray icon (whose click a second launch posts) and the tray
// menu.
void ShowSettingsWindow(HWND window);

// For the message loop, as IsDialogMessageW: true when `message` belonged to
// the settings window or one of its controls and has been handled (Tab and
// Shift+Tab move the focus, Space presses the focused control, Esc hides
// the window); false for every other message, which the caller dispatches.
// Enter reaches nothing but a focused link, which opens on it; Delete on
// the list of applications left alone removes the selected one.
bool IsSettingsDialogMessage(HWND window, MSG* message);
