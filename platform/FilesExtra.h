// File Manager calls that change objects rather than read them: setting catalog
// information (Finder info, dates), creating files and folders by UTF-16 name,
// telling alias files apart, and making a reference from a volume, a folder ID
// and a Pascal name.
#pragma once

#include "platform/Files.h"

enum : OSErr { nsvErr = -35 };

// The catalog fields FSSetCatalogInfo (and the creation calls) accept.
constexpr FSCatalogInfoBitmap kFSCatInfoAcceptedBySet =
    kFSCatInfoTextEncoding | kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoAttrMod |
    kFSCatInfoAccessDate | kFSCatInfoBackupDate | kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo;

// Sets the fields of catalogInfo that whichInfo names:
// - Finder info (kFSCatInfoFinderInfo, kFSCatInfoFinderXInfo): where the fork
//   store keeps it (netatalk metadata, sidecar entry, Mac attribute; new Finder
//   info goes into the sidecar). Only regular files and folders have any:
//   notAFileErr for links, FIFOs, sockets and devices, paramErr for "/".
// - creation date: into the dates entry of the metadata attribute or of the
//   sidecar where one exists. Without one it cannot be kept (a third sidecar
//   entry would make Samba and macOS refuse the sidecar), and the creation date
//   stays the file system's.
// - content modification and access dates: utimensat on the object itself,
//   never through a symbolic link.
// - attribute modification and backup dates, text encoding: Linux cannot set
//   them; they are accepted and left alone.
// Node flags, permissions and fields that cannot be set give paramErr before
// anything is changed. Fields are written in the order above; the first
// failure is returned.
OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo);

// Creates an empty file (data fork and resource fork both empty) named `name`
// in the folder parentRef, never over an existing object (dupFNErr), then sets
// the catalog fields whichInfo names; if that fails the new file is removed and
// the error returned. newRef and newSpec, when given, designate the new file.
// A name that would stand for another file's sidecar ("._x" beside "x") is
// refused with bdNamErr.
OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec);

// The same for a folder; newDirID gets its node ID.
OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpec* newSpec, UInt32* newDirID);

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
