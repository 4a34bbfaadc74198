// I/O faults at the system-call seam during whole fork operations: a flip and a
// resource-fork deletion over a folder of files in every store, with the Nth
// write, sync, rename, truncate, unlink, link or attribute call failing with a
// full disk and again with an I/O error, for every N until a run completes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <memory>
#include <set>

#include "platform/files/FileErrors.h"
#include "platform/files/Files.h"
#include "platform/files/linux/SysIO.h"
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

// One folder with a file in every shape the stores know, and netatalk's
// ".Parent" of the folder.
void populate(TempTree& t) {
    for (std::size_t i = 0; i < kForkShapes.size(); ++i)
        writeForkShape(t.root(), kForkShapes[i], i, unsigned(i) + 1);
    t.write(".AppleDouble/.Parent", corpusBytes("peers/netatalk2-parent.ad"));
}

// Applies the operation to each file in turn and stops at the first failure,
// as a processing run does.
OSErr runOver(const TempTree& t, ForkOp op) {
    for (const std::string& name : kForkShapes) {
        OSErr err;
        const FSRef ref = refOf(t.path(name), &err);
        if (err == noErr)
            err =
                ProcessFSRef(&ref, op == ForkOp::Flip ? kFlipDeleteDataFork : kDeleteResourceFork);
        if (err != noErr) return err;
    }
    return noErr;
}

// What an operation may have left compared with `before` (empty when all is
// well), and whether it is done for every file.
std::string inspect(const TempTree& t, const std::map<std::string, ForkState>& before, ForkOp op,
                    bool* allDone) {
    std::string problems = checkSidecars(t.root());
    if (readBytes(t.path(".AppleDouble/.Parent")) != corpusBytes("peers/netatalk2-parent.ad"))
        problems += "netatalk's .Parent changed\n";
    *allDone = true;
    int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const auto& [name, then] : before) {
        ForkState now;
        bool done = false;
        if (OSErr err = readForkState(dirfd, name, &now); err != noErr)
            problems += name + ": unreadable afterwards (" + std::to_string(err) + ")\n";
        else if (std::string p = checkForkState(op, then, now, &done); !p.empty())
            problems += name + ": " + p + "\n";
        *allDone = *allDone && done;
    }
    ::close(dirfd);
    return problems;
}

class FaultInjection : public ::testing::TestWithParam<ForkOp> {
protected:
    void SetUp() override {
        // The runs sync hundreds of times, which costs nothing on a memory file
        // system: use one when it takes user attributes (the seam fails the
        // same calls there).
        const std::string probe = "/dev/shm/brackwater-probe-" + std::to_string(::getpid());
        if (::close(::open(probe.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600)) == 0 &&
            ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0)
            ::setenv("TMPDIR", "/dev/shm", 1);
        ::unlink(probe.c_str());
        // One run without faults first: what the File Manager opens once and
        // keeps (caches) is then not taken for a descriptor a failure leaked.
        TempTree warmUp;
        populate(warmUp);
        ASSERT_EQ(runOver(warmUp, GetParam()), noErr);
    }

    // Fails the 1st, 2nd, ... call of `kinds` with `err` until a run completes
    // without reaching it. Returns the number of calls the full run made.
    int everyCall(const std::set<Call>& kinds, int err) {
        const ForkOp op = GetParam();
        for (int n = 1;; ++n) {
            TempTree t;
            populate(t);
            std::map<std::string, ForkState> before;
            int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            for (const std::string& name : kForkShapes)
                EXPECT_EQ(readForkState(dirfd, name, &before[name]), noErr) << name;
            ::close(dirfd);

            const int descriptors = openDescriptorCount();
            auto fault = std::make_unique<InjectedFault>(kinds, err, n);
            const OSErr result = runOver(t, op);
            const bool hit = fault->hit();
            // A fork attribute refusing the flip's copy for want of room
            // while the disk has room: the copy does not fit the attribute.
            const bool tooBig = err == ENOSPC && fault->failedCall() == Call::SetXattr;
            fault.reset();
            const std::string what =
                "call " + std::to_string(n) + " failing with errno " + std::to_string(err) + ": ";

            EXPECT_EQ(openDescriptorCount(), descriptors) << what << "descriptors leaked";
            bool allDone = false;
            EXPECT_EQ(inspect(t, before, op, &allDone), "") << what;
            if (!hit) {
                EXPECT_EQ(result, noErr) << what;
                EXPECT_TRUE(allDone) << what << "a run without faults left work undone";
                return n - 1;
            }
            if (result == noErr)
                EXPECT_TRUE(allDone) << what << "reported success, yet not everything was done";
            else
                EXPECT_EQ(result, tooBig ? OSErr(fsDataTooBigErr) : errnoToOSErr(err)) << what;

            // Whatever was left, running again finishes the work.
            EXPECT_EQ(runOver(t, op), noErr) << what << "rerun";
            EXPECT_EQ(inspect(t, before, op, &allDone), "") << what << "rerun";
            EXPECT_TRUE(allDone) << what << "rerun left work undone";
            if (::testing::Test::HasFailure()) return n;
        }
    }
};

// Every file with something to change takes several calls of each kind.
TEST_P(FaultInjection, EveryChangingCallFailingWithAFullDiskOrAnIOErrorAndEveryReadLosesNothing) {
    for (const auto& [kinds, err] :
         {std::pair{kChanging, ENOSPC}, {kChanging, EIO}, {kReading, EIO}}) {
        EXPECT_GT(everyCall(kinds, err), 20) << "errno " << err;
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultInjection,
                         ::testing::Values(ForkOp::Flip, ForkOp::DeleteResource),
                         [](const auto& info) {
                             return info.param == ForkOp::Flip ? "Flip" : "DeleteResourceFork";
                         });

}  // namespace
