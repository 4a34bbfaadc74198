// Ports, window bounds in global coordinates and their conversion, rectangles
// and rectangular regions. Their everyday use, the drop hilite 2 pixels inside
// the main window's content, is checked to the pixel by
// DropTarget.FilesFoldersAndVolumesGoInOneEventOfAliasesInTheDragsOrder; here
// the edges and failures.
#include "platform/ui/QuickDraw.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "platform/base/MacMemory.h"

TEST(Ports, BadRegionsAndWindowsAreRefusedAndThePortGoesWithTheWindow) {
    auto* window = new QWidget;
    window->show();
    Rect global;
    EXPECT_EQ(GetWindowBounds(window, 99, &global), paramErr);
    EXPECT_EQ(GetWindowBounds(nullptr, kWindowContentRgn, &global), errInvalidWindowRef);

    // A deleted window leaves no dangling port; without a port points stay as they are.
    SetPortWindowPort(window);
    delete window;
    GrafPtr port = nullptr;
    GetPort(&port);
    EXPECT_EQ(port, nullptr);
    Point p = {7, 9};
    GlobalToLocal(&p);
    EXPECT_TRUE(p.v == 7 && p.h == 9);
}

// A region with no area (a backwards rectangle) is checked no further: the
// hilite's region always comes from an inset rectangle.
TEST(Rects, AnInsetPastTheMiddleIsEmptyAndARegionNeedsMemory) {
    Rect thin = {0, 0, 4, 100};
    InsetRect(&thin, 2, 2);
    EXPECT_TRUE(thin.top == 0 && thin.left == 0 && thin.bottom == 0 && thin.right == 0);
    SetMemoryFailureHook([](Size) { return true; });
    EXPECT_EQ(NewRgn(), nullptr);
    SetMemoryFailureHook(nullptr);
}
