// The result code a user sees for each errno of a failed system call.
#include "platform/files/FileErrors.h"

#include <gtest/gtest.h>

#include <cerrno>

// The codes the store layer's tests do not meet through a real failure
// (ENOENT, EACCES, EOPNOTSUPP, ENOSPC and EIO are met there), and an
// errno nobody expected, which is a plain I/O error.
TEST(FileErrors, EachFailureTheStoreTestsDoNotMeetHasItsResultCode) {
    const std::pair<int, OSErr> rows[] = {
        {0, noErr},           {ENOTDIR, dirNFErr}, {EPERM, afpAccessDenied}, {EROFS, wPrErr},
        {EDQUOT, dskFulErr},  {EEXIST, dupFNErr},  {ENAMETOOLONG, bdNamErr}, {ENXIO, notAFileErr},
        {ELOOP, notAFileErr}, {EBUSY, fBsyErr},    {EMFILE, tmfoErr},        {ENOMEM, memFullErr},
        {12345, ioErr}};
    for (const auto& [err, code] : rows) EXPECT_EQ(errnoToOSErr(err), code) << "errno " << err;
}
