// The settings window and the tray icon: the program's one top-level window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dispatch.h"

const wchar_t* const MAIN_WINDOW_CLASS = L"Lumbrix";
const wchar_t* const PROGRAM_TITLE = L"Lumbrix 0.2";

// The controls' font, the tray icon's popup menu and the option boxes by
// control id; made at WM_CREATE.
extern HFONT UiFont;
extern HMENU TrayMenu;
extern HWND OptionCheckboxes[OPTION_BOX_COUNT];

// False when the settings record behind active_settings is a stand-in with no
// file: switch clicks are then applied but never written.
extern bool SettingsFileKnown;

// Window procedure of class "Lumbrix". WM_CREATE builds the controls and the
// tray icon, then starts the engine with *active_settings; closing hides;
// session and power changes reset the engine (and re-arm its hook after an
// unlock or a resume); WM_DESTROY releases what the engine holds, stops it
// and posts the quit message.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One option row at x 10, `y`, exactly as wide as its label; checked when
// `state` is nonzero.
HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state, int y);
