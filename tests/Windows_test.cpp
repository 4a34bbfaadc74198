// Windows and menus made from their Designer descriptions: controls found by
// ID, buttons and menu items sending commands, closing, and missing objects.
#include "platform/ui/Windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "platform/cf/CFBundle.h"
#include "platform/ui/Controls.h"
#include "testkit/TempTree.h"

namespace {

std::vector<UInt32> gCommands;

OSStatus recordCommand(EventHandlerCallRef, EventRef event, void*) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                          nullptr, &command) == noErr)
        gCommands.push_back(command.commandID);
    return noErr;
}

// The "main" description's window, shown, with every command recorded.
class MainDescription : public ::testing::Test {
protected:
    void SetUp() override {
        gCommands.clear();
        ASSERT_EQ(CreateNibReference(CFSTR("main"), &nib), noErr);
        ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MenuBar")), noErr);
        ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &window), noErr);
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

TEST_F(MainDescription, ButtonsAndMenuItemsSendTheirCommandsAndClosingTheWindowQuits) {
    ShowWindow(window);
    // Controls found by number (which show when: the processing run's tests);
    // a wrong signature finds nothing.
    ControlRef status = control(1), bar = control(5), stop = control(7);
    ASSERT_TRUE(status && bar && stop);
    const ControlID other = {FOUR_CHAR_CODE("XXXX"), 1};
    ControlRef c = status;
    EXPECT_EQ(GetControlByID(window, &other, &c), errControlNotFound);
    EXPECT_EQ(c, nullptr);

    // A button sends its command (Stop's, to the run: ProcessingRun's tests).
    QTest::mouseClick(qobject_cast<QPushButton*>(control(4)), Qt::LeftButton);
    EXPECT_EQ(gCommands, (std::vector<UInt32>{kHICommandPreferences}));

    QAction* quit = nullptr;
    for (QMenu* menu : qobject_cast<QMainWindow*>(window)->menuBar()->findChildren<QMenu*>())
        for (QAction* a : menu->actions())
            if (CommandOfObject(a) == kHICommandQuit) quit = a;
    ASSERT_NE(quit, nullptr);
    quit->trigger();  // the handler takes it, so the standard quit does not run
    // Closing the window that holds the menu bar asks to quit; the quit handling
    // decides, not the close. Another window is only hidden.
    window->close();
    EXPECT_EQ(gCommands,
              (std::vector<UInt32>{kHICommandPreferences, kHICommandQuit, kHICommandQuit}));
    EXPECT_TRUE(IsWindowVisible(window));
    WindowRef second = nullptr;
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("MainWindow"), &second), noErr);
    ShowWindow(second);
    second->close();
    EXPECT_FALSE(IsWindowVisible(second));
    EXPECT_EQ(gCommands.size(), 3u);
    delete second;
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
