#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <vector>

#include "platform/CFBundle.h"
#include "platform/Controls.h"
#include "platform/StaticText.h"
#include "testkit/TempTree.h"

namespace {

std::vector<UInt32> gCommands;
OSStatus gAnswer = noErr;

OSStatus recordCommand(EventHandlerCallRef, EventRef event, void*) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                          nullptr, &command) == noErr)
        gCommands.push_back(command.commandID);
    return gAnswer;
}

class MainDescription : public ::testing::Test {
protected:
    void SetUp() override {
        gCommands.clear();
        gAnswer = noErr;
        ASSERT_EQ(CreateNibReference(CFSTR("main"), &nib), noErr);
        const EventTypeSpec spec = {kEventClassCommand, kEventCommandProcess};
        InstallApplicationEventHandler(recordCommand, 1, &spec, nullptr, &handler);
    }
    void TearDown() override {
        RemoveEventHandler(handler);
        DisposeNibReference(nib);
        delete window;
    }
    ControlRef control(SInt32 n) {
        const ControlID id = {FOUR_CHAR_CODE("CNTL"), n};
        ControlRef c = nullptr;
        GetControlByID(window, &id, &c);
        return c;
    }
    IBNibRef nib = nullptr;
    WindowRef window = nullptr;
    EventHandlerRef handler = nullptr;
};

}  // namespace

TEST_F(MainDescription, TheMainWindowHasItsSixControlsInTheIdleState) {
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    EXPECT_FALSE(IsWindowVisible(window));
    ShowWindow(window);
    EXPECT_TRUE(IsWindowVisible(window));

    auto* status = qobject_cast<StaticText*>(control(1));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(IsControlVisible(status));
    EXPECT_EQ(status->text().toStdString(),
              "Drop one or more files, folders or volumes on the application or this window to "
              "change the extension.");
    auto* spinner = qobject_cast<QProgressBar*>(control(2));
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(IsControlVisible(spinner));
    EXPECT_EQ(spinner->maximum(), 0);  // indeterminate: it animates
    auto* edit = qobject_cast<QPushButton*>(control(4));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(IsControlVisible(edit));
    auto* bar = qobject_cast<QProgressBar*>(control(5));
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(IsControlVisible(bar));
    auto* counter = qobject_cast<StaticText*>(control(6));
    ASSERT_NE(counter, nullptr);
    EXPECT_FALSE(IsControlVisible(counter));
    auto* stop = qobject_cast<QPushButton*>(control(7));
    ASSERT_NE(stop, nullptr);
    EXPECT_FALSE(IsControlVisible(stop));
    EXPECT_FALSE(IsControlEnabled(stop));
    UInt32 command = 0;
    GetControlCommandID(stop, &command);
    EXPECT_EQ(command, kHICommandCancel);

    // Number 3 is no control of the main window; a wrong signature finds nothing.
    EXPECT_EQ(control(3), nullptr);
    const ControlID other = {FOUR_CHAR_CODE("XXXX"), 1};
    ControlRef c = status;
    EXPECT_EQ(GetControlByID(window, &other, &c), errControlNotFound);
    EXPECT_EQ(c, nullptr);

    // Showing and hiding controls leaves the others where they are.
    const QRect before = status->geometry();
    ShowControl(bar);
    ShowControl(stop);
    QCoreApplication::processEvents();
    EXPECT_EQ(status->geometry(), before);
}

namespace {
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};
}  // namespace

TEST_F(MainDescription, TheBusyIndicatorAnimatesWhileTheLoopYields) {
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    ShowWindow(window);
    ControlRef spinner = control(2);
    ShowControl(spinner);
    PaintCounter counter;
    spinner->installEventFilter(&counter);
    // Only the yields of a busy run: nothing else repaints the window here.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 400) {
        WaitNextEvent(0, nullptr, 0, nullptr);
        QThread::msleep(2);
    }
    EXPECT_GE(counter.paints, 4);
}

