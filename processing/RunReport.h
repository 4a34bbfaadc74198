// What a run in the window could not do: every file or folder it failed on,
// with the result code; the line the status shows at the end of a run that
// met any failure; and the alert that lists them, with the reasons in the
// batch mode's words.
#pragma once

#include <string>
#include <vector>

#include "platform/files/Files.h"

struct CRunFailure {
    std::string path;  // as the reference table names it; "" when unknown
    OSErr code = noErr;
    bool folder = false;  // a folder that could not be read: its files were not handled
};

// Forgets the last run's failures; a run calls it as it starts.
void ClearRunFailures();
// Records a failure on the object `ref` designates.
void AddRunFailure(const FSRef* ref, OSErr code, bool folder);
// Records a failure on an object known only by its path (a dropped item that
// is gone: no reference can be made to it).
void AddRunFailureAt(const std::string& path, OSErr code, bool folder);
const std::vector<CRunFailure>& RunFailures();

// "3 files could not be changed." and, for folders that could not be read,
// "1 folder could not be read."; empty when the run met no failure.
std::string RunFailureSummary();

// Shows the last run's failures in a note alert: the summary, and behind its
// details button one line per failure with the path and the reason.
void ShowRunFailures();
