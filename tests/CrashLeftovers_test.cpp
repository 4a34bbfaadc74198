// What a process killed in the middle of a write can leave in a user's folder:
// a sidecar is written without a name until it is complete, and a temporary
// sidecar of a process that no longer runs is hidden from listings and removed
// when the folder is next listed, while everything else stays.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/ForkStore.h"
#include "platform/SysIO.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

std::string gFolder;
int gWritesSeen = 0, gNamedDuringWrite = 0;

bool hasTemporary(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    bool found = false;
    while (dirent* e = ::readdir(d)) found |= std::string(e->d_name).rfind(".bwtmp-", 0) == 0;
    ::closedir(d);
    return found;
}

int watchWrites(sysio::Call call) {
    // The bytes being written; the folder's sync after the swap comes later,
    // when the replaced sidecar briefly has the temporary name.
    if (call == sysio::Call::Write || call == sysio::Call::Truncate) {
        ++gWritesSeen;
        if (hasTemporary(gFolder)) ++gNamedDuringWrite;
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

std::vector<std::string> listed(const std::string& folder) {
    const FSRef ref = refOf(folder);
    FSIterator it;
    EXPECT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &it), noErr);
    std::vector<std::string> names;
    ItemCount n = 0;
    HFSUniStr255 name;
    while (FSGetCatalogInfoBulk(it, 1, &n, nullptr, 0, nullptr, nullptr, nullptr, &name) == noErr)
        names.emplace_back(name.unicode, name.unicode + name.length);
    FSCloseIterator(it);
    return names;
}

}  // namespace

TEST(CrashLeftovers, ASidecarHasNoNameWhileItsBytesAreWritten) {
    TempTree t;
    t.write("new", "data");
    t.write("rebuilt", "data");
    t.write("._rebuilt", makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")},
                                      {2, 82, 5000, pattern(5000, 1)}}));
    gFolder = t.root();
    int dirfd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const Bytes bytes = pattern(200000, 2);
    for (const char* name : {"new", "rebuilt"}) {
        gWritesSeen = gNamedDuringWrite = 0;
        sysio::setFaultHook(watchWrites);
        EXPECT_EQ(forkstore::writeResourceFork(dirfd, name, 0, bytes.size(), bytes.data()), noErr);
        sysio::setFaultHook(nullptr);
        EXPECT_GT(gWritesSeen, 2) << name;
        EXPECT_EQ(gNamedDuringWrite, 0) << name << ": a kill while writing would leave a file";
    }
    ::close(dirfd);
    EXPECT_FALSE(hasTemporary(t.root()));
}

TEST(CrashLeftovers, ATemporarySidecarOfAKilledProcessIsHiddenAndRemovedWhenListed) {
    TempTree t;
    t.write("file", "data");
    const std::string dead = ".bwtmp-" + std::to_string(deadPid()) + "-0123456789ab";
    const std::string alive = ".bwtmp-" + std::to_string(::getppid()) + "-00000000beef";
    t.write(dead, "half a sidecar");
    t.write(alive, "being written by a running process");
    // Look-alikes that are the user's: never hidden, never removed.
    const std::vector<std::string> users = {".bwtmp-notes", ".bwtmp-0-0123456789ab",
                                            ".bwtmp-12-0123456789AB", ".bwtmp-12-0123456789ab0",
                                            ".bwtmp-99999999999-0123456789ab"};
    for (const auto& n : users) t.write(n, "mine");
    const std::string folder = ".bwtmp-" + std::to_string(deadPid()) + "-aaaaaaaaaaaa";
    t.mkdir(folder);

    // Listed: the user's names, the folder and the file; not the two temporaries.
    std::vector<std::string> names = listed(t.root()), expected = users;
    expected.insert(expected.end(), {folder, "file"});
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()),
              std::multiset<std::string>(expected.begin(), expected.end()));
    EXPECT_FALSE(exists(t.path(dead))) << "the killed process's temporary file stays";
    EXPECT_TRUE(exists(t.path(alive)));
    for (const auto& n : users) EXPECT_TRUE(exists(t.path(n))) << n;
    EXPECT_TRUE(exists(t.path(folder)));
    EXPECT_TRUE(forkstore::isTemporaryName(dead.c_str()));
    EXPECT_FALSE(forkstore::isTemporaryName("._file"));
}
