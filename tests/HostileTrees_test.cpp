// Whole folders processed the way a run does (count, collect, apply the
// operation to every file) in trees that fight back: files the user may write
// in a folder the user may not, and a full file system. (Files renamed or
// removed while a folder is listed: Files_test; between the two walks of a
// run: FolderExpansion_test.) Read-only and
// write-protected trees, depth past PATH_MAX, names of 255 bytes and names
// that are not UTF-8 and link loops go through the whole binary in
// tests/e2e/hostile_batch.sh.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/files/Files.h"
#include "processing/FolderExpansion.h"
#include "processing/ForkOperations.h"
#include "processing/RunRequests.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Mounts.h"
#include "testkit/Nobody.h"
#include "testkit/Refs.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

// Counts and collects the folder's files as a run does, then applies `op` to
// each, going on past failures as a folder pass does; gives each one's result
// (none when the two walks disagree, as the run then skips the folder).
std::vector<OSErr> runFolder(const std::string& folder, functionType op) {
    const FSRef ref = refOf(folder);
    gNbrFilesToBeProcessed = gNbrFilesProcessed = 0;
    std::vector<OSErr> results;
    if (IterateCountFolder(&ref) != noErr) return results;
    std::vector<FSRef> files(static_cast<std::size_t>(gNbrFilesToBeProcessed));
    gFSRefArray = files.data();
    const OSErr collected = IterateCollectFolder(&ref);
    gFSRefArray = nullptr;
    if (collected != noErr || gNbrFilesProcessed != SInt32(files.size())) return results;
    for (const FSRef& file : files) results.push_back(ProcessFSRef(&file, op));
    return results;
}

int openDir(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

using States = std::map<std::string, ForkState>;
States statesOf(int dirfd, const std::vector<std::string>& names) {
    States states;
    for (const auto& n : names) EXPECT_EQ(readForkState(dirfd, n, &states[n]), noErr) << n;
    return states;
}

// Checks that each file holds its bytes whole in one fork after a flip that
// may have stopped part way; returns which files the flip finished.
std::map<std::string, bool> expectFlipWhole(int dirfd, const States& before) {
    std::map<std::string, bool> done;
    for (const auto& [n, state] : before) {
        ForkState now;
        EXPECT_EQ(readForkState(dirfd, n, &now), noErr) << n;
        EXPECT_EQ(checkForkState(ForkOp::Flip, state, now, &done[n]), "") << n;
    }
    return done;
}

}  // namespace

// ---- Trees that may not be changed ----

TEST(HostileTrees, WritableFilesInAFolderTheUserMayNotWriteKeepTheirBytes) {
    // Nobody owns the files but not the folder: a sidecar cannot be created
    // there, while one that exists can still change in place.
    TempTree t;
    const std::string in = t.mkdir("in");
    t.write("in/new-fork", pattern(1000, 7));
    t.write("in/in-place", pattern(1000, 8));
    t.write("in/._in-place", sidecar(finderInfo("TEXT", "ttxt"), {}));
    for (const char* f : {"in/new-fork", "in/in-place", "in/._in-place"})
        ASSERT_EQ(::chown(t.path(f).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(t.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(in.c_str(), 0755), 0);
    int dirfd = openDir(in);
    const States before = statesOf(dirfd, {"new-fork", "in-place"});
    const int outcome = runAsNobody([&]() -> int {
        const std::vector<OSErr> r = runFolder(in, kFlipDeleteDataFork);
        if (r.size() != 2) return 1000;
        // Sorted: "in-place" first, then "new-fork".
        return r[0] == noErr && r[1] == afpAccessDenied ? 0 : 1001;
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(expectFlipWhole(dirfd, before),
              (std::map<std::string, bool>{{"in-place", true}, {"new-fork", false}}));
    ::close(dirfd);
    EXPECT_EQ(checkSidecars(t.root()), "");
}

// ---- A full file system ----

TEST(HostileTrees, AFullFileSystemGivesDskFulErrAndARerunFinishesOnceThereIsRoom) {
    TempTree t;
    const std::string vol = t.mkdir("vol");
    TmpfsMount m(vol, "size=1m");
    if (!m.ok()) GTEST_SKIP() << m.error();
    const std::string in = vol + "/in";
    ::mkdir(in.c_str(), 0755);
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back("f" + std::to_string(10 + i));
        t.write("vol/in/" + names.back(), pattern(20000 + 1000 * i, unsigned(i)));
    }
    t.write("vol/in/with-fork", pattern(9000, 40));
    t.write("vol/in/._with-fork", sidecar(finderInfo("TEXT", "ttxt"), pattern(50, 41)));
    names.push_back("with-fork");
    // Fill the volume, leaving room for the copies of the smaller files only
    // (a flip frees its data fork once its copy is in place).
    {
        int fd = ::open((vol + "/filler").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        std::vector<char> block(4096, 'x');
        while (::write(fd, block.data(), block.size()) == ssize_t(block.size())) {
        }
        ::ftruncate(fd, ::lseek(fd, 0, SEEK_CUR) - 24 * 1024);
        ::close(fd);
    }
    int dirfd = openDir(in);
    const States before = statesOf(dirfd, names);

    std::vector<OSErr> r = runFolder(in, kFlipDeleteDataFork);
    ASSERT_EQ(r.size(), names.size());
    EXPECT_NE(std::count(r.begin(), r.end(), dskFulErr), 0) << "the volume never filled up";
    for (OSErr e : r) EXPECT_TRUE(e == noErr || e == dskFulErr) << e;
    EXPECT_EQ(checkSidecars(vol), "");
    expectFlipWhole(dirfd, before);

    ASSERT_EQ(::unlink((vol + "/filler").c_str()), 0);
    r = runFolder(in, kFlipDeleteDataFork);
    ASSERT_EQ(r.size(), names.size());
    for (OSErr e : r) EXPECT_EQ(e, noErr);
    for (const auto& [n, done] : expectFlipWhole(dirfd, before)) EXPECT_TRUE(done) << n;
    ::close(dirfd);
}
