// The three fork operations applied to one file: flip/delete the data fork
// (copy it into the resource fork, then delete it), delete the data fork,
// delete the resource fork.
#pragma once

#include "platform/files/Files.h"

enum functionType : SInt32 {
    kFlipDeleteDataFork = 1,
    kDeleteDataFork = 2,
    kDeleteResourceFork = 3,
};

// Results of the operations beyond the File Manager's own codes. In both
// cases the file is left as it was found.
enum : OSErr {
    // The file has other names (hard links), which share its data fork: the
    // flip and the data fork's deletion would empty those too.
    fileHasLinksErr = -27001,
    // The data fork changed while the flip copied it, so it was not cut; the
    // resource fork holds the copy, and running the flip again completes it.
    fileChangedErr = -27002,
};

// Applies operation `function` to the file and returns its result; paramErr,
// with nothing done, for a value other than the three operations.
OSErr ProcessFSRef(const FSRef* ref, functionType function);
OSErr DeleteDataFork(const FSRef* ref);
OSErr DeleteResourceFork(const FSRef* ref);
OSErr FlipDeleteDataFork(const FSRef* ref);
