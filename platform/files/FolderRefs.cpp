// FSMakeFSRef: a reference from a volume, a folder's node ID and a Pascal name,
// as an FSSpec names an object, without the FSSpec's 63-byte limit on names.
#include <sys/sysmacros.h>

#include <string>

#include "platform/files/FileNames.h"
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/PathNodes.h"

using namespace pathnodes;

namespace {

OSErr lookUpLongName(SInt32 dirID, const std::string& name, FSRef* ref) {
    FSSpec folderSpec{};
    folderSpec.parID = dirID;
    FSRef folderRef;
    OSErr err = FSpMakeFSRef(&folderSpec, &folderRef);
    if (err != noErr) return err;
    Located folder;
    CDirFd fd;
    if ((err = openParentFolder(&folderRef, &folder, &fd)) != noErr) return err;
    if (!filenames::isComponent(name)) return bdNamErr;
    Identity identity;
    if ((err = statEntry(fd.get(), name.c_str(), nullptr, &identity)) != noErr) return err;
    makeRef(child(folder.node, name), identity, ref);
    return noErr;
}

}  // namespace

OSErr FSMakeFSRef(FSVolumeRefNum vRefNum, SInt32 dirID, ConstStr255Param name, FSRef* ref) {
    if (!ref) return paramErr;
    const std::string text =
        name ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : std::string();
    FSRef found;
    OSErr err;
    if (text.size() <= 63) {
        FSSpec spec{};
        spec.vRefNum = vRefNum;
        spec.parID = dirID;
        spec.name[0] = UInt8(text.size());
        text.copy(reinterpret_cast<char*>(spec.name + 1), text.size());
        err = FSpMakeFSRef(&spec, &found);
    } else {
        err = lookUpLongName(dirID, text, &found);
    }
    if (err != noErr) return err;
    if (vRefNum != 0) {
        Located object;
        if ((err = locate(&found, &object)) != noErr) return err;
        const UInt64 dev = makedev(object.sx.stx_dev_major, object.sx.stx_dev_minor);
        if (volumeRefNum(dev) != vRefNum) return nsvErr;
    }
    *ref = found;
    return noErr;
}
