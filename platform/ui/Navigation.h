// Navigation Services: the standard dialog in which the user chooses existing
// files and folders, over Qt's own file dialog (the desktop's native choosers
// take either files or folders, never both at once).
#pragma once

#include "platform/cf/CoreFoundation.h"
#include "platform/events/AppleEvents.h"

struct OpaqueNavDialogRef;
using NavDialogRef = OpaqueNavDialogRef*;
// Callbacks of the dialog; no caller here passes any, so they stay opaque.
using NavEventUPP = void*;
using NavPreviewUPP = void*;
using NavObjectFilterUPP = void*;

enum : UInt32 { kNavAllowMultipleFiles = 0x00000080 };

struct NavDialogCreationOptions {
    UInt16 version;
    UInt32 optionFlags;
    CFStringRef windowTitle;        // null: "Open"
    CFStringRef actionButtonLabel;  // null: "Open"
};

using NavUserAction = UInt32;
enum : NavUserAction {
    kNavUserActionNone = 0,
    kNavUserActionCancel = 1,
    kNavUserActionChoose = 4,
};

struct NavReplyRecord {
    UInt16 version;
    Boolean validRecord;   // false when the user cancelled
    AEDescList selection;  // one 'furl' item per chosen object, readable as 'fsrf'
};

OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* outOptions);
// A dialog that chooses existing files and folders (several with
// kNavAllowMultipleFiles). Nothing shows until NavDialogRun.
OSStatus NavCreateChooseObjectDialog(const NavDialogCreationOptions* inOptions,
                                     NavEventUPP inEventProc, NavPreviewUPP inPreviewProc,
                                     NavObjectFilterUPP inFilterProc, void* inClientData,
                                     NavDialogRef* outDialog);
// Runs the dialog modally, until the user chooses or cancels.
OSStatus NavDialogRun(NavDialogRef inDialog);
NavUserAction NavDialogGetUserAction(NavDialogRef inDialog);
// The choice; the caller releases it with NavDisposeReply.
OSStatus NavDialogGetReply(NavDialogRef inDialog, NavReplyRecord* outReply);
OSStatus NavDisposeReply(NavReplyRecord* inReply);
void NavDialogDispose(NavDialogRef inDialog);
