#include "shell/batch/BatchInfo.h"

#include <cstdint>
#include <string>

#include "platform/files/ForkNames.h"
#include "shell/batch/BatchText.h"

namespace {

std::string sidecarNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string prefix = forknames::kSidecarPrefix;
    return slash == std::string::npos ? prefix + path : prefix + path.substr(slash + 1);
}

std::string netatalkNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = std::string(forknames::kNetatalkFolder) + "/";
    return slash == std::string::npos ? folder + path
                                      : path.substr(0, slash + 1) + folder + path.substr(slash + 1);
}

const char* storeWord(FSForkStore store) {
    switch (store) {
        case kFSForkStoreSidecar:
            return "sidecar";
        case kFSForkStoreNetatalk:
            return "netatalk";
        case kFSForkStoreMacAttribute:
        case kFSForkStoreSambaAttribute:
            return "attribute";
        case kFSForkStoreNone:
            break;
    }
    return "none";
}

const char* sidecarWord(FSCompanionState state) {
    switch (state) {
        case kFSCompanionNone:
            return "none";
        case kFSCompanionValid:
            return "valid";
        case kFSCompanionMalformed:
            return "malformed";
        case kFSCompanionNotAFile:
            return "not a file";
        case kFSCompanionUnreadable:
            return "unreadable";
    }
    return "none";
}

// One AppleDouble file's state, named `name`, for the text report.
std::string stateText(const std::string& name, const FSCompanionInfo& file) {
    switch (file.state) {
        case kFSCompanionNone:
            break;
        case kFSCompanionValid:
            return name + ", valid";
        case kFSCompanionMalformed:
            return name + ", malformed: " + file.message;
        case kFSCompanionNotAFile:
            return name + " is not a regular file";
        case kFSCompanionUnreadable:
            return name + " cannot be read: " + DescribeResultCode(file.error);
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

// The state of one AppleDouble file as JSON members, named after `key`.
std::string companionJson(const char* key, const char* problemKey, const char* errorKey,
                          const FSCompanionInfo& file) {
    std::string json = ",\"" + std::string(key) + "\":\"" + sidecarWord(file.state) + "\"";
    json += ",\"" + std::string(problemKey) + "\":" +
            (file.state == kFSCompanionMalformed ? JsonString(file.message) : std::string("null"));
    if (file.state == kFSCompanionUnreadable)
        json += ",\"" + std::string(errorKey) + "\":" + jsonError(file.error);
    return json;
}

}  // namespace

CForkReport InspectFile(const FSRef* ref, const std::string& path) {
    CForkReport report;
    report.path = path;
    report.error = FSInspectForks(ref, kFSInspectAll, &report.forks);
    return report;
}

bool ReportIsComplete(const CForkReport& report) {
    if (report.error != noErr) return false;
    const FSForkInspection& forks = report.forks;
    // A malformed sidecar is what the user asked to find; the fork store then
    // refuses it with ioErr, which is no further failure.
    const bool malformed = forks.sidecar.state == kFSCompanionMalformed ||
                           forks.netatalk.state == kFSCompanionMalformed;
    return (forks.rsrcError == noErr || (malformed && forks.rsrcError == ioErr)) &&
           (forks.finderInfoError == noErr || (malformed && forks.finderInfoError == ioErr));
}

std::string FormatReportText(const CForkReport& report) {
    std::string text = TerminalPath(report.path) + "\n";
    if (report.error != noErr) {
        text += "  error          " + DescribeResultCode(report.error) + "\n";
        return text;
    }
    const FSForkInspection& forks = report.forks;
    const std::string sidecar = TerminalPath(sidecarNameOf(report.path));
    text += "  data fork      " + bytesText(forks.dataLength) + "\n";
    text += "  resource fork  ";
    if (forks.rsrcError != noErr) {
        text += "unknown: " + DescribeResultCode(forks.rsrcError);
    } else if (forks.rsrcStore == kFSForkStoreSidecar) {
        text += bytesText(forks.rsrcLength) + ", in the sidecar " + sidecar;
    } else if (forks.rsrcStore == kFSForkStoreNetatalk) {
        text += bytesText(forks.rsrcLength) + ", in netatalk's " +
                TerminalPath(netatalkNameOf(report.path));
    } else if (forks.rsrcAttribute) {
        text += bytesText(forks.rsrcLength) + ", in the attribute " + forks.rsrcAttribute;
    } else {
        text += "none";
    }
    text += "\n  type/creator   ";
    if (forks.finderInfoError != noErr)
        text += "unknown: " + DescribeResultCode(forks.finderInfoError);
    else if (forks.fileType == 0 && forks.fileCreator == 0)
        text += "none";
    else
        text += FourCharText(forks.fileType) + "/" + FourCharText(forks.fileCreator);
    text += "\n  writable       ";
    text += forks.writeError == noErr ? "yes" : "no: " + DescribeResultCode(forks.writeError);
    if (forks.linkCount > 1)
        text += "\n  hard links     " + std::to_string(forks.linkCount) +
                " names share the data fork: flip and delete-data leave it alone";
    text += "\n  sidecar        " + stateText(sidecar, forks.sidecar);
    // netatalk's header only where there is one.
    if (forks.netatalk.state != kFSCompanionNone)
        text += "\n  netatalk       " +
                stateText(TerminalPath(netatalkNameOf(report.path)), forks.netatalk);
    return text + "\n";
}

std::string FormatReportJson(const CForkReport& report) {
    std::string json = "{\"path\":" + JsonString(report.path);
    if (report.error != noErr) return json + ",\"error\":" + jsonError(report.error) + "}";
    const FSForkInspection& forks = report.forks;
    json += ",\"data_fork\":" + std::to_string(forks.dataLength);
    if (forks.rsrcError != noErr) {
        json += ",\"resource_fork\":null,\"resource_store\":null,\"resource_attribute\":null";
        json += ",\"resource_error\":" + jsonError(forks.rsrcError);
    } else {
        const char* attr = forks.rsrcAttribute;
        json += ",\"resource_fork\":" + std::to_string(forks.rsrcLength);
        json += ",\"resource_store\":\"" + std::string(storeWord(forks.rsrcStore)) + "\"";
        json += ",\"resource_attribute\":" + (attr ? JsonString(attr) : std::string("null"));
    }
    if (forks.finderInfoError != noErr) {
        json += ",\"type\":null,\"creator\":null,\"finder_info_error\":" +
                jsonError(forks.finderInfoError);
    } else {
        json +=
            ",\"type\":" + jsonCode(forks.fileType) + ",\"creator\":" + jsonCode(forks.fileCreator);
    }
    json += std::string(",\"writable\":") + (forks.writeError == noErr ? "true" : "false");
    if (forks.linkCount > 1) json += ",\"links\":" + std::to_string(forks.linkCount);
    json += companionJson("sidecar", "sidecar_problem", "sidecar_error", forks.sidecar);
    if (forks.netatalk.state != kFSCompanionNone)
        json +=
            companionJson("netatalk_header", "netatalk_problem", "netatalk_error", forks.netatalk);
    return json + "}";
}
