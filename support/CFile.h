// File helper class: static operations on files and folders designated by
// FSRef records.
#pragma once

#include "platform/Files.h"

class CFile {
public:
    // True for a folder or the root of a volume; false for a file, and for an
    // object whose catalog information cannot be read.
    static Boolean IsADirectory(const FSRef& ref);
};
