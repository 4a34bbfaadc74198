#include "shell/MainWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <string>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

}  // namespace

TEST(StatusDisplay, MessagesGoToTheirLineAlwaysYieldAndDrawWhenAsked) {
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

    PaintCounter paints;
    status.installEventFilter(&paints);
    ASSERT_EQ(
        SetStaticTextText(&status, reinterpret_cast<const unsigned char*>("\x05quiet"), false),
        noErr);
    EXPECT_EQ(status.text(), "quiet");
    EXPECT_EQ(paints.paints, 0);
    const unsigned char loud[] = "\x04loud";
    ASSERT_EQ(SetStaticTextText(&status, loud, true), noErr);
    EXPECT_GE(paints.paints, 1);  // before any event is processed
    EXPECT_EQ(SetStaticTextText(nullptr, loud, true), paramErr);
    status.removeEventFilter(&paints);
    gMessage = nullptr;
}
