// Standard alerts as Qt message boxes: a main text, an informative text, an OK
// button and optional Cancel, other and help buttons, run modally. The stop
// alert shows the critical icon; the default button answers Return, the cancel
// button Escape (and the window's close box).
#pragma once

#include <cstdint>

#include "platform/cf/CoreFoundation.h"

using AlertType = SInt16;
enum : AlertType {
    kAlertStopAlert = 0,
    kAlertNoteAlert = 1,
    kAlertCautionAlert = 2,
    kAlertPlainAlert = 3,
};

using DialogItemIndex = UInt16;
enum : SInt16 {
    kAlertStdAlertOKButton = 1,
    kAlertStdAlertCancelButton = 2,
    kAlertStdAlertOtherButton = 3,
    kAlertStdAlertHelpButton = 4,
};

enum : UInt32 { kStdCFStringAlertVersionOne = 1 };

// Button texts that stand for the platform's own wording of the button.
#define kAlertDefaultOKText (reinterpret_cast<CFStringRef>(std::intptr_t(-1)))
#define kAlertDefaultCancelText (reinterpret_cast<CFStringRef>(std::intptr_t(-1)))
#define kAlertDefaultOtherText (reinterpret_cast<CFStringRef>(std::intptr_t(-1)))

struct AlertStdCFStringAlertParamRec {
    UInt32 version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText;  // null: no default button
    CFStringRef cancelText;   // null: no Cancel button
    CFStringRef otherText;    // null: no third button
    SInt16 defaultButton;     // which button Return chooses
    SInt16 cancelButton;      // which button Escape chooses; 0 for none
    UInt16 position;
    UInt32 flags;
};

struct OpaqueDialogPtr;
using DialogRef = OpaqueDialogPtr*;
struct OpaqueModalFilterProcPtr;
using ModalFilterUPP = OpaqueModalFilterProcPtr*;

// The defaults: an OK button with the platform's text, which is the default
// button; no Cancel, other or help button.
OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec* param, UInt32 version);
// Makes the alert without showing it; the texts are copied, the caller keeps
// its strings. paramErr without an application to show it in.
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// A longer text (a list of files, say) in a scrolling box below the alert's
// texts, shown unfolded; its "Hide Details…" button folds it away. The text is
// copied.
OSStatus SetStandardAlertDetails(DialogRef inAlert, CFStringRef details);
// Shows the alert modally until a button is chosen, reports the button (1 OK,
// 2 Cancel, 3 other, 4 help) and disposes of the alert. The filter is ignored.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc,
                          DialogItemIndex* outItemHit);
