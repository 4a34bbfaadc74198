// Ports, window bounds in global coordinates and their conversion, rectangles
// and rectangular regions.
#include "platform/ui/QuickDraw.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <vector>

#include "platform/base/MacMemory.h"

namespace {
std::vector<int> sides(const Rect& r) {
    return {r.top, r.left, r.bottom, r.right};
}
}  // namespace

TEST(Ports, TheContentOfAWindowIsAtTheOriginOfItsPortAndThePortGoesWithTheWindow) {
    auto* window = new QWidget;
    window->setGeometry(140, 90, 320, 200);
    window->show();
    Rect global;
    ASSERT_EQ(GetWindowBounds(window, kWindowContentRgn, &global), noErr);
    const QPoint o = window->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(sides(global), (std::vector<int>{o.y(), o.x(), o.y() + 200, o.x() + 320}));
    EXPECT_EQ(GetWindowBounds(window, 99, &global), paramErr);
    EXPECT_EQ(GetWindowBounds(nullptr, kWindowContentRgn, &global), errInvalidWindowRef);

    SetPortWindowPort(window);
    Point topLeft = {global.top, global.left}, bottomRight = {global.bottom, global.right};
    GlobalToLocal(&topLeft);
    GlobalToLocal(&bottomRight);
    EXPECT_EQ((std::vector<int>{topLeft.h, topLeft.v, bottomRight.h, bottomRight.v}),
              (std::vector<int>{0, 0, 320, 200}));

    // A deleted window leaves no dangling port; without a port points stay as they are.
    delete window;
    GrafPtr port = nullptr;
    GetPort(&port);
    EXPECT_EQ(port, nullptr);
    Point p = {7, 9};
    GlobalToLocal(&p);
    EXPECT_TRUE(p.v == 7 && p.h == 9);
}

TEST(Rects, InsetAndRectangularRegionsAndAnEmptyResultIsZero) {
    Rect r = {10, 20, 110, 220};
    InsetRect(&r, 2, 2);
    EXPECT_EQ(sides(r), (std::vector<int>{12, 22, 108, 218}));
    InsetRect(&r, -2, -4);
    EXPECT_EQ(sides(r), (std::vector<int>{8, 20, 112, 220}));
    Rect thin = {0, 0, 4, 100};
    InsetRect(&thin, 2, 2);
    EXPECT_EQ(sides(thin), (std::vector<int>{0, 0, 0, 0}));

    RgnHandle rgn = NewRgn();
    ASSERT_NE(rgn, nullptr);
    RectRgn(rgn, &r);
    Rect bounds;
    EXPECT_EQ(sides(*GetRegionBounds(rgn, &bounds)), sides(r));
    const Rect backwards = {30, 40, 1, 2};
    RectRgn(rgn, &backwards);
    EXPECT_EQ(sides(*GetRegionBounds(rgn, &bounds)), (std::vector<int>{0, 0, 0, 0}));
    DisposeRgn(rgn);
    SetMemoryFailureHook([](Size) { return true; });
    EXPECT_EQ(NewRgn(), nullptr);
    SetMemoryFailureHook(nullptr);
}
