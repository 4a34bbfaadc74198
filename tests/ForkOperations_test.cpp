#include "processing/ForkOperations.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/linux/SysIO.h"
#include "platform/ui/Sound.h"
#include "testkit/Refs.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

OSErr process(const std::string& path, functionType op = kFlipDeleteDataFork) {
    FSRef ref = refOf(path);
    return ProcessFSRef(&ref, op);
}

// The resource fork in the sidecar of `path`.
Bytes resourceFork(const std::string& path) {
    const auto slash = path.rfind('/') + 1;
    return resourceForkOf(readBytes(path.substr(0, slash) + "._" + path.substr(slash)));
}

const Bytes kFinderInfo = finderInfo("TEXT", "ttxt");

// Hooks at the seam: one records the kinds of the calls made, one makes the
// file shrink as it is read.
std::vector<sysio::Call> gCalls;
std::string gShrinkPath;
int record(sysio::Call call) {
    gCalls.push_back(call);
    return 0;
}
int shrinkOnRead(sysio::Call call) {
    if (call == sysio::Call::Read) (void)!::truncate(gShrinkPath.c_str(), 3);
    return 0;
}

// Hooks set by a test are cleared when it ends.
class FlipTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSysBeepCount(); }
    void TearDown() override {
        sysio::setFaultHook(nullptr);
        SetMemoryFailureHook(nullptr);
    }
    TempTree t;
};

}  // namespace

// ---------------------------------------------------------------- flips

// The copy is made in the kernel, through a 1 MiB buffer where it cannot, and
// looks for holes from 1 MiB on: every byte survives at the edges of both.
TEST_F(FlipTest, CopiesTheDataForkOverTheStartOfTheResourceFork) {
    constexpr std::size_t kChunk = 1 << 20;
    struct Case {
        std::string name;
        Bytes data;
        const char* old;  // the resource fork before; null: no sidecar
        Bytes after;
    };
    std::vector<Case> cases = {
        {"longer", bytesOf("NEW"), "old resource fork", bytesOf("NEW resource fork")},
        {"shorter", bytesOf("a longer data fork"), "tiny", bytesOf("a longer data fork")}};
    for (std::size_t size : {std::size_t(1), kChunk - 1, kChunk, kChunk + 1, std::size_t(100000)})
        cases.push_back({"new" + std::to_string(size), pattern(size, unsigned(size)), nullptr,
                         pattern(size, unsigned(size))});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = t.write(c.name, c.data), side = t.path("._" + c.name);
        if (c.old) t.write("._" + c.name, sidecar(kFinderInfo, bytesOf(c.old)));
        EXPECT_EQ(process(p), noErr);
        EXPECT_EQ(readBytes(p), Bytes{});
        // Byte for byte: the Finder info kept, the fork in place after it.
        EXPECT_EQ(readBytes(side), sidecar(c.old ? kFinderInfo : Bytes(32, 0), c.after));
    }
    EXPECT_EQ(SysBeepCount(), 7);  // one per written flip
}

TEST_F(FlipTest, AnEmptyDataForkIsDeletedWithoutCopyOrBeep) {
    std::string p = t.write("empty", ""), q = t.write("empty2", "");
    EXPECT_EQ(process(p), noErr);
    EXPECT_FALSE(exists(t.path("._empty")));  // an empty fork needs no sidecar
    t.write("._empty2", sidecar(kFinderInfo, bytesOf("kept")));
    std::string before = snapshot(t.root());
    EXPECT_EQ(process(q), noErr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(FlipTest, TheResourceForkIsDurableBeforeTheDataForkIsCut) {
    std::string p = t.write("f", pattern(5000));
    sysio::setFaultHook(record);
    EXPECT_EQ(process(p), noErr);
    // The data fork's deletion is the flip's last truncation; the last write
    // of the resource fork before it must have been synced in between.
    long truncate = -1, lastWrite = -1, syncAfterWrite = -1;
    for (long i = 0; i < long(gCalls.size()); ++i)
        if (gCalls[i] == sysio::Call::Truncate) truncate = i;
    for (long i = 0; i < truncate; ++i) {
        if (gCalls[i] == sysio::Call::Write) lastWrite = i;
        if (gCalls[i] == sysio::Call::Sync && lastWrite >= 0) syncAfterWrite = i;
    }
    ASSERT_GE(lastWrite, 0);
    EXPECT_GT(syncAfterWrite, lastWrite);
    EXPECT_LT(syncAfterWrite, truncate);
}

namespace {
long gAllocations = 0;
bool countAllocation(Size) {
    ++gAllocations;
    return false;
}

// A sparse file of `size` bytes with `head` at its start and `tail` at its end.
void writeSparse(const std::string& path, off_t size, const std::string& head,
                 const std::string& tail) {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_EQ(ftruncate(fd, size), 0);  // no disk space used
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), ssize_t(head.size()));
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), size - off_t(tail.size())),
              ssize_t(tail.size()));
    close(fd);
}

