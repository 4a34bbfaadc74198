#include "shell/BatchInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/AppleDouble.h"
#include "platform/FileErrors.h"
#include "platform/PathNodes.h"
#include "shell/BatchText.h"

namespace {

constexpr char kMacForkAttr[] = "user.com.apple.ResourceFork";
constexpr char kSambaForkAttr[] = "user.DosStream.AFP_Resource:$DATA";

// What --info finds of one AppleDouble file that may hold the fork.
struct FileFinding {
    SidecarState state = SidecarState::None;
    std::string problem;
    OSErr error = noErr;
};

// Reads the AppleDouble file `fileName` in `dirfd` the way the fork store does
// (no link followed, never blocking on a special file, the same header size)
// and says whether the parser for its layout accepts it, and if not, why.
FileFinding inspectAppleDouble(int dirfd, const std::string& fileName, bool netatalk) {
    FileFinding found;
    struct stat st {};
    if (::fstatat(dirfd, fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENAMETOOLONG) return found;
        found.state = SidecarState::Unreadable;
        found.error = errnoToOSErr(errno);
        return found;
    }
    if (!S_ISREG(st.st_mode)) {
        found.state = SidecarState::NotAFile;
        return found;
    }
    int fd = ::openat(dirfd, fileName.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        found.state = SidecarState::Unreadable;
        found.error = errnoToOSErr(errno);
        return found;
    }
    OSErr err = noErr;
    std::vector<std::uint8_t> head;
    if (::fstat(fd, &st) != 0) {
        err = errnoToOSErr(errno);
    } else if (!S_ISREG(st.st_mode)) {
        err = notAFileErr;
    } else {
        head.resize(std::min<std::uint64_t>(
            std::uint64_t(st.st_size),
            netatalk ? appledouble::kNetatalkHeaderSize : appledouble::kMaxHeaderRead));
        std::size_t got = 0;
        while (got < head.size()) {
            ssize_t n = ::pread(fd, head.data() + got, head.size() - got, off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) err = errnoToOSErr(errno);
            if (n <= 0) break;
            got += std::size_t(n);
        }
        head.resize(got);
    }
    ::close(fd);
    if (err != noErr) {
        found.state = err == notAFileErr ? SidecarState::NotAFile : SidecarState::Unreadable;
        found.error = err;
        return found;
    }
    appledouble::Header header;
    const std::uint64_t size = std::uint64_t(st.st_size);
    const appledouble::Problem problem =
        netatalk ? appledouble::parseNetatalkHeader(head.data(), head.size(), size, &header)
                 : appledouble::parse(head.data(), head.size(), size, &header);
    if (problem == appledouble::Problem::None) {
        found.state = SidecarState::Valid;
    } else {
        found.state = SidecarState::Malformed;
        found.problem = appledouble::describe(problem);
    }
    return found;
}

void inspectSidecar(int dirfd, const std::string& name, CForkReport* report) {
    const FileFinding found = inspectAppleDouble(dirfd, "._" + name, false);
    report->sidecar = found.state;
    report->sidecarProblem = found.problem;
    report->sidecarError = found.error;
}

// netatalk 2's header of the file, in ".AppleDouble" beside it (never reached
// through a link). Its own ".Parent" and "::EA" files are no file's header.
void inspectNetatalk(int dirfd, const std::string& name, CForkReport* report) {
    if (name == ".Parent" || name.find("::EA") != std::string::npos) return;
    const int folder =
        ::openat(dirfd, ".AppleDouble", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    const FileFinding found = inspectAppleDouble(folder, name, true);
    ::close(folder);
    report->netatalk = found.state;
    report->netatalkProblem = found.problem;
    report->netatalkError = found.error;
}

std::string sidecarNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "._" + path : "._" + path.substr(slash + 1);
}

std::string netatalkNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos
               ? ".AppleDouble/" + path
               : path.substr(0, slash + 1) + ".AppleDouble/" + path.substr(slash + 1);
}

