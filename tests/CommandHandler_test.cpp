#include "shell/CommandHandler.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "processing/RunRequests.h"
#include "shell/MainWindow.h"

namespace {

// Sends a command event, or one whose direct object is not a command record.
OSStatus send(UInt32 id, DescType type = typeHICommand) {
    EventRef event = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
    HICommand command{};
    command.commandID = id;
    if (type == typeHICommand)
        SetEventParameter(event, kEventParamDirectObject, type, sizeof command, &command);
    else
        SetEventParameter(event, kEventParamDirectObject, type, sizeof id, &id);
    OSStatus status = ApplicationCommandHandler(nullptr, event, nullptr);
    ReleaseEvent(event);
    return status;
}

}  // namespace

TEST(CommandHandler, StopIsHandledQuitIsNotedAndPassedOnAndTheRestPassOn) {
    // Quit sets its request and still passes on, so the standard handling runs.
    const struct {
        UInt32 id;
        DescType type;
        OSStatus status;
        bool stopping, quitting;
    } table[] = {
        {kHICommandCancel, typeHICommand, noErr, true, false},
        {kHICommandQuit, typeHICommand, eventNotHandledErr, false, true},
        {FOUR_CHAR_CODE("abcd"), typeHICommand, eventNotHandledErr, false, false},  // any other
        // With a parameter of another type than a command record.
        {kHICommandCancel, FOUR_CHAR_CODE("long"), eventNotHandledErr, false, false},
        // Preferences is handled: its window opens, and no request changes.
        {kHICommandPreferences, typeHICommand, noErr, false, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.id);
        gRunRequests = {};
        EXPECT_EQ(send(row.id, row.type), row.status);
        EXPECT_EQ(bool(gRunRequests.stop), row.stopping);
        EXPECT_EQ(bool(gRunRequests.quit), row.quitting);
    }
    gRunRequests.quit = false;
    bool shown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        shown = shown || (w->objectName() == "PreferencesWindow" && w->isVisible());
    EXPECT_TRUE(shown);
}
