// Expansion of the batch mode's command-line paths into the files to handle:
// a file stands for itself, a folder for every file inside it at any depth,
// met by the window's container walker in the window's order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/files/Files.h"

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

// Takes each entry of an expansion as it is met: a file to handle, or an entry
// that stands for a failure or a skip. Answering false ends the expansion.
using BatchItemProc = std::function<bool(const CBatchItem& item)>;

// Hands the files `argument` stands for to onItem one at a time, as the walk
// meets them, so that no list of the tree is ever kept. A folder that cannot
// be walked to its end still gives the files met before, then a failure entry.
// A subfolder that cannot be listed gives a failure entry at the place it was
// met, and the walk goes on after it. The walk stays on the file system of the
// folder given: a file system mounted below it gives a skipped entry for its
// mount point, and none of its files. Returns false when onItem ended it.
bool ExpandBatchPath(const std::string& argument, const BatchItemProc& onItem);
