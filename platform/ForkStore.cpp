#include "platform/ForkStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <unordered_set>

#include "platform/AppleDouble.h"
#include "platform/FileErrors.h"
#include "platform/ForkNames.h"
#include "platform/PathNodes.h"
#include "platform/SysIO.h"

namespace forkstore {

namespace {

using appledouble::Entry;
using appledouble::Header;
using Bytes = std::vector<std::uint8_t>;

using namespace forknames;
// Linux takes no attribute value larger than this (XATTR_SIZE_MAX), whatever
// the file system.
constexpr std::size_t kMaxAttrValue = 65536;
constexpr std::uint64_t kMaxEntryEnd = 0xFFFFFFFFull;
// Internal: a sidecar appeared or was replaced while we rebuilt it; start over.
constexpr OSErr kRaced = 1;
// Temporary sidecars: this host's tag, the process id, then 48 random bits.
constexpr char kTempPattern[] = ".bwtmp-%08x-%d-%012llx";

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& o) noexcept {
        reset();
        fd_ = o.fd_;
        o.fd_ = -1;
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) sysio::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

OSErr lastError() {
    return errnoToOSErr(errno);
}

// FNV-1a (32 bits) of this host's name. Temporaries made here carry it, so a
// folder shared with other hosts never loses theirs to a process id that
// happens not to run here.
std::uint32_t hostTag() {
    static const std::uint32_t tag = [] {
        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        std::uint32_t hash = 2166136261u;
        for (const char* p = name; *p; ++p) hash = (hash ^ std::uint8_t(*p)) * 16777619u;
        return hash;
    }();
    return tag;
}

// Reads `digits` lowercase hexadecimal digits at *p into *value.
bool readHex(const char*& p, int digits, std::uint64_t* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i, ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9')
            *value = *value << 4 | std::uint64_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            *value = *value << 4 | std::uint64_t(c - 'a' + 10);
        else
            return false;
    }
    return true;
}

// Splits a temporary's name, ".bwtmp-<8 hex>-<pid>-<12 hex>", into its host
// tag and process id; false for every other name.
bool parseTemporary(const char* name, std::uint32_t* host, pid_t* pid) {
    if (!name || std::strncmp(name, ".bwtmp-", 7) != 0) return false;
    const char* p = name + 7;
    std::uint64_t tag = 0, random = 0, id = 0;
    if (!readHex(p, 8, &tag) || *p++ != '-') return false;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9' && p - digits < 11; ++p) id = id * 10 + std::uint64_t(*p - '0');
    if (p == digits || *digits == '0' || id > 0x7FFFFFFF || *p++ != '-') return false;
    if (!readHex(p, 12, &random) || *p != '\0') return false;
    *host = std::uint32_t(tag);
    *pid = pid_t(id);
    return true;
}

// A folder this process has swept: its device, inode and birth time (a
// removed folder's inode can come back as another folder).
struct FolderId {
    std::uint64_t dev, ino, born;
    bool operator==(const FolderId&) const = default;
};
struct FolderIdHash {
    std::size_t operator()(const FolderId& f) const {
        return std::size_t(f.ino * 0x9E3779B97F4A7C15ull ^ f.dev ^ f.born);
    }
};

// Before the first change this process makes in a folder, removes the
// temporaries there that this host's processes made and left when they were
// killed: regular files whose process no longer runs, never followed through
// a link. Each folder is listed once per process; later calls cost one statx,
// or nothing while the folder stays pinned (a batch run's folder in hand).
// Only calls that change things come here, so a read-only walk removes nothing.
void sweepFolderOnce(int dirfd) {
    static std::mutex lock;
    static std::unordered_set<FolderId, FolderIdHash> swept;
    static UInt64 seenPin = 0;
    const UInt64 pin = pathnodes::pinnedFolderSerial(dirfd);
    {
        std::lock_guard<std::mutex> hold(lock);
        if (pin != 0 && pin == seenPin) return;
        if (pin != 0) seenPin = pin;  // calls for other folders in between do not count
    }
    struct statx sx;
    if (::statx(dirfd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &sx) != 0)
        return;
    const std::uint64_t born =
        sx.stx_mask & STATX_BTIME
            ? std::uint64_t(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec
            : 0;
    const FolderId id{std::uint64_t(sx.stx_dev_major) << 32 | sx.stx_dev_minor, sx.stx_ino, born};
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!swept.insert(id).second) return;
    }
    const int fd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const pid_t self = ::getpid();
    while (const dirent* d = ::readdir(dir)) {
        std::uint32_t host;
        pid_t pid;
        if (d->d_name[0] != '.' || !parseTemporary(d->d_name, &host, &pid) || host != hostTag() ||
            pid == self || (d->d_type != DT_REG && d->d_type != DT_UNKNOWN))
            continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its writer still runs
        struct stat st;
        if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(fd, d->d_name, 0);
    }
    ::closedir(dir);
}

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