std::string readAt(const std::string& path, off_t offset, std::size_t n) {
    std::string bytes(n, '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    bytes.resize(std::size_t(std::max<ssize_t>(pread(fd, bytes.data(), n, offset), 0)));
    close(fd);
    return bytes;
}

off_t sizeOf(const std::string& path, blkcnt_t* blocks = nullptr) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    if (blocks) *blocks = st.st_blocks;
    return st.st_size;
}
}  // namespace

// The copy takes no memory of the fork's size: a sparse data fork of several
// GiB flips whole, its holes kept, and one larger than a sidecar can describe
// (4 GiB less its header) is refused and left as it was.
TEST_F(FlipTest, ForksOfAnySizeAStoreHoldsFlipInBoundedMemory) {
    const std::string p = t.path("huge"), side = t.path("._huge");
    const off_t size = (off_t(3) << 30) + 7;
    writeSparse(p, size, "first", "the end");
    gAllocations = 0;
    SetMemoryFailureHook(countAllocation);
    EXPECT_EQ(process(p), noErr);
    EXPECT_EQ(gAllocations, 0);
    EXPECT_EQ(sizeOf(p), 0);
    blkcnt_t blocks = 0;
    EXPECT_EQ(sizeOf(side, &blocks), size + 82);
    EXPECT_LT(blocks * 512, off_t(64) << 20);  // still sparse
    EXPECT_EQ(readAt(side, 82, 5), "first");
    EXPECT_EQ(readAt(side, 82 + size - 7, 7), "the end");
    EXPECT_EQ(SysBeepCount(), 1);

    // Too large for a sidecar: refused, and the file is as it was (looked at
    // without reading gigabytes of zeros).
    unlink(p.c_str());
    unlink(side.c_str());
    const std::string q = t.path("too large");
    const off_t tooLarge = (off_t(1) << 32) - 50;
    writeSparse(q, tooLarge, "", "last");
    EXPECT_EQ(process(q), fsDataTooBigErr);
    EXPECT_EQ(sizeOf(q), tooLarge);
    EXPECT_EQ(readAt(q, tooLarge - 4, 4), "last");
    EXPECT_FALSE(exists(t.path("._too large")));
    EXPECT_EQ(SysBeepCount(), 1);
}

