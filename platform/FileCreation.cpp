// FSCreateFileUnicode and FSCreateDirectoryUnicode: new files and folders by
// UTF-16 name, never over an existing object, with optional catalog fields.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/FileErrors.h"
#include "platform/FileNames.h"
#include "platform/FilesExtra.h"
#include "platform/PathNodes.h"
#include "platform/SysIO.h"

using namespace pathnodes;

namespace {

enum class Kind { File, Folder };

bool entryExists(int dirfd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// "._x" beside an existing "x" would be read as x's sidecar: its resource fork
// and Finder info.
bool namesACompanion(int dirfd, const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "._") == 0 && entryExists(dirfd, name.substr(2));
}

OSErr create(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name, Kind kind,
             FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo, FSRef* newRef,
             FSSpec* newSpec, UInt32* newDirID) {
    if (!name && nameLength > 0) return paramErr;
    if ((whichInfo & ~kFSCatInfoAcceptedBySet) || (whichInfo != 0 && !catalogInfo)) return paramErr;
    Located parent;
    OSErr err = locate(parentRef, &parent);
    if (err != noErr) return err;
    CDirFd folder;
    err = openLocatedFolder(parent, &folder);
    if (err != noErr) return err == errFSNotAFolder ? OSErr(dirNFErr) : err;
    const std::vector<std::string> candidates = filenames::fromUnicode(name, nameLength);
    if (candidates.empty() || !filenames::isComponent(candidates[0])) return bdNamErr;
    // A name on disk that is not UTF-8 can stand for the same UTF-16 name.
    for (const std::string& candidate : candidates)
        if (entryExists(folder.get(), candidate)) return dupFNErr;
    const std::string& onDisk = candidates[0];
    if (namesACompanion(folder.get(), onDisk)) return bdNamErr;
    const bool hadSidecar = entryExists(folder.get(), "._" + onDisk);

    if (kind == Kind::File) {
        int fd = sysio::openat(folder.get(), onDisk.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) return errnoToOSErr(errno);
        sysio::close(fd);
    } else if (::mkdirat(folder.get(), onDisk.c_str(), 0777) != 0) {
        return errnoToOSErr(errno);
    }
    Identity identity;
    struct statx sx {};
    err = statEntry(folder.get(), onDisk.c_str(), &sx, &identity);
    if (err != noErr) return err;
    const NodeID node = child(parent.node, onDisk);
    FSRef made;
    makeRef(node, identity, &made);
    if (whichInfo != 0) {
        err = FSSetCatalogInfo(&made, whichInfo, catalogInfo);
        if (err != noErr) {
            // Nothing half-made stays behind: the object, and a sidecar that
            // the Finder info went into.
            if (!hadSidecar) sysio::unlinkat(folder.get(), ("._" + onDisk).c_str(), 0);
            sysio::unlinkat(folder.get(), onDisk.c_str(), kind == Kind::Folder ? AT_REMOVEDIR : 0);
            return err;
        }
    }
    if (newRef) *newRef = made;
    if (newSpec) {
        makeSpec(node, volumeRefNum(identity.dev), newSpec);
    }
    if (newDirID) *newDirID = node;
    return noErr;
}

}  // namespace

OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec) {
    return create(parentRef, nameLength, name, Kind::File, whichInfo, catalogInfo, newRef, newSpec,
                  nullptr);
}

OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpec* newSpec, UInt32* newDirID) {
    return create(parentRef, nameLength, name, Kind::Folder, whichInfo, catalogInfo, newRef,
                  newSpec, newDirID);
}
