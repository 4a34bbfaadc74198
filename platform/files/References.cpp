// Making, comparing and converting references: paths to FSRef and back, FSSpec
// to FSRef, names inside folders, and renames that keep references valid.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/FileNames.h"
#include "platform/files/Files.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"

using namespace pathnodes;

namespace {

void splitInto(std::deque<std::string>& parts, const std::string& path, bool atFront) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        pieces.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (atFront)
        parts.insert(parts.begin(), pieces.begin(), pieces.end());
    else
        parts.insert(parts.end(), pieces.begin(), pieces.end());
}

bool onlyTrivialLeft(const std::deque<std::string>& parts) {
    for (const auto& p : parts)
        if (!p.empty() && p != ".") return false;
    return true;
}

}  // namespace

// Symbolic links inside the path are resolved as the shell would; the last
// component is never followed, so a path naming a link gives the link.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    if (!path || !ref) return paramErr;
    std::string text(reinterpret_cast<const char*>(path));
    if (text.empty()) return fnfErr;
    std::deque<std::string> parts;
    if (text[0] != '/') {
        std::vector<char> cwd(4096);
        while (!::getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) return errnoToOSErr(errno);
            cwd.resize(cwd.size() * 2);
        }
        splitInto(parts, cwd.data(), false);
    }
    splitInto(parts, text, false);

    NodeID node = kRootID;
    CDirFd dir(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return errnoToOSErr(errno);
    int linksLeft = 40;
    while (!parts.empty()) {
        std::string part = std::move(parts.front());
        parts.pop_front();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (node == kRootID) continue;
            CDirFd up(::openat(dir.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (up.get() < 0) return errnoToOSErr(errno);
            dir = std::move(up);
            node = parentOf(node);
            continue;
        }
        if (part.size() > 255) return bdNamErr;
        struct statx sx {};
        Identity identity;
        OSErr err = statEntry(dir.get(), part.c_str(), &sx, &identity);
        if (err != noErr) return err;
        bool last = onlyTrivialLeft(parts);
        if (S_ISLNK(sx.stx_mode) && !last) {
            if (--linksLeft < 0) return errnoToOSErr(ELOOP);
            std::vector<char> target(PATH_MAX + 1);
            ssize_t n = ::readlinkat(dir.get(), part.c_str(), target.data(), target.size());
            if (n < 0) return errnoToOSErr(errno);
            std::string linkText(target.data(), std::size_t(n));
            splitInto(parts, linkText, true);
            if (!linkText.empty() && linkText[0] == '/') {
                CDirFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (root.get() < 0) return errnoToOSErr(errno);
                dir = std::move(root);
                node = kRootID;
            }
            continue;
        }
        NodeID next = child(node, part);
        if (last) {
            makeRef(next, identity, ref);
            if (isDirectory) *isDirectory = S_ISDIR(sx.stx_mode) ? TRUE : FALSE;
            return noErr;
        }
        if (!S_ISDIR(sx.stx_mode)) return dirNFErr;
        CDirFd down(
            ::openat(dir.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (down.get() < 0) return errnoToOSErr(errno);
        dir = std::move(down);
        node = next;
    }
    // The path ended on a folder reached through "..", or was "/".
    struct statx sx {};
    Identity identity;
    OSErr err = statEntry(dir.get(), ".", &sx, &identity);
    if (err != noErr) return err;
    makeRef(node, identity, ref);
    if (isDirectory) *isDirectory = TRUE;
    return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    if (!path || maxPathSize == 0) return paramErr;
    Located located;
    OSErr err = locate(ref, &located);
    if (err != noErr) return err;
    std::string text = pathOf(located.node);
    if (text.empty()) return fnfErr;
    if (text.size() + 1 > maxPathSize) return pathTooLongErr;
    std::memcpy(path, text.c_str(), text.size() + 1);
    return noErr;
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef) {
    if (!source || !newRef) return paramErr;
    std::string name(reinterpret_cast<const char*>(source->name + 1),
                     std::min<std::size_t>(source->name[0], 63));
    Located located;
    OSErr err;
    if (UInt32(source->parID) == fsRtParID) {
        err = locateNode(kRootID, nullptr, &located);
    } else {
        NodeID parent = NodeID(source->parID);
        if (!known(parent)) return dirNFErr;
        CDirFd folder;
        err = openFolder(parent, &folder);
        if (err == fnfErr) err = dirNFErr;
        if (err != noErr) return err;
        if (name.empty()) {
            err = locateNode(parent, nullptr, &located);
        } else {
            if (!filenames::isComponent(name)) return bdNamErr;
            NodeID node;
            err = statEntry(folder.get(), name.c_str(), nullptr, nullptr);
            if (err == fnfErr) {
                // Not there under that name: a long name cut to fit the record.
                node = nodeOfCutName(parent, name);
                if (node == kNoNode) return fnfErr;
            } else if (err != noErr) {
                return err;
            } else {
                node = child(parent, name);
            }
            err = locateNode(node, nullptr, &located);
        }
    }
    if (err != noErr) return err;
    makeRef(located.node, identityOf(located.sx), newRef);
    return noErr;
}

OSErr FSCompareFSRefs(const FSRef* ref1, const FSRef* ref2) {
    NodeID node1, node2;
    Identity id1, id2;
    if (!readRef(ref1, &node1, &id1) || !readRef(ref2, &node2, &id2)) return paramErr;
    return (id1.dev == id2.dev && id1.ino == id2.ino) ? OSErr(noErr) : OSErr(errFSRefsDifferent);
}

OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding, FSRef* newRef) {
    if (!newRef || (!name && nameLength > 0)) return paramErr;
    Located parent;
    CDirFd folder;
    OSErr err = openParentFolder(parentRef, &parent, &folder);
    if (err != noErr) return err;
    std::vector<std::string> candidates = filenames::fromUnicode(name, nameLength);
    if (candidates.empty() || !filenames::isComponent(candidates[0])) return bdNamErr;
    for (const std::string& candidate : candidates) {
        Identity identity;
        err = statEntry(folder.get(), candidate.c_str(), nullptr, &identity);
        if (err == fnfErr) continue;
        if (err != noErr) return err;
        makeRef(child(parent.node, candidate), identity, newRef);
        return noErr;
    }
    return fnfErr;
}

OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name, TextEncoding,
                      FSRef* newRef) {
    if (!name && nameLength > 0) return paramErr;
    Located located;
    OSErr err = locate(ref, &located);
    if (err != noErr) return err;
    if (located.node == kRootID) return paramErr;
    std::vector<std::string> candidates = filenames::fromUnicode(name, nameLength);
    if (candidates.empty() || !filenames::isComponent(candidates[0])) return bdNamErr;
    const std::string& newName = candidates[0];
    Identity identity = identityOf(located.sx);
    if (newName != located.name) {
        int dirfd = located.folder.get();
        if (sysio::renameNoReplace(dirfd, located.name.c_str(), dirfd, newName.c_str()) != 0)
            return errnoToOSErr(errno);
        // The sidecar holds this object's resource fork and Finder info: it
        // moves with it, or the rename is undone.
        err = forkstore::renameCompanion(dirfd, located.name.c_str(), newName.c_str());
        if (err != noErr) {
            sysio::renameNoReplace(dirfd, newName.c_str(), dirfd, located.name.c_str());
            return err;
        }
        moveNode(located.node, parentOf(located.node), newName);
    }
    if (newRef) makeRef(located.node, identity, newRef);
    return noErr;
}
