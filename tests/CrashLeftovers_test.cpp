// What a process killed in the middle of a write can leave in a user's folder:
// a sidecar is written without a name until it is complete, and a temporary
// sidecar of a process of this host that no longer runs is hidden from
// listings and removed when a later process first writes into that folder,
// while everything else, and every folder only read, stays as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/SysIO.h"
#include "shell/batch/BatchMode.h"
#include "testkit/BatchRun.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

std::string gFolder;
int gWritesSeen = 0, gNamedDuringWrite = 0;

std::set<std::string> temporaries(const std::string& folder) {
    std::set<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().rfind(".bwtmp-", 0) == 0)
            found.insert(e.path().filename());
    return found;
}

int watchWrites(sysio::Call call) {
    // The bytes being written; the folder's sync after the swap comes later,
    // when the replaced sidecar briefly has the temporary name.
    if (call == sysio::Call::Write || call == sysio::Call::Truncate) {
        ++gWritesSeen;
        if (!temporaries(gFolder).empty()) ++gNamedDuringWrite;
    }
    return 0;
}

// A process id that is not running: a child that has exited and been reaped.
int deadPid() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return int(child);
}

// Leaves what a writer killed while replacing `name`'s sidecar leaves: a child
// process stops just before the swap, when the new sidecar has its temporary
// name, and is reaped. Returns that name, the only temporary in `folder`.
std::string leaveTemporary(const std::string& folder, const char* name) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        sysio::setFaultHook([](sysio::Call call) {
            if (call == sysio::Call::Rename) ::_exit(0);
            return 0;
        });
        forkstore::writeResourceFork(dirfd, name, 0, 5, "fresh");
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer was not stopped";
    const std::set<std::string> left = temporaries(folder);
    EXPECT_EQ(left.size(), 1u);
    EXPECT_TRUE(left.empty() || forkstore::isTemporaryName(left.begin()->c_str()));
    return left.empty() ? std::string() : *left.begin();
}

}  // namespace

// A real leftover of a killed writer (stopped before its swap), and
// look-alikes that must all stay: one of another host, one of the old form
// without a host, one of a running process, and the user's own files and
// folder. While a sidecar's bytes are written it has no name at all.
TEST(CrashLeftovers, AKillLeavesAtMostAHiddenTemporaryThatOnlyAWriteIntoItsFolderRemoves) {
    TempTree t;
    const Bytes old =
        makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 3, bytesOf("old")}});
    for (const std::string dir : {"", "sub/"}) {
        t.write(dir + "file", "data");
        t.write(dir + "._file", old);
    }
    const std::string dead = leaveTemporary(t.root(), "file");
    const std::string deadInSub = leaveTemporary(t.path("sub"), "file");
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(readBytes(t.path("._file")), old);  // the killed writer's change is not in place

    const std::string tag = dead.substr(0, 16);  // ".bwtmp-<host>-"
    std::string otherHost = dead;
    otherHost[7] = dead[7] == 'f' ? '0' : 'f';
    const std::vector<std::string> kept = {otherHost,
                                           ".bwtmp-" + std::to_string(deadPid()) + "-0123456789ab",
                                           tag + std::to_string(::getppid()) + "-00000000beef"};
    const std::vector<std::string> users = {".bwtmp-notes",
                                            tag + "0-0123456789ab",
                                            tag + "12-0123456789AB",
                                            tag + "12-0123456789ab0",
                                            tag + "99999999999-0123456789ab",
                                            ".bwtmp-0123456-12-0123456789ab"};
    for (const auto& n : kept) t.write(n, "kept: " + n);
    for (const auto& n : users) t.write(n, "mine: " + n);
    const std::string folder = tag + std::to_string(deadPid()) + "-aaaaaaaaaaaa";
    t.mkdir(folder);

    // Listed: the user's names, the folder, the old form and the files; hidden,
    // the temporaries of the new form.
    std::vector<std::string> names = listNames(t.root()), expected = users;
    expected.insert(expected.end(), {kept[1], folder, "file", "sub"});
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()),
              std::multiset<std::string>(expected.begin(), expected.end()));
    // Nothing that only reads removes anything.
    const std::string before = snapshot(t.root());
    EXPECT_EQ(runBatch({"--info", t.root()}).status, kBatchSuccess);
    EXPECT_EQ(runBatch({"--operation", "flip", "--dry-run", t.root()}).status, kBatchSuccess);
    EXPECT_EQ(snapshot(t.root()), before);

    // The first write into the folder removes this host's dead temporary and
    // nothing else; the folder below, not written to, keeps its own.
    int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(forkstore::writeResourceFork(dirfd, "file", 0, 3, "new"), noErr);
    ::close(dirfd);
    EXPECT_FALSE(exists(t.path(dead)));
    for (const auto& n : kept) EXPECT_EQ(readText(t.path(n)), "kept: " + n);
    for (const auto& n : users) EXPECT_EQ(readText(t.path(n)), "mine: " + n);
    EXPECT_TRUE(exists(t.path(folder)));
    EXPECT_EQ(temporaries(t.path("sub")), std::set<std::string>{deadInSub});
    // A batch run that writes there removes that one.
    EXPECT_EQ(runBatch({"--operation", "flip", "--yes", t.path("sub")}).status, kBatchSuccess);
    EXPECT_EQ(temporaries(t.path("sub")), std::set<std::string>{});

    // A sidecar made or rebuilt has no name while its bytes are written, so a
    // kill then leaves nothing in the folder.
    t.write("sub/new", "data");
    gFolder = t.path("sub");
    dirfd = ::open(gFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const Bytes bytes = pattern(200000, 2);
    for (const char* name : {"new", "file"}) {
        gWritesSeen = gNamedDuringWrite = 0;
        sysio::setFaultHook(watchWrites);
        EXPECT_EQ(forkstore::writeResourceFork(dirfd, name, 0, bytes.size(), bytes.data()), noErr);
        sysio::setFaultHook(nullptr);
        EXPECT_GT(gWritesSeen, 2) << name;
        EXPECT_EQ(gNamedDuringWrite, 0) << name << ": a kill while writing would leave a file";
    }
    ::close(dirfd);
    EXPECT_TRUE(temporaries(gFolder).empty());
}
