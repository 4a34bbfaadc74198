// The status lines of the main window: each message to its line, and the loop
// given a turn with every message.
#include "shell/MainWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <string>

TEST(StatusDisplay, MessagesGoToTheirLineAndAlwaysYield) {
    QLabel status, counter;
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
    EXPECT_EQ(status.text(), "File: one");
    EXPECT_EQ(counter.text(), "(1 of 3)");

    // Whether a text is drawn at once is the window benchmark's concern; a
    // missing control is refused.
    const unsigned char loud[] = "\x04loud";
    EXPECT_EQ(SetStaticTextText(nullptr, loud, true), paramErr);
    gMessage = gSmallMessage = nullptr;
}
