// The settings window's controls: made in their Tab order, measured in
// their font and placed for the window's DPI.
#pragma once

#include <windows.h>

#include <cstdint>

// At the window's creation, in `font`: the option boxes from
// *active_settings (the startup box ticked only while the shortcut starts
// this copy, and clear and disabled in the temporary folder, where a
// shortcut would point at a copy that goes with the folder), the list of
// the applications left alone, Exit, and the notice line.
void CreateWindowControls(HWND window, HFONT font);

// Measures every control in its font and places it for `dpi`; the window
// grows where the controls need more room than its client area has.
void LayOutControls(HWND window, UINT dpi);

// Made at its size for 96 DPI, the window takes the size for its own DPI,
// and its controls their places.
void ScaleToDpi(HWND window);

// Every control takes `font` (a new DPI).
void SetControlsFont(HWND window, HFONT font);

// Option box `id` (below OPTION_BOX_COUNT), and the notice line.
HWND OptionBox(uint32_t id);
HWND NoticeControl();
