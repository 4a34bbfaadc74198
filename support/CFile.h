// File helper class: static operations on files and folders designated by
// FSRef records or paths: type tests, Finder info (type, creator, sizes,
// dates), Finder comments, creation, renaming, whole reads and writes of the
// data fork, and conversions between paths, descriptors, FSSpec and FSRef.
// Every operation that can fail returns the platform's result code unchanged.
// Used by the application: CFile::IsADirectory only (the processing run);
// every other member is kept as the library's own.
#pragma once

#include "platform/events/AppleEvents.h"
#include "platform/files/Files.h"
#include "support/CString256.h"

class CFile {
public:
    // Nothing is kept: every operation is static.
    explicit CFile(FSRef&) {}
    explicit CFile(CString256&) {}

    // ---- Tests and queries ----
    // True for a folder or the root of a volume; false for a file, and for an
    // object whose catalog information cannot be read.
    static Boolean IsADirectory(const FSRef& ref);
    // 1 for anything that is not a folder; 0 for a folder and for an object
    // whose catalog information cannot be read.
    static Boolean IsAFile(const FSRef& ref);
    // True when the object is an alias file that stands for a folder (a
    // symbolic link to a folder, or a folder alias flagged in its Finder info).
    static Boolean FileIsAliasedDirectory(const FSRef* ref);
    // The file type and creator from the Finder info; 0 on failure.
    static OSErr FSGetType(const FSRef& ref, unsigned long& type);
    static OSErr FSGetCreator(const FSRef& ref, unsigned long& creator);
    // Logical sizes of both forks added; 0 on failure.
    static OSErr FSGetSize(const FSRef& ref, unsigned long long& size);
    // The low 32 bits of the content modification date in seconds since 1904.
    static OSErr FSGetModDateAsUInt32(const FSRef& ref, unsigned long& date);
    // True when ref designates an object; parent then designates its folder.
    static Boolean FSObjectExists(const FSRef& ref, FSRef& parent);
    // False only when the folder certainly holds no object of that name
    // (fnfErr); any other failure counts as existing. On success ref
    // designates the object.
    static Boolean FSObjectExists(const FSRef& parent, const CString256& name, FSRef& ref);
    static OSErr FSMakeFSSpec(const FSRef* ref, FSSpec* spec);
    // The POSIX path as a Pascal string; path untouched on failure (a path of
    // 255 bytes or more fails).
    static OSErr FSGetPascalPath(const FSRef& ref, unsigned char* path);
    // The name in Mac Roman, at most 255 characters; untouched when the name
    // cannot be read, empty when it cannot be converted.
    static OSErr FSGetObjectName(const FSRef& ref, CString256& name);

    // ---- Setters ----
    // Replace the file type or creator in the Finder info: the read's code
    // when it fails, else the write's.
    static OSErr FSSetType(const FSRef& ref, const unsigned long& type);
    static OSErr FSSetCreator(const FSRef& ref, const unsigned long& creator);
    // Renames the object in its folder, its sidecar with it; ref (and every
    // other reference to the object) designates the renamed object.
    static OSErr FSSetName(FSRef& ref, const CString256& name);
    // Content modification and creation dates. The error of the catalog read
    // or write when nothing could be set; paramErr for a missing date.
    static OSErr FSSetModCreateDate(const FSRef& ref, const UTCDateTime* modDate,
                                    const UTCDateTime* createDate);
    // Creation, content modification and attribute modification dates all set
    // to *date, then one byte of the data fork read so that the access date
    // moves too. Errors as above.
    static OSErr FSSetModCreateAccessDate(const FSRef& ref, const UTCDateTime* date);
    // The Finder comment, through the Finder's 'setd' and 'getd' events. An
    // item without a comment leaves `comment` as it was.
    static OSErr FSSetComment(const FSRef& ref, const CString256& comment);
    static OSErr FSGetComment(const FSRef& ref, CString256& comment);

    // ---- Creation ----
    // An existing object of that name is no error: 0, nothing created, newRef
    // designates it (and the variants with creator and type give it the new
    // type and creator). A failed look-up other than fnfErr is returned.
    static OSErr FSCreateFile(const FSRef& parent, const CString256& name, FSRef& newRef);
    static OSErr FSCreateFile(const FSRef& parent, const CString256& name, unsigned long creator,
                              unsigned long type, FSRef& newRef);
    static OSErr FSCreateDirectory(const FSRef& parent, const CString256& name, FSRef& newRef);
    // By path. The path is the bytes of the names on disk, as FSPathMakeRef
    // reads it, and the new file gets exactly the name its last component
    // gives; a path without '/' is taken relative to the current folder.
    static OSErr FSCreateFile(const CString256& path, FSRef& newRef);
    static OSErr FSCreateFile(const CString256& path, unsigned long creator, unsigned long type,
                              FSRef& newRef);

    // ---- Whole data fork ----
    // A new array from new[] holding the whole data fork (not terminated), or
    // null when it cannot be opened, sized, allocated or read in full (or holds
    // 2^32 bytes or more). The fork is opened for reading only. An empty data
    // fork gives a non-null array of length 0. The caller releases it with delete[].
    static char* ReadFile(const FSRef& ref);
    // The same by path; *size (when size is not null) gets the number of bytes,
    // 0 when null is returned.
    static char* ReadFile(const CString256& path, long* size);
    // The same for the object `name` (Pascal) in folder dirID of volume vRefNum.
    static char* ReadFile(short vRefNum, long dirID, const unsigned char* name);
    // Writes count bytes at the start of the data fork; the fork is not
    // shortened, so bytes past count stay as they were.
    static OSErr WriteFile(const FSRef& ref, const char* data, unsigned long count);
    // Creates the file at path when needed, then writes. A path longer than
    // 255 bytes is refused (pathTooLongErr) rather than cut.
    static OSErr WriteFile(const char* path, const char* data, unsigned long count);

    // ---- Conversion ----
    // From a descriptor of type 'fsrf' or 'fss ', or one that coerces to either.
    static OSErr GetFSRefFromAEDesc(FSRef* ref, const AEDesc* desc);
};
