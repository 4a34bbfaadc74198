#include "intake/DragTarget.h"

#include "platform/base/MacMemory.h"
#include "platform/events/AppleEvents.h"
#include "platform/files/Aliases.h"
#include "platform/ui/QuickDraw.h"
#include "platform/ui/Sound.h"

DragTrackingHandlerUPP gDragTrackingHandlerUPP = nullptr;
DragReceiveHandlerUPP gDragReceiveHandlerUPP = nullptr;
bool gHasAcceptableDrag = false;

namespace {

// The hilite 2 pixels inside the window's content area.
void ShowWindowDragHilite(WindowRef window, DragRef drag) {
    GrafPtr savedPort;
    GetPort(&savedPort);
    SetPort(GetWindowPort(window));
    RgnHandle hiliteRgn = NewRgn();
    if (hiliteRgn) {
        Rect bounds;
        if (GetWindowBounds(window, kWindowContentRgn, &bounds) == noErr) {
            Point topLeft = {bounds.top, bounds.left};
            Point bottomRight = {bounds.bottom, bounds.right};
            GlobalToLocal(&topLeft);
            GlobalToLocal(&bottomRight);
            Rect local = {topLeft.v, topLeft.h, bottomRight.v, bottomRight.h};
            InsetRect(&local, 2, 2);
            RectRgn(hiliteRgn, &local);
            ShowDragHilite(drag, hiliteRgn, true);
        }
        DisposeRgn(hiliteRgn);
    }
    SetPort(savedPort);
}

}  // namespace

OSErr InitDragHandlers() {
    gDragTrackingHandlerUPP = NewDragTrackingHandlerUPP(DragTracker);
    gDragReceiveHandlerUPP = NewDragReceiveHandlerUPP(DragReceiver);
    return noErr;
}

OSErr InstallDragHandlers(WindowRef window) {
    OSErr err = InstallTrackingHandler(gDragTrackingHandlerUPP, window, nullptr);
    if (err != noErr) return err;
    err = InstallReceiveHandler(gDragReceiveHandlerUPP, window, nullptr);
    if (err != noErr) {
        RemoveTrackingHandler(gDragTrackingHandlerUPP, window);
        return err;
    }
    return noErr;
}

bool DragItemsAreAcceptable(DragRef drag) {
    UInt16 count = 0;
    if (CountDragItems(drag, &count) != noErr) return false;
    bool usable = false;
    for (UInt16 index = 1; index <= count && index != 0; ++index) {
        DragItemRef item;
        if (GetDragItemReferenceNumber(drag, index, &item) != noErr) continue;
        FlavorFlags flags;
        if (GetFlavorFlags(drag, item, flavorTypeHFS, &flags) != noErr) continue;
        HFSFlavor hfs;
        Size size = sizeof hfs;
        if (GetFlavorData(drag, item, flavorTypeHFS, &hfs, &size, 0) != noErr) continue;
        FSRef ref;
        if (FSpMakeFSRef(&hfs.fileSpec, &ref) != noErr) continue;
        usable = true;
    }
    return usable;
}

OSErr DragTracker(DragTrackingMessage message, WindowRef window, void*, DragRef drag) {
    switch (message) {
        case kDragTrackingEnterHandler:
            gHasAcceptableDrag = DragItemsAreAcceptable(drag);
            return gHasAcceptableDrag ? OSErr(noErr) : OSErr(dragNotAcceptedErr);
        case kDragTrackingEnterWindow:
            if (gHasAcceptableDrag) ShowWindowDragHilite(window, drag);
            return noErr;
        case kDragTrackingLeaveWindow:
            if (gHasAcceptableDrag) HideDragHilite(drag);
            return noErr;
        case kDragTrackingLeaveHandler:
            return noErr;
        case kDragTrackingInWindow:
        default:
            return paramErr;
    }
}

OSErr DragReceiver(WindowRef, void*, DragRef drag) {
    if (!DragItemsAreAcceptable(drag)) return dragNotAcceptedErr;
    UInt16 count = 0;
    OSErr err = CountDragItems(drag, &count);
    if (err != noErr) return err;
    auto* specs = reinterpret_cast<FSSpec*>(NewPtr(Size(count) * Size(sizeof(FSSpec))));
    if (!specs) return memFullErr;
    long filled = 0;
    for (UInt16 index = 1; index <= count && index != 0; ++index) {
        DragItemRef item;
        if (GetDragItemReferenceNumber(drag, index, &item) != noErr) continue;
        FlavorFlags flags;
        if (GetFlavorFlags(drag, item, flavorTypeHFS, &flags) != noErr) continue;
        HFSFlavor hfs;
        Size size = sizeof hfs;
        err = GetFlavorData(drag, item, flavorTypeHFS, &hfs, &size, 0);
        if (err != noErr) {
            DisposePtr(reinterpret_cast<Ptr>(specs));
            return err;
        }
        specs[filled++] = hfs.fileSpec;
    }
    err = SendOpenDocAppleEventToSelf(filled, specs);
    if (err != noErr) SysBeep(30);
    DisposePtr(reinterpret_cast<Ptr>(specs));
    return err;
}

OSErr SendOpenDocAppleEventToSelf(long specCount, FSSpec* specs) {
    if (specCount <= 0 || !specs) return paramErr;
    AppleEvent event;
    AppleEvent reply;
    AEAddressDesc target;
    AEDescList list;
    AECreateDesc(typeNull, nullptr, 0, &event);
    AECreateDesc(typeNull, nullptr, 0, &reply);
    AECreateDesc(typeNull, nullptr, 0, &target);
    AECreateDesc(typeNull, nullptr, 0, &list);
    AliasHandle alias = nullptr;

    const ProcessSerialNumber self = {0, kCurrentProcess};
    OSErr err = AECreateDesc(typeProcessSerialNumber, &self, sizeof self, &target);
    if (err == noErr)
        err = AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, &target, kAutoGenerateReturnID,
                                 kAnyTransactionID, &event);
    if (err == noErr) err = AECreateList(nullptr, 0, false, &list);
    if (err == noErr) {
        // One alias handle serves every item: putting it into the list copies
        // its bytes. An item that cannot be made or added is left out, so the
        // others still reach the handler.
        long added = 0;
        OSErr itemErr = noErr;
        for (long i = 0; i < specCount; ++i) {
            if (!alias) {
                itemErr = NewAlias(nullptr, &specs[i], &alias);
            } else {
                Boolean changed;
                itemErr = UpdateAlias(nullptr, &specs[i], alias, &changed);
            }
            if (itemErr != noErr) continue;
            Handle bytes = reinterpret_cast<Handle>(alias);
            HLock(bytes);
            itemErr = AEPutPtr(&list, added + 1, typeAlias, *bytes, GetHandleSize(bytes));
            HUnlock(bytes);
            if (itemErr == noErr) ++added;
        }
        err = added > 0 ? OSErr(noErr) : itemErr;
    }
    if (err == noErr) err = AEPutParamDesc(&event, keyDirectObject, &list);
    if (err == noErr)
        err = AESend(&event, &reply, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr,
                     nullptr);

    if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
    AEDisposeDesc(&list);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
    AEDisposeDesc(&reply);
    return err;
}
