// What the batch mode's --info tells of one file: the sizes of both forks,
// where the resource fork is stored, type and creator, and the state of the
// "._name" sidecar and of netatalk's ".AppleDouble/name" (with the reason when
// one is malformed), as text or as one JSON object.
#pragma once

#include <string>

#include "platform/files/FilesExtra.h"

struct CForkReport {
    std::string path;
    OSErr error = noErr;  // the file itself could not be examined
    // What the File Manager found, when error is noErr.
    FSForkInspection forks{};
};

// Examines the file `ref` designates. Nothing on disk is changed.
CForkReport InspectFile(const FSRef* ref, const std::string& path);

// True when the report is complete: the file and its forks could be read. A
// malformed sidecar or ".AppleDouble/name" is a finding, not a failure, but
// the fork it hides is not known then.
bool ReportIsComplete(const CForkReport& report);

// A few indented lines, starting with the path.
std::string FormatReportText(const CForkReport& report);
// One JSON object on one line, without the newline.
std::string FormatReportJson(const CForkReport& report);
