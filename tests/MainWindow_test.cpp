#include "shell/MainWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <string>

TEST(StatusDisplay, MessagesGoToTheirLineAndAlwaysYield) {
    QWidget window;
    QLabel status(&window), counter(&window);
    counter.move(0, 50);
    window.resize(400, 100);
    window.show();
    QCoreApplication::processEvents();
    gMessage = &status;
    gSmallMessage = &counter;
    print_message("File: one", 1);
    print_message("(1 of 3)", 2);
    EXPECT_EQ(status.text(), "File: one");
    EXPECT_EQ(counter.text(), "(1 of 3)");
    // Cut at 255 bytes: the processing run's long-name test, through the window.

    // Another line changes nothing, but events still get through.
    bool delivered = false;
    QMetaObject::invokeMethod(
        qApp, [&]() { delivered = true; }, Qt::QueuedConnection);
    print_message("nowhere", 3);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(counter.text(), "(1 of 3)");
    // A line whose control is missing drops its message silently.
    gSmallMessage = nullptr;
    print_message("(2 of 3)", 2);
    EXPECT_EQ(counter.text(), "(1 of 3)");

    // Whether a text is drawn at once is the window benchmark's concern; a
    // missing control is refused.
    const unsigned char loud[] = "\x04loud";
    EXPECT_EQ(SetStaticTextText(nullptr, loud, true), paramErr);
    gMessage = nullptr;
}
