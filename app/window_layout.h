// Where the settings window's controls go at a display scale: arithmetic on
// the controls' ideal sizes, free of the platform.
#pragma once

#include <cstdint>

#include "app/dispatch.h"

struct LayoutSize {
    int width;
    int height;
};

struct LayoutRect {
    int x;
    int y;
    int width;
    int height;
};

// The option boxes' control ids from the top row to the bottom one.
const uint32_t OPTION_ROWS[OPTION_BOX_COUNT] = {IDC_CAPSLOCK_TO_CTRL, IDC_SEND_LANG, IDC_USE_DVORAK,
                                                IDC_SWAP_ALT_CTRL, IDC_STARTUP};

// What the controls report for their texts in the font of the window's DPI.
struct IdealSizes {
    LayoutSize boxes[OPTION_BOX_COUNT]; // by row, top to bottom
    int exit_height;
    LayoutSize notice;
    LayoutSize exclude_label;
    int remove_height;
};

struct WindowLayout {
    LayoutSize client; // the client area given, grown where the controls need more
    LayoutRect boxes[OPTION_BOX_COUNT]; // by row, top to bottom
    LayoutRect exit;
    LayoutRect notice;
    LayoutRect exclude_label;
    LayoutRect exclude_list;
    LayoutRect remove;
};

// `value` pixels at 96 DPI in pixels at `dpi`, rounded to the nearest as
// MulDiv(value, dpi, 96) rounds; for values and DPIs of zero or more.
int ScaleForDpi(int value, int dpi);

// The widest the notice may be measured for at `dpi` in a client area
// `client_width` wide: the boxes' margin stays free on either side, so that
// a notice long enough to wrap keeps off the window's edges.
int NoticeMaxWidth(int dpi, int client_width);

// The window's layout at 96 DPI with every number scaled to `dpi`: boxes at
// x 10 and rows 10, 35, 60, 85 and 110, as wide and high as their labels;
// the applications' label at 140, their list 2 below it, 60 high, from
// x 10 to 10 left of the Remove button, which is 100 wide, its right edge 10
// inside the client area; the Exit button at 230 below it; the notice
// centred, 20 above the bottom edge. A control taller than its row
// pushes the ones below it down; the client area grows until every control
// lies inside it and none overlaps another. The notice is measured for at
// most NoticeMaxWidth. Given today's ideal sizes at 96 DPI nothing
// moves and nothing grows.
WindowLayout LayOutWindow(int dpi, LayoutSize client, const IdealSizes& ideal);
