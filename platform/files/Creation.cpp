// Creating files and folders inside a folder given by reference.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/FileNames.h"
#include "platform/files/Files.h"
#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"

using namespace pathnodes;

namespace {

enum class Kind { File, Folder };

bool present(int dirfd, const std::string& name, struct stat* st) {
    return ::fstatat(dirfd, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Takes back an object just created whose catalog fields could not be set:
// the object itself (if it is still the one created) and a sidecar that did
// not exist before. A sidecar that was there before is left in place.
void undoCreate(int dirfd, const std::string& name, const struct stat& made, bool hadSidecar) {
    struct stat st;
    if (present(dirfd, name, &st) && st.st_dev == made.st_dev && st.st_ino == made.st_ino)
        sysio::unlinkat(dirfd, name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
    const std::string sidecar = "._" + name;
    if (!hadSidecar && present(dirfd, sidecar, &st) && S_ISREG(st.st_mode))
        sysio::unlinkat(dirfd, sidecar.c_str(), 0);
}

OSErr create(Kind kind, const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
             FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo, FSRef* newRef,
             FSSpec* newSpec, UInt32* newDirID) {
    if (!name && nameLength > 0) return paramErr;
    Located parent;
    CDirFd folder;
    OSErr err = openParentFolder(parentRef, &parent, &folder);
    if (err != noErr) return err;
    std::vector<std::string> candidates = filenames::fromUnicode(name, nameLength);
    if (candidates.empty() || !filenames::isComponent(candidates[0])) return bdNamErr;
    const std::string& newName = candidates[0];
    struct stat st;
    // "._x" beside "x" is read as x's sidecar: a new empty one would be a
    // malformed sidecar that blocks x's resource fork.
    if (newName.size() > 2 && newName.compare(0, 2, "._") == 0 &&
        !present(folder.get(), newName, &st) && present(folder.get(), newName.substr(2), &st))
        return bdNamErr;
    const bool hadSidecar = present(folder.get(), "._" + newName, &st);
    if (kind == Kind::File) {
        int fd = sysio::openat(folder.get(), newName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0) return errnoToOSErr(errno);
        sysio::close(fd);
    } else if (::mkdirat(folder.get(), newName.c_str(), 0777) != 0) {
        return errnoToOSErr(errno);
    }
    Located created;
    err = locateNode(child(parent.node, newName), nullptr, &created);
    if (err != noErr) return err;
    FSRef ref;
    makeRef(created.node, identityOf(created.sx), &ref);
    if (catalogInfo && (whichInfo & kFSCatInfoSettableInfo)) {
        struct stat made;
        if (!present(folder.get(), newName, &made)) return fnfErr;
        err = FSSetCatalogInfo(&ref, whichInfo, catalogInfo);
        if (err != noErr) {
            undoCreate(folder.get(), newName, made, hadSidecar);
            return err;
        }
    }
    if (newRef) *newRef = ref;
    if (newSpec)
        makeSpec(created.node,
                 volumeRefNum(makedev(created.sx.stx_dev_major, created.sx.stx_dev_minor)),
                 newSpec);
    if (newDirID) *newDirID = created.node;
    return noErr;
}

}  // namespace

OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec) {
    return create(Kind::File, parentRef, nameLength, name, whichInfo, catalogInfo, newRef, newSpec,
                  nullptr);
}

OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpec* newSpec, UInt32* newDirID) {
    return create(Kind::Folder, parentRef, nameLength, name, whichInfo, catalogInfo, newRef,
                  newSpec, newDirID);
}
