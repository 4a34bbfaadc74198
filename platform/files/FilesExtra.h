// File Manager calls beyond Files.h: telling alias files apart, making a
// reference from a volume, a folder ID and a Pascal name, and the reports the
// batch mode gives: where a file's forks are kept and what is wrong with a
// sidecar.
#pragma once

#include <cstdio>
#include <string>

#include "platform/files/Files.h"

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

// Where a file's resource fork is kept.
enum FSForkStore : UInt8 {
    kFSForkStoreNone,            // no fork anywhere (or only an empty one)
    kFSForkStoreSidecar,         // the AppleDouble sidecar "._name"
    kFSForkStoreNetatalk,        // netatalk 2's ".AppleDouble/name"
    kFSForkStoreMacAttribute,    // macOS's extended attribute
    kFSForkStoreSambaAttribute,  // Samba's stream attribute
};

// The state of an AppleDouble file that may hold a file's fork.
enum FSCompanionState : UInt8 {
    kFSCompanionNone,        // no such file
    kFSCompanionValid,       // an AppleDouble file the File Manager accepts
    kFSCompanionMalformed,   // refused: problem and message say why
    kFSCompanionNotAFile,    // a folder, a link or another special file
    kFSCompanionUnreadable,  // could not be opened or read: error says why
};

struct FSCompanionInfo {
    FSCompanionState state;
    // Valid: the length of the resource fork it holds; 0 for none, an empty
    // one and macOS's blank placeholder.
    UInt64 forkLength;
    // Malformed: the AppleDouble parser's own code for the problem (never 0),
    // and its text.
    SInt32 problem;
    const char* message;
    OSErr error;  // Unreadable
};

// What FSInspectForks is asked to look at.
enum : UInt32 {
    kFSInspectFile = 0x01,          // a regular file: the data fork's length, the links
    kFSInspectWritable = 0x02,      // whether this process may change it (with kFSInspectFile)
    kFSInspectResourceFork = 0x04,  // store, length and the largest fork its store takes
    kFSInspectFinderInfo = 0x08,
    kFSInspectSidecar = 0x10,   // the "._name" file
    kFSInspectNetatalk = 0x20,  // netatalk 2's ".AppleDouble/name" file
    kFSInspectAll = 0x3F,
};

struct FSForkInspection {
    UInt64 dataLength;
    UInt32 linkCount;  // the names (hard links) the file has
    OSErr writeError;  // why this process may not change the file; noErr when it may

    OSErr rsrcError;  // the resource fork could not be read (ioErr: a malformed store)
    FSForkStore rsrcStore;
    UInt64 rsrcLength;
    UInt64 rsrcLimit;           // the largest resource fork rsrcStore can hold
    const char* rsrcAttribute;  // the attribute's name for the attribute stores, else null

    OSErr finderInfoError;  // the Finder info could not be read
    Boolean hasFinderInfo;  // some store holds Finder info that is not all zero
    UInt8 finderInfo[32];   // type, creator, flags, ...; all zero when there is none
    OSType fileType;        // the first two fields of finderInfo
    OSType fileCreator;

    FSCompanionInfo sidecar;   // "._name"
    FSCompanionInfo netatalk;  // ".AppleDouble/name"; none for netatalk's own files
};

// Looks at the forks of the file `ref` designates, as `whichInfo` asks, and
// changes nothing. Returns the result of finding the file (and with
// kFSInspectFile, notAFileErr when it is not a regular file); each part then
// has its own result in *info, so that a malformed sidecar is a finding, not
// a failure. Without kFSInspectFile the file itself is not looked at: the
// sidecar alone costs only the reading of it.
OSErr FSInspectForks(const FSRef* ref, UInt32 whichInfo, FSForkInspection* info);

// The path of the object `ref` designates as the File Manager knows it, with
// no look at the disk: when `base` is a folder the object is inside (at any
// depth), the names below `base` joined by "/" ("" for `base` itself) and
// *inside true; otherwise the whole path from "/" and *inside false. paramErr
// for a record the File Manager did not make.
OSErr FSGetKnownPath(const FSRef* ref, const FSRef* base, std::string* path, Boolean* inside);

// Whether the open stream is a terminal.
Boolean FSStreamIsTerminal(std::FILE* stream);

// The File Manager calls made while one lives (the work on one file) check
// once that the folder it keeps open still has its path, instead of at each
// call: they see the folder as it was when the work began, as an open file
// would. Nest freely; the checks at each call come back when the last goes.
class CFSFolderHold {
public:
    CFSFolderHold();
    ~CFSFolderHold();
    CFSFolderHold(const CFSFolderHold&) = delete;
    CFSFolderHold& operator=(const CFSFolderHold&) = delete;
};
