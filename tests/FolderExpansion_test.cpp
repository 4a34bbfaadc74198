#include "processing/FolderExpansion.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "processing/RunRequests.h"
#include "testkit/BatchRun.h"
#include "testkit/Faults.h"
#include "testkit/Nobody.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::makeTree;
using testsupport::refOf;
using testsupport::runAsNobody;
using testsupport::TempTree;

namespace {

// The path of `ref` relative to `below` when it lies there.
std::string pathOf(const FSRef& ref, const std::string& below) {
    const std::string p = testsupport::pathOf(ref);
    return p.rfind(below + "/", 0) == 0 ? p.substr(below.size() + 1) : p;
}

// What the run does with a folder: count, allocate, collect. The array has one
// guard record past its end that must stay untouched.
struct Expansion {
    OSErr countErr = noErr;
    OSErr collectErr = noErr;
    SInt32 counted = 0;
    SInt32 processed = 0;
    std::vector<std::string> files;  // relative to the walked folder
    bool guardIntact = true;
};

const UInt8 kGuard = 0xA7;

Expansion expand(const std::string& folder, void (*between)(const std::string&) = nullptr) {
    Expansion e;
    FSRef ref = refOf(folder);
    gNbrFilesToBeProcessed = 0;
    gNbrFilesProcessed = 0;
    e.countErr = IterateCountFolder(&ref);
    e.counted = gNbrFilesToBeProcessed;
    if (between) between(folder);
    Ptr block = NewPtr(Size((e.counted + 1) * sizeof(FSRef)));
    std::memset(block, kGuard, (e.counted + 1) * sizeof(FSRef));
    gFSRefArray = reinterpret_cast<FSRef*>(block);
    e.collectErr = IterateCollectFolder(&ref);
    e.processed = gNbrFilesProcessed;
    for (SInt32 i = 0; i < std::min(e.counted, e.processed); ++i)
        e.files.push_back(pathOf(gFSRefArray[i], folder));
    for (size_t i = 0; i < sizeof(FSRef); ++i)
        if (UInt8(block[e.counted * sizeof(FSRef) + i]) != kGuard) e.guardIntact = false;
    gFSRefArray = nullptr;
    DisposePtr(block);
    EXPECT_EQ(gNbrFilesToBeProcessed, e.counted) << "collecting changed the count";
    return e;
}

// Every object a walk meets, then the folders it passed over with the reason:
// "result: objects | folder reason...", paths relative to the walked folder.
std::string walk(const std::string& folder, FSCatalogInfoBitmap whichInfo = kFSCatInfoNone,
                 ItemCount maxLevels = 0) {
    struct Seen {
        std::string folder, met, passed;
    } seen{folder, "", ""};
    auto filter = [](Boolean, ItemCount, const FSCatalogInfo*, const FSRef* ref, const FSSpec*,
                     const HFSUniStr255*, void* data) -> Boolean {
        auto* s = static_cast<Seen*>(data);
        s->met += " " + pathOf(*ref, s->folder);
        return false;
    };
    auto skip = [](const FSRef* ref, OSErr reason, void* data) {
        auto* s = static_cast<Seen*>(data);
        s->passed += " " + pathOf(*ref, s->folder) + " " + std::to_string(reason);
    };
    FSRef ref = refOf(folder);
    OSErr err = FSIterateContainer(&ref, maxLevels, whichInfo, false, false, filter, &seen, skip);
    return std::to_string(err) + ":" + seen.met + " |" + seen.passed;
}

std::string describe(const Expansion& e) {
    std::string s = std::to_string(e.countErr) + " " + std::to_string(e.collectErr) + " " +
                    std::to_string(e.counted) + " " + std::to_string(e.processed) + ":";
    for (auto& f : e.files) s += " " + f;
    return e.guardIntact ? s : s + " [past the array]";
}

}  // namespace

TEST(FolderExpansion, FilesAreCollectedDepthFirstInListingOrder) {
    TempTree t;
    // "._b.txt" is part of b.txt, not a file of its own; invisible files are
    // files; packages are folders; a link to a folder is a file, not a folder.
    makeTree(t,
             {"top/c.txt=c", "top/A/a2=", "top/A/a1=1", "top/A/Sub/s1=s", "top/b.txt=b",
              "top/._b.txt=sidecar of b.txt", "top/.hidden=h", "top/Empty", "top/EmptyOnly/E1/E2",
              "top/App.app/Contents/Info.plist=p", "outside/x=x", "top/link~../outside"});
    const std::string top = t.path("top");

    // Errors of both walks, count, files collected, then the files in order.
    EXPECT_EQ(describe(expand(top)),
              "0 0 8 8: .hidden A/a1 A/a2 A/Sub/s1 App.app/Contents/Info.plist b.txt c.txt link");
    // Only empty folders: nothing to count or collect.
    EXPECT_EQ(describe(expand(t.path("top/EmptyOnly"))), "0 0 0 0:");

    // Counting again adds to the count; the walks never reset it.
    FSRef ref = refOf(top);
    gNbrFilesToBeProcessed = 5;
    EXPECT_EQ(IterateCountFolder(&ref), noErr);
    EXPECT_EQ(IterateCountFolder(&ref), noErr);
    EXPECT_EQ(gNbrFilesToBeProcessed, 5 + 8 + 8);
}

TEST(FolderExpansion, FilesThatComeOrGoBetweenTheWalksNeverOverrunTheArray) {
    TempTree t;
    makeTree(t, {"top/a=", "top/m/b=", "top/z="});
    const std::string top = t.path("top");

    // One more file: counted by the collection, never written past the array.
    EXPECT_EQ(describe(expand(top,
                              [](const std::string& f) {
                                  close(open((f + "/m/a0").c_str(), O_CREAT | O_WRONLY, 0644));
                              })),
              "0 0 3 4: a m/a0 m/b");
    EXPECT_EQ(describe(expand(top, [](const std::string& f) { unlink((f + "/a").c_str()); })),
              "0 0 4 3: m/a0 m/b z");
}

