// The files the fork store keeps beside a file rather than in it: which
// entries of a folder are another file's companions (its "._name" sidecar,
// netatalk's ".AppleDouble"), renaming them along with their file, and the
// temporaries a write prepares: their names, and the sweep that removes those
// left by killed processes of this host.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <unordered_set>

#include "platform/files/linux/ForkStoreInternal.h"
#include "platform/files/linux/PathNodes.h"

namespace forkstore {

namespace {

// Temporary sidecars: this host's tag, the process id, then 48 random bits.
constexpr char kTempPattern[] = ".bwtmp-%08x-%d-%012llx";

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

}  // namespace

std::string temporaryName() {
    static std::mt19937_64 random{std::random_device{}()};
    char name[48];
    std::snprintf(name, sizeof name, kTempPattern, unsigned(hostTag()), int(::getpid()),
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return name;
}

namespace {

// Calls that may have changed a folder (see changeCount).
std::atomic<std::uint64_t> gChanges{0};

// Who a file created in the kept folder belongs to, as its sweep saw it: this
// process's user and group, and the folder's group (pin 0: not known).
struct CreatedHere {
    UInt64 pin = 0;
    uid_t user = 0;
    gid_t group = 0;
    gid_t folderGroup = 0;
};
CreatedHere gCreatedHere;

void noteCreatedHere(UInt64 pin, gid_t folderGroup) {
    // A child process may take another user: it finds out for itself.
    static const int forgetInChild =
        ::pthread_atfork(nullptr, nullptr, [] { gCreatedHere = CreatedHere(); });
    (void)forgetInChild;
    gCreatedHere = {pin, ::geteuid(), ::getegid(), folderGroup};
}

}  // namespace

bool createsOwnedBy(int dirfd, uid_t user, gid_t group) {
    const UInt64 pin = pathnodes::pinnedFolderSerial(dirfd);
    return pin != 0 && pin == gCreatedHere.pin && user == gCreatedHere.user &&
           group == gCreatedHere.group && group == gCreatedHere.folderGroup;
}

std::uint64_t changeCount() {
    return gChanges.load();
}

// What goes: regular files whose process no longer runs, never followed
// through a link. Each folder is listed once per process; later calls cost one
// statx, or nothing while the folder stays pinned (a batch run's folder in
// hand). Only calls that change things come here, so a read-only walk removes
// nothing.
void sweepFolderOnce(int dirfd) {
    ++gChanges;  // every call that may change a folder comes here first
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
    if (::statx(dirfd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME | STATX_GID,
                &sx) != 0)
        return;
    if (pin != 0 && (sx.stx_mask & STATX_GID)) noteCreatedHere(pin, sx.stx_gid);
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

bool isHiddenCompanion(int dirfd, const char* name) {
    if (!name) return false;
    struct stat st;
    if (std::strcmp(name, kNetatalkFolder) == 0)
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
    Fd folder;
    OSErr err = openNetatalkFolder(dirfd, oldName, &folder);
    if (err == noErr && folder.get() >= 0) {
        const int f = folder.get();
        if (::fstatat(f, oldName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT && errno != ENAMETOOLONG) err = lastError();
        } else if (S_ISREG(st.st_mode)) {
            if (isNetatalkOwnName(newName))
                err = dupFNErr;  // would take the place of netatalk's own file
            else if (sysio::renameNoReplace(f, oldName, f, newName) != 0)
                err = lastError();
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