TEST_F(MainDescription, ButtonsSendTheirCommandsThroughTheWindowToTheApplication) {
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    ShowWindow(window);
    ControlRef stop = control(7);
    ShowControl(stop);
    EnableControl(stop);
    QTest::mouseClick(qobject_cast<QPushButton*>(stop), Qt::LeftButton);
    QTest::mouseClick(qobject_cast<QPushButton*>(control(4)), Qt::LeftButton);
    EXPECT_EQ(gCommands, (std::vector<UInt32>{kHICommandCancel, kHICommandPreferences}));
    // A disabled button sends nothing.
    DisableControl(stop);
    QTest::mouseClick(qobject_cast<QPushButton*>(stop), Qt::LeftButton);
    EXPECT_EQ(gCommands.size(), 2u);
}

TEST_F(MainDescription, TheMenuBarCarriesPreferencesAndQuit) {
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MenuBar")), noErr);
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    auto* main = qobject_cast<QMainWindow*>(window);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->menuBar(), GetMenuBarWidget());

    EXPECT_FALSE(IsMenuCommandEnabled(nullptr, kHICommandPreferences));
    EnableMenuCommand(nullptr, kHICommandPreferences);
    EXPECT_TRUE(IsMenuCommandEnabled(nullptr, kHICommandPreferences));
    EXPECT_TRUE(IsMenuCommandEnabled(nullptr, kHICommandQuit));

    // The items, as the user sees them in the menus of the window's menu bar.
    QAction* quit = nullptr;
    for (QMenu* menu : GetMenuBarWidget()->findChildren<QMenu*>())
        for (QAction* a : menu->actions())
            if (CommandOfObject(a) == kHICommandQuit) quit = a;
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence("Ctrl+Q"));
    quit->trigger();  // the handler takes it, so the standard quit does not run
    EXPECT_EQ(gCommands, (std::vector<UInt32>{kHICommandQuit}));
}

TEST_F(MainDescription, ClosingTheWindowThatHoldsTheMenuBarQuits) {
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MenuBar")), noErr);
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    ShowWindow(window);
    window->close();
    EXPECT_EQ(gCommands, (std::vector<UInt32>{kHICommandQuit}));
    EXPECT_TRUE(IsWindowVisible(window));  // the quit handling decides, not the close

    // Another window is only hidden.
    WindowRef second = nullptr;
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &second), noErr);
    ShowWindow(second);
    second->close();
    EXPECT_FALSE(IsWindowVisible(second));
    EXPECT_EQ(gCommands.size(), 1u);
    delete second;
}

TEST_F(MainDescription, TheFadeHidesTheWindowAndRestoresItsOpacity) {
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
    ShowWindow(window);
    ASSERT_EQ(
        TransitionWindow(window, kWindowFadeTransitionEffect, kWindowHideTransitionAction, nullptr),
        noErr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);
}

TEST(Windows, MissingDescriptionsAndObjectsAreReported) {
    IBNibRef nib = nullptr;
    EXPECT_EQ(CreateNibReference(CFSTR("nothing"), &nib), kIBCarbonRuntimeCantFindNibFile);
    EXPECT_EQ(nib, nullptr);
    EXPECT_EQ(CreateNibReference(CFSTR("../main"), &nib), kIBCarbonRuntimeCantFindNibFile);
    ASSERT_EQ(CreateNibReference(CFSTR("main"), &nib), noErr);
    WindowRef window = nullptr;
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("NoSuchWindow"), &window),
              kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(window, nullptr);
    DisposeNibReference(nib);

    // A description whose file is not a Designer file.
    testsupport::TempTree tree;
    tree.write("main/MainWindow.ui", "not xml at all");
    SetMainBundleResourcesDirectory(tree.root());
    ASSERT_EQ(CreateNibReference(CFSTR("main"), &nib), noErr);
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window),
              kIBCarbonRuntimeObjectNotOfRequestedType);
    EXPECT_EQ(SetMenuBarFromNib(nib, CFSTR("MainWindow")),
              kIBCarbonRuntimeObjectNotOfRequestedType);
    DisposeNibReference(nib);
    SetMainBundleResourcesDirectory("");
}
