#include "panel/PanelPlacement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace nimbrel;

TEST(PanelPlacement, FramesFollowThePlacementRuleAndConvertToQtCoordinates)
{
    const YUpRect laptop{0, 25, 1440, 875};
    // 1440 × 900 at twice the scale: a 720 × 450 screen with a 20-high dock; the strip takes at most 45 % of its
    // height, a column at most 45 % of its width.
    const YUpRect small{0, 20, 720, 430};
    // clang-format off
    const std::tuple<const char*, PanelMode, YUpRect, YUpRect> cases[] = {
        {"bottom strip on the visible bottom edge", PanelMode::bottom, laptop, {2, 25, 1436, 280}},
        {"left column, 720 high, centred", PanelMode::left, laptop, {16, 102.5, 360, 720}},
        {"right column", PanelMode::right, laptop, {1064, 102.5, 360, 720}},
        {"short screen: 600 − 80", PanelMode::left, {0, 0, 1024, 600}, {16, 40, 360, 520}},
        {"second screen to the right", PanelMode::right, {1920, 0, 1280, 1024}, {2824, 152, 360, 720}},
        {"small screen, strip", PanelMode::bottom, small, {2, 20, 716, 193}},
        {"small screen, left column", PanelMode::left, small, {16, 60, 324, 350}},
        {"small screen, right column", PanelMode::right, small, {380, 60, 324, 350}}};
    // clang-format on
    for (const auto& [name, mode, visible, frame] : cases)
        EXPECT_EQ(panelFrame(mode, visible), frame) << name;
    // In Qt's coordinates (y down) the laptop's 1440 × 900 screen shows 875 above its dock.
    EXPECT_EQ(fromQt(QRectF(0, 0, 1440, 875), 900), laptop);
    EXPECT_EQ(toQt(panelFrame(PanelMode::bottom, laptop), 900), QRect(2, 595, 1436, 280));
    EXPECT_EQ(fromQt(QPointF(10, 890), 900), QPointF(10, 10));
}

TEST(PanelPlacement, PreviewIsBoundedAndStaysOnScreen)
{
    const YUpRect laptop{0, 25, 1440, 875};
    // clang-format off
    const std::tuple<const char*, QSize, QPointF, std::optional<YUpRect>, YUpRect> cases[] = {
        {"large image at most 560 × 420", {4000, 3000}, {700, 300}, YUpRect{420, 318, 560, 420}, laptop},
        {"small image never enlarged", {200, 100}, {700, 300}, YUpRect{600, 318, 200, 100}, laptop},
        {"tall image", {300, 2000}, {700, 300}, YUpRect{700 - 31.5, 318, 63, 420}, laptop},
        {"no room above: below the pointer", {200, 100}, {700, 890}, YUpRect{600, 890 - 118, 200, 100}, laptop},
        {"pointer at the left edge", {200, 100}, {0, 300}, YUpRect{6, 318, 200, 100}, laptop},
        {"pointer at the right edge", {200, 100}, {1440, 300}, YUpRect{1234, 318, 200, 100}, laptop},
        {"no room above nor below: raised to the bottom margin", {400, 420}, {700, 400}, YUpRect{500, 31, 400, 420},
         {0, 25, 1440, 500}},
        {"no pixels", {0, 10}, {700, 300}, std::nullopt, laptop}};
    // clang-format on
    const auto values = [](const std::optional<YUpRect>& r) {
        return r ? std::vector<double>{r->x, r->y, r->width, r->height} : std::vector<double>{};
    };
    for (const auto& [name, pixels, pointer, frame, visible] : cases)
        EXPECT_THAT(values(previewFrame(pixels, pointer, visible)),
                    testing::Pointwise(testing::DoubleEq(), values(frame)))
            << name;
}

TEST(PanelPlacement, WindowIsOnTheScreenHoldingItsCentre)
{
    const std::vector<ScreenArea> sideBySide = {{{0, 0, 1920, 1080}}, {{1920, 0, 1280, 1024}}};
    // Qt keeps a scaled screen's top-left native and divides only its size.
    const std::vector<ScreenArea> scaledFirst = {{{0, 0, 1280, 800}, 2}, {{2560, 0, 1920, 1080}, 1}};
    const std::vector<ScreenArea> scaledSecond = {{{0, 0, 1920, 1080}, 1}, {{1920, 0, 1280, 720}, 1.5}};
    // The window is in native pixels.
    // clang-format off
    const std::tuple<const char*, std::vector<ScreenArea>, QRect, std::optional<std::size_t>> cases[] = {
        {"on the first screen", sideBySide, {200, 150, 600, 300}, 0},
        {"on the second screen", sideBySide, {2300, 300, 600, 300}, 1},
        {"across both, centre on the second", sideBySide, {1800, 100, 600, 300}, 1},
        {"across a 1× and a 1.5× screen, centre on the scaled one", scaledSecond, {1700, 100, 600, 300}, 1},
        {"across a 2× and a 1× screen, centre on the scaled one", scaledFirst, {2200, 100, 600, 300}, 0},
        {"centre below the shorter screen: the one covered most", sideBySide, {1800, 1000, 400, 100}, 0},
        {"centre beyond the scaled screen's logical size", scaledFirst, {2000, 100, 400, 300}, 0},
        {"right of a scaled screen", scaledFirst, {2600, 100, 400, 300}, 1},
        {"bottom right of a scaled second screen", scaledSecond, {3500, 900, 100, 100}, 1},
        {"on no screen", sideBySide, {4000, 100, 300, 200}, std::nullopt},
        {"no screens", {}, {0, 0, 100, 100}, std::nullopt},
        {"mirrored, covered alike: the first", {{{0, 0, 1920, 1080}}, {{0, 0, 1920, 1080}}}, {100, 100, 400, 300}, 0},
        {"overlapping screens: covered most", {{{0, 0, 1280, 720}}, {{0, 0, 1920, 1080}}}, {900, 400, 600, 400}, 1},
        {"the centre before the area", {{{0, 0, 1000, 2000}}, {{1000, 900, 1000, 100}}}, {800, 700, 500, 450}, 1}};
    // clang-format on
    for (const auto& [name, screens, window, screen] : cases)
        EXPECT_EQ(screenOfWindow(screens, window), screen) << name;
}
