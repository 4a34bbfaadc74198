// Forks of files: their names, creation and deletion, and the table of open
// forks behind 16-bit reference numbers (open, size, position, read, write,
// close). Data forks are the files' contents; resource forks go through the
// fork store.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/Files.h"
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"

using namespace pathnodes;

namespace {

enum class ForkKind { Data, Resource };

constexpr UniChar kResourceForkName[] = {'R', 'E', 'S', 'O', 'U', 'R', 'C',
                                         'E', '_', 'F', 'O', 'R', 'K'};
constexpr UniCharCount kResourceForkNameLength = 13;

OSErr forkKindOf(UniCharCount length, const UniChar* name, ForkKind* kind) {
    if (length == 0) {
        *kind = ForkKind::Data;
        return noErr;
    }
    if (!name) return paramErr;
    if (length == kResourceForkNameLength &&
        std::equal(name, name + length, std::begin(kResourceForkName))) {
        *kind = ForkKind::Resource;
        return noErr;
    }
    return errFSForkNotFound;
}

struct OpenFork {
    bool used = false;
    ForkKind kind = ForkKind::Data;
    NodeID node = kNoNode;
    Identity identity;
    CDirFd folder;
    std::string name;
    int fd = -1;  // the data fork's file; -1 for a resource fork
    bool canWrite = false;
    SInt64 mark = 0;
    // What the data fork's file was when it was opened, given as the first
    // stamp asked for before anything is done through the fork: nothing has
    // happened since that a second look could see, and any later change to
    // the file still shows in the next stamp.
    struct stat opened {};
    bool openedFresh = false;
    // The resource fork's opening found no sidecar (see forkstore::Looked).
    bool noSidecarSeen = false;
};

std::vector<OpenFork> gForks;  // reference number n is gForks[n - 1]

OpenFork* forkOf(FSIORefNum refNum) {
    if (refNum < 1 || std::size_t(refNum) > gForks.size()) return nullptr;
    OpenFork& f = gForks[std::size_t(refNum) - 1];
    return f.used ? &f : nullptr;
}

forkstore::Looked lookedOf(const struct statx& sx);

// The last look at a file that a call on its forks (creating, opening or
// deleting one) made or took from the walk while a folder hold is in force,
// and what the fork store said of its resource fork then. The next such call
// on the same file, in the same hold and the same kept folder, with no change
// made through the fork store in between, takes it instead of looking again:
// the calls of one file's work see it as it was when the work began, as they
// see its folder. Only what stays while the file keeps its identity (its
// kind, device, inode and birth time) is taken from the look; whatever is
// opened on it is still checked against it, and a fork store that writes
// finds out for itself when a sidecar appeared meanwhile.
struct HeldLook {
    UInt64 hold = 0;  // pathnodes::folderHoldSerial(); 0: nothing kept
    UInt64 folder = 0;
    std::uint64_t changes = 0;
    NodeID node = kNoNode;
    struct statx sx {};
    bool rsrcChecked = false;
    OSErr rsrcVerdict = noErr;
    bool noSidecar = false;
};
HeldLook gHeldLook;

bool sameObject(const Identity& a, const Identity& b) {
    if (a.dev != b.dev || a.ino != b.ino) return false;
    return !a.hasBirth || !b.hasBirth || (a.birthSec == b.birthSec && a.birthNsec == b.birthNsec);
}

// The held look at the file of `ref`, with its folder (which the hold hands
// out without a call), when one serves; false otherwise.
bool heldLookAt(const FSRef* ref, Located* located) {
    NodeID node;
    Identity wanted;
    if (gHeldLook.hold == 0 || gHeldLook.hold != folderHoldSerial() ||
        gHeldLook.changes != forkstore::changeCount() || !readRef(ref, &node, &wanted) ||
        node != gHeldLook.node || !sameObject(wanted, identityOf(gHeldLook.sx)))
        return false;
    CDirFd folder;
    if (openFolder(parentOf(node), &folder) != noErr ||
        pinnedFolderSerial(folder.get()) != gHeldLook.folder)
        return false;
    located->node = node;
    located->folder = std::move(folder);
    located->name = nameOf(node);
    located->sx = gHeldLook.sx;
    return true;
}

void holdLook(const Located& located);

// The look the folder listing took at the file of `ref` just before this hold
// began (see pathnodes::takeListedLook), as the hold's look; false otherwise.
bool listedLookAt(const FSRef* ref, Located* located) {
    NodeID node;
    Identity wanted;
    if (folderHoldSerial() == 0 || !readRef(ref, &node, &wanted) || node == kRootID) return false;
    CDirFd folder;
    struct statx sx {};
    if (openFolder(parentOf(node), &folder) != noErr || !takeListedLook(node, folder.get(), &sx) ||
        !isRegular(sx) || !sameObject(wanted, identityOf(sx)))
        return false;
    located->node = node;
    located->folder = std::move(folder);
    located->name = nameOf(node);
    located->sx = sx;
    holdLook(*located);
    return true;
}

// Keeps the look just made at a regular file for the next call of the hold.
void holdLook(const Located& located) {
    const UInt64 hold = folderHoldSerial();
    const UInt64 folder = pinnedFolderSerial(located.folder.get());
    if (hold == 0 || folder == 0 || located.node == kRootID) {
        gHeldLook = HeldLook();
        return;
    }
    if (gHeldLook.hold == hold && gHeldLook.node == located.node && gHeldLook.folder == folder &&
        gHeldLook.changes == forkstore::changeCount() &&
        sameObject(identityOf(gHeldLook.sx), identityOf(located.sx)))
        return;  // the same look, taken again: what was said of it stands
    gHeldLook = HeldLook();
    gHeldLook.hold = hold;
    gHeldLook.folder = folder;
    gHeldLook.changes = forkstore::changeCount();
    gHeldLook.node = located.node;
    gHeldLook.sx = located.sx;
}

// Finds the file of a reference; forks belong to regular files only, and
// anything else (folder, link, FIFO, socket, device) is refused before it is
// ever opened.
OSErr locateFile(const FSRef* ref, Located* located, Identity* identity) {
    if (!heldLookAt(ref, located) && !listedLookAt(ref, located)) {
        OSErr err = locate(ref, located);
        if (err != noErr) return err;
        if (!isRegular(located->sx)) return notAFileErr;
        holdLook(*located);
    }
    *identity = identityOf(located->sx);
    return noErr;
}

// checkResourceFork of the located file, or what it said in the held look.
OSErr checkResource(const Located& located, bool* noSidecar = nullptr) {
    const bool held = gHeldLook.hold != 0 && gHeldLook.node == located.node &&
                      gHeldLook.folder == pinnedFolderSerial(located.folder.get()) &&
                      gHeldLook.changes == forkstore::changeCount() &&
                      sameObject(identityOf(gHeldLook.sx), identityOf(located.sx));
    if (held && gHeldLook.rsrcChecked) {
        if (noSidecar) *noSidecar = gHeldLook.noSidecar;
        return gHeldLook.rsrcVerdict;
    }
    const forkstore::Looked looked = lookedOf(located.sx);
    bool none = false;
    const OSErr err =
        forkstore::checkResourceFork(located.folder.get(), located.name.c_str(), &looked, &none);
    if (noSidecar) *noSidecar = none;
    if (held) {
        gHeldLook.rsrcChecked = true;
        gHeldLook.rsrcVerdict = err;
        gHeldLook.noSidecar = none;
    }
    return err;
}

// The kind of the named fork and the file it belongs to.
OSErr locateNamedFork(const FSRef* ref, UniCharCount length, const UniChar* name, ForkKind* kind,
                      Located* located, Identity* identity) {
    OSErr err = forkKindOf(length, name, kind);
    return err != noErr ? err : locateFile(ref, located, identity);
}

// Opens the data fork's file without following a link and without blocking,
// then checks that what was opened is the regular file that was located.
OSErr openDataFile(const Located& located, int accessFlags, int* fd,
                   struct stat* openedStat = nullptr) {
    int opened = sysio::openat(located.folder.get(), located.name.c_str(),
                               accessFlags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (opened < 0) return errnoToOSErr(errno);
    struct stat st {};
    if (::fstat(opened, &st) != 0) {
        OSErr err = errnoToOSErr(errno);
        sysio::close(opened);
        return err;
    }
    if (!S_ISREG(st.st_mode) || st.st_ino != located.sx.stx_ino) {
        sysio::close(opened);
        return S_ISREG(st.st_mode) ? OSErr(fnfErr) : OSErr(notAFileErr);
    }
    *fd = opened;
    if (openedStat) *openedStat = st;
    return noErr;
}

// Changing a fork needs write access to the file itself, for either fork: a
// read-only file keeps both as they are.
OSErr checkWritable(const Located& located) {
    if (::faccessat(located.folder.get(), located.name.c_str(), W_OK,
                    AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return errnoToOSErr(errno);
    return noErr;
}

// What the fork store is told of a file that was just looked at.
forkstore::Looked lookedOf(const struct statx& sx) {
    forkstore::Looked looked;
    looked.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    looked.ino = sx.stx_ino;
    looked.mode = sx.stx_mode;
    looked.uid = sx.stx_uid;
    looked.gid = sx.stx_gid;
    return looked;
}

// A resource fork is named by folder and name; before each use, the name must
// still hold the file the fork was opened on.
OSErr checkStillThere(const OpenFork& f, forkstore::Looked* looked) {
    struct statx sx {};
    Identity now;
    OSErr err = statEntry(f.folder.get(), f.name.c_str(), &sx, &now);
    if (err != noErr) return err;
    if (now.dev != f.identity.dev || now.ino != f.identity.ino) return fnfErr;
    *looked = lookedOf(sx);
    return noErr;
}

OSErr forkSize(const OpenFork& f, SInt64* size) {
    if (f.kind == ForkKind::Data) {
        struct stat st {};
        if (::fstat(f.fd, &st) != 0) return errnoToOSErr(errno);
        *size = st.st_size;
        return noErr;
    }
    forkstore::Looked looked;
    OSErr err = checkStillThere(f, &looked);
    if (err != noErr) return err;
    forkstore::RsrcInfo info;
    err = forkstore::getResourceFork(f.folder.get(), f.name.c_str(), &info, &looked);
    if (err != noErr) return err;
    if (info.length > UInt64(std::numeric_limits<SInt64>::max())) return ioErr;
    *size = SInt64(info.length);
    return noErr;
}

// Where a read or write starts: the mark, or an offset from the start, the end
// or the mark. Bits above the two mode bits (cache hints) are ignored.
OSErr startOf(const OpenFork& f, UInt16 positionMode, SInt64 offset, SInt64* start) {
    SInt64 base;
    switch (positionMode & 3) {
        case fsAtMark:
            *start = f.mark;
            return noErr;
        case fsFromStart:
            base = 0;
            break;
        case fsFromLEOF: {
            OSErr err = forkSize(f, &base);
            if (err != noErr) return err;
            break;
        }
        default:
            base = f.mark;
            break;
    }
    if (__builtin_add_overflow(base, offset, start) || *start < 0) return posErr;
    return noErr;
}

}  // namespace

OSErr FSGetDataForkName(HFSUniStr255* dataForkName) {
    if (!dataForkName) return paramErr;
    dataForkName->length = 0;
    return noErr;
}

OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName) {
    if (!resourceForkName) return paramErr;
    resourceForkName->length = kResourceForkNameLength;
    std::copy(std::begin(kResourceForkName), std::end(kResourceForkName),
              resourceForkName->unicode);
    return noErr;
}

// Every regular file has both forks, either possibly empty, so creating one
// only checks that the file can have forks. Nothing is written: an empty
// resource fork needs no sidecar, and a failure later leaves no trace.
OSErr FSCreateFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName) {
    ForkKind kind;
    Located located;
    Identity identity;
    OSErr err = locateNamedFork(ref, forkNameLength, forkName, &kind, &located, &identity);
    if (err != noErr || kind == ForkKind::Data) return err;
    return checkResource(located);
}

OSErr FSDeleteFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName) {
    ForkKind kind;
    Located located;
    Identity identity;
    OSErr err = locateNamedFork(ref, forkNameLength, forkName, &kind, &located, &identity);
    if (err != noErr) return err;
    for (const OpenFork& f : gForks)
        if (f.used && f.kind == kind && f.identity.dev == identity.dev &&
            f.identity.ino == identity.ino)
            return fBsyErr;
    // The fork store checks write access to the file before it changes anything.
    if (kind == ForkKind::Resource) {
        const forkstore::Looked looked = lookedOf(located.sx);
        return forkstore::deleteResourceFork(located.folder.get(), located.name.c_str(), &looked);
    }
    int fd;
    err = openDataFile(located, O_WRONLY, &fd);
    if (err != noErr) return err;
    if (sysio::ftruncate(fd, 0) != 0) err = errnoToOSErr(errno);
    sysio::close(fd);
    return err;
}

OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum) {
    if (!forkRefNum) return paramErr;
    ForkKind kind;
    OSErr err = forkKindOf(forkNameLength, forkName, &kind);
    if (err != noErr) return err;
    if (permissions < fsCurPerm || permissions > fsRdWrShPerm) return paramErr;
    Located located;
    Identity identity;
    err = locateFile(ref, &located, &identity);
    if (err != noErr) return err;

    OpenFork f;
    f.kind = kind;
    f.node = located.node;
    f.identity = identity;
    f.name = located.name;
    f.canWrite = permissions != fsRdPerm;
    if (kind == ForkKind::Data) {
        err = openDataFile(located, f.canWrite ? O_RDWR : O_RDONLY, &f.fd, &f.opened);
        // "Current permission": write access when the file grants it, else read.
        if (err != noErr && permissions == fsCurPerm && (err == afpAccessDenied || err == wPrErr)) {
            f.canWrite = false;
            err = openDataFile(located, O_RDONLY, &f.fd, &f.opened);
        }
        f.openedFresh = err == noErr;
    } else {
        err = checkResource(located, &f.noSidecarSeen);
        if (err == noErr && f.canWrite) {
            err = checkWritable(located);
            if (err != noErr && permissions == fsCurPerm) {
                f.canWrite = false;
                err = noErr;
            }
        }
    }
    if (err != noErr) return err;
    f.folder = std::move(located.folder);

    std::size_t slot = 0;
    while (slot < gForks.size() && gForks[slot].used) ++slot;
    if (slot >= std::size_t(std::numeric_limits<FSIORefNum>::max())) {
        if (f.fd >= 0) sysio::close(f.fd);
        return tmfoErr;
    }
    if (slot == gForks.size()) gForks.emplace_back();
    f.used = true;
    gForks[slot] = std::move(f);
    *forkRefNum = FSIORefNum(slot + 1);
    return noErr;
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* size) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (!size) return paramErr;
    return forkSize(*f, size);
}

OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    SInt64 position;
    OSErr err = startOf(*f, positionMode, positionOffset, &position);
    if (err != noErr) return err;
    // The start of an open data fork is never past its end.
    if (position == 0 && f->kind == ForkKind::Data) {
        f->mark = 0;
        return noErr;
    }
    SInt64 size;
    err = forkSize(*f, &size);
    if (err != noErr) return err;
    if (position > size) {
        f->mark = size;
        return eofErr;
    }
    f->mark = position;
    return noErr;
}

OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (f->kind != ForkKind::Data) return paramErr;
    if (!f->canWrite) return wrPermErr;
    SInt64 size;
    OSErr err = startOf(*f, positionMode, positionOffset, &size);
    if (err != noErr) return err;
    f->openedFresh = false;
    if (sysio::ftruncate(f->fd, off_t(size)) != 0) return errnoToOSErr(errno);
    if (f->mark > size) f->mark = size;
    return noErr;
}

OSErr FSGetForkFileStamp(FSIORefNum forkRefNum, FSForkFileStamp* stamp) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (!stamp) return paramErr;
    struct statx sx {};
    if (f->kind == ForkKind::Data && f->openedFresh) {
        f->openedFresh = false;
        stamp->dataLength = UInt64(f->opened.st_size);
        stamp->modSeconds = f->opened.st_mtim.tv_sec;
        stamp->modNanoseconds = UInt32(f->opened.st_mtim.tv_nsec);
        stamp->linkCount = UInt32(f->opened.st_nlink);
        return noErr;
    }
    if (f->kind == ForkKind::Data) {
        if (::statx(f->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &sx) != 0)
            return errnoToOSErr(errno);
    } else {
        forkstore::Looked looked;
        OSErr err = checkStillThere(*f, &looked);
        if (err == noErr) err = statEntry(f->folder.get(), f->name.c_str(), &sx, nullptr);
        if (err != noErr) return err;
    }
    stamp->dataLength = sx.stx_size;
    stamp->modSeconds = sx.stx_mtime.tv_sec;
    stamp->modNanoseconds = sx.stx_mtime.tv_nsec;
    stamp->linkCount = sx.stx_nlink;
    return noErr;
}

OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (!position) return paramErr;
    *position = f->mark;
    return noErr;
}

OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount) {
    if (actualCount) *actualCount = 0;
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (!buffer && requestCount > 0) return paramErr;
    SInt64 start;
    OSErr err = startOf(*f, positionMode, positionOffset, &start);
    if (err != noErr) return err;
    if (start > std::numeric_limits<SInt64>::max() - SInt64(requestCount)) return posErr;
    std::size_t got = 0;
    if (f->kind == ForkKind::Data) {
        ssize_t n = sysio::pread(f->fd, buffer, requestCount, start);
        if (n < 0) return errnoToOSErr(errno);
        got = std::size_t(n);
        err = got < requestCount ? OSErr(eofErr) : OSErr(noErr);
    } else {
        forkstore::Looked looked;
        err = checkStillThere(*f, &looked);
        if (err != noErr) return err;
        err = forkstore::readResourceFork(f->folder.get(), f->name.c_str(), UInt64(start),
                                          requestCount, buffer, &got, &looked);
        if (err != noErr && err != eofErr) return err;
        if (got > requestCount) return ioErr;
        if (got < requestCount) err = eofErr;
    }
    f->mark = start + SInt64(got);
    if (actualCount) *actualCount = ByteCount(got);
    return err;
}

OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount) {
    if (actualCount) *actualCount = 0;
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (!buffer && requestCount > 0) return paramErr;
    if (!f->canWrite) return wrPermErr;
    SInt64 start;
    OSErr err = startOf(*f, positionMode, positionOffset, &start);
    if (err != noErr) return err;
    if (start > std::numeric_limits<SInt64>::max() - SInt64(requestCount)) return posErr;
    if (requestCount > 0) {
        if (f->kind == ForkKind::Data) {
            f->openedFresh = false;
            if (sysio::pwrite(f->fd, buffer, requestCount, start) < 0) return errnoToOSErr(errno);
        } else {
            f->noSidecarSeen = false;  // this write may make one
            forkstore::Looked looked;
            err = checkStillThere(*f, &looked);
            if (err != noErr) return err;
            // Durable when this returns: the flip relies on it before it
            // truncates the data fork whose bytes went here.
            err = forkstore::writeResourceFork(f->folder.get(), f->name.c_str(), UInt64(start),
                                               requestCount, buffer, &looked);
            if (err != noErr) return err;
        }
    }
    f->mark = start + SInt64(requestCount);
    if (actualCount) *actualCount = requestCount;
    return noErr;
}

OSErr FSCopyDataForkToResourceFork(FSIORefNum source, FSIORefNum dest, UInt64 count) {
    OpenFork* from = forkOf(source);
    OpenFork* to = forkOf(dest);
    if (!from || !to) return rfNumErr;
    if (from->kind != ForkKind::Data || to->kind != ForkKind::Resource) return paramErr;
    if (!to->canWrite) return wrPermErr;
    if (count == 0) return noErr;
    from->openedFresh = false;
    forkstore::Looked looked;
    OSErr err = checkStillThere(*to, &looked);
    if (err != noErr) return err;
    // The data fork opened for writing is the file itself when both forks
    // were opened on it and the name still holds it: the store writes
    // through it instead of opening the name once more.
    if (from->canWrite && from->identity.dev == to->identity.dev &&
        from->identity.ino == to->identity.ino)
        looked.fd = from->fd;
    looked.noSidecar = to->noSidecarSeen;
    to->noSidecarSeen = false;
    err = forkstore::writeResourceForkFrom(to->folder.get(), to->name.c_str(), from->fd, count,
                                           &looked);
    if (err == noErr) to->mark = SInt64(count);
    return err;
}

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr) {
    if (!count || *count < 0) return paramErr;
    ByteCount written = 0;
    OSErr err = FSWriteFork(refNum, fsAtMark, 0, ByteCount(*count), buffPtr, &written);
    *count = SInt32(written);
    return err;
}

OSErr FSCloseFork(FSIORefNum forkRefNum) {
    OpenFork* f = forkOf(forkRefNum);
    if (!f) return rfNumErr;
    if (f->fd >= 0) sysio::close(f->fd);
    *f = OpenFork();
    return noErr;
}

OSErr FSClose(SInt16 refNum) {
    return FSCloseFork(refNum);
}
