// FSIsForkCompanion: whether an object is part of another entry of its folder
// (its AppleDouble sidecar, or netatalk's folder of forks) rather than a file
// or folder of its own, by the same rule as folder listings; and whether it is
// one of the files inside netatalk's folder, which a walk never reaches but a
// path can still name.
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/PathNodes.h"

using namespace pathnodes;

OSErr FSIsForkCompanion(const FSRef* ref, Boolean* companion) {
    if (!companion) return paramErr;
    *companion = false;
    Located object;
    OSErr err = locate(ref, &object);
    if (err != noErr) return err;
    *companion = forkstore::isHiddenCompanion(object.folder.get(), object.name.c_str()) ||
                 (isRegular(object.sx) && nameOf(parentOf(object.node)) == ".AppleDouble");
    return noErr;
}
