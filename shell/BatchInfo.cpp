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

// Reads the sidecar the way the fork store does (no link followed, never
// blocking on a special file, at most 64 KiB of header) and says whether the
// AppleDouble parser accepts it, and if not, why.
void inspectSidecar(int dirfd, const std::string& name, CForkReport* report) {
    const std::string sidecar = "._" + name;
    struct stat st {};
    if (::fstatat(dirfd, sidecar.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENAMETOOLONG) return;
        report->sidecar = SidecarState::Unreadable;
        report->sidecarError = errnoToOSErr(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        report->sidecar = SidecarState::NotAFile;
        return;
    }
    int fd =
        ::openat(dirfd, sidecar.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        report->sidecar = SidecarState::Unreadable;
        report->sidecarError = errnoToOSErr(errno);
        return;
    }
    OSErr err = noErr;
    std::vector<std::uint8_t> head;
    if (::fstat(fd, &st) != 0) {
        err = errnoToOSErr(errno);
    } else if (!S_ISREG(st.st_mode)) {
        err = notAFileErr;
    } else {
        head.resize(
            std::min<std::uint64_t>(std::uint64_t(st.st_size), appledouble::kMaxHeaderRead));
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
        report->sidecar = err == notAFileErr ? SidecarState::NotAFile : SidecarState::Unreadable;
        report->sidecarError = err;
        return;
    }
    appledouble::Header header;
    appledouble::Problem problem =
        appledouble::parse(head.data(), head.size(), std::uint64_t(st.st_size), &header);
    if (problem == appledouble::Problem::None) {
        report->sidecar = SidecarState::Valid;
    } else {
        report->sidecar = SidecarState::Malformed;
        report->sidecarProblem = appledouble::describe(problem);
    }
}

std::string sidecarNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "._" + path : "._" + path.substr(slash + 1);
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
    return report;
}

bool ReportIsComplete(const CForkReport& report) {
    if (report.error != noErr) return false;
    // A malformed sidecar is what the user asked to find; the fork store then
    // refuses it with ioErr, which is no further failure.
    const bool malformed = report.sidecar == SidecarState::Malformed;
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
    text += "\n  sidecar        ";
    switch (report.sidecar) {
        case SidecarState::None:
            text += "none";
            break;
        case SidecarState::Valid:
            text += sidecar + ", valid";
            break;
        case SidecarState::Malformed:
            text += sidecar + ", malformed: " + report.sidecarProblem;
            break;
        case SidecarState::NotAFile:
            text += sidecar + " is not a regular file";
            break;
        case SidecarState::Unreadable:
            text += sidecar + " cannot be read: " + DescribeResultCode(report.sidecarError);
            break;
    }
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
    return json + "}";
}
