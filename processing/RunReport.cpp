#include "processing/RunReport.h"

#include "platform/cf/CoreFoundation.h"
#include "platform/ui/Alerts.h"
#include "processing/ResultCodes.h"

namespace {

std::vector<CRunFailure> gFailures;

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A string of text that is meant as UTF-8; a name that is not (a file name
// can be any bytes) is shown with each byte as its Latin-1 character.
CFStringRef textOf(const std::string& text) {
    const auto* bytes = reinterpret_cast<const UInt8*>(text.data());
    CFStringRef s =
        CFStringCreateWithBytes(nullptr, bytes, CFIndex(text.size()), kCFStringEncodingUTF8, false);
    if (!s)
        s = CFStringCreateWithBytes(nullptr, bytes, CFIndex(text.size()),
                                    kCFStringEncodingISOLatin1, false);
    return s;
}

}  // namespace

void ClearRunFailures() {
    gFailures.clear();
}

void AddRunFailure(const FSRef* ref, OSErr code, bool folder) {
    CRunFailure failure;
    failure.code = code;
    failure.folder = folder;
    std::vector<UInt8> path(1 << 16);
    if (ref && FSRefMakePath(ref, path.data(), UInt32(path.size())) == noErr)
        failure.path = reinterpret_cast<const char*>(path.data());
    gFailures.push_back(std::move(failure));
}

void AddRunFailureAt(const std::string& path, OSErr code, bool folder) {
    gFailures.push_back({path, code, folder});
}

const std::vector<CRunFailure>& RunFailures() {
    return gFailures;
}

std::string RunFailureSummary() {
    std::size_t files = 0, folders = 0;
    for (const CRunFailure& f : gFailures) ++(f.folder ? folders : files);
    std::string summary;
    if (files) summary = counted(files, "file", "files") + " could not be changed.";
    if (folders) {
        if (!summary.empty()) summary += " ";
        summary += counted(folders, "folder", "folders") + " could not be read.";
    }
    return summary;
}

void ShowRunFailures() {
    if (gFailures.empty()) return;
    std::string details;
    for (const CRunFailure& f : gFailures)
        details += (f.path.empty() ? std::string("(an item that could not be read)") : f.path) +
                   "\n    " + DescribeResultCode(f.code) + "\n";
    CFStringRef summary = textOf(RunFailureSummary());
    CFStringRef list = textOf(details);
    DialogRef alert = nullptr;
    if (CreateStandardAlert(kAlertNoteAlert, summary,
                            CFSTR("Each file or folder is listed below with the reason."), nullptr,
                            &alert) == noErr &&
        alert) {
        if (list) SetStandardAlertDetails(alert, list);
        RunStandardAlert(alert, nullptr, nullptr);
    }
    if (list) CFRelease(list);
    if (summary) CFRelease(summary);
}
