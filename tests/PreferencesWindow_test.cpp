// The Preferences window: one window, controls filled from the store, Cancel
// and the close box only closing it. Every change stored at once as a number
// and a boolean, OK and Escape only closing, and the defaults of an empty
// store are worked from the keyboard in tests/e2e/preferences_keyboard.sh.
#include "settings/PreferencesWindow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <string>

#include "platform/cf/Preferences.h"
#include "platform/ui/Controls.h"
#include "platform/ui/StaticText.h"
#include "platform/ui/Windows.h"
#include "processing/RunRequests.h"
#include "settings/Settings.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {

const char* const kDropHint = "Drop a file on the application or this window to process it.";

std::string statusLine() {
    return static_cast<StaticText*>(gMessage)->text().toStdString();
}

void store(int function, bool quit) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &function);
    CFPreferencesSetAppValue(kFunctionTypeKey, number, kCFPreferencesCurrentApplication);
    CFRelease(number);
    CFPreferencesSetAppValue(kQuitWhenDoneKey, quit ? kCFBooleanTrue : kCFBooleanFalse,
                             kCFPreferencesCurrentApplication);
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
}

void disposeClosedWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class PreferencesWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static TempTree config;
        setenv("XDG_CONFIG_HOME", config.root().c_str(), 1);
        ASSERT_EQ(StartApplication(), noErr);
    }
    void SetUp() override {
        // An empty store.
        unlink(PreferencesFilePath().toUtf8().constData());
        CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
        gRunRequests.stop = false;
    }
    void TearDown() override {
        if (gPreferencesWindow) click("cancelButton");
        disposeClosedWindows();
    }
    static void click(const char* name) {
        ASSERT_NE(gPreferencesWindow, nullptr);
        auto* button = gPreferencesWindow->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

}  // namespace

TEST_F(PreferencesWindow, OneWindowRefreshedFromTheStoreThatCancelAndTheCloseBoxOnlyClose) {
    store(2, true);
    print_message("something else", 1);
    HandlePreferencesCommand();
    EXPECT_EQ(statusLine(), kDropHint);
    const QPointer<QWidget> first = gPreferencesWindow;
    EXPECT_EQ(GetControlValue(gFunctionPopupButton), 2);
    EXPECT_EQ(GetControlValue(gQuitWhenDoneCheckbox), 1);

    // Changed from outside, and the controls moved without a command.
    store(3, false);
    SetControlValue(gFunctionPopupButton, 1);
    SetControlValue(gQuitWhenDoneCheckbox, 1);
    HideWindow(gPreferencesWindow);
    print_message("something else", 1);
    HandlePreferencesCommand();
    EXPECT_EQ(statusLine(), kDropHint) << "also when the window is already open";
    EXPECT_EQ(gPreferencesWindow, first.data()) << "the one window, shown again";
    EXPECT_TRUE(IsWindowVisible(gPreferencesWindow));
    EXPECT_EQ(GetControlValue(gFunctionPopupButton), 3);
    EXPECT_EQ(GetControlValue(gQuitWhenDoneCheckbox), 0);

    // Cancel and the close box only close the window.
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox);
        HandlePreferencesCommand();
        const QPointer<QWidget> window = gPreferencesWindow;
        if (closeBox)
            window->close();
        else
            click("cancelButton");
        EXPECT_EQ(gPreferencesWindow, nullptr);
        // Cancel is also the run's Stop command: the window keeps it, so a run
        // going on behind it goes on.
        EXPECT_FALSE(gRunRequests.stop);
        EXPECT_EQ(FunctionType(), 3);
        EXPECT_TRUE(IsWindowVisible(gWindow)) << "closing Preferences does not quit";
        disposeClosedWindows();
        EXPECT_TRUE(window.isNull()) << "and a new one is made the next time";
    }
}
