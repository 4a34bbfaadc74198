#include "shell/CommandHandler.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "shell/MainWindow.h"

namespace {

OSStatus send(UInt32 id) {
    EventRef event = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
    HICommand command{};
    command.commandID = id;
    SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    OSStatus status = ApplicationCommandHandler(nullptr, event, nullptr);
    ReleaseEvent(event);
    return status;
}

}  // namespace

TEST(CommandHandler, StopIsHandledQuitAndTheRestPassOn) {
    gStopping = false;
    gQuitting = false;
    EXPECT_EQ(send(kHICommandCancel), noErr);
    EXPECT_TRUE(gStopping);
    EXPECT_FALSE(gQuitting);

    gStopping = false;
    for (UInt32 other : {UInt32(kHICommandOK), FOUR_CHAR_CODE("abcd"), UInt32(0)}) {
        EXPECT_EQ(send(other), eventNotHandledErr);
        EXPECT_FALSE(gStopping);
        EXPECT_FALSE(gQuitting);
    }

    // Preferences is handled: its window opens, and no request changes.
    EXPECT_EQ(send(kHICommandPreferences), noErr);
    bool shown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        shown = shown || (w->objectName() == "PreferencesWindow" && w->isVisible());
    EXPECT_TRUE(shown);
    EXPECT_FALSE(gStopping);
    EXPECT_FALSE(gQuitting);

    // Quit sets its request and still passes on, so the standard handling runs.
    EXPECT_EQ(send(kHICommandQuit), eventNotHandledErr);
    EXPECT_TRUE(gQuitting);
    EXPECT_FALSE(gStopping);
    gQuitting = false;
}

TEST(CommandHandler, AnEventWithoutACommandRecordPassesOn) {
    gStopping = false;
    EventRef event = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
    EXPECT_EQ(ApplicationCommandHandler(nullptr, event, nullptr), eventNotHandledErr);
    // A parameter of another type is not a command record either.
    const UInt32 cancel = kHICommandCancel;
    SetEventParameter(event, kEventParamDirectObject, FOUR_CHAR_CODE("long"), sizeof cancel,
                      &cancel);
    EXPECT_EQ(ApplicationCommandHandler(nullptr, event, nullptr), eventNotHandledErr);
    EXPECT_FALSE(gStopping);
    ReleaseEvent(event);
}
