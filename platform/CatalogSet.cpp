// FSSetCatalogInfo: Finder info and creation date into the fork store, content
// modification and access dates onto the object with utimensat.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/FileErrors.h"
#include "platform/FilesExtra.h"
#include "platform/ForkStore.h"
#include "platform/PathNodes.h"

using namespace pathnodes;

namespace {

constexpr SInt64 kSeconds1904To1970 = 2082844800;

// Seconds since 1970 of a UTCDateTime. The fraction (1/65536 s) is rounded up
// to whole nanoseconds, so that reading the date back gives the same fraction.
struct timespec toTimespec(const UTCDateTime& d) {
    const UInt64 seconds1904 = (UInt64(d.highSeconds) << 32) | d.lowSeconds;
    struct timespec ts {};
    ts.tv_sec = time_t(SInt64(seconds1904) - kSeconds1904To1970);
    ts.tv_nsec = long((UInt64(d.fraction) * 1000000000u + 65535u) >> 16);
    return ts;
}

bool hasMetadata(const Located& object) {
    return object.node != kRootID && (isRegular(object.sx) || isFolder(object.sx));
}

OSErr setFinderInfo(const Located& object, FSCatalogInfoBitmap which, const FSCatalogInfo& info) {
    if (object.node == kRootID) return paramErr;
    if (!hasMetadata(object)) return notAFileErr;
    const int dirfd = object.folder.get();
    const char* name = object.name.c_str();
    UInt8 finder[32];
    if ((which & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo)) !=
        (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo)) {
        // Half of it is replaced: the other half stays as it is.
        OSErr err = forkstore::getFinderInfo(dirfd, name, finder);
        if (err != noErr) return err;
    }
    if (which & kFSCatInfoFinderInfo) std::memcpy(finder, info.finderInfo, 16);
    if (which & kFSCatInfoFinderXInfo) std::memcpy(finder + 16, info.extFinderInfo, 16);
    return forkstore::setFinderInfo(dirfd, name, finder);
}

}  // namespace

OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo) {
    if (whichInfo & ~kFSCatInfoAcceptedBySet) return paramErr;
    if (whichInfo != 0 && !catalogInfo) return paramErr;
    Located object;
    OSErr err = locate(ref, &object);
    if (err != noErr || whichInfo == 0) return err;

    if (whichInfo & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo)) {
        err = setFinderInfo(object, whichInfo, *catalogInfo);
        if (err != noErr) return err;
    }
    if ((whichInfo & kFSCatInfoCreateDate) && hasMetadata(object)) {
        const struct timespec created = toTimespec(catalogInfo->createDate);
        err = forkstore::setCreationDate(object.folder.get(), object.name.c_str(),
                                         std::int64_t(created.tv_sec));
        if (err != noErr) return err;
    }
    if (whichInfo & (kFSCatInfoContentMod | kFSCatInfoAccessDate)) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = 0;
        times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
        if (whichInfo & kFSCatInfoAccessDate) times[0] = toTimespec(catalogInfo->accessDate);
        if (whichInfo & kFSCatInfoContentMod) times[1] = toTimespec(catalogInfo->contentModDate);
        if (::utimensat(object.folder.get(), object.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoToOSErr(errno);
    }
    return noErr;
}
