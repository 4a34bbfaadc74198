// Alias records: persistent references to files, folders and volumes that can
// travel in Apple events. A record holds a version, the object's absolute path,
// its device and its inode; it resolves only to that very object.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

struct AliasRecord;
using AliasPtr = AliasRecord*;
// A handle (see MacMemory.h): GetHandleSize, HLock and DisposeHandle apply.
using AliasHandle = AliasPtr*;

enum : OSErr { kAliasVersionErr = -2, kAliasMalformedErr = paramErr };

// Makes an absolute alias to target (fromFile, for relative aliases, is not
// supported and must be null). fnfErr when the target does not exist.
OSErr NewAlias(const FSSpec* fromFile, const FSSpec* target, AliasHandle* alias);
OSErr FSNewAlias(const FSRef* fromFile, const FSRef* target, AliasHandle* alias);
// Points an existing alias at another target; the handle is resized.
OSErr UpdateAlias(const FSSpec* fromFile, const FSSpec* target, AliasHandle alias,
                  Boolean* wasChanged);
OSErr FSUpdateAlias(const FSRef* fromFile, const FSRef* target, AliasHandle alias,
                    Boolean* wasChanged);
// The same on an alias record's bytes, as they travel in a descriptor.
OSErr ResolveAliasBytes(const void* bytes, Size size, FSRef* target);
