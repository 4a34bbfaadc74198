// What the batch mode's --info tells of one file: the sizes of both forks,
// where the resource fork is stored, type and creator, and the state of the
// "._name" sidecar and of netatalk's ".AppleDouble/name" (with the reason when
// one is malformed), as text or as one JSON object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Files.h"
#include "platform/ForkStore.h"

// The state of an AppleDouble file that holds a file's fork: its "._name"
// sidecar, or netatalk's ".AppleDouble/name".
enum class SidecarState {
    None,        // no such file
    Valid,       // an AppleDouble file the fork store accepts
    Malformed,   // rejected; problem says why
    NotAFile,    // a folder, a link or another special file
    Unreadable,  // could not be opened or read; code says why
};

struct CForkReport {
    std::string path;
    OSErr error = noErr;  // the file itself could not be examined
    std::uint64_t dataSize = 0;
    std::uint32_t linkCount = 1;  // names (hard links) the file has

    OSErr rsrcError = noErr;  // the resource fork could not be read
    forkstore::RsrcStore rsrcStore = forkstore::RsrcStore::None;
    std::uint64_t rsrcSize = 0;

    OSErr writeError = noErr;  // why this process may not change the file

    OSErr finderInfoError = noErr;  // type and creator could not be read
    UInt32 type = 0;
    UInt32 creator = 0;

    SidecarState sidecar = SidecarState::None;
    std::string sidecarProblem;  // for Malformed
    OSErr sidecarError = noErr;  // for Unreadable

    SidecarState netatalk = SidecarState::None;  // ".AppleDouble/name"
    std::string netatalkProblem;
    OSErr netatalkError = noErr;
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
