// The main window as a drop target: the drag handlers that accept drags of
// files, folders and volumes, hilite the window while such a drag is over it,
// and turn a drop into an open-documents event that the application sends to
// itself, with one alias record per dropped item.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/ui/Drag.h"

extern DragTrackingHandlerUPP gDragTrackingHandlerUPP;
extern DragReceiveHandlerUPP gDragReceiveHandlerUPP;
// Whether the drag now under way holds at least one usable item; set when it
// comes under the tracking handler.
extern bool gHasAcceptableDrag;

// Makes the two handler references; always noErr.
OSErr InitDragHandlers();
// Installs both handlers on the window; when the receive handler cannot be
// installed, the tracking handler is removed again and that error returned.
OSErr InstallDragHandlers(WindowRef window);
// True when at least one item carries the 'hfs ' flavor with an FSSpec that
// names an existing object.
bool DragItemsAreAcceptable(DragRef drag);
OSErr DragTracker(DragTrackingMessage message, WindowRef window, void* refCon, DragRef drag);
OSErr DragReceiver(WindowRef window, void* refCon, DragRef drag);
// Sends 'aevt'/'odoc' to this process, its direct object a list of alias
// records for the specs in order. An item whose alias cannot be made or added
// is left out; the event is sent when at least one item went in, and otherwise
// the last item's error is returned. paramErr for no specs.
OSErr SendOpenDocAppleEventToSelf(long specCount, FSSpec* specs);
