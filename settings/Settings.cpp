#include "settings/Settings.h"

#include "platform/cf/Preferences.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/Sound.h"
#include "processing/Operations.h"

functionType FunctionType() {
    SInt16 value = kFlipDeleteDataFork;
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
    CFPropertyListRef stored =
        CFPreferencesCopyAppValue(kFunctionTypeKey, kCFPreferencesCurrentApplication);
    if (stored && CFGetTypeID(stored) == CFNumberGetTypeID()) {
        // A number that does not convert exactly (2.5, 65537) names no operation;
        // narrowed it could turn into one the user never chose (65537 into 1).
        if (!CFNumberGetValue(static_cast<CFNumberRef>(stored), kCFNumberSInt16Type, &value))
            value = 0;
    }
    if (stored) CFRelease(stored);
    return functionType(value);
}

bool QuitWhenDone() {
    bool quit = true;
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
    CFPropertyListRef stored =
        CFPreferencesCopyAppValue(kQuitWhenDoneKey, kCFPreferencesCurrentApplication);
    if (stored && CFGetTypeID(stored) == CFBooleanGetTypeID())
        quit = CFBooleanGetValue(static_cast<CFBooleanRef>(stored));
    if (stored) CFRelease(stored);
    return quit;
}

const char* ConfirmationMessage(functionType type) {
    const OperationTexts* texts = TextsOfOperation(type);
    return texts ? texts->confirmation : nullptr;
}

const char* ConfirmationExplanation() {
    return "This operation can not be undone by this program and may render the files "
           "unusable.";
}

bool AskProcessFile(functionType type) {
    const char* message = ConfirmationMessage(type);
    if (!message) return false;
    return ShowAlertMessage(CFStringMakeConstant(message),
                            CFStringMakeConstant(ConfirmationExplanation()), 1);
}

bool ShowAlertMessage(CFStringRef message, CFStringRef explanation, unsigned char withCancel) {
    SInt16 chosen = -1;
    SysBeep(30);
    AlertStdCFStringAlertParamRec params;
    GetStandardAlertDefaultParams(&params, kStdCFStringAlertVersionOne);
    params.defaultText = kAlertDefaultOKText;
    params.defaultButton = kAlertStdAlertOKButton;
    if (withCancel) {
        params.cancelText = CFSTR("Cancel");
        params.cancelButton = kAlertStdAlertCancelButton;
    }
    DialogRef alert = nullptr;
    if (CreateStandardAlert(kAlertStopAlert, message, explanation, &params, &alert) == noErr &&
        alert) {
        DialogItemIndex item = 0;
        if (RunStandardAlert(alert, nullptr, &item) == noErr) chosen = SInt16(item);
    }
    // With Cancel, only OK counts as yes: an alert that could not be shown, or
    // that ended without a button (the application told to quit meanwhile),
    // must not start an operation that cannot be undone.
    if (withCancel) return chosen == kAlertStdAlertOKButton;
    return true;
}
