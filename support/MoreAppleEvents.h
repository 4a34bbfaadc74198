// Apple-event and Finder-event utility routines the file helper class relies
// on: an object specifier for a file-system object, sends with and without a
// reply, releasing descriptors, and asking the Finder to refresh an item.
// Used by the application: nothing; kept as the library's own (the file
// helper class's Finder comments and refreshes).
#pragma once

#include "platform/events/AppleEvents.h"
#include "platform/files/Files.h"

// The Finder's application signature, 'MACS', as events are addressed to it.
extern const OSType gFinderSignature;

// An object specifier for the item: {want: type(file | cfol | cdis), from: null,
// form: alis, seld: the item's alias record}. objSpecifier is the null
// descriptor on failure.
OSErr MoreAEOCreateObjSpecifierFromFSRef(const FSRef* ref, AEDesc* objSpecifier);

// Sends the event. Without an idle routine it does not wait for a reply; with
// one it waits, calling the routine meanwhile. The result is the send's, or
// the error number the reply carries.
OSStatus MoreAESendEventNoReturnValue(AEIdleUPP idleProc, const AppleEvent* event);

// Sends the event, waits for the reply (calling idleProc meanwhile) and
// delivers the reply's direct object as a Pascal string of at most 255
// characters in Mac Roman. pStr is left as it was on failure.
OSStatus MoreAESendEventReturnPString(AEIdleUPP idleProc, const AppleEvent* event, Str255 pStr);

// Releases the descriptor and resets it to the null descriptor.
void MoreAEDisposeDesc(AEDesc* desc);

// Asks the Finder to refresh its display of the item ('fndr'/'fupd').
OSErr MoreFEUpdateItemFSRef(const FSRef* ref);