// ---- Folders the walk passes over ----

TEST(FolderExpansion, AFolderThatCannotBeListedIsPassedOverAndReported) {
    TempTree t;
    chmod(t.root().c_str(), 0755);
    makeTree(t, {"top/X/a1=1", "top/X/Locked/inside=in", "top/X/x2=2", "top/y.txt=y"});
    const std::string top = t.path("top");  // X/x2 is listed after X/Locked
    chmod(t.path("top/X/Locked").c_str(), 0);
    const std::string before = testsupport::snapshot(top);

    // Checked in the child, which cannot report a gtest failure of its own:
    // both walks pass over Locked alike, the collecting walk counts it, and
    // the walker reports it once with its open error.
    EXPECT_EQ(runAsNobody([&] {
                  gNbrFoldersNotEntered = 0;
                  const bool walks = describe(expand(top)) == "0 0 3 3: X/a1 X/x2 y.txt" &&
                                     gNbrFoldersNotEntered == 1;
                  return int(walks) + 2 * int(walk(top) ==
                                              "0: X X/a1 X/Locked X/x2 y.txt | "
                                              "X/Locked -5000");
              }),
              3);

    // The walked folder itself: its open error is the result, even access denied.
    std::string locked = t.path("top/X/Locked");
    EXPECT_EQ(runAsNobody([&] {
                  FSRef ref = refOf(locked);
                  gNbrFilesToBeProcessed = 0;
                  OSErr err = IterateCountFolder(&ref);
                  return gNbrFilesToBeProcessed == 0 ? int(err) : 1;
              }),
              afpAccessDenied);
    EXPECT_EQ(testsupport::snapshot(top), before);

    // A listing that fails part way (here Finder info behind a malformed
    // sidecar) passes over the rest of that subfolder; for the walked folder
    // the failure is the result.
    TempTree m;
    makeTree(m, {"top/a=a", "top/Sub/bad=b", "top/Sub/._bad=" + std::string(40, 'x'),
                 "top/Sub/later=l", "top/z=z"});
    EXPECT_EQ(walk(m.path("top"), kFSCatInfoFinderInfo), "0: a Sub z | Sub -36");
    EXPECT_EQ(walk(m.path("top/Sub"), kFSCatInfoFinderInfo), "-36: |");
    EXPECT_EQ(testsupport::readText(m.path("top/Sub/._bad")), std::string(40, 'x'));
}

TEST(FolderExpansion, TheQuitRequestStopsTheWalkAtOnce) {
    TempTree t;
    makeTree(t, {"top/A/inner=", "top/b=", "top/c="});
    // From the top, A is offered first and not entered; inside A its one file counts.
    for (auto [rel, expected] : {std::pair<const char*, int>{"top", 0}, {"top/A", 1}}) {
        FSRef ref = refOf(t.path(rel));
        gRunRequests.quit = true;
        gNbrFilesToBeProcessed = 0;
        EXPECT_EQ(IterateCountFolder(&ref), noErr);
        gRunRequests.quit = false;
        EXPECT_EQ(gNbrFilesToBeProcessed, expected) << rel;
    }
}

// Every caller walks the whole depth without names or specs; what is left to
// check of the arguments is what the walker refuses. (A file to walk: its
// open error, errFSNotAFolder in Files_test, is the result like the locked
// folder's above.)
TEST(FolderExpansion, TheWalkerRefusesAMissingFilter) {
    TempTree t;
    FSRef ref = refOf(t.mkdir("top"));
    EXPECT_EQ(FSIterateContainer(&ref, 0, kFSCatInfoNone, false, false, nullptr, nullptr),
              paramErr);
}

TEST(FolderExpansion, ATreeDeeperThanTheStackIsWalkedWithoutCrashing) {
    // 800 levels on a 24 KiB stack: a walker that recursed once per level runs
    // off it (tried), the walk itself needs only what one File Manager call
    // needs. Each level keeps its folder open, so the test lets the process keep
    // enough folders open.
    const int depth = 800;
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit raised = saved;
    raised.rlim_cur = std::min<rlim_t>(saved.rlim_max, depth + 200);
    if (raised.rlim_cur < rlim_t(depth + 100) || setrlimit(RLIMIT_NOFILE, &raised) != 0)
        GTEST_SKIP() << "cannot keep " << depth << " folders open";
    TempTree t;
    std::string chain;  // d/d/.../bottom
    for (int i = 0; i < depth; ++i) chain += "d/";
    const std::string top = t.path("top");
    t.write("top/" + chain + "bottom", "");

    std::pair<std::string, Expansion> job{top, {}};  // walked on a thread with that stack
    auto walkJob = [](void* p) -> void* {
        auto* j = static_cast<std::pair<std::string, Expansion>*>(p);
        j->second = expand(j->first);
        return nullptr;
    };
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 24 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, walkJob, &job), 0);
    pthread_join(thread, nullptr);
    EXPECT_EQ(describe(job.second), "0 0 1 1: " + chain + "bottom");

    // Fewer folders allowed open than levels: a clean error, every folder closed.
    rlimit low = saved;
    low.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &low);
    int before = testsupport::openDescriptorCount();
    FSRef ref = refOf(top);
    gNbrFilesToBeProcessed = 0;
    EXPECT_EQ(IterateCountFolder(&ref), tmfoErr);
    EXPECT_EQ(gNbrFilesToBeProcessed, 0);
    EXPECT_EQ(testsupport::openDescriptorCount(), before);
    setrlimit(RLIMIT_NOFILE, &saved);
}
