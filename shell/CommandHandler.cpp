#include "shell/CommandHandler.h"

#include "intake/OpenCommand.h"
#include "processing/RunReport.h"
#include "processing/RunRequests.h"
#include "settings/PreferencesWindow.h"
#include "shell/MainWindow.h"

OSStatus ApplicationCommandHandler(EventHandlerCallRef, EventRef event, void*) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                          nullptr, &command) != noErr)
        return eventNotHandledErr;
    switch (command.commandID) {
        case kHICommandCancel:
            gRunRequests.stop = true;
            return noErr;
        case kHICommandPreferences:
            HandlePreferencesCommand();
            return noErr;
        case kHICommandOpen:
            HandleOpenCommand();
            return noErr;
        case kHICommandShowDetails:
            ShowRunFailures();
            return noErr;
        case kHICommandQuit:
            gRunRequests.quit = true;
            return eventNotHandledErr;
        default:
            return eventNotHandledErr;
    }
}
