#include "settings/PreferencesWindow.h"

#include "platform/cf/Preferences.h"
#include "platform/ui/Controls.h"
#include "platform/ui/QuickDraw.h"
#include "platform/ui/Windows.h"
#include "settings/Settings.h"
#include "shell/MainWindow.h"

WindowRef gPreferencesWindow = nullptr;
ControlRef gFunctionPopupButton = nullptr;
ControlRef gQuitWhenDoneCheckbox = nullptr;

namespace {

enum : UInt32 {
    kFunctionTypeCommand = FOUR_CHAR_CODE("FcnT"),
    kQuitWhenDoneCommand = FOUR_CHAR_CODE("Qwdo"),
};

// Commands of the window, and its close box, which closes it as Cancel does.
const EventTypeSpec windowEvents[] = {
    {kEventClassCommand, kEventCommandProcess},
    {kEventClassWindow, kEventWindowClose},
};

void ClosePreferencesWindow() {
    WindowRef window = gPreferencesWindow;
    gPreferencesWindow = nullptr;
    if (window) DisposeWindow(window);
}

}  // namespace

void HandlePreferencesCommand() {
    if (!gPreferencesWindow) {
        IBNibRef nib = nullptr;
        if (CreateNibReference(CFSTR("main"), &nib) == noErr) {
            const OSStatus created =
                CreateWindowFromNib(nib, CFSTR("PreferencesWindow"), &gPreferencesWindow);
            DisposeNibReference(nib);
            if (created != noErr) gPreferencesWindow = nullptr;
            if (gPreferencesWindow) {
                // References from an earlier window must never reach this one.
                gFunctionPopupButton = nullptr;
                gQuitWhenDoneCheckbox = nullptr;
                const OSStatus installed = InstallEventHandler(
                    GetWindowEventTarget(gPreferencesWindow),
                    NewEventHandlerUPP(WindowEventHandlerProc),
                    sizeof windowEvents / sizeof windowEvents[0], windowEvents, nullptr, nullptr);
                if (installed == noErr) {
                    const ControlID checkboxID = {FOUR_CHAR_CODE("CNTL"), 4};
                    const ControlID popupID = {FOUR_CHAR_CODE("CNTL"), 3};
                    GetControlByID(gPreferencesWindow, &checkboxID, &gQuitWhenDoneCheckbox);
                    GetControlByID(gPreferencesWindow, &popupID, &gFunctionPopupButton);
                }
            }
        }
    }

    print_message("Drop a file on the application or this window to process it.", 1);

    // The message yields to the event loop, which may have closed the window.
    if (gPreferencesWindow) {
        SetControlValue(gQuitWhenDoneCheckbox, QuitWhenDone() ? 1 : 0);
        SetControlValue(gFunctionPopupButton, SInt16(FunctionType()));
        BringToFront(gPreferencesWindow);
        SetPortWindowPort(gPreferencesWindow);
        ShowWindow(gPreferencesWindow);
    }
}

OSStatus WindowEventHandlerProc(EventHandlerCallRef, EventRef event, void*) {
    if (GetEventClass(event) == kEventClassWindow && GetEventKind(event) == kEventWindowClose) {
        ClosePreferencesWindow();
        return noErr;
    }
    if (GetEventClass(event) != kEventClassCommand || GetEventKind(event) != kEventCommandProcess)
        return eventNotHandledErr;
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                          nullptr, &command) != noErr)
        return eventNotHandledErr;

    switch (command.commandID) {
        case kFunctionTypeCommand: {
            // Without its popup the window has no value to store.
            if (!gFunctionPopupButton) return eventNotHandledErr;
            const SInt16 value = GetControlValue(gFunctionPopupButton);
            CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt16Type, &value);
            if (number) {
                CFPreferencesSetAppValue(kFunctionTypeKey, number,
                                         kCFPreferencesCurrentApplication);
                CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
                CFRelease(number);
            }
            return eventNotHandledErr;
        }
        case kQuitWhenDoneCommand:
            if (!gQuitWhenDoneCheckbox) return eventNotHandledErr;
            CFPreferencesSetAppValue(
                kQuitWhenDoneKey,
                GetControlValue(gQuitWhenDoneCheckbox) ? kCFBooleanTrue : kCFBooleanFalse,
                kCFPreferencesCurrentApplication);
            CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
            return eventNotHandledErr;
        case kHICommandOK:
        case kHICommandCancel:
            ClosePreferencesWindow();
            return noErr;
        default:
            return eventNotHandledErr;
    }
}
