#include <gtest/gtest.h>

#include <vector>

#include "app/window_layout.h"

namespace {

// Wine's ideal sizes in the caption font at 96 DPI, and its client area.
const IdealSizes AT_96 = {{{229, 19}, {418, 19}, {121, 19}, {189, 19}, {138, 19}}, 19, {270, 17}};
const LayoutSize CLIENT_96 = {434, 214};
const int ROWS_96[] = {10, 35, 60, 85, 110};

std::vector<int> Numbers(const LayoutRect& r)
{
    return {r.x, r.y, r.width, r.height};
}

LayoutSize Grown(LayoutSize size, int dpi, int height_percent)
{
    return {ScaleForDpi(size.width, dpi), ScaleForDpi(size.height, dpi) * height_percent / 100};
}

} // namespace

TEST(LayOutWindow, TodaysWindowAt96)
{
    const WindowLayout layout = LayOutWindow(96, CLIENT_96, AT_96);
    for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
        EXPECT_EQ(Numbers(layout.boxes[row]), (std::vector<int>{10, ROWS_96[row], AT_96.boxes[row].width, 19}));
    }
    EXPECT_EQ(Numbers(layout.exit), (std::vector<int>{434 - 110, 145, 100, 19}));
    EXPECT_EQ(Numbers(layout.notice), (std::vector<int>{(434 - 270) / 2, 214 - 20, 270, 17}));
    EXPECT_EQ(std::vector<int>({layout.client.width, layout.client.height}), (std::vector<int>{434, 214}));
}

TEST(LayOutWindow, EveryScaleInsideTheClientAreaWithoutOverlaps)
{
    for (int dpi : {96, 120, 144, 192}) {
        // Ideal heights that grow with the DPI, then half as fast again.
        for (int height_percent : {100, 150}) {
            SCOPED_TRACE(testing::Message() << dpi << " DPI, heights at " << height_percent << " %");
            IdealSizes ideal = {{}, ScaleForDpi(AT_96.exit_height, dpi) * height_percent / 100,
                                Grown(AT_96.notice, dpi, height_percent)};
            for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
                ideal.boxes[row] = Grown(AT_96.boxes[row], dpi, height_percent);
            }
            const LayoutSize client = {ScaleForDpi(CLIENT_96.width, dpi), ScaleForDpi(CLIENT_96.height, dpi)};
            const WindowLayout layout = LayOutWindow(dpi, client, ideal);
            std::vector<LayoutRect> all(layout.boxes, layout.boxes + OPTION_BOX_COUNT);
            all.push_back(layout.exit);
            all.push_back(layout.notice);
            for (size_t i = 0; i < all.size(); ++i) {
                const LayoutRect& a = all[i];
                EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= layout.client.width &&
                            a.y + a.height <= layout.client.height) << "control " << i << " leaves the client area";
                for (size_t j = 0; j < i; ++j) {
                    const LayoutRect& b = all[j];
                    EXPECT_TRUE(a.x >= b.x + b.width || b.x >= a.x + a.width || a.y >= b.y + b.height ||
                                b.y >= a.y + a.height) << "controls " << j << " and " << i << " overlap";
                }
            }
            if (height_percent == 100) {
                // Every number is the one at 96 DPI, scaled; nothing grows.
                for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
                    EXPECT_EQ(Numbers(layout.boxes[row]), Numbers({ScaleForDpi(10, dpi), ScaleForDpi(ROWS_96[row], dpi),
                                                                  ideal.boxes[row].width, ideal.boxes[row].height}));
                }
                EXPECT_EQ(Numbers(layout.exit), Numbers({client.width - ScaleForDpi(110, dpi),
                                                        ScaleForDpi(145, dpi), ScaleForDpi(100, dpi),
                                                        ideal.exit_height}));
                EXPECT_EQ(layout.notice.y, client.height - ScaleForDpi(20, dpi));
                EXPECT_EQ(std::vector<int>({layout.client.width, layout.client.height}),
                          std::vector<int>({client.width, client.height}));
            }
        }
    }
    EXPECT_EQ(std::vector<int>({ScaleForDpi(35, 144), ScaleForDpi(10, 120), ScaleForDpi(25, 120)}),
              (std::vector<int>{53, 13, 31})) << "halves round up, as MulDiv rounds";
}
