// The three fork operations applied to one file: flip/delete the data fork
// (copy it into the resource fork, then delete it), delete the data fork,
// delete the resource fork.
#pragma once

#include "platform/Files.h"

enum functionType : SInt32 {
    kFlipDeleteDataFork = 1,
    kDeleteDataFork = 2,
    kDeleteResourceFork = 3,
};

// Applies operation `function` to the file and returns its result; paramErr,
// with nothing done, for a value other than the three operations.
OSErr ProcessFSRef(const FSRef* ref, functionType function);
OSErr DeleteDataFork(const FSRef* ref);
OSErr DeleteResourceFork(const FSRef* ref);
OSErr FlipDeleteDataFork(const FSRef* ref);
