// CString256::print to an open fork: one line per call at the fork's mark.
#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "support/CString256.h"
#include "testkit/TempTree.h"

namespace {

using testsupport::readText;

// Opens the data fork of the file at path.
FSIORefNum openDataFork(const std::string& path, SInt8 permission) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    HFSUniStr255 name;
    FSGetDataForkName(&name);
    FSIORefNum refNum = 0;
    EXPECT_EQ(FSOpenFork(&ref, name.length, name.unicode, permission, &refNum), noErr);
    return refNum;
}

TEST(CString256PrintToFork, WritesLinesAtTheMarkAndReportsTheFileManagersResult) {
    testsupport::TempTree tree;
    const std::string path = tree.write("text", "0123456789"), t255(255, 'w');
    FSIORefNum refNum = openDataFork(path, fsRdWrPerm);
    // Over the bytes at the mark, keeping those after the line.
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromStart, 3), noErr);
    EXPECT_EQ(CString256("ab").print(refNum), noErr);
    SInt64 mark = -1;
    EXPECT_EQ(FSGetForkPosition(refNum, &mark), noErr);
    EXPECT_EQ(mark, 6);
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromLEOF, 0), noErr);
    EXPECT_EQ(CString256("").print(refNum), noErr);
    EXPECT_EQ(CString256(t255.c_str()).print(refNum), noErr);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    const std::string written = "012ab\n6789\n" + t255 + "\n";
    EXPECT_EQ(readText(path), written);
    // A closed fork, and one open for reading only: nothing is written.
    EXPECT_EQ(CString256("lost").print(refNum), rfNumErr);
    refNum = openDataFork(path, fsRdPerm);
    EXPECT_EQ(CString256("lost").print(refNum), wrPermErr);
    FSCloseFork(refNum);
    EXPECT_EQ(readText(path), written);
}

}  // namespace
