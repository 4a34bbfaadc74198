#include "processing/ForkOperations.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/MacMemory.h"
#include "platform/Sound.h"
#include "platform/SysIO.h"
#include "testkit/Nobody.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr)
        << path;
    return ref;
}

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

OSErr flip(const std::string& path) {
    FSRef ref = refOf(path);
    return FlipDeleteDataFork(&ref);
}

// The resource fork as the File Manager reads it back.
Bytes resourceFork(const std::string& path) {
    FSRef ref = refOf(path);
    HFSUniStr255 name;
    FSGetResourceForkName(&name);
    FSIORefNum refNum;
    EXPECT_EQ(FSOpenFork(&ref, name.length, name.unicode, fsRdPerm, &refNum), noErr);
    SInt64 size = 0;
    FSGetForkSize(refNum, &size);
    Bytes out(static_cast<std::size_t>(size));
    if (size) FSReadFork(refNum, fsFromStart, 0, ByteCount(size), out.data(), nullptr);
    FSCloseFork(refNum);
    return out;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string sidecarPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + "._" + path.substr(slash + 1);
}

// Records every call that reaches the system-call seam, and fails one of them.
std::vector<sysio::Call> gCalls;
long gFailAt = -1;
int gFailWith = EIO;
int recordAndFail(sysio::Call call) {
    gCalls.push_back(call);
    return long(gCalls.size()) - 1 == gFailAt ? gFailWith : 0;
}

// Counts only the Open calls, and fails the one at gFailAt.
long gOpens = 0;
int failNthOpen(sysio::Call call) {
    if (call != sysio::Call::Open) return 0;
    return gOpens++ == gFailAt ? gFailWith : 0;
}

std::string gShrinkPath;
int shrinkOnRead(sysio::Call call) {
    if (call == sysio::Call::Read) (void)!::truncate(gShrinkPath.c_str(), 3);
    return 0;
}

class FlipTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSysBeepCount(); }
    void TearDown() override {
        sysio::setFaultHook(nullptr);
        SetMemoryFailureHook(nullptr);
        gCalls.clear();
        gFailAt = -1;
        gFailWith = EIO;
    }
    TempTree t;
};

}  // namespace

// ---------------------------------------------------------------- flip results

TEST_F(FlipTest, MovesTheDataForkIntoANewResourceFork) {
    Bytes data = pattern(100000);
    std::string p = t.write("f", data);
    FSRef ref = refOf(p);
    EXPECT_EQ(ProcessFSRef(&ref, kFlipDeleteDataFork), noErr);
    EXPECT_EQ(readBytes(p), Bytes{});
    EXPECT_EQ(resourceFork(p), data);
    EXPECT_EQ(resourceForkOf(readBytes(sidecarPath(p))), data);
    EXPECT_EQ(SysBeepCount(), 1);
}

TEST_F(FlipTest, WritesOverTheStartOfAnExistingForkAndKeepsEverythingElse) {
    Bytes fi = finderInfo("TEXT", "ttxt");
    // A longer resource fork keeps its tail.
    std::string p = t.write("long", "NEW");
    t.write("._long", sidecar(fi, bytes("old resource fork")));
    EXPECT_EQ(flip(p), noErr);
    EXPECT_EQ(resourceFork(p), bytes("NEW resource fork"));
    Bytes s = readBytes(t.path("._long"));
    ASSERT_GE(s.size(), 82u);
    EXPECT_EQ(Bytes(s.begin() + 50, s.begin() + 82), fi);  // Finder info, byte for byte
    EXPECT_EQ(readBytes(p), Bytes{});
    // A shorter one is replaced.
    p = t.write("short", "a longer data fork");
    t.write("._short", sidecar(fi, bytes("tiny")));
    EXPECT_EQ(flip(p), noErr);
    EXPECT_EQ(resourceFork(p), bytes("a longer data fork"));
    EXPECT_EQ(SysBeepCount(), 2);
}

