// Ports, window bounds in global coordinates and their conversion, rectangles
// and rectangular regions.
#include "platform/QuickDraw.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "platform/MacMemory.h"

namespace {

bool sameRect(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

}  // namespace

TEST(Ports, TheContentOfAWindowIsAtTheOriginOfItsPort) {
    QWidget window;
    window.setGeometry(140, 90, 320, 200);
    window.show();
    Rect global;
    ASSERT_EQ(GetWindowBounds(&window, kWindowContentRgn, &global), noErr);
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    EXPECT_TRUE(sameRect(global, Rect{SInt16(origin.y()), SInt16(origin.x()),
                                      SInt16(origin.y() + 200), SInt16(origin.x() + 320)}));
    EXPECT_EQ(GetWindowBounds(&window, 99, &global), paramErr);
    EXPECT_EQ(GetWindowBounds(nullptr, kWindowContentRgn, &global), errInvalidWindowRef);

    GrafPtr saved = nullptr;
    GetPort(&saved);
    SetPort(GetWindowPort(&window));
    Point topLeft = {global.top, global.left};
    Point bottomRight = {global.bottom, global.right};
    GlobalToLocal(&topLeft);
    GlobalToLocal(&bottomRight);
    EXPECT_EQ(topLeft.h, 0);
    EXPECT_EQ(topLeft.v, 0);
    EXPECT_EQ(bottomRight.h, 320);
    EXPECT_EQ(bottomRight.v, 200);
    LocalToGlobal(&topLeft);
    EXPECT_EQ(topLeft.h, global.left);
    EXPECT_EQ(topLeft.v, global.top);
    SetPort(saved);
    GrafPtr now = nullptr;
    GetPort(&now);
    EXPECT_EQ(now, saved);
}

TEST(Ports, APortGoesWithItsWindow) {
    auto* window = new QWidget;
    EXPECT_EQ(GetWindowPort(window), GetWindowPort(window));
    EXPECT_EQ(GetWindowFromPort(GetWindowPort(window)), window);
    SetPortWindowPort(window);
    GrafPtr port = nullptr;
    GetPort(&port);
    ASSERT_EQ(port, GetWindowPort(window));
    delete window;
    GetPort(&port);
    EXPECT_EQ(port, nullptr);
    // Without a port, points stay as they are.
    Point p = {7, 9};
    GlobalToLocal(&p);
    EXPECT_EQ(p.v, 7);
    EXPECT_EQ(p.h, 9);
    EXPECT_EQ(GetWindowPort(nullptr), nullptr);
}

TEST(Rects, InsetMovesEverySideAndAnEmptyResultIsZero) {
    Rect r = {10, 20, 110, 220};
    InsetRect(&r, 2, 2);
    EXPECT_TRUE(sameRect(r, Rect{12, 22, 108, 218}));
    InsetRect(&r, -2, -4);
    EXPECT_TRUE(sameRect(r, Rect{8, 20, 112, 220}));
    EXPECT_FALSE(EmptyRect(&r));
    Rect thin = {0, 0, 4, 100};
    InsetRect(&thin, 2, 2);
    EXPECT_TRUE(sameRect(thin, Rect{0, 0, 0, 0}));
    EXPECT_TRUE(EmptyRect(&thin));
}

TEST(Regions, ARectangularRegionHoldsItsBounds) {
    RgnHandle rgn = NewRgn();
    ASSERT_NE(rgn, nullptr);
    EXPECT_TRUE(EmptyRgn(rgn));
    const Rect r = {1, 2, 30, 40};
    RectRgn(rgn, &r);
    Rect bounds;
    EXPECT_TRUE(sameRect(*GetRegionBounds(rgn, &bounds), r));
    EXPECT_FALSE(EmptyRgn(rgn));
    const Rect backwards = {30, 40, 1, 2};
    RectRgn(rgn, &backwards);
    EXPECT_TRUE(EmptyRgn(rgn));
    DisposeRgn(rgn);

    SetMemoryFailureHook([](Size) { return true; });
    EXPECT_EQ(NewRgn(), nullptr);
    SetMemoryFailureHook(nullptr);
}
