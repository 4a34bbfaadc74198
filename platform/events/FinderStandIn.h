// The Finder as the application's Apple events see it: events addressed to the
// signature 'MACS' are answered in-process. It gets and sets the comment of a
// file or folder ('core'/'getd' and 'core'/'setd' on the 'comt' property),
// kept in the user.xdg.comment extended attribute that Linux file managers
// show, and accepts the request to refresh an item ('fndr'/'fupd'), which
// needs no work: file managers watch the disk.
#pragma once

#include "platform/events/AppleEvents.h"

enum : OSType { kFinderSignature = FOUR_CHAR_CODE("MACS") };

extern const char* const kFinderCommentAttribute;

// True when an event's address is the Finder's signature ('sign', 'MACS').
bool FinderStandInIsAddressee(const AEDesc* address);

// Makes AESend hand the events addressed to the Finder to the stand-in (the
// application does so as it starts). Calling it again changes nothing.
void InstallFinderStandIn();

// Handles an event addressed to the Finder. There is no other process to lose
// an answer in, so the event is handled at once whatever the send mode, and
// its result is returned to the sender: a comment that could not be stored is
// an error even when no reply was asked for. With kAEWaitReply the reply (an
// 'aevt'/'ansr' event) gets the answer as its direct object, and the error
// number as 'errn' when the event failed.
//
// Items are designated by an object specifier of form 'alis' (an alias record
// as key data), or by any descriptor that coerces to 'fsrf' ('alis', 'furl',
// 'fss ', 'fsrf'). Comments travel as 'TEXT' in Mac Roman ('utf8' and 'utxt'
// are accepted when setting) and are stored as UTF-8; an empty comment removes
// the attribute. Only regular files and folders have comments: notAFileErr
// for links and special files; wrgVolTypErr on a file system without user
// attributes; errAEEventNotHandled for other events and properties.
OSErr FinderStandInReceive(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode);
