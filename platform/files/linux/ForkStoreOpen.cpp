// Opening a file and the stores of its fork and metadata for one fork store
// call: the file itself (never through a link, checked against what the caller
// saw), its attributes, its "._name" sidecar and netatalk's
// ".AppleDouble/name", each AppleDouble file read and validated before use.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/files/linux/ForkStoreInternal.h"
#include "platform/files/linux/PathNodes.h"

namespace forkstore {

namespace {

// Opens `name` in `dirfd` without following links and without blocking, and
// checks it is what the caller may use: a regular file (or also a folder).
OSErr openNoFollow(int dirfd, const char* name, int access, bool folderAllowed, Fd* fd,
                   struct stat* st, const struct stat* looked = nullptr) {
    struct stat before;
    if (looked)
        before = *looked;  // the caller has just looked
    else if (::fstatat(dirfd, name, &before, AT_SYMLINK_NOFOLLOW) != 0)
        return lastError();
    const bool folder = S_ISDIR(before.st_mode);
    if (!S_ISREG(before.st_mode) && !(folder && folderAllowed)) return notAFileErr;
    int f = sysio::openat(dirfd, name, access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (f < 0) return lastError();
    *fd = Fd(f);
    if (::fstat(f, st) != 0) return lastError();
    if (st->st_dev != before.st_dev || st->st_ino != before.st_ino ||
        (st->st_mode & S_IFMT) != (before.st_mode & S_IFMT))
        return notAFileErr;  // replaced between the look and the open
    return noErr;
}

OSErr openTarget(int dirfd, const char* name, bool regularOnly, bool forWrite, Target* t,
                 const Looked* looked) {
    if (!validName(name)) return paramErr;
    if (looked && looked->fd >= 0 && regularOnly && forWrite && S_ISREG(looked->mode)) {
        // The caller's own descriptor of the file, open for writing, which it
        // has just seen the name still holds.
        t->fd = Fd(looked->fd, false);
        t->st.st_dev = dev_t(looked->dev);
        t->st.st_ino = ino_t(looked->ino);
        t->st.st_mode = mode_t(looked->mode);
        t->st.st_uid = uid_t(looked->uid);
        t->st.st_gid = gid_t(looked->gid);
        return noErr;
    }
    struct stat seen {};
    if (looked) {
        seen.st_dev = dev_t(looked->dev);
        seen.st_ino = ino_t(looked->ino);
        seen.st_mode = mode_t(looked->mode);
    }
    OSErr err =
        openNoFollow(dirfd, name, O_RDONLY, !regularOnly, &t->fd, &t->st, looked ? &seen : nullptr);
    if (err != noErr) return err;
    if (forWrite && ::faccessat(dirfd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return lastError();
    return noErr;
}

// The two kinds of AppleDouble file a fork can live in.
enum class Layout {
    Sidecar,         // "._name" beside the file
    NetatalkHeader,  // netatalk 2's ".AppleDouble/name"
};

// Opens the AppleDouble file `name` in `dirfd` without following a link and
// without blocking, and checks that what it opened is a regular file before a
// byte of it is read: a call less than looking first, as the inspection
// does. Where the open fails, a look tells a link or special file
// (notAFileErr) from the error, and errno stays the open's. *absent is set
// when there is no such file.
OSErr openAppleDoubleFile(int dirfd, const char* name, int access, Fd* fd, struct stat* st,
                          bool* absent) {
    *absent = false;
    const int f = sysio::openat(dirfd, name, access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (f < 0) {
        const int openErrno = errno;
        if (openErrno == ENOENT || openErrno == ENAMETOOLONG) {
            *absent = true;
            return fnfErr;
        }
        struct stat seen;
        if (::fstatat(dirfd, name, &seen, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(seen.st_mode))
            return notAFileErr;
        errno = openErrno;
        return lastError();
    }
    *fd = Fd(f);
    if (::fstat(f, st) != 0) return lastError();
    return S_ISREG(st->st_mode) ? OSErr(noErr) : OSErr(notAFileErr);
}

// Opens the AppleDouble file `n` in `dirfd` (without following a link or
// blocking), reads its header and validates it; sc->exists stays false when
// there is none. A file that fails validation gives ioErr.
OSErr loadAppleDouble(int dirfd, const std::string& n, Layout layout, bool forWrite, Sidecar* sc) {
    bool absent = false;
    OSErr err = openAppleDoubleFile(dirfd, n.c_str(), forWrite ? O_RDWR : O_RDONLY, &sc->fd,
                                    &sc->st, &absent);
    OSErr denied = noErr;
    if (err != noErr && !absent && forWrite &&
        (errno == EACCES || errno == EPERM || errno == EROFS) && sc->fd.get() < 0) {
        // Still tell a malformed sidecar from a write-protected one.
        denied = err;
        err = openAppleDoubleFile(dirfd, n.c_str(), O_RDONLY, &sc->fd, &sc->st, &absent);
    }
    if (absent) return noErr;  // none, or gone meanwhile
    if (err != noErr) return err;
    sc->size = std::uint64_t(sc->st.st_size);
    const bool netatalk = layout == Layout::NetatalkHeader;
    sc->head.resize(std::min<std::uint64_t>(
        sc->size, netatalk ? appledouble::kNetatalkHeaderSize : appledouble::kMaxHeaderRead));
    ssize_t got = sysio::pread(sc->fd.get(), sc->head.data(), sc->head.size(), 0);
    if (got < 0) return lastError();
    sc->head.resize(std::size_t(got));
    const appledouble::Problem problem =
        netatalk ? appledouble::parseNetatalkHeader(sc->head.data(), sc->head.size(), sc->size,
                                                    &sc->header)
                 : appledouble::parse(sc->head.data(), sc->head.size(), sc->size, &sc->header);
    if (problem != appledouble::Problem::None) return ioErr;
    if (denied != noErr) return denied;
    sc->exists = true;
    sc->fork = sc->header.find(appledouble::kResourceForkId);
    if (sc->fork) {
        sc->forkLength = sc->fork->length;
        if (sc->fork->length == appledouble::kPlaceholderSize) {
            std::uint8_t blank[appledouble::kPlaceholderSize];
            err = sc->read(sc->fork->offset, blank, sizeof blank);
            if (err != noErr) return err;
            sc->placeholder = appledouble::isPlaceholder(blank, sizeof blank);
            if (sc->placeholder) sc->forkLength = 0;
        }
    }
    return noErr;
}

OSErr loadNetatalk(int dirfd, const char* name, bool forWrite, NetatalkHeader* nh) {
    const OSErr err = openNetatalkFolder(dirfd, name, &nh->folder);
    if (err != noErr || nh->folder.get() < 0) return err;
    return loadAppleDouble(nh->folder.get(), name, Layout::NetatalkHeader, forWrite, nh);
}

}  // namespace

bool validName(const char* name) {
    return name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

std::string sidecarName(const char* name) {
    return std::string("._") + name;
}

bool allZero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t c) { return c == 0; });
}

bool Target::mayHave(const char* attr) const {
    if (!listed) {
        listed = true;
        char list[4096];
        const ssize_t n = sysio::flistxattr(fd.get(), list, sizeof list);
        if (n >= 0)
            names.assign(list, std::size_t(n));
        else
            unlisted = errno != ENOTSUP;  // ENOTSUP: no attributes here at all
    }
    if (unlisted) return true;
    const std::size_t len = std::strlen(attr) + 1;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1)
        if (names.compare(at, len, attr, len) == 0) return true;
    return false;
}

OSErr readAttr(int fd, const char* attr, Bytes* value, bool* present) {
    *present = false;
    value->clear();
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = sysio::fgetxattr(fd, attr, nullptr, 0);
        if (size < 0) {
            if (errno == ENODATA || errno == ENOTSUP) return noErr;
            return lastError();
        }
        value->resize(std::size_t(size));
        ssize_t got = sysio::fgetxattr(fd, attr, value->data(), value->size());
        if (got < 0 && errno == ERANGE) continue;  // grew meanwhile
        if (got < 0) {
            if (errno == ENODATA) return noErr;
            return lastError();
        }
        value->resize(std::size_t(got));
        *present = true;
        return noErr;
    }
    return ioErr;
}

OSErr removeAttr(int fd, const char* attr) {
    if (sysio::fremovexattr(fd, attr) == 0 || errno == ENODATA || errno == ENOTSUP) return noErr;
    return lastError();
}

OSErr Sidecar::read(std::uint64_t at, void* out, std::size_t n) const {
    if (at + n <= head.size()) {
        std::memcpy(out, head.data() + at, n);
        return noErr;
    }
    ssize_t got = sysio::pread(fd.get(), out, n, off_t(at));
    if (got < 0) return lastError();
    return std::size_t(got) == n ? OSErr(noErr) : OSErr(ioErr);
}

bool Sidecar::holdsNothingBesideFork(const std::uint8_t* finderInfo) const {
    for (const Entry& e : header.entries) {
        if (e.id == appledouble::kResourceForkId) continue;
        if (e.id == appledouble::kFinderInfoId) {
            // Past the Finder info: an ATTR block without attributes holds
            // nothing; anything else is kept.
            if (e.length > appledouble::kFinderInfoSize &&
                !(header.hasAttrBlock && header.attributes.empty()))
                return false;
            continue;
        }
        if (e.length) return false;
    }
    return !finderInfo || allZero(finderInfo, appledouble::kFinderInfoSize);
}

bool isNetatalkOwnName(const char* name) {
    return std::strcmp(name, ".Parent") == 0 || std::strstr(name, "::EA") != nullptr;
}

// One call, or none while the folder stays pinned (a batch run's folder in
// hand), whose answer is kept, so that files in folders without one pay
// nothing per file. A folder netatalk creates meanwhile is seen from the next
// folder on.
bool mayHaveNetatalkFolder(int dirfd) {
    static UInt64 seenPin = 0;
    static bool seenFolder = false;
    const UInt64 pin = pathnodes::pinnedFolderSerial(dirfd);
    if (pin != 0 && pin == seenPin) return seenFolder;
    struct stat st;
    const bool folder = ::fstatat(dirfd, kNetatalkFolder, &st, AT_SYMLINK_NOFOLLOW) != 0
                            ? errno != ENOENT
                            : S_ISDIR(st.st_mode);
    if (pin != 0) {
        seenPin = pin;
        seenFolder = folder;
    }
    return folder;
}

OSErr openNetatalkFolder(int dirfd, const char* name, Fd* folder) {
    if (isNetatalkOwnName(name) || !mayHaveNetatalkFolder(dirfd)) return noErr;
    const int f = sysio::openat(dirfd, kNetatalkFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (f < 0) {
        // None, or a link or a file of that name, which is no netatalk folder.
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return noErr;
        return lastError();
    }
    *folder = Fd(f);
    return noErr;
}

OSErr Stores::netatalk() {
    if (!netatalkLooked && !S_ISDIR(t.st.st_mode)) {
        netatalkLooked = true;
        netatalkErr = loadNetatalk(dirfd, name, forWrite, &nh);
    }
    return netatalkErr;
}

OSErr openStores(int dirfd, const char* name, Use use, Stores* s, const Looked* looked) {
    const bool regularOnly = use == Use::ReadFork || use == Use::ChangeFork;
    const bool forWrite = use == Use::ChangeFork || use == Use::ChangeMetadata;
    s->dirfd = dirfd;
    s->name = name;
    s->forWrite = forWrite;
    OSErr err = openTarget(dirfd, name, regularOnly, forWrite, &s->t, looked);
    if (err != noErr || (looked && looked->noSidecar && use == Use::ChangeFork)) return err;
    return loadAppleDouble(dirfd, sidecarName(name), Layout::Sidecar, forWrite, &s->sc);
}

}  // namespace forkstore
