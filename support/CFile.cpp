#include "support/CFile.h"

Boolean CFile::IsADirectory(const FSRef& ref) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr) != noErr)
        return false;  // whatever it is, the fork operation or the walk will meet its error
    return (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
}
