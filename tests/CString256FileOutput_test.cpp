// CString256::print to an open fork: one line per call at the fork's mark.
#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "support/CString256.h"
#include "testkit/TempTree.h"

namespace {

using testsupport::readText;
using testsupport::TempTree;

// Opens the data fork of the file at path for reading and writing.
FSIORefNum openDataFork(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    HFSUniStr255 name;
    FSGetDataForkName(&name);
    FSIORefNum refNum = 0;
    EXPECT_EQ(FSOpenFork(&ref, name.length, name.unicode, fsRdWrPerm, &refNum), noErr);
    return refNum;
}

TEST(CString256PrintToFork, WritesLinesAtTheMark) {
    TempTree tree;
    std::string path = tree.write("log.txt", "");
    FSIORefNum refNum = openDataFork(path);
    EXPECT_EQ(CString256("first line").print(refNum), noErr);
    EXPECT_EQ(CString256("").print(refNum), noErr);
    std::string t255(255, 'w');
    EXPECT_EQ(CString256(t255.c_str()).print(refNum), noErr);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    EXPECT_EQ(readText(path), "first line\n\n" + t255 + "\n");
}

TEST(CString256PrintToFork, OverwritesFromTheCurrentMark) {
    TempTree tree;
    std::string path = tree.write("text", "0123456789");
    FSIORefNum refNum = openDataFork(path);
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromStart, 3), noErr);
    EXPECT_EQ(CString256("ab").print(refNum), noErr);
    SInt64 mark = -1;
    EXPECT_EQ(FSGetForkPosition(refNum, &mark), noErr);
    EXPECT_EQ(mark, 6);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    EXPECT_EQ(readText(path), "012ab\n6789");
}

TEST(CString256PrintToFork, ReportsTheFileManagersResult) {
    TempTree tree;
    std::string path = tree.write("closed", "kept");
    FSIORefNum refNum = openDataFork(path);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    EXPECT_EQ(CString256("lost").print(refNum), rfNumErr);
    EXPECT_EQ(readText(path), "kept");
}

TEST(CString256PrintToFork, ReadOnlyForkRefusesTheWrite) {
    TempTree tree;
    std::string path = tree.write("ro", "kept");
    FSRef ref{};
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    HFSUniStr255 name;
    FSGetDataForkName(&name);
    FSIORefNum refNum = 0;
    ASSERT_EQ(FSOpenFork(&ref, name.length, name.unicode, fsRdPerm, &refNum), noErr);
    EXPECT_EQ(CString256("lost").print(refNum), wrPermErr);
    FSCloseFork(refNum);
    EXPECT_EQ(readText(path), "kept");
}

}  // namespace