const char* storeWord(forkstore::RsrcStore store) {
    switch (store) {
        case forkstore::RsrcStore::Sidecar:
            return "sidecar";
        case forkstore::RsrcStore::NetatalkFolder:
            return "netatalk";
        case forkstore::RsrcStore::MacXattr:
        case forkstore::RsrcStore::SambaStream:
            return "attribute";
        case forkstore::RsrcStore::None:
            break;
    }
    return "none";
}

const char* attributeOf(forkstore::RsrcStore store) {
    switch (store) {
        case forkstore::RsrcStore::MacXattr:
            return kMacForkAttr;
        case forkstore::RsrcStore::SambaStream:
            return kSambaForkAttr;
        default:
            return nullptr;
    }
}

const char* sidecarWord(SidecarState state) {
    switch (state) {
        case SidecarState::None:
            return "none";
        case SidecarState::Valid:
            return "valid";
        case SidecarState::Malformed:
            return "malformed";
        case SidecarState::NotAFile:
            return "not a file";
        case SidecarState::Unreadable:
            return "unreadable";
    }
    return "none";
}

// One AppleDouble file's state, named `name`, for the text report.
std::string stateText(const std::string& name, SidecarState state, const std::string& problem,
                      OSErr error) {
    switch (state) {
        case SidecarState::None:
            break;
        case SidecarState::Valid:
            return name + ", valid";
        case SidecarState::Malformed:
            return name + ", malformed: " + problem;
        case SidecarState::NotAFile:
            return name + " is not a regular file";
        case SidecarState::Unreadable:
            return name + " cannot be read: " + DescribeResultCode(error);
    }
    return "none";
}

std::string bytesText(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

std::string jsonError(OSErr code) {
    return "{\"code\":" + std::to_string(code) +
           ",\"message\":" + JsonString(DescribeResultCode(code)) + "}";
}

std::string jsonCode(UInt32 code) {
    return code ? JsonString(FourCharText(code)) : "null";
}

}  // namespace

