// The folder kept open below the File Manager: handed out again while it is still
// what its path designates, and opened again once it is not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "platform/files/Files.h"
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/PathNodes.h"
#include "testkit/Faults.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace pathnodes;
using namespace testsupport;

namespace {

NodeID nodeOf(const FSRef& ref) {
    NodeID node;
    Identity identity;
    return readRef(&ref, &node, &identity) ? node : kNoNode;
}

// The inode of the open folder `fd`, or of `path`.
ino_t inodeOf(int fd, const std::string& path = "") {
    struct stat st {};
    return ::fstatat(fd, path.c_str(), &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 ? st.st_ino
                                                                                      : 0;
}

// Cuts the data fork of a file to nothing through the File Manager, as the
// delete-data operation does.
OSErr cutDataFork(const FSRef& file) {
    FSIORefNum refNum;
    OSErr err = FSOpenFork(&file, 0, nullptr, fsRdWrPerm, &refNum);
    if (err != noErr) return err;
    err = FSSetForkSize(refNum, fsFromStart, 0);
    FSCloseFork(refNum);
    return err;
}

SInt64 rsrcSize(const FSRef& file) {
    FSCatalogInfo info;
    const OSErr err =
        FSGetCatalogInfo(&file, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr);
    return err == noErr ? SInt64(info.rsrcLogicalSize) : err;
}

}  // namespace

// The folder opened last is kept: the next call in it is served the same
// descriptor, which every holder shares. A holder keeps it open after the
// table has moved on to another folder; once all let go, nothing is left open.
TEST(KeptFolders, ServeTheNextCallInTheFolderAndStayOpenForTheirHolders) {
    TempTree t;
    t.write("in/file", "data");
    t.write("other/file", "data");
    const NodeID folder = parentOf(nodeOf(refOf(t.path("in/file"))));
    const NodeID other = parentOf(nodeOf(refOf(t.path("other/file"))));
    {
        CDirFd warm;  // "/" stays open for the process from the first lookup on
        ASSERT_EQ(openFolder(other, &warm), noErr);
    }
    const int descriptors = openDescriptorCount();
    CDirFd first, second;
    ASSERT_EQ(openFolder(folder, &first), noErr);
    ASSERT_EQ(openFolder(folder, &second), noErr);
    EXPECT_EQ(second.get(), first.get());
    EXPECT_EQ(inodeOf(first.get()), inodeOf(AT_FDCWD, t.path("in")));

    // Another folder is kept now: the holders still have theirs, open and
    // still that folder, though it is no longer the kept one.
    CDirFd next;
    ASSERT_EQ(openFolder(other, &next), noErr);
    const int held = first.get();
    first = CDirFd();
    EXPECT_NE(::fcntl(held, F_GETFD), -1) << "closed while another holder had it";
    second = CDirFd();
    EXPECT_EQ(::fcntl(held, F_GETFD), -1) << "left open once no one held it";

    // Released while the program waits: closed once its holder lets go.
    releaseKeptFolder();
    EXPECT_EQ(pinnedFolderSerial(next.get()), 0u);
    next = CDirFd();
    EXPECT_EQ(openDescriptorCount(), descriptors - 1);
}

// A hold lets the calls on one file skip the look at the watches once the
// folder was checked; the look comes back with the next call after the hold,
// so a folder moved and replaced on disk meanwhile is never written into
// afterwards: a call on the old file finds it gone, as it would with nothing
// kept, and the file keeps every byte; the folder's node reaches the new one.
// A kept folder renamed through the File Manager, with another folder made in
// its place on disk, is not used for the place either: the old place's name
// leads to the new folder, and the moved folder's file is still reached where
// it went. (A path through a link to it: the Files test's paths longer than
// PATH_MAX.)
TEST(KeptFolders, AreCheckedAgainAfterTheWorkOnAFileAndNeverServeAPlaceTheyLeft) {
    TempTree t;
    const std::string original = "the original file's bytes";
    const FSRef file = refOf(t.write("in/f", original));
    const NodeID folder = parentOf(nodeOf(file));
    CDirFd first;
    {
        CFSFolderHold hold;
        ASSERT_EQ(openFolder(folder, &first), noErr);
        ASSERT_EQ(std::rename(t.path("in").c_str(), t.path("in.1").c_str()), 0);
        t.write("in/f", "a newer file");
        CDirFd again;
        ASSERT_EQ(openFolder(folder, &again), noErr);  // as the work began
        EXPECT_EQ(again.get(), first.get());
    }
    first = CDirFd();
    EXPECT_EQ(cutDataFork(file), fnfErr);
    EXPECT_EQ(readText(t.path("in.1/f")), original);
    EXPECT_EQ(readText(t.path("in/f")), "a newer file");
    CDirFd now;
    ASSERT_EQ(openFolder(folder, &now), noErr);
    EXPECT_EQ(inodeOf(now.get()), inodeOf(AT_FDCWD, t.path("in")));
    now = CDirFd();

    const FSRef inMoving = refOf(t.write("in/h", original)), moving = refOf(t.path("in"));
    ASSERT_EQ(rsrcSize(inMoving), 0);  // keeps "in"
    const UniChar moved[] = {'m', 'o', 'v', 'e', 'd'};
    ASSERT_EQ(FSRenameUnicode(&moving, 5, moved, 0, nullptr), noErr);
    t.write("in/h", "made after the rename");
    const FSRef root = refOf(t.root());
    FSRef place, replacement;
    const UniChar in[] = {'i', 'n'}, h[] = {'h'};
    ASSERT_EQ(FSMakeFSRefUnicode(&root, 2, in, 0, &place), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&place, 1, h, 0, &replacement), noErr);
    EXPECT_EQ(cutDataFork(replacement), noErr);
    EXPECT_EQ(readText(t.path("in/h")), "");
    EXPECT_EQ(readText(t.path("moved/h")), original);
    EXPECT_EQ(cutDataFork(inMoving), noErr);
    EXPECT_EQ(readText(t.path("moved/h")), "");
    // What the fork store remembers of the kept folder (that it has no
    // netatalk folder) lasts only while nothing changes in it: a
    // ".AppleDouble" folder made since the last call is seen by the next one.
    EXPECT_EQ(rsrcSize(inMoving), 0);
    t.write("moved/.AppleDouble/h", corpusBytes("peers/netatalk2-fork.ad"));
    EXPECT_EQ(rsrcSize(inMoving), SInt64(corpusBytes("peers/netatalk2-fork.rsrc").size()));
}

