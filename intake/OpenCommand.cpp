#include "intake/OpenCommand.h"

#include <vector>

#include "intake/DragTarget.h"
#include "platform/ui/Navigation.h"

OSErr HandleOpenCommand() {
    NavDialogCreationOptions options;
    NavGetDefaultDialogCreationOptions(&options);
    options.optionFlags |= kNavAllowMultipleFiles;
    options.windowTitle = CFSTR("Open Files and Folders");
    NavDialogRef dialog = nullptr;
    OSErr err =
        OSErr(NavCreateChooseObjectDialog(&options, nullptr, nullptr, nullptr, nullptr, &dialog));
    if (err != noErr) return err;
    err = OSErr(NavDialogRun(dialog));
    NavReplyRecord reply;
    if (err == noErr && NavDialogGetUserAction(dialog) == kNavUserActionChoose &&
        (err = OSErr(NavDialogGetReply(dialog, &reply))) == noErr) {
        // The drop's own road: a file specification per item, then the event.
        long count = 0;
        AECountItems(&reply.selection, &count);
        std::vector<FSSpec> specs;
        for (long i = 1; i <= count; ++i) {
            FSRef ref;
            AEKeyword keyword;
            DescType type;
            Size size;
            FSSpec fileSpec;
            if (AEGetNthPtr(&reply.selection, i, typeFSRef, &keyword, &type, &ref, sizeof ref,
                            &size) == noErr &&
                FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fileSpec, nullptr) ==
                    noErr)
                specs.push_back(fileSpec);
        }
        if (!specs.empty()) err = SendOpenDocAppleEventToSelf(long(specs.size()), specs.data());
        NavDisposeReply(&reply);
    }
    NavDialogDispose(dialog);
    return err;
}