CForkReport InspectFile(const FSRef* ref, const std::string& path) {
    CForkReport report;
    report.path = path;
    pathnodes::Located located;
    report.error = pathnodes::locate(ref, &located);
    if (report.error != noErr) return report;
    if (!pathnodes::isRegular(located.sx)) {
        report.error = notAFileErr;
        return report;
    }
    report.dataSize = located.sx.stx_size;
    report.linkCount = located.sx.stx_nlink;
    const int dirfd = located.folder.get();
    const char* name = located.name.c_str();
    // The test the File Manager makes before it changes either fork.
    if (::faccessat(dirfd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        report.writeError = errnoToOSErr(errno);

    forkstore::RsrcInfo rsrc;
    report.rsrcError = forkstore::getResourceFork(dirfd, name, &rsrc);
    if (report.rsrcError == noErr) {
        report.rsrcStore = rsrc.store;
        report.rsrcSize = rsrc.length;
    }
    UInt8 finderInfo[32];
    report.finderInfoError = forkstore::getFinderInfo(dirfd, name, finderInfo);
    if (report.finderInfoError == noErr) {
        report.type = appledouble::readU32(finderInfo);
        report.creator = appledouble::readU32(finderInfo + 4);
    }
    inspectSidecar(dirfd, located.name, &report);
    inspectNetatalk(dirfd, located.name, &report);
    return report;
}

bool ReportIsComplete(const CForkReport& report) {
    if (report.error != noErr) return false;
    // A malformed sidecar is what the user asked to find; the fork store then
    // refuses it with ioErr, which is no further failure.
    const bool malformed =
        report.sidecar == SidecarState::Malformed || report.netatalk == SidecarState::Malformed;
    return (report.rsrcError == noErr || (malformed && report.rsrcError == ioErr)) &&
           (report.finderInfoError == noErr || (malformed && report.finderInfoError == ioErr));
}

std::string FormatReportText(const CForkReport& report) {
    std::string text = TerminalPath(report.path) + "\n";
    if (report.error != noErr) {
        text += "  error          " + DescribeResultCode(report.error) + "\n";
        return text;
    }
    const std::string sidecar = TerminalPath(sidecarNameOf(report.path));
    text += "  data fork      " + bytesText(report.dataSize) + "\n";
    text += "  resource fork  ";
    if (report.rsrcError != noErr) {
        text += "unknown: " + DescribeResultCode(report.rsrcError);
    } else if (report.rsrcStore == forkstore::RsrcStore::Sidecar) {
        text += bytesText(report.rsrcSize) + ", in the sidecar " + sidecar;
    } else if (report.rsrcStore == forkstore::RsrcStore::NetatalkFolder) {
        text += bytesText(report.rsrcSize) + ", in netatalk's " +
                TerminalPath(netatalkNameOf(report.path));
    } else if (const char* attr = attributeOf(report.rsrcStore)) {
        text += bytesText(report.rsrcSize) + ", in the attribute " + attr;
    } else {
        text += "none";
    }
    text += "\n  type/creator   ";
    if (report.finderInfoError != noErr)
        text += "unknown: " + DescribeResultCode(report.finderInfoError);
    else if (report.type == 0 && report.creator == 0)
        text += "none";
    else
        text += FourCharText(report.type) + "/" + FourCharText(report.creator);
    text += "\n  writable       ";
    text += report.writeError == noErr ? "yes" : "no: " + DescribeResultCode(report.writeError);
    if (report.linkCount > 1)
        text += "\n  hard links     " + std::to_string(report.linkCount) +
                " names share the data fork: flip and delete-data leave it alone";
    text += "\n  sidecar        " +
            stateText(sidecar, report.sidecar, report.sidecarProblem, report.sidecarError);
    // netatalk's header only where there is one.
    if (report.netatalk != SidecarState::None)
        text += "\n  netatalk       " + stateText(TerminalPath(netatalkNameOf(report.path)),
                                                  report.netatalk, report.netatalkProblem,
                                                  report.netatalkError);
    return text + "\n";
}

std::string FormatReportJson(const CForkReport& report) {
    std::string json = "{\"path\":" + JsonString(report.path);
    if (report.error != noErr) return json + ",\"error\":" + jsonError(report.error) + "}";
    json += ",\"data_fork\":" + std::to_string(report.dataSize);
    if (report.rsrcError != noErr) {
        json += ",\"resource_fork\":null,\"resource_store\":null,\"resource_attribute\":null";
        json += ",\"resource_error\":" + jsonError(report.rsrcError);
    } else {
        const char* attr = attributeOf(report.rsrcStore);
        json += ",\"resource_fork\":" + std::to_string(report.rsrcSize);
        json += ",\"resource_store\":\"" + std::string(storeWord(report.rsrcStore)) + "\"";
        json += ",\"resource_attribute\":" + (attr ? JsonString(attr) : std::string("null"));
    }
    if (report.finderInfoError != noErr) {
        json += ",\"type\":null,\"creator\":null,\"finder_info_error\":" +
                jsonError(report.finderInfoError);
    } else {
        json += ",\"type\":" + jsonCode(report.type) + ",\"creator\":" + jsonCode(report.creator);
    }
    json += std::string(",\"writable\":") + (report.writeError == noErr ? "true" : "false");
    if (report.linkCount > 1) json += ",\"links\":" + std::to_string(report.linkCount);
    json += ",\"sidecar\":\"" + std::string(sidecarWord(report.sidecar)) + "\"";
    json += ",\"sidecar_problem\":" + (report.sidecar == SidecarState::Malformed
                                           ? JsonString(report.sidecarProblem)
                                           : std::string("null"));
    if (report.sidecar == SidecarState::Unreadable)
        json += ",\"sidecar_error\":" + jsonError(report.sidecarError);
    if (report.netatalk != SidecarState::None) {
        json += ",\"netatalk_header\":\"" + std::string(sidecarWord(report.netatalk)) + "\"";
        json += ",\"netatalk_problem\":" + (report.netatalk == SidecarState::Malformed
                                                ? JsonString(report.netatalkProblem)
                                                : std::string("null"));
        if (report.netatalk == SidecarState::Unreadable)
            json += ",\"netatalk_error\":" + jsonError(report.netatalkError);
    }
    return json + "}";
}
