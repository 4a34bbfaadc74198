// Filling catalog records (FSCatalogInfo, names, FSSpec) for an object found
// on disk, shared by FSGetCatalogInfo and folder iterators.
#pragma once

#include <ctime>

#include "platform/files/Files.h"
#include "platform/files/linux/PathNodes.h"

namespace catalog {

// Fills the fields of `info` that `whichInfo` asks for; leaves the others.
// Fields kept in the fork store (Finder info, creation date, resource fork
// size) fail with its result code, e.g. ioErr for a malformed sidecar.
OSErr fill(const pathnodes::Located& object, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info);

// Seconds and nanoseconds since 1970 as a UTCDateTime (from 1904); times
// before 1904 give zero.
UTCDateTime toUTCDateTime(SInt64 unixSeconds, UInt32 nanoseconds);
// And back.
struct timespec toTimespec(const UTCDateTime& date);

}  // namespace catalog
