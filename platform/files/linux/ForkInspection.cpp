// The fork store's one read-only inspection, for reports: where the resource
// fork is, the Finder info, and the state of the file's AppleDouble files,
// with the parser's own reason when one is malformed. Every report that needs
// to know what is wrong with a sidecar reads it here.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/ForkNames.h"
#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/SysIO.h"

namespace forkstore {

namespace {

// Closes a descriptor when it goes out of scope.
struct ScopedFd {
    int fd;
    ~ScopedFd() {
        if (fd >= 0) sysio::close(fd);
    }
};

// Reads the AppleDouble file `fileName` in `dirfd` the way the fork store
// does (no link followed, never blocking on a special file, the same header
// size for its layout) and says whether the parser accepts it, and if not,
// why. The file is opened before it is looked at, which spares a call per
// file; a special file is then refused before a byte of it is read.
CompanionFinding readCompanion(int dirfd, const char* fileName, bool netatalk) {
    CompanionFinding found;
    const ScopedFd file{
        sysio::openat(dirfd, fileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    struct stat st {};
    if (file.fd < 0) {
        const int openErrno = errno;
        if (openErrno == ENOENT || openErrno == ENAMETOOLONG) return found;
        // A link (ELOOP), a socket (ENXIO) and the like are no AppleDouble file.
        if (::fstatat(dirfd, fileName, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
            found.state = CompanionState::NotAFile;
            return found;
        }
        found.state = CompanionState::Unreadable;
        found.error = errnoToOSErr(openErrno);
        return found;
    }
    if (::fstat(file.fd, &st) != 0) {
        found.state = CompanionState::Unreadable;
        found.error = errnoToOSErr(errno);
        return found;
    }
    if (!S_ISREG(st.st_mode)) {
        found.state = CompanionState::NotAFile;
        return found;
    }
    const std::uint64_t size = std::uint64_t(st.st_size);
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(
        size, netatalk ? appledouble::kNetatalkHeaderSize : appledouble::kMaxHeaderRead));
    const ssize_t got = sysio::pread(file.fd, head.data(), head.size(), 0);
    if (got < 0) {
        found.state = CompanionState::Unreadable;
        found.error = errnoToOSErr(errno);
        return found;
    }
    head.resize(std::size_t(got));
    appledouble::Header header;
    const appledouble::Problem problem =
        netatalk ? appledouble::parseNetatalkHeader(head.data(), head.size(), size, &header)
                 : appledouble::parse(head.data(), head.size(), size, &header);
    if (problem != appledouble::Problem::None) {
        found.state = CompanionState::Malformed;
        found.problem = int(problem);
        found.message = appledouble::describe(problem);
        return found;
    }
    found.state = CompanionState::Valid;
    const appledouble::Entry* fork = header.find(appledouble::kResourceForkId);
    if (!fork) return found;
    found.forkLength = fork->length;
    if (fork->length == appledouble::kPlaceholderSize) {
        // macOS's blank fork counts as none, as the fork store counts it.
        std::uint8_t blank[appledouble::kPlaceholderSize];
        const std::uint8_t* bytes = blank;
        if (fork->end() <= head.size()) {
            bytes = head.data() + fork->offset;
        } else if (const ssize_t n =
                       sysio::pread(file.fd, blank, sizeof blank, off_t(fork->offset));
                   n != ssize_t(sizeof blank)) {
            found.state = CompanionState::Unreadable;
            found.error = n < 0 ? errnoToOSErr(errno) : OSErr(ioErr);
            return found;
        }
        if (appledouble::isPlaceholder(bytes, appledouble::kPlaceholderSize)) found.forkLength = 0;
    }
    return found;
}

// netatalk 2's header of `name`, in ".AppleDouble" beside it (never reached
// through a link). Its own ".Parent" and "::EA" files are no file's header.
CompanionFinding readNetatalkHeader(int dirfd, const char* name) {
    if (std::strcmp(name, ".Parent") == 0 || std::strstr(name, "::EA") != nullptr) return {};
    const ScopedFd folder{
        sysio::openat(dirfd, forknames::kNetatalkFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW)};
    if (folder.fd < 0) return {};
    return readCompanion(folder.fd, name, true);
}

const char* attributeOf(RsrcStore store) {
    switch (store) {
        case RsrcStore::MacXattr:
            return forknames::kMacForkAttr;
        case RsrcStore::SambaStream:
            return forknames::kSambaForkAttr;
        default:
            return nullptr;
    }
}

}  // namespace

void inspect(int dirfd, const char* name, unsigned what, Inspection* out) {
    if (what & kInspectResourceFork) {
        RsrcInfo info;
        out->rsrcError = getResourceFork(dirfd, name, &info);
        if (out->rsrcError == noErr) {
            out->rsrcStore = info.store;
            out->rsrcLength = info.length;
        }
        out->rsrcLimit = largestResourceFork(out->rsrcStore);
        out->rsrcAttribute = attributeOf(out->rsrcStore);
    }
    if (what & kInspectFinderInfo) {
        out->finderInfoError = getFinderInfo(dirfd, name, out->finderInfo);
        out->hasFinderInfo =
            out->finderInfoError == noErr &&
            std::any_of(out->finderInfo, out->finderInfo + 32, [](UInt8 b) { return b != 0; });
        out->fileType = bigendian::readU32(out->finderInfo);
        out->fileCreator = bigendian::readU32(out->finderInfo + 4);
    }
    if (what & kInspectSidecar)
        out->sidecar =
            readCompanion(dirfd, (forknames::kSidecarPrefix + std::string(name)).c_str(), false);
    if (what & kInspectNetatalk) out->netatalk = readNetatalkHeader(dirfd, name);
}

}  // namespace forkstore
