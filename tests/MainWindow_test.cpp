// The status lines of the main window: each message to its line, the loop
// given a turn with every message, and what a screen reader is told of the
// lines and the bars.
#include "shell/MainWindow.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QWidget>
#include <string>
#include <tuple>

#include "shell/Startup.h"
#include "testkit/TempTree.h"

TEST(StatusDisplay, MessagesGoToTheirLineAndScreenReadersReadTheLinesAndTheBars) {
    testsupport::TempTree config;
    setenv("XDG_CONFIG_HOME", config.root().c_str(), 1);
    ASSERT_EQ(StartApplication(), noErr);
    print_message("File: one", 1);
    print_message("(1 of 3)", 2);
    // Another line changes nothing, but events still get through. Cut at 255
    // bytes: the processing run's long-name test, through the window.
    bool delivered = false;
    QMetaObject::invokeMethod(
        qApp, [&]() { delivered = true; }, Qt::QueuedConnection);
    print_message("nowhere", 3);
    EXPECT_TRUE(delivered);

    // A line is a static text named by the text it shows; the bars by their names.
    const std::tuple<ControlRef, QString, QAccessible::Role> named[] = {
        {gMessage, "File: one", QAccessible::StaticText},
        {gSmallMessage, "(1 of 3)", QAccessible::StaticText},
        {gSpin, "Busy", QAccessible::ProgressBar},
        {gProgress, "Progress through the folder", QAccessible::ProgressBar}};
    for (const auto& [control, name, role] : named) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr) << name.toStdString();
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
        EXPECT_EQ(accessible->role(), role) << name.toStdString();
    }
    // Whether a text is drawn at once is the window benchmark's concern; a
    // missing control is refused.
    const unsigned char loud[] = "\x04loud";
    EXPECT_EQ(SetStaticTextText(nullptr, loud, true), paramErr);
}
