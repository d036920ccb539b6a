// What every part of the settings window does with its child controls.
#pragma once

#include <windows.h>

#include "app/window_layout.h"

// The caption font of the system's metrics for `dpi`: the controls' font,
// made anew when the window moves to a monitor of another scale.
HFONT CreateCaptionFont(UINT dpi);

// A visible child control of `window` with the command id `id`, in `font`;
// placed later, once every control has been measured.
HWND CreateControl(HWND window, const wchar_t* control_class, const wchar_t* text, DWORD style, DWORD ex_style,
                   UINT id, HFONT font);

// A button's or a box's size for its text in its font (BCM_GETIDEALSIZE).
SIZE ButtonIdealSize(HWND button);

// Moves and sizes `control` to `place`, in client coordinates.
void Place(HWND control, const LayoutRect& place);
