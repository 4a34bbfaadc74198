// I/O faults at the system-call seam during whole fork operations: a flip and a
// resource-fork deletion over a folder of files in every store, with the Nth
// write, sync, rename, truncate, unlink, link or attribute call failing with a
// full disk and again with an I/O error, for every N until a run completes.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <set>

#include "platform/FileErrors.h"
#include "platform/Files.h"
#include "platform/SysIO.h"
#include "processing/ForkOperations.h"
#include "testkit/Faults.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;
using sysio::Call;

namespace {

const std::set<Call> kChanging = {Call::Write,    Call::Sync,     Call::Rename,
                                  Call::Truncate, Call::Unlink,   Call::Link,
                                  Call::GetXattr, Call::SetXattr, Call::RemoveXattr};
const std::set<Call> kReading = {Call::Open, Call::Read};

// One folder with a file in every shape the stores know: no fork, a sidecar
// whose fork is shorter, longer or empty, macOS's sidecar with an "ATTR" block
// and the placeholder fork, Samba's sidecar with the fork first and netatalk
// metadata, forks in either attribute, Samba's stream holding an empty fork,
// netatalk 2's headers (with a fork, one as afpd makes it, one with a longer
// fork and older bytes in its slots, and the folder's ".Parent"), Finder info
// only, a fork without Finder info, and other attributes that must stay.
void populate(TempTree& t) {
    const Bytes fi = finderInfo("TEXT", "ttxt");
    t.write("a-plain", pattern(5000, 1));
    t.write("b-short-fork", pattern(3000, 2));
    t.write("._b-short-fork", makeSidecar({{9, 50, 32, fi}, {2, 82, 100, pattern(100, 3)}}));
    t.write("c-long-fork", pattern(3000, 4));
    t.write("._c-long-fork", makeSidecar({{9, 50, 32, fi}, {2, 82, 8000, pattern(8000, 5)}}));
    t.write("d-empty-fork", pattern(2000, 6));
    t.write("._d-empty-fork", makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
    t.write("e-macos", pattern(1500, 7));
    t.write("._e-macos", corpusBytes("peers/macos-4096.ad"));
    t.write("f-samba", pattern(900, 8));
    t.write("._f-samba", corpusBytes("peers/samba-fruit.ad"));
    setXattr(t.path("f-samba"), kMetadata, corpusBytes("peers/samba-fruit.meta"));
    t.write("g-mac-attr", pattern(2500, 9));
    setXattr(t.path("g-mac-attr"), kMacFork, pattern(1000, 10));
    setXattr(t.path("g-mac-attr"), kMacFinderInfo, finderInfo("APPL", "CARO"));
    t.write("h-samba-stream", pattern(700, 11));
    setXattr(t.path("h-samba-stream"), kSambaFork, concat(pattern(1200, 12), {0}));
    t.write("i-empty-data", "");
    t.write("._i-empty-data", makeSidecar({{9, 50, 32, fi}, {2, 82, 40, pattern(40, 13)}}));
    t.write("j-fork-only", pattern(600, 14));
    t.write("._j-fork-only", makeSidecar({{2, 38, 200, pattern(200, 15)}}));
    t.write("k-comment", pattern(800, 16));
    setXattr(t.path("k-comment"), "user.xdg.comment", bytesOf("keep me"));
    t.write("l-finder-info-only", pattern(1100, 17));
    t.write("._l-finder-info-only", makeSidecar({{9, 50, 32, finderInfo("BINA", "hDmp")}}));
    t.write("m-netatalk", pattern(1300, 18));
    t.write(".AppleDouble/m-netatalk", corpusBytes("peers/netatalk2-fork.ad"));
    t.write("n-netatalk-new", pattern(400, 19));
    t.write(".AppleDouble/n-netatalk-new", corpusBytes("peers/netatalk2-empty.ad"));
    t.write("o-netatalk-stale", pattern(50, 20));
    t.write(".AppleDouble/o-netatalk-stale", corpusBytes("peers/netatalk2-stale.ad"));
    t.write(".AppleDouble/.Parent", corpusBytes("peers/netatalk2-parent.ad"));
    t.write("p-empty-stream", pattern(300, 21));
    setXattr(t.path("p-empty-stream"), kSambaFork, Bytes{0});
}

std::vector<std::string> filesOf(const std::string& root) {
    std::vector<std::string> names;
    DIR* d = ::opendir(root.c_str());
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Applies the operation to each file in turn and stops at the first failure,
// as a processing run does.
OSErr runOver(const TempTree& t, const std::vector<std::string>& names, ForkOp op) {
    for (const std::string& name : names) {
        OSErr err;
        const FSRef ref = refOf(t.path(name), &err);
        if (err != noErr) return err;
        err = ProcessFSRef(&ref, op == ForkOp::Flip ? kFlipDeleteDataFork : kDeleteResourceFork);
        if (err != noErr) return err;
    }
    return noErr;
}

struct Outcome {
    std::string problems;
    bool allDone = true;
};

Outcome inspect(const TempTree& t, const std::vector<std::string>& names,
                const std::map<std::string, ForkState>& before, ForkOp op) {
    Outcome o;
    o.problems = checkSidecars(t.root());
    if (readBytes(t.path(".AppleDouble/.Parent")) != corpusBytes("peers/netatalk2-parent.ad"))
        o.problems += "netatalk's .Parent changed\n";
    int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : names) {
        ForkState now;
        OSErr err = readForkState(dirfd, name, &now);
        if (err != noErr) {
            o.problems += name + ": unreadable afterwards (" + std::to_string(err) + ")\n";
            o.allDone = false;
            continue;
        }
        bool done = false;
        std::string p = checkForkState(op, before.at(name), now, &done);
        if (!p.empty()) o.problems += name + ": " + p + "\n";
        o.allDone = o.allDone && done;
    }
    ::close(dirfd);
    return o;
}

// The runs sync hundreds of times; on a memory file system (when it takes user
// attributes) that costs nothing, and the seam fails the same calls there.
void preferMemoryFolder() {
    const char* shm = "/dev/shm";
    std::string probe = std::string(shm) + "/brackwater-probe-" + std::to_string(::getpid());
    int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const bool xattrs = ::fsetxattr(fd, "user.probe", "1", 1, 0) == 0;
    ::close(fd);
    ::unlink(probe.c_str());
    if (xattrs) ::setenv("TMPDIR", shm, 1);
}

class FaultInjection : public ::testing::TestWithParam<ForkOp> {
protected:
    void SetUp() override {
        preferMemoryFolder();
        // One run without faults first: what the File Manager opens once and
        // keeps (caches) is then not taken for a descriptor a failure leaked.
        TempTree warmUp;
        populate(warmUp);
        ASSERT_EQ(runOver(warmUp, filesOf(warmUp.root()), GetParam()), noErr);
    }

    // Fails the 1st, 2nd, ... call of `kinds` with `err` until a run completes
    // without reaching it. Returns the number of calls the full run made.
    int everyCall(ForkOp op, const std::set<Call>& kinds, int err) {
        const OSErr expected = errnoToOSErr(err);
        for (int n = 1;; ++n) {
            TempTree t;
            populate(t);
            const std::vector<std::string> names = filesOf(t.root());
            std::map<std::string, ForkState> before;
            int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            for (const std::string& name : names)
                EXPECT_EQ(readForkState(dirfd, name, &before[name]), noErr) << name;
            ::close(dirfd);

            const int descriptors = openDescriptorCount();
            auto fault = std::make_unique<InjectedFault>(kinds, err, n);
            const OSErr result = runOver(t, names, op);
            const bool hit = fault->hit();
            const Call failed = fault->failedCall();
            fault.reset();
            const std::string what =
                "call " + std::to_string(n) + " failing with errno " + std::to_string(err) + ": ";

            EXPECT_EQ(openDescriptorCount(), descriptors) << what << "descriptors leaked";
            Outcome o = inspect(t, names, before, op);
            EXPECT_EQ(o.problems, "") << what;
            if (!hit) {
                EXPECT_EQ(result, noErr) << what;
                EXPECT_TRUE(o.allDone) << what << "a run without faults left work undone";
                std::printf("a run over %zu files: each of its %d calls failed in turn\n",
                            names.size(), n - 1);
                return n - 1;
            }
            // A fork attribute refusing the flip's copy for want of room
            // while the disk has room: the copy does not fit the attribute.
            const bool tooBig = err == ENOSPC && failed == Call::SetXattr;
            if (result == noErr)
                EXPECT_TRUE(o.allDone) << what << "reported success, yet not everything was done";
            else
                EXPECT_EQ(result, tooBig ? OSErr(fsDataTooBigErr) : expected) << what;

            // Whatever was left, running again finishes the work.
            EXPECT_EQ(runOver(t, names, op), noErr) << what << "rerun";
            o = inspect(t, names, before, op);
            EXPECT_EQ(o.problems, "") << what << "rerun";
            EXPECT_TRUE(o.allDone) << what << "rerun left work undone";
            if (::testing::Test::HasFailure()) return n;
        }
    }
};

TEST_P(FaultInjection, EveryChangingCallFailingWithAFullDiskLosesNothing) {
    const int calls = everyCall(GetParam(), kChanging, ENOSPC);
    // Every file with something to change takes several such calls.
    EXPECT_GT(calls, 20);
}

TEST_P(FaultInjection, EveryChangingCallFailingWithAnIOErrorLosesNothing) {
    EXPECT_GT(everyCall(GetParam(), kChanging, EIO), 20);
}

TEST_P(FaultInjection, EveryOpenAndReadFailingWithAnIOErrorLosesNothing) {
    EXPECT_GT(everyCall(GetParam(), kReading, EIO), 20);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultInjection,
                         ::testing::Values(ForkOp::Flip, ForkOp::DeleteResource),
                         [](const auto& info) {
                             return info.param == ForkOp::Flip ? "Flip" : "DeleteResourceFork";
                         });

}  // namespace
