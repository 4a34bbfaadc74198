// FSIsAliasFile: symbolic links and files flagged as aliases in their Finder
// info, and whether they stand for folders.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>

#include "platform/base/BigEndian.h"
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/PathNodes.h"

using namespace pathnodes;

namespace {

// File types of alias files that stand for a folder, a volume or a special folder.
constexpr OSType kContainerAliasTypes[] = {
    FOUR_CHAR_CODE("fdrp"), FOUR_CHAR_CODE("trsh"), FOUR_CHAR_CODE("hdsk"), FOUR_CHAR_CODE("flpy"),
    FOUR_CHAR_CODE("srvr"), FOUR_CHAR_CODE("drop"), FOUR_CHAR_CODE("fasy"), FOUR_CHAR_CODE("faam"),
    FOUR_CHAR_CODE("fast"), FOUR_CHAR_CODE("fapn"), FOUR_CHAR_CODE("fpf "), FOUR_CHAR_CODE("fact"),
    FOUR_CHAR_CODE("faex"), FOUR_CHAR_CODE("faet"), FOUR_CHAR_CODE("fadr"), FOUR_CHAR_CODE("fash"),
    FOUR_CHAR_CODE("famn"), FOUR_CHAR_CODE("fdr#"),
};

}  // namespace

OSErr FSIsAliasFile(const FSRef* fileRef, Boolean* aliasFileFlag, Boolean* folderFlag) {
    if (!aliasFileFlag || !folderFlag) return paramErr;
    *aliasFileFlag = *folderFlag = false;
    Located object;
    OSErr err = locate(fileRef, &object);
    if (err != noErr) return err;
    if (S_ISLNK(object.sx.stx_mode)) {
        *aliasFileFlag = true;
        struct stat target;
        *folderFlag = ::fstatat(object.folder.get(), object.name.c_str(), &target, 0) == 0 &&
                      S_ISDIR(target.st_mode);
        return noErr;
    }
    if (!isRegular(object.sx) || object.node == kRootID) return noErr;
    UInt8 finder[32];
    err = forkstore::getFinderInfo(object.folder.get(), object.name.c_str(), finder);
    if (err != noErr) return err;
    const UInt16 flags = bigendian::readU16(finder + 8);
    if (!(flags & kIsAlias)) return noErr;
    *aliasFileFlag = true;
    const OSType type = bigendian::readU32(finder);
    *folderFlag = std::find(std::begin(kContainerAliasTypes), std::end(kContainerAliasTypes),
                            type) != std::end(kContainerAliasTypes);
    return noErr;
}