// A data fork is shared by every name of the file; a sidecar is not. A flip
// or a data-fork deletion through one name would empty the others.
TEST_F(FlipTest, AFileWithOtherNamesKeepsItsDataForkInEveryName) {
    TempTree outside;
    const std::string backup = outside.write("backup", "IMPORTANT\n");
    const std::string file = t.path("file");
    ASSERT_EQ(link(backup.c_str(), file.c_str()), 0);
    t.write("._file", sidecar(kFinderInfo, bytesOf("fork")));
    const std::string before = snapshot(t.root()), outsideBefore = snapshot(outside.root());
    EXPECT_EQ(process(file, kFlipDeleteDataFork), fileHasLinksErr);
    EXPECT_EQ(process(file, kDeleteDataFork), fileHasLinksErr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
    // The sidecar belongs to this name only: its fork can go.
    EXPECT_EQ(process(file, kDeleteResourceFork), noErr);
    EXPECT_EQ(resourceFork(file), Bytes{});
    EXPECT_EQ(readText(file), "IMPORTANT\n");
    EXPECT_EQ(SysBeepCount(), 0);
}

// Bytes written to the data fork while the flip copies it would go with the
// cut, and a data fork that shrinks as it is read was not copied whole: the
// flip keeps the data fork, and a second flip completes the work.
namespace {
int gWritesSeen = 0;
std::function<void()> gOnFirstWrite;
// The first sync of the copy comes once its bytes are written, before the cut.
int writeDuringCopy(sysio::Call call) {
    if (call == sysio::Call::Sync && gWritesSeen++ == 0 && gOnFirstWrite) gOnFirstWrite();
    return 0;
}
}  // namespace

TEST_F(FlipTest, ADataForkChangedDuringTheCopyIsNotCut) {
    const struct {
        const char* name;
        int flags;          // how the other writer opens the file
        const char* bytes;  // none: the file shrinks to 3 bytes as it is read
        const char* after;
        const char* copied;  // the resource fork after the first flip
    } cases[] = {
        {"shrunk", 0, nullptr, "wri", ""},  // a short read writes nothing
        {"appended", O_WRONLY | O_APPEND, " and more", "written first and more", "written first"},
        {"rewritten", O_WRONLY, "WRITTEN", "WRITTEN first", "written first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = t.write(c.name, "written first");
        // An old modification time, so that a change now shows in any clock.
        const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimes(p.c_str(), old), 0);
        gWritesSeen = 0;
        if (c.bytes)
            gOnFirstWrite = [&] {
                const int fd = ::open(p.c_str(), c.flags);
                (void)!::write(fd, c.bytes, std::strlen(c.bytes));
                ::close(fd);
            };
        gShrinkPath = p;
        sysio::setFaultHook(c.bytes ? writeDuringCopy : shrinkOnRead);
        EXPECT_EQ(process(p), fileChangedErr);
        sysio::setFaultHook(nullptr);
        gOnFirstWrite = nullptr;
        EXPECT_EQ(readText(p), c.after);  // nothing written was lost
        EXPECT_EQ(resourceFork(p), bytesOf(c.copied));
        EXPECT_TRUE(c.bytes || SysBeepCount() == 0) << "a flip that wrote nothing beeped";
        EXPECT_EQ(process(p), noErr);
        EXPECT_EQ(readText(p), "");
        EXPECT_EQ(resourceFork(p), bytesOf(c.after));
    }
}

// ---------------------------------------------------------------- deletions

// What each deletion keeps and removes is checked at the store (ForkStore_test)
// and through the window and the batch mode (ProcessingRun_test,
// BatchMode_test); here what the operations
// refuse (a file gone since it was found, an operation code that is none of
// the three) and that a deletion makes no sound.
TEST_F(FlipTest, AGoneFileAndUnknownOperationsAreRefused) {
    const std::string a = t.write("a", "data a"), b = t.write("b", "data b");
    t.write("._b", sidecar(kFinderInfo, bytesOf("fork b")));
    FSRef gone = refOf(a);
    ASSERT_EQ(unlink(a.c_str()), 0);
    EXPECT_EQ(DeleteResourceFork(&gone), fnfErr);
    EXPECT_EQ(DeleteDataFork(&gone), fnfErr);
    EXPECT_EQ(ProcessFSRef(&gone, kFlipDeleteDataFork), fnfErr);
    // Other operation codes are refused and touch nothing.
    std::string before = snapshot(t.root());
    for (SInt32 other : {0, 4, -1, 1000}) EXPECT_EQ(process(b, functionType(other)), paramErr);
    EXPECT_EQ(snapshot(t.root()), before);
    EXPECT_EQ(process(b, kDeleteDataFork), noErr);
    EXPECT_EQ(SysBeepCount(), 0);  // only a written flip beeps
}
