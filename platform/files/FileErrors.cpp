#include "platform/files/FileErrors.h"

#include <cerrno>

OSErr errnoToOSErr(int err) {
    switch (err) {
        case 0:
            return noErr;
        case ENOENT:
            return fnfErr;
        case ENOTDIR:
            return dirNFErr;
        case EACCES:
        case EPERM:
            return afpAccessDenied;
        case EROFS:
            return wPrErr;
        case ENOSPC:
        case EDQUOT:
            return dskFulErr;
        case EEXIST:
            return dupFNErr;
        case ENAMETOOLONG:
            return bdNamErr;
        case EISDIR:
        case ELOOP:
        case ENXIO:
        case ENODEV:
            return notAFileErr;
        case EBUSY:
        case ETXTBSY:
            return fBsyErr;
        case EMFILE:
        case ENFILE:
            return tmfoErr;
        case ENOMEM:
            return memFullErr;
        case ENOTSUP:  // also EOPNOTSUPP: e.g. no user attributes on this file system
            return wrgVolTypErr;
        default:
            return ioErr;
    }
}
