// File Manager calls beyond Files.h: telling alias files apart, and making a
// reference from a volume, a folder ID and a Pascal name.
#pragma once

#include "platform/Files.h"

enum : OSErr { nsvErr = -35 };

// Whether the object is an alias file, and whether it stands for a folder. A
// symbolic link is an alias, a folder alias when it leads to a folder (a
// dangling link is an alias of nothing: not a folder alias). A regular file
// whose Finder flags carry kIsAlias is an alias too, a folder alias when its
// file type is one of the container types ('fdrp', 'fasy', 'hdsk', ...).
// Folders and everything else are not aliases. The flags are false on failure.
OSErr FSIsAliasFile(const FSRef* fileRef, Boolean* aliasFileFlag, Boolean* folderFlag);

// The reference of `name` (a Pascal string of the bytes of a name on disk, as
// in an FSSpec; empty or null for the folder itself) inside the folder whose
// node ID is dirID. vRefNum 0 stands for any volume; any other must be the
// volume of the object found, else nsvErr. Names longer than an FSSpec holds
// (63 bytes) work too. paramErr without ref.
OSErr FSMakeFSRef(FSVolumeRefNum vRefNum, SInt32 dirID, ConstStr255Param name, FSRef* ref);

// What the file behind an open fork is like now, read through the fork itself
// (no name is looked up again): the data fork's length, its content
// modification time, and the number of names (hard links) the file has.
struct FSForkFileStamp {
    UInt64 dataLength;
    SInt64 modSeconds;
    UInt32 modNanoseconds;
    UInt32 linkCount;
};
OSErr FSGetForkFileStamp(FSIORefNum forkRefNum, FSForkFileStamp* stamp);

// Writes the first `count` bytes of the open data fork `source` over the start
// of the open resource fork `dest`, as FSWriteFork would from a buffer holding
// them, but copied inside the kernel in bounded memory whatever the size (and
// a sparse data fork stays sparse). Durable when it returns. fsDataTooBigErr
// when the resulting fork is larger than its store can hold; ioErr when the
// data fork ends before `count` bytes. Nothing changes on failure.
OSErr FSCopyDataForkToResourceFork(FSIORefNum source, FSIORefNum dest, UInt64 count);

// Whether the object belongs to another entry of its folder rather than being
// a file or folder of its own: the AppleDouble sidecar "._name" of an entry
// "name" beside it, netatalk's ".AppleDouble" folder of other files' forks, or
// a file inside that folder (a header, ".Parent"). Listings hide such objects;
// an orphan "._name" is an ordinary file.
OSErr FSIsForkCompanion(const FSRef* ref, Boolean* companion);