// A file looked up for its name outside any hold lends that look to the work
// that follows in the next hold, as a folder listing does; what is opened is
// still checked against it. A file replaced in between, by another file or a
// FIFO (opened without blocking), is refused and left as it is; one left
// alone is changed.
TEST(KeptFolders, ALookForANameServesTheNextWorkOnlyWhileTheFileIsTheSame) {
    const std::pair<std::string, OSErr> cases[] = {
        {"none", noErr}, {"file", fnfErr}, {"fifo", notAFileErr}};
    for (const auto& [replacement, expected] : cases) {
        SCOPED_TRACE(replacement);
        TempTree t;
        const std::string f = t.write("f", "data");
        t.write("other", "other data");
        const FSRef ref = refOf(f);
        HFSUniStr255 name;
        ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr), noErr);
        if (replacement == "file") {
            ASSERT_EQ(::rename(t.path("other").c_str(), f.c_str()), 0);
        } else if (replacement == "fifo") {
            ASSERT_EQ(::unlink(f.c_str()), 0);
            ASSERT_EQ(::mkfifo(f.c_str(), 0644), 0);
        }
        const std::string before = snapshot(t.root());
        {
            CFSFolderHold hold;
            EXPECT_EQ(cutDataFork(ref), expected);
        }
        if (expected == noErr)
            EXPECT_EQ(readText(f), "");
        else
            EXPECT_EQ(snapshot(t.root()), before);
    }
}
