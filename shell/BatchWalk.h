// Expansion of the batch mode's command-line paths into the files to handle:
// a file stands for itself, a folder for every file inside it at any depth,
// met by the window's container walker in the window's order.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"

struct CBatchItem {
    FSRef ref{};
    std::string path;  // the argument as given, then the names below it
    // The data fork's size when the walk met the file (0 also for anything
    // that is not a regular file); not known for a file given by itself.
    bool dataSizeKnown = false;
    std::uint64_t dataSize = 0;
    // Set for an entry that stands for a failure met while expanding, at the
    // place where it was met: the code and what was not done.
    OSErr failure = noErr;
    // Set for an entry that is left alone on purpose (the note says why): it is
    // reported and counted as skipped.
    bool skipped = false;
    std::string note;
};

// Called for each failure met while expanding: the path concerned, the result
// code, and a note saying what was not done (may be empty).
using BatchFailureProc =
    std::function<void(const std::string& path, OSErr code, const std::string& note)>;

// Appends the files `argument` stands for to *items. A folder that cannot be
// walked to its end still gives the files met before; the failure is reported.
// A subfolder that cannot be listed is reported at the place it was met, and
// the walk goes on after it. The walk stays on the file system of the folder
// given: a file system mounted below it becomes a skipped entry for its mount
// point, and none of its files are handled. Stops between two objects once
// *interrupted is set. Returns the number of failures reported.
int ExpandBatchPath(const std::string& argument, std::vector<CBatchItem>* items,
                    const BatchFailureProc& onFailure,
                    const volatile std::sig_atomic_t* interrupted);