TEST_F(FlipTest, AnEmptyDataForkIsDeletedWithoutCopyOrBeep) {
    std::string p = t.write("empty", "");
    EXPECT_EQ(flip(p), noErr);
    EXPECT_FALSE(exists(sidecarPath(p)));  // an empty fork needs no sidecar
    EXPECT_EQ(resourceFork(p), Bytes{});
    std::string q = t.write("empty2", "");
    t.write("._empty2", sidecar(finderInfo("TEXT", "ttxt"), bytes("kept")));
    std::string before = snapshot(t.root());
    EXPECT_EQ(flip(q), noErr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, TheResourceForkIsDurableBeforeTheDataForkIsCut) {
    std::string p = t.write("f", pattern(5000));
    sysio::setFaultHook(recordAndFail);
    EXPECT_EQ(flip(p), noErr);
    sysio::setFaultHook(nullptr);
    // The data fork's deletion is the flip's last truncation; the last write
    // of the resource fork before it must have been synced in between.
    long truncate = -1;
    for (long i = 0; i < long(gCalls.size()); ++i)
        if (gCalls[i] == sysio::Call::Truncate) truncate = i;
    ASSERT_GE(truncate, 0);
    long lastWrite = -1, syncAfterWrite = -1;
    for (long i = 0; i < truncate; ++i) {
        if (gCalls[i] == sysio::Call::Write) lastWrite = i;
        if (gCalls[i] == sysio::Call::Sync && lastWrite >= 0) syncAfterWrite = i;
    }
    ASSERT_GE(lastWrite, 0);
    EXPECT_GT(syncAfterWrite, lastWrite);
    EXPECT_LT(syncAfterWrite, truncate);
}

// ---------------------------------------------------------------- flip failures

TEST_F(FlipTest, ADataForkThatCannotBeOpenedLeavesEverythingAsItWas) {
    // How many files the fork store opens before the data fork's open: measured
    // on a twin file in the same state.
    std::string twin = t.write("twin/f", "data fork bytes");
    FSRef twinRef = refOf(twin);
    HFSUniStr255 rn;
    FSGetResourceForkName(&rn);
    sysio::setFaultHook(failNthOpen);
    FSCreateFork(&twinRef, rn.length, rn.unicode);
    FSIORefNum rsrc;
    ASSERT_EQ(FSOpenFork(&twinRef, rn.length, rn.unicode, fsRdWrPerm, &rsrc), noErr);
    FSCloseFork(rsrc);
    long opensBefore = gOpens;

    std::string p = t.write("d/f", "data fork bytes");
    std::string before = snapshot(t.root());
    for (int err : {EACCES, EIO, EMFILE}) {
        gOpens = 0;
        gFailAt = opensBefore;
        gFailWith = err;
        OSErr expected = err == EACCES ? afpAccessDenied : err == EIO ? ioErr : tmfoErr;
        EXPECT_EQ(flip(p), expected);
        EXPECT_EQ(gOpens, opensBefore + 1);  // the data fork's open was the one refused
    }
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(SysBeepCount(), 0);
    // Both forks were closed: the file's forks can be deleted (none is busy).
    FSRef ref = refOf(p);
    EXPECT_EQ(FSDeleteFork(&ref, rn.length, rn.unicode), noErr);
}

TEST_F(FlipTest, AShortReadWritesNothingAndKeepsTheDataFork) {
    std::string p = t.write("f", "0123456789");
    gShrinkPath = p;  // the file shrinks to 3 bytes as it is read
    sysio::setFaultHook(shrinkOnRead);
    EXPECT_EQ(flip(p), eofErr);
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(readText(p), "012");
    EXPECT_FALSE(exists(sidecarPath(p)));
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, AFailedWriteKeepsTheDataForkAndTheOldResourceFork) {
    for (bool withSidecar : {false, true}) {
        SCOPED_TRACE(withSidecar ? "existing sidecar" : "no sidecar");
        std::string name = withSidecar ? "with" : "without";
        std::string p = t.write(name, "the data fork");
        if (withSidecar) t.write("._" + name, sidecar(finderInfo("TEXT", "ttxt"), bytes("old")));
        std::string before = snapshot(t.root());
        for (int err : {ENOSPC, EIO}) {
            gCalls.clear();
            gFailWith = err;
            gFailAt = -1;
            // Fail the first write of file bytes.
            sysio::setFaultHook(
                [](sysio::Call call) { return call == sysio::Call::Write ? gFailWith : 0; });
            EXPECT_EQ(flip(p), err == ENOSPC ? dskFulErr : ioErr);
            sysio::setFaultHook(nullptr);
            EXPECT_EQ(snapshot(t.root()), before);
        }
    }
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, AReadErrorOrAFailedAllocationIsReportedAndNothingIsWritten) {
    std::string p = t.write("f", "some data");
    std::string before = snapshot(t.root());
    sysio::setFaultHook([](sysio::Call call) { return call == sysio::Call::Read ? EIO : 0; });
    EXPECT_EQ(flip(p), ioErr);
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(snapshot(t.root()), before);
    SetMemoryFailureHook([](Size) { return true; });
    EXPECT_EQ(flip(p), memFullErr);
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(SysBeepCount(), 0);
}

namespace {
long gAllocations = 0;
bool countAllocation(Size) {
    ++gAllocations;
    return false;
}
}  // namespace

TEST_F(FlipTest, ADataForkOf2GiBOrMoreIsNeverAllocatedOrCopied) {
    for (off_t size : {off_t(1) << 31, (off_t(1) << 32) + 5}) {
        SCOPED_TRACE(size);
        std::string p = t.path("huge");
        int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);  // sparse: no disk space used
        close(fd);
        gAllocations = 0;
        SetMemoryFailureHook(countAllocation);
        EXPECT_EQ(flip(p), memFullErr);
        SetMemoryFailureHook(nullptr);
        EXPECT_EQ(gAllocations, 0);
        struct stat st;
        ASSERT_EQ(stat(p.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, size);
        EXPECT_FALSE(exists(sidecarPath(p)));
        unlink(p.c_str());
    }
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, EveryFailingSystemCallLosesNoByte) {
    Bytes data = pattern(3000);
    Bytes oldFork = bytes("old fork, longer than nothing");
    // A successful flip's calls, measured on a twin.
    for (bool withSidecar : {false, true}) {
        SCOPED_TRACE(withSidecar ? "existing sidecar" : "no sidecar");
        auto prepare = [&](const std::string& name) {
            std::string p = t.write(name + "/f", data);
            if (withSidecar) t.write(name + "/._f", sidecar(finderInfo("TEXT", "ttxt"), oldFork));
            return p;
        };
        std::string twin = prepare(withSidecar ? "twin-s" : "twin");
        ResetSysBeepCount();
        gCalls.clear();
        gFailAt = -1;
        sysio::setFaultHook(recordAndFail);
        ASSERT_EQ(flip(twin), noErr);
        ResetSysBeepCount();
        const std::vector<sysio::Call> twinCalls = gCalls;
        ASSERT_GT(twinCalls.size(), 2u);
        for (std::size_t i = 0; i < twinCalls.size(); ++i) {
            SCOPED_TRACE("failing call " + std::to_string(i) + " of kind " +
                         std::to_string(int(twinCalls[i])));
            std::string folder = (withSidecar ? "s" : "n") + std::to_string(i);
            std::string p = prepare(folder);
            std::vector<std::string> namesBefore = namesIn(t.path(folder));
            gCalls.clear();
            gFailAt = long(i);
            OSErr err = flip(p);
            sysio::setFaultHook(nullptr);
            Bytes rsrc = resourceFork(p);
            sysio::setFaultHook(recordAndFail);
            Bytes left = readBytes(p);
            // No temporary file is left behind, whatever failed; a sidecar
            // appears only for a fork that was written.
            std::vector<std::string> namesAfter = namesIn(t.path(folder));
            if (!withSidecar && rsrc == data) namesBefore.push_back("._f");
            std::sort(namesBefore.begin(), namesBefore.end());
            EXPECT_EQ(namesAfter, namesBefore);
            if (err != noErr) {
                // Failed: the data fork is whole; the resource fork is the old
                // one, or already the copy when only its last sync or the data
                // fork's deletion failed (the copy's sound was made then).
                EXPECT_EQ(left, data);
                EXPECT_TRUE(rsrc == (withSidecar ? oldFork : Bytes{}) || rsrc == data);
                EXPECT_LE(SysBeepCount(), rsrc == data ? 1 : 0);
            } else {
                // Reported done: the copy is in the resource fork and the data
                // fork is gone.
                EXPECT_EQ(rsrc, data);
                EXPECT_TRUE(left.empty());
            }
            ResetSysBeepCount();
        }
        sysio::setFaultHook(nullptr);
    }
}

TEST_F(FlipTest, LinksFifosAndMalformedSidecarsAreRefusedAndLeftAsTheyWere) {
    TempTree outside;
    std::string victim = outside.write("victim", "precious");
    ASSERT_EQ(symlink(victim.c_str(), t.path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0644), 0);
    t.write("bad", "data");
    Bytes malformed = sidecar(finderInfo("TEXT", "ttxt"), bytes("r"));
    malformed[25] = 16;  // more entries than allowed
    t.write("._bad", malformed);
    std::string before = snapshot(t.root()), outsideBefore = snapshot(outside.root());
    alarm(20);
    for (functionType op : {kFlipDeleteDataFork, kDeleteDataFork, kDeleteResourceFork}) {
        SCOPED_TRACE(int(op));
        FSRef link = refOf(t.path("link")), fifo = refOf(t.path("fifo"));
        FSRef bad = refOf(t.path("bad"));
        EXPECT_EQ(ProcessFSRef(&link, op), notAFileErr);
        EXPECT_EQ(ProcessFSRef(&fifo, op), notAFileErr);
        if (op != kDeleteDataFork) {
            EXPECT_EQ(ProcessFSRef(&bad, op), ioErr);
        }
    }
    alarm(0);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, AReadOnlyFileIsRefusedAndStaysAsItWas) {
    ASSERT_EQ(chmod(t.root().c_str(), 0755), 0);
    std::string p = t.write("f", "data");
    t.write("._f", sidecar(finderInfo("TEXT", "ttxt"), bytes("fork")));
    std::string before = snapshot(t.root());
    for (functionType op : {kFlipDeleteDataFork, kDeleteDataFork, kDeleteResourceFork}) {
        int result = runAsNobody([&] {
            FSRef ref = refOf(p);
            return int(ProcessFSRef(&ref, op));
        });
        EXPECT_EQ(result, afpAccessDenied) << int(op);
    }
    EXPECT_EQ(snapshot(t.root()), before);

    // A file nobody owns and may write, in a folder where no sidecar can be made: the
    // failed write of the resource fork keeps the data fork.
    std::string q = t.write("closed/g", "the data fork");
    ASSERT_EQ(chown(q.c_str(), 65534, 65534), 0);
    before = snapshot(t.root());
    int result = runAsNobody([&] {
        FSRef ref = refOf(q);
        return int(ProcessFSRef(&ref, kFlipDeleteDataFork));
    });
    EXPECT_EQ(result, afpAccessDenied);
    EXPECT_EQ(snapshot(t.root()), before);
}

// ---------------------------------------------------------------- deletions

// Each operation through ProcessFSRef, on files with no fork, with fork and Finder
// info, and with a fork only.
TEST_F(FlipTest, DeletionsKeepTheOtherForkAndTheFinderInfo) {
    const Bytes fi = finderInfo("TEXT", "ttxt");
    for (functionType op : {kDeleteDataFork, kDeleteResourceFork}) {
        SCOPED_TRACE(int(op));
        std::string a = t.write("a", "data a"), b = t.write("b", "data b");
        std::string c = t.write("c", "data c");
        const Bytes sideB = sidecar(fi, bytes("fork b"));
        t.write("._b", sideB);
        t.write("._c", sidecar(Bytes(32, 0), bytes("fork c")));
        for (const std::string& p : {a, b, c}) {
            FSRef ref = refOf(p);
            EXPECT_EQ(ProcessFSRef(&ref, op), noErr) << p;
        }
        EXPECT_FALSE(exists(t.path("._a")));
        if (op == kDeleteDataFork) {
            for (const std::string& p : {a, b, c}) EXPECT_EQ(readBytes(p), Bytes{});
            EXPECT_EQ(readBytes(t.path("._b")), sideB);
            EXPECT_EQ(resourceFork(c), bytes("fork c"));
        } else {
            EXPECT_EQ(readText(a) + readText(b) + readText(c), "data adata bdata c");
            for (const std::string& p : {a, b, c}) EXPECT_EQ(resourceFork(p), Bytes{});
            EXPECT_FALSE(exists(t.path("._c")));  // nothing left in it
            Bytes s = readBytes(t.path("._b"));
            ASSERT_GE(s.size(), 82u);
            EXPECT_EQ(Bytes(s.begin() + 50, s.begin() + 82), fi);
        }
    }
    std::string a = t.path("a");
    FSRef gone = refOf(a);
    ASSERT_EQ(unlink(a.c_str()), 0);
    EXPECT_EQ(DeleteResourceFork(&gone), fnfErr);
    EXPECT_EQ(DeleteDataFork(&gone), fnfErr);
    EXPECT_EQ(SysBeepCount(), 0);

    // Other operation codes are refused and touch nothing.
    std::string before = snapshot(t.root());
    FSRef ref = refOf(t.path("b"));
    for (SInt32 other : {0, 4, -1, 1000})
        EXPECT_EQ(ProcessFSRef(&ref, functionType(other)), paramErr);
    EXPECT_EQ(snapshot(t.root()), before);
}