// The file whose forks and metadata are served; its fd reaches the attributes.
struct Target {
    Fd fd;
    struct stat st {};
    // The names of its attributes, listed once when first needed, so that an
    // attribute the file does not have costs no call. A list that could not
    // be had (too long, or an error) leaves every attribute to be asked for.
    mutable bool listed = false;
    mutable bool unlisted = false;
    mutable std::string names;

    // False only when the file certainly has no attribute `attr`.
    bool mayHave(const char* attr) const {
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
};

OSErr openTarget(int dirfd, const char* name, bool regularOnly, bool forWrite, Target* t,
                 const Looked* looked = nullptr) {
    if (!validName(name)) return paramErr;
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

// Reads attribute `attr`; *present is false when the file has none.
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

// A sidecar as found on disk, validated.
struct Sidecar {
    bool exists = false;
    Fd fd;
    struct stat st {};
    std::uint64_t size = 0;
    Bytes head;  // the first min(size, 64 KiB) bytes
    Header header;
    const Entry* fork = nullptr;
    bool placeholder = false;      // the fork is macOS's blank one
    std::uint64_t forkLength = 0;  // logical: 0 for the placeholder

    // Reads `n` bytes at file offset `at`, from the header copy when it is there.
    OSErr read(std::uint64_t at, void* out, std::size_t n) const {
        if (at + n <= head.size()) {
            std::memcpy(out, head.data() + at, n);
            return noErr;
        }
        ssize_t got = sysio::pread(fd.get(), out, n, off_t(at));
        if (got < 0) return lastError();
        return std::size_t(got) == n ? OSErr(noErr) : OSErr(ioErr);
    }
    // True when nothing but an empty fork and all-zero Finder info would remain
    // once the fork is emptied (so the sidecar should go).
    bool holdsNothingBesideFork(const std::uint8_t* finderInfo) const {
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
};

// The two kinds of AppleDouble file a fork can live in.
enum class Layout {
    Sidecar,         // "._name" beside the file
    NetatalkHeader,  // netatalk 2's ".AppleDouble/name"
};

// Opens the AppleDouble file `n` in `dirfd` (without following a link or
// blocking), reads its header and validates it; sc->exists stays false when
// there is none. A file that fails validation gives ioErr.
OSErr loadAppleDouble(int dirfd, const std::string& n, Layout layout, bool forWrite, Sidecar* sc) {
    struct stat st;
    if (::fstatat(dirfd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENAMETOOLONG ? OSErr(noErr) : lastError();
    OSErr err =
        openNoFollow(dirfd, n.c_str(), forWrite ? O_RDWR : O_RDONLY, false, &sc->fd, &sc->st, &st);
    OSErr denied = noErr;
    if (err != noErr && forWrite && (errno == EACCES || errno == EPERM || errno == EROFS) &&
        sc->fd.get() < 0) {
        // Still tell a malformed sidecar from a write-protected one.
        denied = err;
        err = openNoFollow(dirfd, n.c_str(), O_RDONLY, false, &sc->fd, &sc->st);
    }
    if (err == fnfErr) return noErr;  // went away meanwhile
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

OSErr loadSidecar(int dirfd, const char* name, bool forWrite, Sidecar* sc) {
    return loadAppleDouble(dirfd, sidecarName(name), Layout::Sidecar, forWrite, sc);
}

// True unless `dirfd` certainly has no ".AppleDouble" folder: one call, or
// none while the folder stays pinned (a batch run's folder in hand), whose
// answer is kept, so that files in folders without one pay nothing per file.
// A folder netatalk creates meanwhile is seen from the next folder on.
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

// netatalk 2's header file ".AppleDouble/name" of a file: the sidecar's
// fields, and the ".AppleDouble" folder it is in, reached without following a
// link. Looked at only when a call needs it (the sidecar comes first).
struct NetatalkHeader : Sidecar {
    Fd folder;
};

// ".AppleDouble/.Parent" is the folder's own header, and "x::EA" and
// "x::EA::attr" hold netatalk's extended attributes for "x": files with such
// names never take their fork from there.
bool isNetatalkOwnName(const char* name) {
    return std::strcmp(name, ".Parent") == 0 || std::strstr(name, "::EA") != nullptr;
}

OSErr loadNetatalk(int dirfd, const char* name, bool forWrite, NetatalkHeader* nh) {
    if (isNetatalkOwnName(name) || !mayHaveNetatalkFolder(dirfd)) return noErr;
    const int f = sysio::openat(dirfd, kNetatalkFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (f < 0) {
        // None, or a link or a file of that name, which is no netatalk folder.
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return noErr;
        return lastError();
    }
    nh->folder = Fd(f);
    return loadAppleDouble(f, name, Layout::NetatalkHeader, forWrite, nh);
}

// The file and the stores of its fork and metadata that are files: the
// sidecar, opened at once, and ".AppleDouble/name", looked at on first use.
// Both are opened for writing when `forWrite`.
struct Stores {
    int dirfd = -1;
    const char* name = nullptr;
    bool forWrite = false;
    Target t;
    Sidecar sc;
    NetatalkHeader nh;
    bool netatalkLooked = false;
    OSErr netatalkErr = noErr;

    // Looks at ".AppleDouble/name" once; nh.exists then tells whether it is
    // there. A folder's header is inside it, not there.
    OSErr netatalk() {
        if (!netatalkLooked && !S_ISDIR(t.st.st_mode)) {
            netatalkLooked = true;
            netatalkErr = loadNetatalk(dirfd, name, forWrite, &nh);
        }
        return netatalkErr;
    }
};

OSErr openStores(int dirfd, const char* name, bool regularOnly, bool forWrite, Stores* s,
                 const Looked* looked = nullptr) {
    s->dirfd = dirfd;
    s->name = name;
    s->forWrite = forWrite;
    OSErr err = openTarget(dirfd, name, regularOnly, forWrite, &s->t, looked);
    return err != noErr ? err : loadSidecar(dirfd, name, forWrite, &s->sc);
}

// Runs one attempt of a change again when another writer's change to the
// sidecar came in between; a second collision is reported as busy.
template <class Attempt>
OSErr retryOnce(Attempt attempt) {
    OSErr err = attempt();
    if (err == kRaced) err = attempt();
    return err == kRaced ? OSErr(fBsyErr) : err;
}

// Where the resource fork is and where a write of it goes.
struct ForkState {
    RsrcStore store = RsrcStore::None;   // the first store holding a non-empty fork
    RsrcStore holder = RsrcStore::None;  // the first store there is, empty or not
    std::uint64_t length = 0;
    // For an attribute store (`store`, else `holder`): its whole value,
    // Samba's trailing byte included.
    Bytes attrValue;

    // Where a write goes: where the fork is, else where an empty one is kept,
    // else a new sidecar.
    RsrcStore target() const {
        if (store != RsrcStore::None) return store;
        return holder != RsrcStore::None ? holder : RsrcStore::Sidecar;
    }
};

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

// A run of bytes of the new sidecar: from a file, from memory, or zeros.
struct Piece {
    std::uint64_t dest = 0;
    std::uint64_t length = 0;
    int srcFd = -1;
    std::uint64_t srcOffset = 0;
    const std::uint8_t* mem = nullptr;
};

// The bytes a write puts into a fork: `count` bytes from memory, or, without
// memory, the first `count` bytes of the file `fd` (a flip's data fork),
// copied inside the kernel, so that a fork of any size costs no more memory.
struct Source {
    const std::uint8_t* mem = nullptr;
    int fd = -1;
    std::uint64_t count = 0;
};

// Writes the pieces into a file just extended to its whole size, so that
// whatever no piece covers (and every hole of a source) reads as zeros.
OSErr writePieces(int fd, const std::vector<Piece>& pieces) {
    for (const Piece& p : pieces) {
        if (p.length == 0) continue;
        if (p.mem) {
            if (sysio::pwrite(fd, p.mem, p.length, off_t(p.dest)) < 0) return lastError();
            continue;
        }
        if (p.srcFd < 0) continue;  // zeros: the file was extended to its size
        const ssize_t got = sysio::copyRange(p.srcFd, off_t(p.srcOffset), fd, off_t(p.dest),
                                             std::size_t(p.length), true);
        if (got < 0) return lastError();
        if (std::uint64_t(got) != p.length) return ioErr;  // the source shrank
    }
    return noErr;
}

// Who owns a sidecar written anew: a rebuilt one keeps its owner and mode. A
// new one gets the owner and group of its file and the usual mode (0666 less
// umask, which the kernel takes off when it creates the file) limited to the
// file's own permission bits: the fork is never open to anyone the file is
// closed to.
struct Ownership {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool keepMode;
};

Ownership ownershipFor(const Sidecar& sc, const Target& t) {
    if (sc.exists) return {sc.st.st_uid, sc.st.st_gid, mode_t(sc.st.st_mode & 07777), true};
    return {t.st.st_uid, t.st.st_gid, mode_t(0666 & t.st.st_mode), false};
}

// Gives the file just created the owner and group it should have, and its mode
// where that is not the one it was created with. Only root may give a file
// away; a group the writer is not in cannot be had either, and then the
// group the file got may read no more than everyone else.
OSErr applyOwnership(int fd, const Ownership& owner) {
    mode_t mode = owner.mode;
    bool setMode = owner.keepMode;
    if (::fchown(fd, owner.uid, owner.gid) != 0 && ::fchown(fd, uid_t(-1), owner.gid) != 0) {
        mode = (mode & ~mode_t(070)) | (mode & (mode & 07) << 3);
        setMode = true;
    }
    return !setMode || ::fchmod(fd, mode) == 0 ? OSErr(noErr) : lastError();
}

// Writes a complete sidecar (header plus pieces, `size` bytes) and syncs it.
// With `linkAs` (a sidecar name that is still free), a file written without a
// name is linked straight under that name, which is atomic and never replaces
// anything, and *temp is left empty. Otherwise the file gets a fresh temporary
// name in the folder, which *temp holds on success.
OSErr writeTemp(int dirfd, const Header& header, const std::vector<Piece>& pieces,
                std::uint64_t size, const Ownership& owner, const std::string* linkAs,
                std::string* temp) {
    static std::mt19937_64 random{std::random_device{}()};
    auto pickName = [&] {
        char name[48];
        std::snprintf(name, sizeof name, kTempPattern, unsigned(hostTag()), int(::getpid()),
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        *temp = name;
    };
    // Written without a name where the file system allows it (O_TMPFILE) and
    // named only once complete and synced, so a process killed while writing
    // leaves nothing in the user's folder. Elsewhere, a named temporary file.
    static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
    int f = procMounted ? sysio::openat(dirfd, ".", O_TMPFILE | O_RDWR, owner.mode) : -1;
    const bool unnamed = f >= 0;
    for (int attempt = 0; attempt < 16 && f < 0; ++attempt) {
        pickName();
        f = sysio::openat(dirfd, temp->c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW, owner.mode);
        if (f < 0 && errno != EEXIST) return lastError();
    }
    if (f < 0) return ioErr;
    Fd fd(f);
    const Bytes table = appledouble::serializeHeader(header);
    OSErr err = applyOwnership(f, owner);
    if (err == noErr && (sysio::ftruncate(f, off_t(size)) != 0 ||
                         sysio::pwrite(f, table.data(), table.size(), 0) < 0))
        err = lastError();
    if (err == noErr) err = writePieces(f, pieces);
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
            pickName();
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

// Puts the synced temporary file in place of `old` (or as a new file), named
// `sc` in `dirfd`: a sidecar, or a header file in ".AppleDouble". Syncs the
// folder. Any failure restores the previous state.
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

// Builds the sidecar that results from keeping every entry of `sc` (if any)
// and giving it a resource fork of `forkLength` bytes, and adds the pieces
// that copy the kept entries. *forkAt gets the fork's file offset.
// `finderInfo` replaces the Finder info when not null.
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
    appledouble::writeU32(field, std::uint32_t(newLength));
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
            appledouble::writeU32(field, std::uint32_t(sc.forkLength));
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
    OSErr err = openStores(dirfd, name, true, true, &s, looked);
    if (err != noErr) return err;
    ForkState fs;
    if ((err = locateFork(s, &fs)) != noErr) return err;
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
    std::string temp;
    const std::string newName = sidecarName(name);
    if ((err = writeTemp(dirfd, h, pieces, forkAt + newLength, ownershipFor(sc, s.t),
                         sc.exists ? nullptr : &newName, &temp)) != noErr)
        return err;
    return installFile(dirfd, newName, sc, temp);
}

// Finder info as the stores hold it, in order of precedence.
struct FinderInfoState {
    enum Where { None, Metadata, SidecarEntry, NetatalkEntry, MacAttr } found = None, holder = None;
    std::uint8_t bytes[32] = {};
    Bytes metadata;  // the netatalk attribute's value when valid
    Header metaHeader;
};

OSErr locateFinderInfo(Stores& s, FinderInfoState* fi) {
    const Target& t = s.t;
    Bytes value;
    bool present;
    OSErr err = readAttr(t.fd.get(), kNetatalkAttr, &value, &present);
    if (err != noErr) return err;
    if (present && appledouble::parseNetatalkMetadata(
                       value.data(), value.size(), &fi->metaHeader) == appledouble::Problem::None) {
        fi->metadata = value;
        fi->holder = FinderInfoState::Metadata;
        const std::uint8_t* p =
            value.data() + fi->metaHeader.find(appledouble::kFinderInfoId)->offset;
        if (!allZero(p, 32)) {
            std::memcpy(fi->bytes, p, 32);
            fi->found = FinderInfoState::Metadata;
            return noErr;
        }
    }
    // The entries of the sidecar, then of ".AppleDouble/name".
    for (const auto where : {FinderInfoState::SidecarEntry, FinderInfoState::NetatalkEntry}) {
        if (where == FinderInfoState::NetatalkEntry && (err = s.netatalk()) != noErr) return err;
        const Sidecar& file = where == FinderInfoState::SidecarEntry ? s.sc : s.nh;
        const Entry* e = file.exists ? file.header.find(appledouble::kFinderInfoId) : nullptr;
        if (!e) continue;
        if (fi->holder == FinderInfoState::None) fi->holder = where;
        std::uint8_t p[32];
        if ((err = file.read(e->offset, p, 32)) != noErr) return err;
        if (!allZero(p, 32)) {
            std::memcpy(fi->bytes, p, 32);
            fi->found = where;
            return noErr;
        }
    }
    if ((err = readAttr(t.fd.get(), kMacFinderInfoAttr, &value, &present)) != noErr) return err;
    if (present && value.size() >= 32) {
        if (fi->holder == FinderInfoState::None) fi->holder = FinderInfoState::MacAttr;
        if (!allZero(value.data(), 32)) {
            std::memcpy(fi->bytes, value.data(), 32);
            fi->found = FinderInfoState::MacAttr;
        }
    }
    return noErr;
}

// Rewrites `n` bytes of an existing sidecar in place and syncs; on failure the
// old bytes are put back.
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

// Writes Finder info into the metadata attribute. A non-zero copy in the
// sidecar, ".AppleDouble/name" or the Mac attribute (one is made when the
// attribute is created for a creation date) gets the same bytes: peers that
// read only those see the change, and Finder info cleared here does not let
// the old copy show through. All or nothing: a failure puts back what was
// written.
OSErr setMetadataFinderInfo(Stores& s, const FinderInfoState& fi, const UInt8 finderInfo[32]) {
    const int fd = s.t.fd.get();
    auto stale = [&](const std::uint8_t* copy) {
        return !allZero(copy, 32) && std::memcmp(copy, finderInfo, 32) != 0;
    };
    OSErr err = s.netatalk();
    if (err != noErr) return err;
    // The copies in the two AppleDouble files.
    struct Copy {
        const Sidecar* file;
        const Entry* entry;
        std::uint8_t old[32];
        bool patch;
    } copies[2] = {{&s.sc, nullptr, {}, false}, {&s.nh, nullptr, {}, false}};
    for (Copy& c : copies) {
        c.entry = c.file->exists ? c.file->header.find(appledouble::kFinderInfoId) : nullptr;
        if (c.entry && (err = c.file->read(c.entry->offset, c.old, 32)) != noErr) return err;
        c.patch = c.entry && stale(c.old);
    }
    Bytes macOld;
    bool macPresent = false;
    if ((err = readAttr(fd, kMacFinderInfoAttr, &macOld, &macPresent)) != noErr) return err;
    const bool patchMac = macPresent && macOld.size() >= 32 && stale(macOld.data());

    Bytes value = fi.metadata;
    std::memcpy(value.data() + fi.metaHeader.find(appledouble::kFinderInfoId)->offset, finderInfo,
                32);
    if (sysio::fsetxattr(fd, kNetatalkAttr, value.data(), value.size(), XATTR_REPLACE) != 0)
        return lastError();
    std::size_t patched = 0;  // copies done; a failed patch puts its own bytes back
    while (err == noErr && patched < 2) {
        const Copy& c = copies[patched];
        if (c.patch) err = patchInPlace(*c.file, c.entry->offset, finderInfo, 32);
        if (err == noErr) ++patched;
    }
    if (err == noErr && patchMac) {
        const int rc = allZero(finderInfo, 32)
                           ? sysio::fremovexattr(fd, kMacFinderInfoAttr)
                           : sysio::fsetxattr(fd, kMacFinderInfoAttr, finderInfo, 32, 0);
        if (rc != 0) err = lastError();
    }
    if (err != noErr) {
        for (std::size_t i = 0; i < patched; ++i)
            if (copies[i].patch)
                patchInPlace(*copies[i].file, copies[i].entry->offset, copies[i].old, 32);
        sysio::fsetxattr(fd, kNetatalkAttr, fi.metadata.data(), fi.metadata.size(), XATTR_REPLACE);
    }
    return err;
}

OSErr setFinderInfoOnce(int dirfd, const char* name, const UInt8 finderInfo[32]) {
    Stores s;
    OSErr err = openStores(dirfd, name, false, true, &s);
    if (err != noErr) return err;
    const Target& t = s.t;
    const Sidecar& sc = s.sc;
    FinderInfoState fi;
    if ((err = locateFinderInfo(s, &fi)) != noErr) return err;
    if (std::memcmp(fi.bytes, finderInfo, 32) == 0) return noErr;
    const auto where = fi.found != FinderInfoState::None ? fi.found : fi.holder;
    switch (where) {
        case FinderInfoState::Metadata:
            return setMetadataFinderInfo(s, fi, finderInfo);
        case FinderInfoState::NetatalkEntry:
            // Changed in place, as netatalk does; the header stays, whatever
            // it holds.
            return patchInPlace(s.nh, s.nh.header.find(appledouble::kFinderInfoId)->offset,
                                finderInfo, 32);
        case FinderInfoState::MacAttr:
            if (allZero(finderInfo, 32)) return removeAttr(t.fd.get(), kMacFinderInfoAttr);
            return sysio::fsetxattr(t.fd.get(), kMacFinderInfoAttr, finderInfo, 32, 0) == 0
                       ? OSErr(noErr)
                       : lastError();
        case FinderInfoState::SidecarEntry:
            if (sc.forkLength == 0 && sc.holdsNothingBesideFork(finderInfo)) {
                if (sysio::unlinkat(dirfd, sidecarName(name).c_str(), 0) != 0) return lastError();
                return noErr;
            }
            return patchInPlace(sc, sc.header.find(appledouble::kFinderInfoId)->offset, finderInfo,
                                32);
        case FinderInfoState::None:
            break;
    }
    if (allZero(finderInfo, 32)) return noErr;  // nothing to store
    // New Finder info goes into the sidecar, which is created or laid out anew
    // with a Finder info entry; its fork (if any) stays as it is.
    Header h;
    std::vector<Piece> pieces;
    std::uint64_t forkAt = 0;
    Bytes scratch;
    const std::uint64_t physical = sc.fork ? sc.fork->length : 0;
    if ((err = planSidecar(sc, physical, &h, &pieces, &forkAt, &scratch, finderInfo)) != noErr)
        return err;
    if (physical) pieces.push_back({forkAt, physical, sc.fd.get(), sc.fork->offset, nullptr});
    std::string temp;
    const std::string newName = sidecarName(name);
    if ((err = writeTemp(dirfd, h, pieces, forkAt + physical, ownershipFor(sc, t),
                         sc.exists ? nullptr : &newName, &temp)) != noErr)
        return err;
    return installFile(dirfd, newName, sc, temp);
}

// The dates entry's creation date, from the metadata attribute, the sidecar or
// ".AppleDouble/name".
struct DatesState {
    bool metadataPresent = false;  // valid or not
    bool inMetadata = false, inSidecar = false, inNetatalk = false;
    std::uint64_t sidecarAt = 0, netatalkAt = 0;
    std::optional<std::int64_t> created;
    Bytes metadata;
    std::size_t metadataAt = 0;
};

OSErr locateDates(Stores& s, DatesState* d) {
    const Target& t = s.t;
    Bytes value;
    bool present;
    OSErr err = readAttr(t.fd.get(), kNetatalkAttr, &value, &present);
    if (err != noErr) return err;
    d->metadataPresent = present;
    Header h;
    if (present && appledouble::parseNetatalkMetadata(value.data(), value.size(), &h) ==
                       appledouble::Problem::None) {
        d->inMetadata = true;
        d->metadataAt = h.find(appledouble::kFileDatesId)->offset;
        d->created = appledouble::decodeDate(appledouble::readU32(value.data() + d->metadataAt));
        d->metadata = std::move(value);
        if (d->created) return noErr;
    }
    for (const bool netatalk : {false, true}) {
        if (netatalk) {
            if (d->created || d->inSidecar) break;  // found, and a place to write it
            if ((err = s.netatalk()) != noErr) return err;
        }
        const Sidecar& file = netatalk ? s.nh : s.sc;
        const Entry* e = file.exists ? file.header.find(appledouble::kFileDatesId) : nullptr;
        if (!e || e->length < 4) continue;
        std::uint8_t raw[4];
        if ((err = file.read(e->offset, raw, 4)) != noErr) return err;
        (netatalk ? d->inNetatalk : d->inSidecar) = true;
        (netatalk ? d->netatalkAt : d->sidecarAt) = e->offset;
        if (!d->created) d->created = appledouble::decodeDate(appledouble::readU32(raw));
    }
    return noErr;
}

OSErr setCreationDateOnce(int dirfd, const char* name, std::int64_t unixSeconds) {
    Stores s;
    OSErr err = openStores(dirfd, name, false, true, &s);
    if (err != noErr) return err;
    const Target& t = s.t;
    DatesState d;
    if ((err = locateDates(s, &d)) != noErr) return err;
    std::uint8_t field[4];
    appledouble::writeU32(field, *appledouble::encodeDate(unixSeconds));
    if (d.inMetadata) {
        std::memcpy(d.metadata.data() + d.metadataAt, field, 4);
        return sysio::fsetxattr(t.fd.get(), kNetatalkAttr, d.metadata.data(), d.metadata.size(),
                                XATTR_REPLACE) == 0
                   ? OSErr(noErr)
                   : lastError();
    }
    if (d.inSidecar) return patchInPlace(s.sc, d.sidecarAt, field, 4);
    if (d.inNetatalk) return patchInPlace(s.nh, d.netatalkAt, field, 4);
    // Samba and netatalk remove a metadata attribute they cannot parse; we
    // leave it as it is rather than write over bytes we do not understand.
    if (d.metadataPresent) return ioErr;
    // No dates entry anywhere. A third sidecar entry would make Samba and
    // macOS's unpacker refuse the sidecar (and with it the fork), so the date
    // goes into a new metadata attribute, where Samba and netatalk read it.
    // That attribute's Finder info wins over every other store, so it starts
    // as a copy of the Finder info readers see now.
    FinderInfoState fi;
    if ((err = locateFinderInfo(s, &fi)) != noErr) return err;
    const Bytes value = appledouble::newNetatalkMetadata(fi.bytes, unixSeconds, t.st.st_mtim.tv_sec,
                                                         t.st.st_atim.tv_sec);
    if (sysio::fsetxattr(t.fd.get(), kNetatalkAttr, value.data(), value.size(), XATTR_CREATE) == 0)
        return noErr;
    return errno == EEXIST ? kRaced : lastError();  // EEXIST: written by someone else meanwhile
}

}  // namespace

OSErr checkResourceFork(int dirfd, const char* name, const Looked* looked) {
    if (!validName(name)) return paramErr;
    // Neither file that could be malformed is there: nothing to look into (the
    // attributes hold any bytes).
    struct stat st;
    const std::string sidecar = sidecarName(name);
    if (::fstatat(dirfd, sidecar.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        (errno == ENOENT || errno == ENAMETOOLONG) &&
        (isNetatalkOwnName(name) || !mayHaveNetatalkFolder(dirfd)))
        return noErr;
    RsrcInfo info;
    return getResourceFork(dirfd, name, &info, looked);
}

OSErr getResourceFork(int dirfd, const char* name, RsrcInfo* info, const Looked* looked) {
    if (!info) return paramErr;
    Stores s;
    OSErr err = openStores(dirfd, name, true, false, &s, looked);
    if (err != noErr) return err;
    ForkState fs;
    if ((err = locateFork(s, &fs)) != noErr) return err;
    info->store = fs.store;
    info->length = fs.length;
    return noErr;
}

OSErr readResourceFork(int dirfd, const char* name, std::uint64_t offset, std::size_t count,
                       void* buffer, std::size_t* actual, const Looked* looked) {
    if (!actual || (!buffer && count)) return paramErr;
    *actual = 0;
    Stores s;
    OSErr err = openStores(dirfd, name, true, false, &s, looked);
    if (err != noErr) return err;
    ForkState fs;
    if ((err = locateFork(s, &fs)) != noErr) return err;
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
    sweepFolderOnce(dirfd);
    const Source src{static_cast<const std::uint8_t*>(buffer), -1, count};
    return retryOnce([&] { return writeOnce(dirfd, name, offset, src, looked); });
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
    sweepFolderOnce(dirfd);
    const Source src{nullptr, sourceFd, count};
    const OSErr err = retryOnce([&] { return writeOnce(dirfd, name, 0, src, looked); });
    return err == posErr ? OSErr(fsDataTooBigErr) : err;
}

namespace {

OSErr deleteOnce(int dirfd, const char* name, const Looked* looked) {
    Stores s;
    OSErr err = openStores(dirfd, name, true, true, &s, looked);
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
            appledouble::writeU32(old, sc.fork->length);
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

OSErr deleteResourceFork(int dirfd, const char* name, const Looked* looked) {
    sweepFolderOnce(dirfd);
    return retryOnce([&] { return deleteOnce(dirfd, name, looked); });
}

OSErr getFinderInfo(int dirfd, const char* name, UInt8 finderInfo[32]) {
    if (!finderInfo) return paramErr;
    Stores s;
    OSErr err = openStores(dirfd, name, false, false, &s);
    if (err != noErr) return err;
    FinderInfoState fi;
    if ((err = locateFinderInfo(s, &fi)) != noErr) return err;
    std::memcpy(finderInfo, fi.bytes, 32);
    return noErr;
}

OSErr setFinderInfo(int dirfd, const char* name, const UInt8 finderInfo[32]) {
    if (!finderInfo) return paramErr;
    sweepFolderOnce(dirfd);
    return retryOnce([&] { return setFinderInfoOnce(dirfd, name, finderInfo); });
}

OSErr getCreationDate(int dirfd, const char* name, std::int64_t* unixSeconds, bool* found) {
    if (!unixSeconds || !found) return paramErr;
    *found = false;
    Stores s;
    OSErr err = openStores(dirfd, name, false, false, &s);
    if (err != noErr) return err;
    DatesState d;
    if ((err = locateDates(s, &d)) != noErr) return err;
    if (d.created) {
        *unixSeconds = *d.created;
        *found = true;
    }
    return noErr;
}

OSErr setCreationDate(int dirfd, const char* name, std::int64_t unixSeconds) {
    if (!appledouble::encodeDate(unixSeconds)) return paramErr;
    sweepFolderOnce(dirfd);
    return retryOnce([&] { return setCreationDateOnce(dirfd, name, unixSeconds); });
}

bool isHiddenCompanion(int dirfd, const char* name) {
    if (!name) return false;
    struct stat st;
    if (std::strcmp(name, ".AppleDouble") == 0)
        return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    if (std::strncmp(name, "._", 2) != 0 || !validName(name + 2)) return false;
    return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           ::fstatat(dirfd, name + 2, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

OSErr renameCompanion(int dirfd, const char* oldName, const char* newName) {
    if (!validName(oldName) || !validName(newName)) return paramErr;
    sweepFolderOnce(dirfd);
    const std::string from = sidecarName(oldName), to = sidecarName(newName);
    struct stat st;
    bool sidecarMoved = false;
    if (::fstatat(dirfd, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT && errno != ENAMETOOLONG) return lastError();
    } else if (S_ISREG(st.st_mode)) {  // else not a sidecar: an ordinary entry of its own
        if (sysio::renameNoReplace(dirfd, from.c_str(), dirfd, to.c_str()) != 0) return lastError();
        sidecarMoved = true;
    }
    // netatalk 2's header moves too, as afpd moves it; its own names stay.
    OSErr err = noErr;
    if (!isNetatalkOwnName(oldName) && mayHaveNetatalkFolder(dirfd)) {
        const int f = sysio::openat(dirfd, kNetatalkFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (f < 0 && errno != ENOENT && errno != ENOTDIR && errno != ELOOP) err = lastError();
        if (f >= 0) {
            Fd folder(f);
            if (::fstatat(f, oldName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT && errno != ENAMETOOLONG) err = lastError();
            } else if (S_ISREG(st.st_mode)) {
                if (isNetatalkOwnName(newName))
                    err = dupFNErr;  // would take the place of netatalk's own file
                else if (sysio::renameNoReplace(f, oldName, f, newName) != 0)
                    err = lastError();
            }
        }
    }
    if (err != noErr && sidecarMoved)
        sysio::renameNoReplace(dirfd, to.c_str(), dirfd, from.c_str());
    return err;
}

bool isTemporaryName(const char* name) {
    std::uint32_t host;
    pid_t pid;
    return parseTemporary(name, &host, &pid);
}

}  // namespace forkstore
