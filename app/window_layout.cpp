#include "app/window_layout.h"

#include <algorithm>

namespace {

// The window's numbers at 96 DPI.
const int BOX_X = 10;
const int ROW_Y[OPTION_BOX_COUNT] = {10, 35, 60, 85, 110};
const int LABEL_Y = 140;
const int LIST_GAP = 2;
const int LIST_HEIGHT = 60;
const int EXIT_Y = 230;
const int EXIT_WIDTH = 100;
const int EXIT_FROM_RIGHT = 110;
const int NOTICE_FROM_BOTTOM = 20;
// Left between a control pushed down and the one above it; small enough that
// rows of today's height keep their places.
const int PUSHED_GAP = 4;

} // namespace

int ScaleForDpi(int value, int dpi)
{
    return static_cast<int>((static_cast<long long>(value) * dpi + 48) / 96);
}

int NoticeMaxWidth(int dpi, int client_width)
{
    return client_width - 2 * ScaleForDpi(BOX_X, dpi);
}

WindowLayout LayOutWindow(int dpi, LayoutSize client, const IdealSizes& ideal)
{
    WindowLayout layout;
    const int gap = ScaleForDpi(PUSHED_GAP, dpi);
    int width = client.width;
    int free_from = 0; // where the next control may start without overlapping
    for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
        const LayoutSize box = ideal.boxes[row];
        layout.boxes[row] = {ScaleForDpi(BOX_X, dpi), std::max(ScaleForDpi(ROW_Y[row], dpi), free_from), box.width,
                             box.height};
        free_from = layout.boxes[row].y + box.height + gap;
        width = std::max(width, layout.boxes[row].x + box.width);
    }
    layout.exclude_label = {ScaleForDpi(BOX_X, dpi), std::max(ScaleForDpi(LABEL_Y, dpi), free_from),
                            ideal.exclude_label.width, ideal.exclude_label.height};
    width = std::max(width, layout.exclude_label.x + ideal.exclude_label.width);
    const int button_x = width - ScaleForDpi(EXIT_FROM_RIGHT, dpi);
    free_from = layout.exclude_label.y + ideal.exclude_label.height + ScaleForDpi(LIST_GAP, dpi);
    layout.exclude_list = {ScaleForDpi(BOX_X, dpi), free_from, button_x - 2 * ScaleForDpi(BOX_X, dpi),
                           ScaleForDpi(LIST_HEIGHT, dpi)};
    layout.remove = {button_x, free_from, ScaleForDpi(EXIT_WIDTH, dpi), ideal.remove_height};
    free_from += std::max(layout.exclude_list.height, ideal.remove_height) + gap;
    layout.exit = {button_x, std::max(ScaleForDpi(EXIT_Y, dpi), free_from), ScaleForDpi(EXIT_WIDTH, dpi),
                   ideal.exit_height};
    free_from = layout.exit.y + ideal.exit_height + gap;
    // A notice taller than its margin sits on the bottom edge.
    const int notice_room = std::max(ScaleForDpi(NOTICE_FROM_BOTTOM, dpi), ideal.notice.height);
    const int height = std::max(client.height, free_from + notice_room);
    layout.notice = {(width - ideal.notice.width) / 2, height - notice_room, ideal.notice.width,
                     ideal.notice.height};
    layout.client = {width, height};
    return layout;
}
