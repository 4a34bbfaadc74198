// FSGetCatalogInfo and FSSetCatalogInfo: node flags, dates, sizes, Finder
// info, names, FSSpec and parent of an object, from statx and the fork store.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files/CatalogRecords.h"
#include "platform/files/FileErrors.h"
#include "platform/files/FileNames.h"
#include "platform/files/FolderListing.h"
#include "platform/files/linux/ForkStore.h"

using namespace pathnodes;

namespace catalog {

namespace {

constexpr SInt64 kSeconds1904To1970 = 2082844800;

UTCDateTime fromStatx(const struct statx_timestamp& t) {
    return toUTCDateTime(t.tv_sec, t.tv_nsec);
}

// Regular files and folders may have sidecars and attributes; links, FIFOs,
// sockets and devices are never opened or looked into.
bool hasMetadata(const Located& object) {
    return object.node != kRootID && (isRegular(object.sx) || isFolder(object.sx));
}

// Finder info and creation dates of folders are looked up too, but a folder's
// sidecar that the store cannot use is not an error for the folder.
OSErr tolerated(const Located& object, OSErr err) {
    return (err == notAFileErr && isFolder(object.sx)) ? OSErr(noErr) : err;
}

OSErr creationDate(const Located& object, UTCDateTime* date) {
    if (hasMetadata(object)) {
        std::int64_t seconds = 0;
        bool found = false;
        OSErr err =
            forkstore::getCreationDate(object.folder.get(), object.name.c_str(), &seconds, &found);
        err = tolerated(object, err);
        if (err != noErr) return err;
        if (found) {
            *date = toUTCDateTime(seconds, 0);
            return noErr;
        }
    }
    *date = (object.sx.stx_mask & STATX_BTIME) ? fromStatx(object.sx.stx_btime)
                                               : fromStatx(object.sx.stx_mtime);
    return noErr;
}

UInt32 countVisible(const Located& object) {
    CDirFd folder;
    if (openLocatedFolder(object, &folder) != noErr) return 0;
    std::vector<listing::Entry> entries;
    if (listing::readFolder(folder.get(), &entries) != noErr) return 0;
    return UInt32(entries.size());
}

}  // namespace

struct timespec toTimespec(const UTCDateTime& d) {
    UInt64 seconds = (UInt64(d.highSeconds) << 32) | d.lowSeconds;
    struct timespec ts {};
    ts.tv_sec = time_t(SInt64(seconds) - kSeconds1904To1970);
    // Rounded up, so that the date read back has the same 1/65536 s fraction.
    ts.tv_nsec = long((UInt64(d.fraction) * 1000000000u + 65535u) >> 16);
    return ts;
}

UTCDateTime toUTCDateTime(SInt64 unixSeconds, UInt32 nanoseconds) {
    UTCDateTime d{0, 0, 0};
    if (unixSeconds < -kSeconds1904To1970) return d;
    UInt64 seconds = UInt64(unixSeconds + kSeconds1904To1970);
    if (seconds >> 48) seconds = (UInt64(1) << 48) - 1;
    d.highSeconds = UInt16(seconds >> 32);
    d.lowSeconds = UInt32(seconds);
    d.fraction = UInt16((UInt64(nanoseconds % 1000000000u) << 16) / 1000000000u);
    return d;
}

OSErr fill(const Located& object, FSCatalogInfoBitmap which, FSCatalogInfo* info) {
    const struct statx& sx = object.sx;
    UInt64 dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    if (which & kFSCatInfoTextEncoding) info->textEncodingHint = 0;
    if (which & kFSCatInfoNodeFlags) info->nodeFlags = isFolder(sx) ? kFSNodeIsDirectoryMask : 0;
    if (which & kFSCatInfoVolume) info->volume = volumeRefNum(dev);
    if (which & kFSCatInfoParentDirID)
        info->parentDirID = object.node == kRootID ? UInt32(fsRtParID) : parentOf(object.node);
    if (which & kFSCatInfoNodeID) info->nodeID = object.node;
    if (which & kFSCatInfoSharingFlags) info->sharingFlags = 0;
    if (which & kFSCatInfoUserPrivs) info->userPrivileges = 0;
    if (which & kFSCatInfoCreateDate) {
        OSErr err = creationDate(object, &info->createDate);
        if (err != noErr) return err;
    }
    if (which & kFSCatInfoContentMod) info->contentModDate = fromStatx(sx.stx_mtime);
    if (which & kFSCatInfoAttrMod) info->attributeModDate = fromStatx(sx.stx_ctime);
    if (which & kFSCatInfoAccessDate) info->accessDate = fromStatx(sx.stx_atime);
    if (which & kFSCatInfoBackupDate) info->backupDate = UTCDateTime{0, 0, 0};
    if (which & (kFSCatInfoPermissions | kFSCatInfoUserAccess)) {
        FSPermissionInfo p{};
        p.userID = sx.stx_uid;
        p.groupID = sx.stx_gid;
        p.mode = UInt16(sx.stx_mode);
        // userAccess: what this process may do, bits 0x02 read, 0x04 write, 0x01 search/run.
        if (hasMetadata(object) || object.node == kRootID) {
            const char* n = object.name.c_str();
            int fd = object.folder.get();
            if (::faccessat(fd, n, R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0) p.userAccess |= 2;
            if (::faccessat(fd, n, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0) p.userAccess |= 4;
            if (::faccessat(fd, n, X_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0) p.userAccess |= 1;
        }
        std::memcpy(info->permissions, &p, sizeof p);
    }
    if (which & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo)) {
        UInt8 finder[32] = {};
        if (hasMetadata(object)) {
            OSErr err = tolerated(
                object, forkstore::getFinderInfo(object.folder.get(), object.name.c_str(), finder));
            if (err != noErr) return err;
        }
        if (which & kFSCatInfoFinderInfo) std::memcpy(info->finderInfo, finder, 16);
        if (which & kFSCatInfoFinderXInfo) std::memcpy(info->extFinderInfo, finder + 16, 16);
    }
    if (which & kFSCatInfoDataSizes) {
        bool file = isRegular(sx);
        info->dataLogicalSize = file ? sx.stx_size : 0;
        info->dataPhysicalSize = file ? sx.stx_blocks * 512 : 0;
    }
    if (which & kFSCatInfoRsrcSizes) {
        info->rsrcLogicalSize = info->rsrcPhysicalSize = 0;
        if (isRegular(sx)) {
            forkstore::RsrcInfo rsrc;
            OSErr err = forkstore::getResourceFork(object.folder.get(), object.name.c_str(), &rsrc);
            if (err != noErr) return err;
            info->rsrcLogicalSize = rsrc.length;
            info->rsrcPhysicalSize = (rsrc.length + 511) / 512 * 512;
        }
    }
    if (which & kFSCatInfoValence) info->valence = isFolder(sx) ? countVisible(object) : 0;
    return noErr;
}

}  // namespace catalog

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef) {
    Located object;
    OSErr err = locate(ref, &object);
    if (err != noErr) return err;
    // A file looked up for its name just before its work (the window shows
    // each file's name first) need not be looked at twice.
    noteLookInKeptFolder(object.node, object.sx, object.folder.get());
    if (catalogInfo) {
        err = catalog::fill(object, whichInfo, catalogInfo);
        if (err != noErr) return err;
    }
    if (outName) filenames::toUnicode(object.node == kRootID ? "/" : object.name, outName);
    if (fsSpec) {
        UInt64 dev = makedev(object.sx.stx_dev_major, object.sx.stx_dev_minor);
        makeSpec(object.node, volumeRefNum(dev), fsSpec);
    }
    if (parentRef) {
        // The root has no parent: its parent reference is all zero.
        std::memset(parentRef, 0, sizeof *parentRef);
        if (object.node != kRootID) {
            Located parent;
            err = locateNode(parentOf(object.node), nullptr, &parent);
            if (err != noErr) return err;
            makeRef(parent.node, identityOf(parent.sx), parentRef);
        }
    }
    return noErr;
}

OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo) {
    if (!catalogInfo) return paramErr;
    Located object;
    OSErr err = locate(ref, &object);
    if (err != noErr) return err;
    int dirfd = object.folder.get();
    const char* name = object.name.c_str();
    bool metadata = object.node != kRootID && (isRegular(object.sx) || isFolder(object.sx));
    bool wantsStore =
        whichInfo & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo | kFSCatInfoCreateDate);
    // Links, FIFOs, sockets and devices get no sidecar.
    if (wantsStore && !metadata) return notAFileErr;
    // As with the forks, a read-only object keeps its metadata.
    if (wantsStore && ::faccessat(dirfd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return errnoToOSErr(errno);
    if (whichInfo & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo)) {
        UInt8 finder[32] = {};
        err = forkstore::getFinderInfo(dirfd, name, finder);
        if (err != noErr) return err;
        if (whichInfo & kFSCatInfoFinderInfo) std::memcpy(finder, catalogInfo->finderInfo, 16);
        if (whichInfo & kFSCatInfoFinderXInfo)
            std::memcpy(finder + 16, catalogInfo->extFinderInfo, 16);
        err = forkstore::setFinderInfo(dirfd, name, finder);
        if (err != noErr) return err;
    }
    if (whichInfo & kFSCatInfoCreateDate) {
        err = forkstore::setCreationDate(dirfd, name,
                                         catalog::toTimespec(catalogInfo->createDate).tv_sec);
        if (err != noErr) return err;
    }
    if (whichInfo & kFSCatInfoPermissions) {
        FSPermissionInfo p;
        std::memcpy(&p, catalogInfo->permissions, sizeof p);
        if (!S_ISLNK(object.sx.stx_mode) && ::fchmodat(dirfd, name, p.mode & 07777, 0) != 0)
            return errnoToOSErr(errno);
    }
    if (whichInfo & (kFSCatInfoContentMod | kFSCatInfoAccessDate)) {
        struct timespec times[2];
        times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
        if (whichInfo & kFSCatInfoAccessDate)
            times[0] = catalog::toTimespec(catalogInfo->accessDate);
        if (whichInfo & kFSCatInfoContentMod)
            times[1] = catalog::toTimespec(catalogInfo->contentModDate);
        if (::utimensat(dirfd, name, times, AT_SYMLINK_NOFOLLOW) != 0) return errnoToOSErr(errno);
    }
    return noErr;
}
