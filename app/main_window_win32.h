// The settings window and the tray icon: the program's one top-level window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dispatch.h"
#include "res/version.h"

const wchar_t* const MAIN_WINDOW_CLASS = L"Lumbrix";
const wchar_t* const PROGRAM_TITLE = L"Lumbrix " LUMBRIX_VERSION;

// The controls' font, the tray icon's popup menu and the option boxes by
// control id; made at WM_CREATE.
extern HFONT UiFont;
extern HMENU TrayMenu;
extern HWND OptionCheckboxes[OPTION_BOX_COUNT];

// False when the settings record behind active_settings is a stand-in with no
// file: switch clicks are then applied but never written.
extern bool SettingsFileKnown;

// Window procedure of class "Lumbrix". WM_CREATE starts the engine with
// *active_settings and builds the controls and the tray icon; closing hides;
// WM_DESTROY stops the engine and posts the quit message.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One option row at x 10, `y`, exactly as wide as its label; checked when
// `state` is nonzero.
HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state, int y);
