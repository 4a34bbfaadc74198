// The transaction that changes an AppleDouble file (a "._name" sidecar or a
// netatalk header in ".AppleDouble") so that a crash at any moment leaves the
// old file or the new one: the new file is written whole, without a name or
// under a temporary one, synced, then swapped or linked into place and the
// folder synced. Also the layout of a rebuilt sidecar and small changes made
// in place (synced, undone on failure).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/files/linux/ForkStoreInternal.h"
#include "platform/files/linux/PathNodes.h"

namespace forkstore {

namespace {

OSErr syncFolder(int dirfd) {
    if (pathnodes::canSyncFolder(dirfd))
        return sysio::fsync(dirfd) == 0 ? OSErr(noErr) : lastError();
    int f = sysio::openat(dirfd, ".", O_RDONLY | O_DIRECTORY);
    if (f < 0) return lastError();
    Fd fd(f);
    return sysio::fsync(f) == 0 ? OSErr(noErr) : lastError();
}

// Removes a temporary file; one retry so that a passing failure leaves nothing.
void removeTemp(int dirfd, const std::string& temp) {
    if (sysio::unlinkat(dirfd, temp.c_str(), 0) != 0 && errno != ENOENT)
        sysio::unlinkat(dirfd, temp.c_str(), 0);
}

// Below this size a copy is made whole rather than searched for holes, so it
// may be the one that gives the new file its size.
constexpr std::uint64_t kWholeCopy = std::uint64_t(1) << 20;

// The copy that ends the file of `size` bytes and is small enough to be made
// whole (a flip's small data fork), giving the file its size: then the file
// needs no extending first. Null when there is none (the last bytes are
// zeros, memory, or a large copy that keeps its holes), and the file is
// extended before anything is written.
const Piece* lastCopiedWhole(const std::vector<Piece>& pieces, std::uint64_t size) {
    for (const Piece& p : pieces)
        if (!p.mem && p.srcFd >= 0 && p.length > 0 && p.length < kWholeCopy &&
            p.dest + p.length == size)
            return &p;
    return nullptr;
}

// Writes the pieces into a file that is extended to its whole size, or gets it
// from `last`, written whole, so that whatever no piece covers (and every hole
// of a source) reads as zeros.
OSErr writePieces(int fd, const std::vector<Piece>& pieces, const Piece* last) {
    for (const Piece& p : pieces) {
        if (p.length == 0) continue;
        if (p.mem) {
            if (sysio::pwrite(fd, p.mem, p.length, off_t(p.dest)) < 0) return lastError();
            continue;
        }
        if (p.srcFd < 0) continue;  // zeros: the file ends past them
        const ssize_t got = sysio::copyRange(p.srcFd, off_t(p.srcOffset), fd, off_t(p.dest),
                                             std::size_t(p.length), &p != last);
        if (got < 0) return lastError();
        if (std::uint64_t(got) != p.length) return ioErr;  // the source shrank
    }
    return noErr;
}

// Gives the file just created in `dirfd` the owner and group it should have
// (unless it was created with them), and its mode where that is not the one it
// was created with. Only root may give a file away; a group the writer is not
// in cannot be had either, and then the group the file got may read no more
// than everyone else.
OSErr applyOwnership(int dirfd, int fd, const Ownership& owner) {
    mode_t mode = owner.mode;
    bool setMode = owner.keepMode;
    if (!createsOwnedBy(dirfd, owner.uid, owner.gid) && ::fchown(fd, owner.uid, owner.gid) != 0 &&
        ::fchown(fd, uid_t(-1), owner.gid) != 0) {
        mode = (mode & ~mode_t(070)) | (mode & (mode & 07) << 3);
        setMode = true;
    }
    return !setMode || ::fchmod(fd, mode) == 0 ? OSErr(noErr) : lastError();
}

// renameat2 flags are missing on some file systems (NFS, exFAT, FUSE).
bool flagsUnsupported(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Replaces the sidecar where swapping names is not supported. The rename is
// still atomic, but the old sidecar is gone once it is done, so a failure
// after it is reported without being undone.
OSErr replaceSidecar(int dirfd, const std::string& sc, const Sidecar& old,
                     const std::string& temp) {
    struct stat now;
    if (::fstatat(dirfd, sc.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != old.st.st_ino || now.st_dev != old.st.st_dev) {
        removeTemp(dirfd, temp);
        return kRaced;
    }
    if (sysio::renameat(dirfd, temp.c_str(), dirfd, sc.c_str()) != 0) {
        const OSErr err = lastError();
        removeTemp(dirfd, temp);
        return err;
    }
    return syncFolder(dirfd);
}

// Who owns a sidecar written anew: a rebuilt one keeps its owner and mode. A
// new one gets the owner and group of its file and the usual mode (0666 less
// umask, which the kernel takes off when it creates the file) limited to the
// file's own permission bits: the fork is never open to anyone the file is
// closed to.
Ownership ownershipFor(const Sidecar& sc, const Target& t) {
    if (sc.exists) return {sc.st.st_uid, sc.st.st_gid, mode_t(sc.st.st_mode & 07777), true};
    return {t.st.st_uid, t.st.st_gid, mode_t(0666 & t.st.st_mode), false};
}

}  // namespace

OSErr writeTemp(int dirfd, const Header& header, const std::vector<Piece>& pieces,
                std::uint64_t size, const Ownership& owner, const std::string* linkAs,
                std::string* temp) {
    // Written without a name where the file system allows it (O_TMPFILE) and
    // named only once complete and synced, so a process killed while writing
    // leaves nothing in the user's folder. Elsewhere, a named temporary file.
    static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
    int f = procMounted ? sysio::openat(dirfd, ".", O_TMPFILE | O_RDWR, owner.mode) : -1;
    const bool unnamed = f >= 0;
    for (int attempt = 0; attempt < 16 && f < 0; ++attempt) {
        *temp = temporaryName();
        f = sysio::openat(dirfd, temp->c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW, owner.mode);
        if (f < 0 && errno != EEXIST) return lastError();
    }
    if (f < 0) return ioErr;
    Fd fd(f);
    const Bytes table = appledouble::serializeHeader(header);
    OSErr err = applyOwnership(dirfd, f, owner);
    const Piece* last = lastCopiedWhole(pieces, size);
    if (err == noErr && ((!last && table.size() < size && sysio::ftruncate(f, off_t(size)) != 0) ||
                         sysio::pwrite(f, table.data(), table.size(), 0) < 0))
        err = lastError();
    if (err == noErr) err = writePieces(f, pieces, last);
    if (err == noErr && sysio::fdatasync(f) != 0) err = lastError();
    if (unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(f);
        temp->clear();
        if (linkAs) {
            // No temporary name ever exists, so a process killed at any point
            // leaves either no sidecar or the complete one.
            if (err == noErr && sysio::linkat(AT_FDCWD, self.c_str(), dirfd, linkAs->c_str(),
                                              AT_SYMLINK_FOLLOW) != 0)
                err = errno == EEXIST ? kRaced : lastError();
            return err;
        }
        for (int attempt = 0; err == noErr && attempt < 16; ++attempt) {
            *temp = temporaryName();
            if (sysio::linkat(AT_FDCWD, self.c_str(), dirfd, temp->c_str(), AT_SYMLINK_FOLLOW) == 0)
                break;
            if (errno != EEXIST || attempt == 15) err = lastError();
        }
        return err;  // an unnamed file that was never linked goes with its descriptor
    }
    fd.reset();
    if (err != noErr) removeTemp(dirfd, *temp);
    return err;
}

OSErr installFile(int dirfd, const std::string& sc, const Sidecar& old, const std::string& temp) {
    const char* t = temp.c_str();
    if (!old.exists) {
        // Already linked under its own name by writeTemp: only make it durable.
        int rc = temp.empty() ? 0 : sysio::renameNoReplace(dirfd, t, dirfd, sc.c_str());
        bool linked = false;
        if (rc != 0 && flagsUnsupported(errno)) {
            // NFS has no RENAME_NOREPLACE; a hard link never replaces either.
            rc = sysio::linkat(dirfd, t, dirfd, sc.c_str(), 0);
            linked = rc == 0;
        }
        if (rc != 0) {
            const int e = errno;
            removeTemp(dirfd, temp);
            return e == EEXIST ? kRaced : errnoToOSErr(e);
        }
        if (linked) removeTemp(dirfd, temp);
        OSErr err = syncFolder(dirfd);
        if (err != noErr) {
            removeTemp(dirfd, sc);
            syncFolder(dirfd);
        }
        return err;
    }
    if (sysio::renameExchange(dirfd, t, dirfd, sc.c_str()) != 0) {
        const int e = errno;
        if (flagsUnsupported(e)) return replaceSidecar(dirfd, sc, old, temp);
        removeTemp(dirfd, temp);
        return errnoToOSErr(e);
    }
    // The old sidecar now sits under the temporary name: check it is the one
    // we read, so a sidecar replaced meanwhile is not lost.
    struct stat moved;
    OSErr err = noErr;
    if (::fstatat(dirfd, t, &moved, AT_SYMLINK_NOFOLLOW) != 0 || moved.st_ino != old.st.st_ino ||
        moved.st_dev != old.st.st_dev)
        err = kRaced;
    if (err == noErr) err = syncFolder(dirfd);
    if (err != noErr) {
        if (sysio::renameExchange(dirfd, t, dirfd, sc.c_str()) == 0) syncFolder(dirfd);
        removeTemp(dirfd, temp);  // now the new bytes
        return err;
    }
    removeTemp(dirfd, temp);  // the old sidecar
    return noErr;
}

OSErr planSidecar(const Sidecar& sc, std::uint64_t forkLength, Header* out,
                  std::vector<Piece>* pieces, std::uint64_t* forkAt, Bytes* scratch,
                  const std::uint8_t* finderInfo) {
    Header h;
    if (!sc.exists) {
        h = appledouble::newSidecar(0);
    } else if (sc.fork && appledouble::forkIsLast(sc.header) &&
               (!finderInfo || sc.header.find(appledouble::kFinderInfoId))) {
        h = sc.header;  // same shape: only the fork's length changes
    } else {
        // No room for the entries it needs: leave the sidecar as it is.
        auto laidOut = appledouble::relayout(sc.header, 0);
        if (!laidOut) return ioErr;
        h = std::move(*laidOut);
    }
    Entry* fork = h.find(appledouble::kResourceForkId);
    if (fork->offset + forkLength > kMaxEntryEnd) return posErr;
    fork->length = std::uint32_t(forkLength);
    for (const Entry& e : h.entries) {
        if (e.id == appledouble::kResourceForkId) continue;
        const Entry* was = sc.exists ? sc.header.find(e.id) : nullptr;
        if (e.id == appledouble::kFinderInfoId && finderInfo) {
            // The new Finder info; whatever followed it in the entry is kept.
            scratch->assign(e.length, 0);
            if (was && e.length > appledouble::kFinderInfoSize) {
                OSErr err = sc.read(was->offset, scratch->data(), e.length);
                if (err != noErr) return err;
                appledouble::rebaseAttrBlock(scratch->data(), e.length, was->offset, e.offset);
            }
            std::memcpy(scratch->data(), finderInfo, appledouble::kFinderInfoSize);
            pieces->push_back({e.offset, e.length, -1, 0, scratch->data()});
            continue;
        }
        if (!was) continue;  // a Finder info entry added as zeros
        if (e.id == appledouble::kFinderInfoId && was->offset != e.offset &&
            sc.header.hasAttrBlock) {
            scratch->assign(e.length, 0);
            OSErr err = sc.read(was->offset, scratch->data(), e.length);
            if (err != noErr) return err;
            appledouble::rebaseAttrBlock(scratch->data(), e.length, was->offset, e.offset);
            pieces->push_back({e.offset, e.length, -1, 0, scratch->data()});
            continue;
        }
        pieces->push_back({e.offset, e.length, sc.fd.get(), was->offset, nullptr});
    }
    *out = h;
    *forkAt = fork->offset;
    return noErr;
}

OSErr writeSidecarAnew(const Stores& s, const Header& header, const std::vector<Piece>& pieces,
                       std::uint64_t size) {
    std::string temp;
    const std::string newName = sidecarName(s.name);
    const OSErr err = writeTemp(s.dirfd, header, pieces, size, ownershipFor(s.sc, s.t),
                                s.sc.exists ? nullptr : &newName, &temp);
    return err != noErr ? err : installFile(s.dirfd, newName, s.sc, temp);
}

OSErr patchInPlace(const Sidecar& sc, std::uint64_t at, const void* bytes, std::size_t n) {
    Bytes old(n);
    OSErr err = sc.read(at, old.data(), n);
    if (err != noErr) return err;
    if (sysio::pwrite(sc.fd.get(), bytes, n, off_t(at)) < 0) return lastError();
    if (sysio::fdatasync(sc.fd.get()) != 0) {
        err = lastError();
        sysio::pwrite(sc.fd.get(), old.data(), n, off_t(at));
        return err;
    }
    return noErr;
}

}  // namespace forkstore
