// The resource fork in each of its stores: the "._name" sidecar, netatalk 2's
// ".AppleDouble/name", the Mac attribute and Samba's stream. Finds the store
// that holds a fork, reads it, and writes or empties it where it is: appended
// in place at the end of a sidecar, rebuilt by the sidecar transaction, or an
// attribute's value replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/files/linux/ForkStoreInternal.h"

namespace forkstore {

namespace {

// The bytes a write puts into a fork: `count` bytes from memory, or, without
// memory, the first `count` bytes of the file `fd` (a flip's data fork),
// copied inside the kernel, so that a fork of any size costs no more memory.
struct Source {
    const std::uint8_t* mem = nullptr;
    int fd = -1;
    std::uint64_t count = 0;
};

// The pieces of a resource fork made of `oldLength` old bytes (from a sidecar
// or an attribute) with the source's bytes written at `offset`.
void forkPieces(std::uint64_t dest, int oldFd, std::uint64_t oldAt, const std::uint8_t* oldMem,
                std::uint64_t oldLength, std::uint64_t offset, const Source& src,
                std::vector<Piece>* pieces) {
    const std::uint64_t count = src.count;
    auto old = [&](std::uint64_t from, std::uint64_t to) {
        if (to <= from) return;
        Piece p;
        p.dest = dest + from;
        p.length = to - from;
        if (oldMem) {
            p.mem = oldMem + from;
        } else {
            p.srcFd = oldFd;
            p.srcOffset = oldAt + from;
        }
        pieces->push_back(p);
    };
    old(0, std::min(oldLength, offset));
    Piece w;
    w.dest = dest + offset;
    w.length = count;
    w.mem = src.mem;
    if (!src.mem) w.srcFd = src.fd;
    pieces->push_back(w);
    old(offset + count, oldLength);
}

// Appends at the end of a sidecar whose fork is its last entry: the bytes are
// written and synced before the length that covers them.
OSErr appendInPlace(const Sidecar& sc, std::uint64_t offset, const Source& src) {
    const int fd = sc.fd.get();
    const std::uint64_t forkAt = sc.fork->offset;
    const std::uint64_t oldEnd = forkAt + sc.forkLength;
    const std::uint64_t newLength = offset + src.count;
    const std::size_t lengthField = sc.header.lengthFieldOffset(appledouble::kResourceForkId);
    // Bytes past the fork belong to no entry; cut them so a gap reads as zeros.
    if (sc.size > oldEnd && sysio::ftruncate(fd, off_t(oldEnd)) != 0) return lastError();
    OSErr err = noErr;
    if (src.mem) {
        if (sysio::pwrite(fd, src.mem, src.count, off_t(forkAt + offset)) < 0) err = lastError();
    } else {
        // Extended first, so that the source's holes stay holes.
        const ssize_t got =
            sysio::ftruncate(fd, off_t(forkAt + newLength)) != 0
                ? -1
                : sysio::copyRange(src.fd, 0, fd, off_t(forkAt + offset), src.count, true);
        if (got < 0)
            err = lastError();
        else if (std::uint64_t(got) != src.count)
            err = ioErr;  // the source shrank
    }
    if (err == noErr && sysio::fdatasync(fd) != 0) err = lastError();
    std::uint8_t field[4];
    bigendian::writeU32(field, std::uint32_t(newLength));
    bool lengthWritten = false;
    if (err == noErr) {
        if (sysio::pwrite(fd, field, 4, off_t(lengthField)) < 0) {
            err = lastError();
        } else {
            lengthWritten = true;
            if (sysio::fdatasync(fd) != 0) err = lastError();
        }
    }
    if (err != noErr) {
        if (lengthWritten) {
            bigendian::writeU32(field, std::uint32_t(sc.forkLength));
            sysio::pwrite(fd, field, 4, off_t(lengthField));
        }
        sysio::ftruncate(fd, off_t(oldEnd));
    }
    return err;
}

// Why an attribute did not take a fork's new value of `size` bytes: too large
// for it (E2BIG, ERANGE, or ENOSPC on a file system that still has room, as
// ext4 answers when one file's attributes outgrow their block), a full disk,
// or whatever else the file system said.
OSErr attrWriteError(int fd, std::size_t size) {
    const int e = errno;
    if (e == E2BIG || e == ERANGE) return fsDataTooBigErr;
    if (e == ENOSPC) {
        struct statvfs vfs;
        if (::fstatvfs(fd, &vfs) == 0) {
            const std::uint64_t blocks = ::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail;
            if (blocks * vfs.f_frsize >= size + 2 * std::uint64_t(vfs.f_bsize))
                return fsDataTooBigErr;
        }
        return dskFulErr;
    }
    if (e == ENODATA) return kRaced;  // removed meanwhile: look again
    return errnoToOSErr(e);
}

// Writes the fork into the attribute that holds it (fs.target()), whole:
// Linux replaces an attribute's value at once, so a crash leaves the old fork
// or the new one, and a value the attribute cannot take changes nothing.
// Samba's stream keeps its trailing NUL byte. Synced before it returns; a
// failed sync puts the old value back.
OSErr writeAttrFork(const Target& t, const ForkState& fs, std::uint64_t offset, const Source& src) {
    const RsrcStore store = fs.target();
    const char* attr = store == RsrcStore::MacXattr ? kMacForkAttr : kSambaForkAttr;
    const std::size_t trailing = store == RsrcStore::SambaStream ? 1 : 0;
    const std::uint64_t newLength = std::max<std::uint64_t>(fs.length, offset + src.count);
    if (newLength + trailing > kMaxAttrValue) return fsDataTooBigErr;
    Bytes value(std::size_t(newLength) + trailing, 0);
    std::copy_n(fs.attrValue.begin(), fs.length, value.begin());
    if (src.mem) {
        std::memcpy(value.data() + offset, src.mem, src.count);
    } else {
        const ssize_t got = sysio::pread(src.fd, value.data() + offset, src.count, 0);
        if (got < 0) return lastError();
        if (std::uint64_t(got) != src.count) return ioErr;  // the source shrank
    }
    const int fd = t.fd.get();
    if (sysio::fsetxattr(fd, attr, value.data(), value.size(), XATTR_REPLACE) != 0)
        return attrWriteError(fd, value.size());
    if (sysio::fsync(fd) != 0) {
        const OSErr err = lastError();
        sysio::fsetxattr(fd, attr, fs.attrValue.data(), fs.attrValue.size(), XATTR_REPLACE);
        return err;
    }
    return noErr;
}

// Rewrites netatalk 2's header file with a fork of `newLength` bytes, made of
// the old fork (`oldLength` bytes, 0 for none or the placeholder) with `count`
// bytes of `buffer` written at `offset`. The 741-byte header keeps every byte
// but the fork's length, so netatalk's own entries and ids, the filler and the
// unused parts of its slots stay as they were; the fork stays last at 741. As
// for a sidecar, the new file is written under a temporary name in
// ".AppleDouble", synced and swapped into place, the folder synced: netatalk
// takes the fork as the rest of the file, so a change in place could not be
// told from a half-done one.
OSErr rewriteNetatalk(const NetatalkHeader& nh, const char* name, std::uint64_t oldLength,
                      std::uint64_t newLength, std::uint64_t offset, const Source& src) {
    constexpr std::size_t kHeader = appledouble::kNetatalkHeaderSize;
    if (kHeader + newLength > kMaxEntryEnd) return posErr;
    sweepFolderOnce(nh.folder.get());
    Header h = nh.header;
    h.find(appledouble::kResourceForkId)->length = std::uint32_t(newLength);
    const std::size_t table = h.tableSize();
    std::vector<Piece> pieces = {{table, kHeader - table, -1, 0, nh.head.data() + table}};
    if (src.count)
        forkPieces(kHeader, nh.fd.get(), kHeader, nullptr, oldLength, offset, src, &pieces);
    std::string temp;
    const Ownership owner{nh.st.st_uid, nh.st.st_gid, mode_t(nh.st.st_mode & 07777), true};
    OSErr err = writeTemp(nh.folder.get(), h, pieces, kHeader + newLength, owner, nullptr, &temp);
    return err != noErr ? err : installFile(nh.folder.get(), name, nh, temp);
}

OSErr writeOnce(int dirfd, const char* name, std::uint64_t offset, const Source& src,
                const Looked* looked) {
    const std::uint64_t count = src.count;
    Stores s;
    ForkState fs;
    OSErr err = openAndLocate(dirfd, name, Use::ChangeFork, looked, locateFork, &s, &fs);
    if (err != noErr) return err;
    if (looked && looked->noSidecar && fs.holder != RsrcStore::None) {
        // The fork has another store: a sidecar that appeared since the
        // caller looked would not show when writing there, so look now.
        Looked again = *looked;
        again.noSidecar = false;
        return writeOnce(dirfd, name, offset, src, &again);
    }
    if (count == 0) return noErr;
    const std::uint64_t newLength = std::max<std::uint64_t>(fs.length, offset + count);
    switch (fs.target()) {
        case RsrcStore::MacXattr:
        case RsrcStore::SambaStream:
            return writeAttrFork(s.t, fs, offset, src);
        case RsrcStore::NetatalkFolder:
            return rewriteNetatalk(s.nh, name, fs.length, newLength, offset, src);
        case RsrcStore::Sidecar:
        case RsrcStore::None:
            break;
    }

    // Into the sidecar, which holds the fork or is created for it.
    const Sidecar& sc = s.sc;
    if (sc.exists && sc.fork && !sc.placeholder && appledouble::forkIsLast(sc.header) &&
        offset >= sc.forkLength) {
        if (sc.fork->offset + newLength > kMaxEntryEnd) return posErr;
        return appendInPlace(sc, offset, src);
    }
    Header h;
    std::vector<Piece> pieces;
    std::uint64_t forkAt = 0;
    Bytes scratch;
    if ((err = planSidecar(sc, newLength, &h, &pieces, &forkAt, &scratch, nullptr)) != noErr)
        return err;
    forkPieces(forkAt, sc.fd.get(), sc.exists && sc.fork ? sc.fork->offset : 0, nullptr, fs.length,
               offset, src, &pieces);
    return writeSidecarAnew(s, h, pieces, forkAt + newLength);
}

OSErr deleteOnce(int dirfd, const char* name, const Looked* looked) {
    Stores s;
    OSErr err = openStores(dirfd, name, Use::ChangeFork, &s, looked);
    if (err != noErr) return err;
    const Target& t = s.t;
    const Sidecar& sc = s.sc;
    // Look before changing anything, so that a failure leaves all as it was.
    bool present[2] = {};
    Bytes value;
    if ((t.mayHave(kMacForkAttr) &&
         (err = readAttr(t.fd.get(), kMacForkAttr, &value, &present[0])) != noErr) ||
        (t.mayHave(kSambaForkAttr) &&
         (err = readAttr(t.fd.get(), kSambaForkAttr, &value, &present[1])) != noErr) ||
        (err = s.netatalk()) != noErr)
        return err;
    if (sc.exists && sc.fork && sc.fork->length > 0) {
        const Entry* fiEntry = sc.header.find(appledouble::kFinderInfoId);
        std::uint8_t fi[32] = {};
        if (fiEntry && (err = sc.read(fiEntry->offset, fi, 32)) != noErr) return err;
        if (sc.holdsNothingBesideFork(fi)) {
            if (sysio::unlinkat(dirfd, sidecarName(name).c_str(), 0) != 0) return lastError();
        } else {
            // Length 0 first (synced), then cut the file where the fork began.
            const int fd = sc.fd.get();
            const std::size_t field = sc.header.lengthFieldOffset(appledouble::kResourceForkId);
            std::uint8_t zero[4] = {}, old[4];
            bigendian::writeU32(old, sc.fork->length);
            if (sysio::pwrite(fd, zero, 4, off_t(field)) < 0) return lastError();
            if (sysio::fdatasync(fd) != 0 || (appledouble::forkIsLast(sc.header) &&
                                              sysio::ftruncate(fd, off_t(sc.fork->offset)) != 0)) {
                err = lastError();
                sysio::pwrite(fd, old, 4, off_t(field));
                sysio::fdatasync(fd);
                return err;
            }
        }
    }
    // netatalk's header keeps everything but the fork, and stays.
    if (s.nh.exists && s.nh.fork->length > 0 &&
        (err = rewriteNetatalk(s.nh, name, 0, 0, 0, Source{})) != noErr)
        return err;
    for (const char* attr : {kMacForkAttr, kSambaForkAttr})
        if (present[attr == kSambaForkAttr] && (err = removeAttr(t.fd.get(), attr)) != noErr)
            return err;
    return noErr;
}

}  // namespace

// Looks through the stores in order of precedence, up to the first that holds
// a non-empty fork. ".AppleDouble/name" is looked at only when the sidecar
// holds none, and each attribute only when the file may have it.
OSErr locateFork(Stores& s, ForkState* fs) {
    auto held = [&](RsrcStore store) {
        if (fs->holder == RsrcStore::None) fs->holder = store;
    };
    if (s.sc.exists) {
        held(RsrcStore::Sidecar);
        if (s.sc.forkLength > 0) {
            fs->store = RsrcStore::Sidecar;
            fs->length = s.sc.forkLength;
            return noErr;
        }
    }
    OSErr err = s.netatalk();
    if (err != noErr) return err;
    if (s.nh.exists) {
        held(RsrcStore::NetatalkFolder);
        if (s.nh.forkLength > 0) {
            fs->store = RsrcStore::NetatalkFolder;
            fs->length = s.nh.forkLength;
            return noErr;
        }
    }
    const struct {
        const char* attr;
        RsrcStore store;
        std::size_t trailing;
    } stores[] = {{kMacForkAttr, RsrcStore::MacXattr, 0},
                  {kSambaForkAttr, RsrcStore::SambaStream, 1}};
    for (const auto& a : stores) {
        Bytes value;
        bool present = false;
        if (s.t.mayHave(a.attr) &&
            (err = readAttr(s.t.fd.get(), a.attr, &value, &present)) != noErr)
            return err;
        if (!present) continue;
        const bool first = fs->holder == RsrcStore::None;
        held(a.store);
        const std::size_t length = value.size() > a.trailing ? value.size() - a.trailing : 0;
        const bool empty = length == 0 || appledouble::isPlaceholder(value.data(), length);
        if (first || !empty) fs->attrValue = std::move(value);
        if (empty) continue;
        fs->store = a.store;
        fs->length = length;
        return noErr;
    }
    return noErr;
}

OSErr checkResourceFork(int dirfd, const char* name, const Looked* looked, bool* noSidecar) {
    if (noSidecar) *noSidecar = false;
    if (!validName(name)) return paramErr;
    // Neither file that could be malformed is there: nothing to look into (the
    // attributes hold any bytes).
    struct stat st;
    const std::string sidecar = sidecarName(name);
    const bool none = ::fstatat(dirfd, sidecar.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
                      (errno == ENOENT || errno == ENAMETOOLONG);
    if (noSidecar) *noSidecar = none;
    if (none && (isNetatalkOwnName(name) || !mayHaveNetatalkFolder(dirfd))) return noErr;
    RsrcInfo info;
    return getResourceFork(dirfd, name, &info, looked);
}

OSErr getResourceFork(int dirfd, const char* name, RsrcInfo* info, const Looked* looked) {
    if (!info) return paramErr;
    Stores s;
    ForkState fs;
    const OSErr err = openAndLocate(dirfd, name, Use::ReadFork, looked, locateFork, &s, &fs);
    if (err != noErr) return err;
    info->store = fs.store;
    info->length = fs.length;
    return noErr;
}

OSErr readResourceFork(int dirfd, const char* name, std::uint64_t offset, std::size_t count,
                       void* buffer, std::size_t* actual, const Looked* looked) {
    if (!actual || (!buffer && count)) return paramErr;
    *actual = 0;
    Stores s;
    ForkState fs;
    const OSErr err = openAndLocate(dirfd, name, Use::ReadFork, looked, locateFork, &s, &fs);
    if (err != noErr) return err;
    if (offset >= fs.length) return count ? eofErr : noErr;
    const std::size_t n = std::size_t(std::min<std::uint64_t>(count, fs.length - offset));
    if (fs.store == RsrcStore::Sidecar || fs.store == RsrcStore::NetatalkFolder) {
        const Sidecar& file = fs.store == RsrcStore::Sidecar ? s.sc : s.nh;
        ssize_t got = sysio::pread(file.fd.get(), buffer, n, off_t(file.fork->offset + offset));
        if (got < 0) return lastError();
        if (std::size_t(got) != n) return ioErr;  // cut short by someone else
    } else {
        std::memcpy(buffer, fs.attrValue.data() + offset, n);
    }
    *actual = n;
    return n < count ? eofErr : noErr;
}

OSErr writeResourceFork(int dirfd, const char* name, std::uint64_t offset, std::size_t count,
                        const void* buffer, const Looked* looked) {
    if (!buffer && count) return paramErr;
    if (offset + count < offset || offset + count > kMaxEntryEnd) return posErr;
    const Source src{static_cast<const std::uint8_t*>(buffer), -1, count};
    return changeInFolder(dirfd, [&] { return writeOnce(dirfd, name, offset, src, looked); });
}

std::uint64_t largestResourceFork(RsrcStore store) {
    switch (store) {
        case RsrcStore::MacXattr:
            return kMaxAttrValue;
        case RsrcStore::SambaStream:
            return kMaxAttrValue - 1;
        case RsrcStore::NetatalkFolder:
            return kMaxEntryEnd - appledouble::kNetatalkHeaderSize;
        case RsrcStore::Sidecar:
        case RsrcStore::None:
            break;
    }
    return kMaxEntryEnd - appledouble::newSidecar(0).find(appledouble::kResourceForkId)->offset;
}

OSErr writeResourceForkFrom(int dirfd, const char* name, int sourceFd, std::uint64_t count,
                            const Looked* looked) {
    if (sourceFd < 0) return paramErr;
    // No store can hold it, however it is laid out.
    if (count > kMaxEntryEnd) return fsDataTooBigErr;
    const Source src{nullptr, sourceFd, count};
    Looked current = looked ? *looked : Looked{};
    const OSErr err = changeInFolder(dirfd, [&] {
        const OSErr e = writeOnce(dirfd, name, 0, src, looked ? &current : nullptr);
        current.noSidecar = false;  // a second attempt looks for itself
        return e;
    });
    return err == posErr ? OSErr(fsDataTooBigErr) : err;
}

OSErr deleteResourceFork(int dirfd, const char* name, const Looked* looked) {
    return changeInFolder(dirfd, [&] { return deleteOnce(dirfd, name, looked); });
}

}  // namespace forkstore
