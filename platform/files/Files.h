// The File Manager: references to files and folders, their two forks, catalog
// information and folder listings, over POSIX files, AppleDouble sidecars and
// extended attributes.
#pragma once

#include "platform/base/MacTypes.h"

#pragma pack(push, 2)

// 48-bit seconds since 1904-01-01 UTC plus a 16-bit fraction.
struct UTCDateTime {
    UInt16 highSeconds;
    UInt32 lowSeconds;
    UInt16 fraction;
};

// Opaque reference to an existing file, folder or volume.
struct FSRef {
    UInt8 hidden[80];
};

using FSVolumeRefNum = SInt16;
using FSIORefNum = SInt16;

// Classic file specification: a volume, a parent folder and a Pascal name; the
// object it names need not exist.
struct FSSpec {
    FSVolumeRefNum vRefNum;
    SInt32 parID;
    StrFileName name;
};

struct HFSUniStr255 {
    UInt16 length;
    UniChar unicode[255];
};

struct FSPermissionInfo {
    UInt32 userID;
    UInt32 groupID;
    UInt8 reserved1;
    UInt8 userAccess;
    UInt16 mode;
    UInt32 reserved2;
};

struct FSCatalogInfo {
    UInt16 nodeFlags;
    FSVolumeRefNum volume;
    UInt32 parentDirID;
    UInt32 nodeID;
    UInt8 sharingFlags;
    UInt8 userPrivileges;
    UInt8 reserved1;
    UInt8 reserved2;
    UTCDateTime createDate;
    UTCDateTime contentModDate;
    UTCDateTime attributeModDate;
    UTCDateTime accessDate;
    UTCDateTime backupDate;
    UInt32 permissions[4];
    UInt8 finderInfo[16];
    UInt8 extFinderInfo[16];
    UInt64 dataLogicalSize;
    UInt64 dataPhysicalSize;
    UInt64 rsrcLogicalSize;
    UInt64 rsrcPhysicalSize;
    UInt32 valence;
    TextEncoding textEncodingHint;
};

#pragma pack(pop)

static_assert(sizeof(UTCDateTime) == 8);
static_assert(sizeof(FSRef) == 80);
static_assert(sizeof(FSSpec) == 70);
static_assert(sizeof(HFSUniStr255) == 512);

// Finder info of a file as it sits in the first 16 bytes of FSCatalogInfo.finderInfo.
#pragma pack(push, 2)
struct Point {
    SInt16 v;
    SInt16 h;
};
struct FileInfo {
    OSType fileType;
    OSType fileCreator;
    UInt16 finderFlags;
    Point location;
    UInt16 reservedField;
};
#pragma pack(pop)

// File Manager result codes beyond the common ones.
enum : OSErr {
    errFSBadFSRef = -1401,
    errFSBadForkName = -1402,
    errFSNotAFolder = -1407,
    errFSBadPosMode = -1412,
    errFSRefsDifferent = -1420,
    pathTooLongErr = -2110,
};

// Node ID of the root folder "/" and of its parent, as on a Mac volume.
enum : UInt32 { fsRtParID = 1, fsRtDirID = 2 };

using FSCatalogInfoBitmap = UInt32;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0x00000000,
    kFSCatInfoTextEncoding = 0x00000001,
    kFSCatInfoNodeFlags = 0x00000002,
    kFSCatInfoVolume = 0x00000004,
    kFSCatInfoParentDirID = 0x00000008,
    kFSCatInfoNodeID = 0x00000010,
    kFSCatInfoCreateDate = 0x00000020,
    kFSCatInfoContentMod = 0x00000040,
    kFSCatInfoAttrMod = 0x00000080,
    kFSCatInfoAccessDate = 0x00000100,
    kFSCatInfoBackupDate = 0x00000200,
    kFSCatInfoPermissions = 0x00000400,
    kFSCatInfoFinderInfo = 0x00000800,
    kFSCatInfoFinderXInfo = 0x00001000,
    kFSCatInfoValence = 0x00002000,
    kFSCatInfoDataSizes = 0x00004000,
    kFSCatInfoRsrcSizes = 0x00008000,
    kFSCatInfoSharingFlags = 0x00010000,
    kFSCatInfoUserPrivs = 0x00020000,
    kFSCatInfoUserAccess = 0x00080000,
    kFSCatInfoAllDates = 0x000003E0,
    kFSCatInfoGettableInfo = 0x0003FFFF,
    kFSCatInfoSettableInfo = 0x00001FE3,
};

enum : UInt16 {
    kFSNodeLockedMask = 0x0001,
    kFSNodeIsDirectoryMask = 0x0010,
};

// Position modes.
enum : UInt16 { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };

// Fork permissions.
enum : SInt8 { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3, fsRdWrShPerm = 4 };

// Finder flags.
enum : UInt16 { kIsAlias = 0x8000, kIsInvisible = 0x4000, kHasBundle = 0x2000 };

using FSIteratorFlags = UInt32;
enum : FSIteratorFlags { kFSIterateFlat = 0, kFSIterateSubtree = 1 };
struct OpaqueFSIterator;
using FSIterator = OpaqueFSIterator*;

OSErr FSGetDataForkName(HFSUniStr255* dataForkName);
OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName);
OSErr FSCreateFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName);
OSErr FSDeleteFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName);
OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum);
OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize);
OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position);
// Sets the length of an open data fork (from the start, the end or the mark);
// the fork must be open for writing. A resource fork is not resized here:
// paramErr.
OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount);
OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount);
OSErr FSCloseFork(FSIORefNum forkRefNum);
// Classic write at the current mark of an open fork; advances the mark.
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);
// Classic close of an open fork.
OSErr FSClose(SInt16 refNum);

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);

// Sets the settable fields asked for: Finder info (where it was found, else
// into the sidecar), creation date (into a dates entry the sidecar or netatalk
// metadata already has; without one the file system's date stands), content
// modification and access dates (the file's times), permissions (mode bits).
// The attribute modification and backup dates cannot be set and are left.
OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo);

// Creates an empty file or a folder in `parentRef` (dupFNErr when the name is
// taken), then sets the catalog fields asked for.
OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec);
OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpec* newSpec, UInt32* newDirID);

OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator);
OSErr FSCloseIterator(FSIterator iterator);
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpec* specs,
                           HFSUniStr255* names);

// An FSSpec's parID is the node ID of its folder (the root folder "/" is 2,
// its parent 1) and its name the UTF-8 name on disk; a name longer than 63
// bytes is cut at a character boundary and ends in "#" and the object's node
// ID in hex, which FSpMakeFSRef resolves back.
OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// noErr when both designate the same object, errFSRefsDifferent otherwise.
OSErr FSCompareFSRefs(const FSRef* ref1, const FSRef* ref2);
// The reference of `name` inside the folder `parentRef`; fnfErr when absent.
OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding textEncodingHint, FSRef* newRef);
// Renames an object in its folder (never over an existing one: dupFNErr),
// moves its sidecar along, and keeps every reference to it valid.
OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name,
                      TextEncoding textEncodingHint, FSRef* newRef);
