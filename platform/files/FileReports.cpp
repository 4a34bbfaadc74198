// The File Manager's reports for the batch mode: FSInspectForks, the one
// read-only look at a file's forks and AppleDouble files (through the fork
// store's inspection), FSGetKnownPath for the paths of a walk's files without
// a look at the disk, whether a stream is a terminal, and the hold on the
// kept folder for the work on one file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/PathNodes.h"

namespace {

FSForkStore storeOf(forkstore::RsrcStore store) {
    switch (store) {
        case forkstore::RsrcStore::Sidecar:
            return kFSForkStoreSidecar;
        case forkstore::RsrcStore::NetatalkFolder:
            return kFSForkStoreNetatalk;
        case forkstore::RsrcStore::MacXattr:
            return kFSForkStoreMacAttribute;
        case forkstore::RsrcStore::SambaStream:
            return kFSForkStoreSambaAttribute;
        case forkstore::RsrcStore::None:
            break;
    }
    return kFSForkStoreNone;
}

FSCompanionInfo companionOf(const forkstore::CompanionFinding& found) {
    FSCompanionInfo info{};
    switch (found.state) {
        case forkstore::CompanionState::None:
            info.state = kFSCompanionNone;
            break;
        case forkstore::CompanionState::Valid:
            info.state = kFSCompanionValid;
            break;
        case forkstore::CompanionState::Malformed:
            info.state = kFSCompanionMalformed;
            break;
        case forkstore::CompanionState::NotAFile:
            info.state = kFSCompanionNotAFile;
            break;
        case forkstore::CompanionState::Unreadable:
            info.state = kFSCompanionUnreadable;
            break;
    }
    info.forkLength = found.forkLength;
    info.problem = SInt32(found.problem);
    info.message = found.message;
    info.error = found.error;
    return info;
}

}  // namespace

OSErr FSInspectForks(const FSRef* ref, UInt32 whichInfo, FSForkInspection* info) {
    if (!ref || !info) return paramErr;
    *info = FSForkInspection{};
    info->linkCount = 1;
    info->sidecar.message = info->netatalk.message = "";
    pathnodes::Located located;
    if (whichInfo & (kFSInspectFile | kFSInspectWritable)) {
        OSErr err = pathnodes::locate(ref, &located);
        if (err != noErr) return err;
        if (!pathnodes::isRegular(located.sx)) return notAFileErr;
        info->dataLength = located.sx.stx_size;
        info->linkCount = located.sx.stx_nlink;
        // The test the File Manager makes before it changes either fork.
        if ((whichInfo & kFSInspectWritable) &&
            ::faccessat(located.folder.get(), located.name.c_str(), W_OK,
                        AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
            info->writeError = errnoToOSErr(errno);
    } else {
        // The folder and the name as the File Manager knows them: the file
        // itself is left to the parts asked for.
        pathnodes::NodeID node;
        pathnodes::Identity identity;
        if (!pathnodes::readRef(ref, &node, &identity)) return paramErr;
        if (!pathnodes::known(node)) return fnfErr;
        if (node == pathnodes::kRootID) return notAFileErr;
        located.name = pathnodes::nameOf(node);
        OSErr err = pathnodes::openFolder(pathnodes::parentOf(node), &located.folder);
        if (err != noErr) return err;
    }
    unsigned what = 0;
    if (whichInfo & kFSInspectResourceFork) what |= forkstore::kInspectResourceFork;
    if (whichInfo & kFSInspectFinderInfo) what |= forkstore::kInspectFinderInfo;
    if (whichInfo & kFSInspectSidecar) what |= forkstore::kInspectSidecar;
    if (whichInfo & kFSInspectNetatalk) what |= forkstore::kInspectNetatalk;
    forkstore::Inspection found;
    forkstore::inspect(located.folder.get(), located.name.c_str(), what, &found);
    info->rsrcError = found.rsrcError;
    info->rsrcStore = storeOf(found.rsrcStore);
    info->rsrcLength = found.rsrcLength;
    info->rsrcLimit = found.rsrcLimit;
    info->rsrcAttribute = found.rsrcAttribute;
    info->finderInfoError = found.finderInfoError;
    info->hasFinderInfo = found.hasFinderInfo;
    std::copy(found.finderInfo, found.finderInfo + 32, info->finderInfo);
    info->fileType = found.fileType;
    info->fileCreator = found.fileCreator;
    info->sidecar = companionOf(found.sidecar);
    info->netatalk = companionOf(found.netatalk);
    return noErr;
}

OSErr FSGetKnownPath(const FSRef* ref, const FSRef* base, std::string* path, Boolean* inside) {
    pathnodes::NodeID node;
    pathnodes::NodeID baseNode = pathnodes::kNoNode;
    pathnodes::Identity identity;
    if (!ref || !path || !pathnodes::readRef(ref, &node, &identity)) return paramErr;
    if (base && !pathnodes::readRef(base, &baseNode, &identity)) baseNode = pathnodes::kNoNode;
    if (inside) *inside = false;
    std::vector<std::string> names;
    bool below = baseNode != pathnodes::kNoNode;
    for (pathnodes::NodeID n = node; below && n != baseNode; n = pathnodes::parentOf(n)) {
        if (n == pathnodes::kNoNode || n == pathnodes::kRootParentID)
            below = false;
        else
            names.push_back(pathnodes::nameOf(n));
    }
    if (!below) {
        *path = pathnodes::pathOf(node);
        return noErr;
    }
    path->clear();
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        *path += *name;
        if (name + 1 != names.rend()) *path += '/';
    }
    if (inside) *inside = true;
    return noErr;
}

Boolean FSStreamIsTerminal(std::FILE* stream) {
    return stream && ::isatty(fileno(stream));
}

CFSFolderHold::CFSFolderHold() {
    pathnodes::beginFolderHold();
}

CFSFolderHold::~CFSFolderHold() {
    pathnodes::endFolderHold();
}
