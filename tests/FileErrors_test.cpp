#include "platform/files/FileErrors.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(FileErrors, EveryErrnoOfTheTableMapsToItsResultCode) {
    struct Row {
        int err;
        OSErr code;
    } rows[] = {
        {0, noErr},
        {ENOENT, fnfErr},
        {ENOTDIR, dirNFErr},
        {EACCES, afpAccessDenied},
        {EPERM, afpAccessDenied},
        {EROFS, wPrErr},
        {ENOSPC, dskFulErr},
        {EDQUOT, dskFulErr},
        {EEXIST, dupFNErr},
        {ENAMETOOLONG, bdNamErr},
        {EISDIR, notAFileErr},
        {ELOOP, notAFileErr},
        {ENXIO, notAFileErr},
        {EBUSY, fBsyErr},
        {ETXTBSY, fBsyErr},
        {EMFILE, tmfoErr},
        {ENFILE, tmfoErr},
        {ENOMEM, memFullErr},
        {ENOTSUP, wrgVolTypErr},
        {EOPNOTSUPP, wrgVolTypErr},
        {EIO, ioErr},
        {EINVAL, ioErr},
        {12345, ioErr},
    };
    for (const Row& row : rows) EXPECT_EQ(errnoToOSErr(row.err), row.code) << "errno " << row.err;
}
