// The Preferences window: one window, controls filled from the store, the
// close box only closing it, and its Cancel during a run. Every change stored
// at once as a number and a boolean, OK and Escape only closing, and the
// defaults of an empty store are worked from the keyboard in
// tests/e2e/preferences_keyboard.sh.
#include "settings/PreferencesWindow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <string>

#include "platform/cf/Preferences.h"
#include "platform/events/DocumentRequests.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "processing/ProcessingRun.h"
#include "processing/RunRequests.h"
#include "settings/Settings.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "testkit/AlertAnswer.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;

namespace {

const char* const kDropHint = "Drop a file on the application or this window to process it.";

std::string statusLine() {
    char buffer[256];
    Size size = 0;
    GetControlData(gMessage, 0, kControlStaticTextTextTag, sizeof buffer, buffer, &size);
    return std::string(buffer, size_t(std::min<Size>(size, sizeof buffer)));
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
    TempTree tree;
};

}  // namespace

TEST_F(PreferencesWindow, TheCommandTwiceGivesOneWindowRefreshedFromTheStoreAndTheDropHint) {
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
}

TEST_F(PreferencesWindow, TheCloseBoxClosesLikeCancel) {
    store(2, true);
    HandlePreferencesCommand();
    const QPointer<QWidget> window = gPreferencesWindow;
    window->close();
    EXPECT_EQ(gPreferencesWindow, nullptr);
    EXPECT_EQ(FunctionType(), 2);
    EXPECT_TRUE(IsWindowVisible(gWindow)) << "closing Preferences does not quit";
    disposeClosedWindows();
    EXPECT_TRUE(window.isNull());
    HandlePreferencesCommand();
    EXPECT_NE(gPreferencesWindow, nullptr);
}

TEST_F(PreferencesWindow, CancelDuringARunClosesTheWindowAndTheRunGoesOn) {
    store(2, false);  // delete the data fork, stay afterwards
    for (int i = 0; i < 40; ++i) tree.write("folder/file" + std::to_string(i), "data");
    bool cancelled = false, stoppedByIt = false;
    QTimer during;
    during.setInterval(0);
    QObject::connect(&during, &QTimer::timeout, [&]() {
        if (cancelled || !ProcessingRunActive() || !IsControlVisible(gSpin)) return;
        // The menu's Preferences, then the window's Cancel, in the midst of the run.
        HICommand pref{};
        pref.commandID = kHICommandPreferences;
        ProcessHICommandFromWindow(pref, gWindow);
        if (!gPreferencesWindow) return;
        click("cancelButton");
        cancelled = true;
        stoppedByIt = gRunRequests.stop;
    });
    during.start();
    AlertAnswer answer(Qt::Key_Return);
    ASSERT_EQ(SendOpenDocumentsToSelf({tree.path("folder")}), noErr);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000 &&
           (answer.alertsShown() == 0 || ProcessingRunActive() || WaitingDropCount() > 0))
        WaitNextEvent(0, nullptr, 1, nullptr);
    during.stop();
    ASSERT_TRUE(cancelled) << "the run never yielded with the window open";
    EXPECT_FALSE(stoppedByIt);
    EXPECT_EQ(gPreferencesWindow, nullptr);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(testsupport::readText(tree.path("folder/file" + std::to_string(i))), "") << i;
}
