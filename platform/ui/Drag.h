// The Drag Manager over Qt's drag and drop. A window with drag handlers takes
// drags: Qt's drag-enter, move, leave and drop events become the tracking
// messages (enter handler and enter window, in window, leave window and leave
// handler) and the receive call, and the handlers' results decide whether Qt
// accepts. The items of a drag are the entries of its text/uri-list, in order;
// an entry naming a local file, folder or volume carries the 'hfs ' flavor, an
// HFSFlavor with the object's FSSpec, any other entry carries no flavor the
// application reads. The drop hilite is a frame drawn over the window's content.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/events/CarbonEvents.h"
#include "platform/files/Files.h"
#include "platform/ui/QuickDraw.h"

class QMimeData;

struct OpaqueDragRef;
using DragRef = OpaqueDragRef*;
using DragItemRef = UInt32;
using FlavorType = OSType;
using FlavorFlags = UInt32;
using DragTrackingMessage = SInt16;

enum : DragTrackingMessage {
    kDragTrackingEnterHandler = 1,  // the drag comes under the window's handler
    kDragTrackingEnterWindow = 2,
    kDragTrackingInWindow = 3,
    kDragTrackingLeaveWindow = 4,
    kDragTrackingLeaveHandler = 5,
};

enum : FlavorType { flavorTypeHFS = FOUR_CHAR_CODE("hfs ") };

enum : FlavorFlags { flavorSenderOnly = 0x1, flavorNotSaved = 0x4, flavorSystemTranslated = 0x100 };

enum : OSErr {
    badDragRefErr = -1850,
    badDragItemErr = -1851,
    badDragFlavorErr = -1852,
    cantGetFlavorErr = -1854,
    duplicateHandlerErr = -1855,
    handlerNotFoundErr = -1856,
    dragNotAcceptedErr = -1857,
};

#pragma pack(push, 2)
// The 'hfs ' flavor's data: what the object is, and where.
struct HFSFlavor {
    OSType fileType;     // 'fold' for a folder, 'disk' for the root of a volume
    OSType fileCreator;  // 'MACS' for folders and volumes
    UInt16 fdFlags;      // Finder flags
    FSSpec fileSpec;
};
#pragma pack(pop)
static_assert(sizeof(HFSFlavor) == 80);

using DragTrackingHandlerProcPtr = OSErr (*)(DragTrackingMessage message, WindowRef window,
                                             void* handlerRefCon, DragRef drag);
using DragReceiveHandlerProcPtr = OSErr (*)(WindowRef window, void* handlerRefCon, DragRef drag);
using DragTrackingHandlerUPP = DragTrackingHandlerProcPtr;
using DragReceiveHandlerUPP = DragReceiveHandlerProcPtr;
inline DragTrackingHandlerUPP NewDragTrackingHandlerUPP(DragTrackingHandlerProcPtr proc) {
    return proc;
}
inline DragReceiveHandlerUPP NewDragReceiveHandlerUPP(DragReceiveHandlerProcPtr proc) {
    return proc;
}

// One tracking and one receive handler per window. Installing makes the window
// take drags; installing a second handler of a kind gives duplicateHandlerErr,
// removing one that is not installed handlerNotFoundErr. paramErr for a null
// window or handler.
OSErr InstallTrackingHandler(DragTrackingHandlerUPP handler, WindowRef window, void* refCon);
OSErr InstallReceiveHandler(DragReceiveHandlerUPP handler, WindowRef window, void* refCon);
OSErr RemoveTrackingHandler(DragTrackingHandlerUPP handler, WindowRef window);
OSErr RemoveReceiveHandler(DragReceiveHandlerUPP handler, WindowRef window);

// Items count from 1; an item's reference number is its index.
OSErr CountDragItems(DragRef drag, UInt16* numItems);
OSErr GetDragItemReferenceNumber(DragRef drag, UInt16 index, DragItemRef* itemRef);
// badDragFlavorErr when the item does not carry the flavor.
OSErr GetFlavorFlags(DragRef drag, DragItemRef itemRef, FlavorType type, FlavorFlags* flags);
// Copies at most *dataSize bytes from dataOffset on and sets *dataSize to the
// number copied; cantGetFlavorErr for an offset past the data.
OSErr GetFlavorData(DragRef drag, DragItemRef itemRef, FlavorType type, void* dataPtr,
                    Size* dataSize, UInt32 dataOffset);

// The hilite: a frame just inside the region (inside true) or just outside it,
// in the local coordinates of the window the drag is over. Showing it again
// moves it; hiding it when none is shown does nothing.
OSErr ShowDragHilite(DragRef drag, RgnHandle hiliteFrame, Boolean inside);
OSErr HideDragHilite(DragRef drag);

// A drag as a window sees it: the items of the mime data's text/uri-list, over
// that window. The 'hfs ' data is made now, as a drag source makes it when the
// drag starts: an object removed later keeps its FSSpec, which then names
// nothing; one already gone gets the FSSpec of its name in its folder.
OSErr NewDragFromMimeData(const QMimeData* data, WindowRef window, DragRef* drag);
// Hides the drag's hilite and releases it.
OSErr DisposeDrag(DragRef drag);

// The hilite shown in the window now, in its local coordinates: false when none.
Boolean GetDragHiliteBounds(WindowRef window, Rect* bounds);
