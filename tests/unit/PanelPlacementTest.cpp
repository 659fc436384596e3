#include "panel/PanelPlacement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace nimbrel;

TEST(PanelPlacement, FramesFollowThePlacementRule)
{
    struct Case {
        const char* name;
        PanelMode mode;
        YUpRect visible;
        YUpRect frame;
    };
    const YUpRect laptop{0, 25, 1440, 875};
    // 1440 × 900 at twice the scale: a 720 × 450 screen with a 20-high dock.
    const YUpRect smallLogical{0, 20, 720, 430};
    const Case cases[] = {
        {"bottom strip on the visible bottom edge", PanelMode::bottom, laptop, {2, 25, 1436, 280}},
        {"left column, 720 high, centred", PanelMode::left, laptop, {16, 102.5, 360, 720}},
        {"right column", PanelMode::right, laptop, {1064, 102.5, 360, 720}},
        {"short screen: 600 − 80", PanelMode::left, {0, 0, 1024, 600}, {16, 40, 360, 520}},
        {"second screen to the right", PanelMode::right, {1920, 0, 1280, 1024}, {2824, 152, 360, 720}},
        {"small logical screen: the strip takes at most 45 % of its height",
         PanelMode::bottom,
         smallLogical,
         {2, 20, 716, 193}},
        {"small logical screen: the column takes at most 45 % of its width",
         PanelMode::left,
         smallLogical,
         {16, 60, 324, 350}},
        {"small logical screen, right column", PanelMode::right, smallLogical, {380, 60, 324, 350}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(panelFrame(c.mode, c.visible), c.frame);
    }
}

TEST(PanelPlacement, PreviewIsBoundedAndStaysOnScreen)
{
    struct Case {
        const char* name;
        QSize pixels;
        QPointF pointer;
        std::optional<YUpRect> frame;
        YUpRect visible = {0, 25, 1440, 875};
    };
    const Case cases[] = {
        {"large image at most 560 × 420", {4000, 3000}, {700, 300}, YUpRect{420, 318, 560, 420}},
        {"small image never enlarged", {200, 100}, {700, 300}, YUpRect{600, 318, 200, 100}},
        {"tall image", {300, 2000}, {700, 300}, YUpRect{700 - 31.5, 318, 63, 420}},
        {"no room above: below the pointer", {200, 100}, {700, 890}, YUpRect{600, 890 - 118, 200, 100}},
        {"pointer at the left edge", {200, 100}, {0, 300}, YUpRect{6, 318, 200, 100}},
        {"pointer at the right edge", {200, 100}, {1440, 300}, YUpRect{1234, 318, 200, 100}},
        {"no room above nor below: raised to the bottom margin",
         {400, 420},
         {700, 400},
         YUpRect{500, 31, 400, 420},
         {0, 25, 1440, 500}},
        {"no pixels", {0, 10}, {700, 300}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frame = previewFrame(c.pixels, c.pointer, c.visible);
        const auto values = [](const std::optional<YUpRect>& r) {
            return r ? std::vector<double>{r->x, r->y, r->width, r->height} : std::vector<double>{};
        };
        EXPECT_THAT(values(frame), testing::Pointwise(testing::DoubleEq(), values(c.frame)));
    }
}

TEST(PanelPlacement, ConvertsToQtCoordinatesOnce)
{
    // A 1440 × 900 screen with a 25-high dock at the bottom: the visible frame in Qt is (0, 0, 1440, 875).
    const YUpRect visible = fromQt(QRectF(0, 0, 1440, 875), 900);
    EXPECT_EQ(visible, (YUpRect{0, 25, 1440, 875}));
    EXPECT_EQ(toQt(panelFrame(PanelMode::bottom, visible), 900), QRect(2, 595, 1436, 280));
    EXPECT_EQ(fromQt(QPointF(10, 890), 900), QPointF(10, 10));
}

TEST(PanelPlacement, WindowIsOnTheScreenHoldingItsCentre)
{
    struct Case {
        const char* name;
        std::vector<ScreenArea> screens;
        QRect window;  // native pixels
        std::optional<std::size_t> screen;
    };
    const std::vector<ScreenArea> sideBySide = {{{0, 0, 1920, 1080}}, {{1920, 0, 1280, 1024}}};
    // Qt keeps a scaled screen's top-left native and divides only its size.
    const std::vector<ScreenArea> scaledFirst = {{{0, 0, 1280, 800}, 2}, {{2560, 0, 1920, 1080}, 1}};
    const std::vector<ScreenArea> scaledSecond = {{{0, 0, 1920, 1080}, 1}, {{1920, 0, 1280, 720}, 1.5}};
    const Case cases[] = {
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
        {"mirrored screens, covered alike: the first",
         {{{0, 0, 1920, 1080}}, {{0, 0, 1920, 1080}}},
         {100, 100, 400, 300},
         0},
        {"overlapping screens: the one covered most",
         {{{0, 0, 1280, 720}}, {{0, 0, 1920, 1080}}},
         {900, 400, 600, 400},
         1},
        {"the centre counts before the area covered",
         {{{0, 0, 1000, 2000}}, {{1000, 900, 1000, 100}}},
         {800, 700, 500, 450},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(screenOfWindow(c.screens, c.window), c.screen);
    }
}
