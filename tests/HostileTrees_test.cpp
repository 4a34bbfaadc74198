// Whole folders processed the way a run does (count, collect, apply the
// operation to every file) in trees that fight back: read-only and
// write-protected trees, a full file system, depth past PATH_MAX, names of 255
// bytes and names that are not UTF-8, symbolic-link loops, and a folder whose
// files are renamed and removed during the walk. Nothing crashes or hangs,
// nothing outside the dropped folder changes, each failure has its code.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "platform/AppleDouble.h"
#include "platform/Files.h"
#include "platform/MacMemory.h"
#include "processing/FolderExpansion.h"
#include "processing/ForkOperations.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Nobody.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

// The quit request belongs to the main window; until this test is linked with
// it, this stand-in is the one the walks read.
__attribute__((weak)) Boolean gQuitting = false;

using namespace testsupport;

namespace {

constexpr char kMacFork[] = "user.com.apple.ResourceFork";

// What one run over a folder did.
struct RunResult {
    OSErr countErr = noErr;
    OSErr collectErr = noErr;
    bool skipped = false;  // the two walks disagreed, as the run then skips the folder
    std::vector<OSErr> results;
    std::set<OSErr> codes() const { return {results.begin(), results.end()}; }
};

// Counts, allocates, collects, then applies `op` to every file, going on past
// failures as a folder pass does. `during(i)` runs before file i.
RunResult runFolder(const std::string& folder, functionType op,
                    const std::function<void(std::size_t)>& during = nullptr) {
    RunResult r;
    const FSRef ref = refOf(folder, &r.countErr);
    if (r.countErr != noErr) return r;
    gNbrFilesToBeProcessed = 0;
    gNbrFilesProcessed = 0;
    r.countErr = IterateCountFolder(&ref);
    const SInt32 n = gNbrFilesToBeProcessed;
    if (n <= 0) return r;
    gFSRefArray = reinterpret_cast<FSRef*>(NewPtr(Size(n) * Size(sizeof(FSRef))));
    if (!gFSRefArray) {
        r.skipped = true;
        return r;
    }
    r.collectErr = IterateCollectFolder(&ref);
    if (gNbrFilesProcessed != n) {
        r.skipped = true;
    } else {
        for (SInt32 i = 0; i < n; ++i) {
            if (during) during(std::size_t(i));
            r.results.push_back(ProcessFSRef(&gFSRefArray[i], op));
        }
    }
    DisposePtr(reinterpret_cast<Ptr>(gFSRefArray));
    gFSRefArray = nullptr;
    return r;
}

// A dropped folder "in" beside an "outside" folder (a link target, a sidecar,
// attributes) that no run may touch: checked when the scene ends.
struct Scene {
    TempTree tree;
    std::string in = tree.mkdir("in"), outside = tree.mkdir("outside"), outsideBefore;
    Scene() {
        tree.write("outside/victim", "precious bytes");
        tree.write("outside/._victim", makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")},
                                                    {2, 82, 5, bytesOf("fork!")}}));
        ::lsetxattr(tree.path("outside/victim").c_str(), "user.xdg.comment", "mine", 4, 0);
        outsideBefore = snapshot(outside);
    }
    ~Scene() { EXPECT_EQ(snapshot(outside), outsideBefore) << "a run touched the outside"; }
};

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

// Files in each shape: no fork, a sidecar, a fork in an attribute, an empty file.
void populate(TempTree& t, const std::string& base) {
    t.write(base + "/plain", pattern(3000, 1));
    t.write(base + "/sub/with-sidecar", pattern(2000, 2));
    t.write(base + "/sub/._with-sidecar",
            makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 300, pattern(300, 3)}}));
    t.write(base + "/sub/deeper/in-attr", pattern(1500, 4));
    Bytes fork = pattern(700, 5);
    ::lsetxattr(t.path(base + "/sub/deeper/in-attr").c_str(), kMacFork, fork.data(), fork.size(),
                0);
    t.write(base + "/empty", "");
}

// Removes a tree of any depth, reaching each folder with openat.
void removeAt(int dirfd) {
    DIR* d = ::fdopendir(::dup(dirfd));
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& name : names) {
        if (::unlinkat(dirfd, name.c_str(), 0) == 0) continue;
        int sub = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        removeAt(sub);
        ::close(sub);
        ::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
    }
}

// A tmpfs mounted on a folder for the duration of a test (root only).
class Mount {
public:
    Mount(const std::string& at, const char* options) : at_(at) {
        ok_ = ::mount("brackwater-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
    }
    ~Mount() {
        if (ok_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    bool remountReadOnly() {
        return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                       nullptr) == 0;
    }

private:
    std::string at_;
    bool ok_ = false;
};

// The resource fork held by an orphan sidecar "._name" (no file "name").
Bytes orphanFork(int dirfd, const std::string& name) {
    const std::string sidecar = "._" + name;
    int fd = ::openat(dirfd, sidecar.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    ::fstat(fd, &st);
    Bytes b(std::size_t(st.st_size));
    ssize_t got = ::pread(fd, b.data(), b.size(), 0);
    ::close(fd);
    appledouble::Header h;
    if (got != ssize_t(b.size()) ||
        appledouble::parse(b.data(), b.size(), b.size(), &h) != appledouble::Problem::None)
        return {};
    const appledouble::Entry* e = h.find(appledouble::kResourceForkId);
    return e ? Bytes(b.begin() + e->offset, b.begin() + e->end()) : Bytes{};
}

const functionType kOps[] = {kFlipDeleteDataFork, kDeleteDataFork, kDeleteResourceFork};

}  // namespace

// ---- Trees that may not be changed ----

TEST(HostileTrees, AReadOnlyFileSystemRefusesEveryOperationWithWPrErr) {
    Scene s;
    Mount m(s.in, "size=4m");
    if (!m.ok()) GTEST_SKIP() << "mounting needs root: " << std::strerror(errno);
    populate(s.tree, "in");
    ASSERT_TRUE(m.remountReadOnly()) << std::strerror(errno);
    const std::string before = snapshot(s.in);
    for (functionType op : kOps) {
        RunResult r = runFolder(s.in, op);
        EXPECT_EQ(r.countErr, noErr);
        EXPECT_EQ(r.collectErr, noErr);
        ASSERT_EQ(r.results.size(), 4u) << op;
        for (OSErr e : r.results) EXPECT_EQ(e, wPrErr) << "operation " << op;
    }
    EXPECT_EQ(snapshot(s.in), before);
}

TEST(HostileTrees, ATreeTheUserMayNotWriteIsRefusedWithAccessDenied) {
    // CI runs as root, which may write anything: the runs happen as nobody.
    Scene s;
    populate(s.tree, "in");
    ASSERT_EQ(::chmod(s.tree.root().c_str(), 0755), 0);
    const std::string before = snapshot(s.in);
    for (functionType op : kOps) {
        const int outcome = runAsNobody([&]() -> int {
            RunResult r = runFolder(s.in, op);
            if (r.countErr != noErr || r.collectErr != noErr || r.skipped) return 1000;
            if (r.results.size() != 4) return 1001;
            for (OSErr e : r.results)
                if (e != afpAccessDenied) return e == noErr ? 1002 : e;
            return 0;
        });
        EXPECT_EQ(outcome, 0) << "operation " << op;
    }
    EXPECT_EQ(snapshot(s.in), before);
}

TEST(HostileTrees, WritableFilesInAFolderTheUserMayNotWriteKeepTheirBytes) {
    // Nobody owns the files but not the folder: a sidecar cannot be created
    // there, while one that exists can still change in place.
    Scene s;
    s.tree.write("in/new-fork", pattern(1000, 7));
    s.tree.write("in/in-place", pattern(1000, 8));
    s.tree.write("in/._in-place",
                 makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 0, {}}}));
    for (const char* f : {"in/new-fork", "in/in-place", "in/._in-place"})
        ASSERT_EQ(::chown(s.tree.path(f).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(s.tree.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(s.in.c_str(), 0755), 0);
    int dirfd = openDir(s.in);
    const States before = statesOf(dirfd, {"new-fork", "in-place"});
    const int outcome = runAsNobody([&]() -> int {
        RunResult r = runFolder(s.in, kFlipDeleteDataFork);
        if (r.results.size() != 2) return 1000;
        // Sorted: "in-place" first, then "new-fork".
        return r.results[0] == noErr && r.results[1] == afpAccessDenied ? 0 : 1001;
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(expectFlipWhole(dirfd, before),
              (std::map<std::string, bool>{{"in-place", true}, {"new-fork", false}}));
    ::close(dirfd);
    EXPECT_EQ(checkSidecars(s.tree.root()), "");
}

// ---- A full file system ----

TEST(HostileTrees, AFullFileSystemGivesDskFulErrAndARerunFinishesOnceThereIsRoom) {
    TempTree t;
    const std::string vol = t.mkdir("vol");
    Mount m(vol, "size=1m");
    if (!m.ok()) GTEST_SKIP() << "mounting needs root: " << std::strerror(errno);
    const std::string in = vol + "/in";
    ::mkdir(in.c_str(), 0755);
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back("f" + std::to_string(10 + i));
        t.write("vol/in/" + names.back(), pattern(20000 + 1000 * i, unsigned(i)));
    }
    t.write("vol/in/with-fork", pattern(9000, 40));
    t.write("vol/in/._with-fork",
            makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 50, pattern(50, 41)}}));
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

    RunResult r = runFolder(in, kFlipDeleteDataFork);
    ASSERT_EQ(r.results.size(), names.size());
    EXPECT_TRUE(r.codes().count(dskFulErr)) << "the volume never filled up";
    for (OSErr e : r.results) EXPECT_TRUE(e == noErr || e == dskFulErr) << e;
    EXPECT_EQ(checkSidecars(vol), "");
    expectFlipWhole(dirfd, before);

    ASSERT_EQ(::unlink((vol + "/filler").c_str()), 0);
    r = runFolder(in, kFlipDeleteDataFork);
    for (OSErr e : r.results) EXPECT_EQ(e, noErr);
    for (const auto& [n, done] : expectFlipWhole(dirfd, before)) EXPECT_TRUE(done) << n;
    ::close(dirfd);
}

// ---- Depth and names ----

TEST(HostileTrees, ATreeDeeperThanPathMaxIsWalkedAndFlippedToTheBottom) {
    Scene s;
    const std::string longName(200, 'd');
    const int levels = PATH_MAX / 200 + 4;  // well past PATH_MAX below "in"
    std::vector<int> fds{openDir(s.in)};
    std::vector<ForkState> before;
    for (int level = 0; level < levels; ++level) {
        const int here = fds.back();
        const Bytes data = pattern(500 + std::size_t(level), unsigned(level));
        int fd = ::openat(here, "f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
        ::close(fd);
        if (level % 5 == 0) {
            const Bytes sc = makeSidecar(
                {{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 9, bytesOf("old fork!")}});
            fd = ::openat(here, "._f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_EQ(::write(fd, sc.data(), sc.size()), ssize_t(sc.size()));
            ::close(fd);
        }
        before.emplace_back();
        ASSERT_EQ(readForkState(here, "f", &before.back()), noErr);
        ASSERT_EQ(::mkdirat(here, longName.c_str(), 0755), 0);
        fds.push_back(::openat(here, longName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_GE(fds.back(), 0);
    }

    RunResult r = runFolder(s.in, kFlipDeleteDataFork);
    EXPECT_EQ(r.countErr, noErr);
    EXPECT_EQ(r.collectErr, noErr);
    ASSERT_EQ(r.results.size(), std::size_t(levels));
    for (OSErr e : r.results) EXPECT_EQ(e, noErr);
    for (int level = 0; level < levels; ++level) {
        ForkState now;
        ASSERT_EQ(readForkState(fds[std::size_t(level)], "f", &now), noErr) << level;
        bool done;
        EXPECT_EQ(checkForkState(ForkOp::Flip, before[std::size_t(level)], now, &done), "")
            << level;
        EXPECT_TRUE(done) << level;
    }
    EXPECT_EQ(checkSidecars(s.in), "");
    for (int fd : fds) ::close(fd);
    int top = openDir(s.in);
    removeAt(top);  // the test kit's removal goes by path
    ::close(top);
}

TEST(HostileTrees, NamesOf255BytesAndNamesThatAreNotUtf8) {
    Scene s;
    const std::string longest(255, 'n');            // no room for "._" + name
    const std::string roomy(253, 'r');              // its sidecar name is 255 bytes
    const std::string latin1 = "caf\xe9 cr\xe8me";  // ISO 8859-1 bytes
    const std::string broken = "\xff\xfe\xc3(\x80 end";
    const std::vector<std::string> names = {longest, roomy, latin1, broken};
    int dirfd = openDir(s.in);
    for (std::size_t i = 0; i < names.size(); ++i)
        s.tree.write("in/" + names[i], pattern(1000 + i, unsigned(i)));
    const States before = statesOf(dirfd, names);

    // Display forms exist for every name.
    for (const std::string& n : names) {
        const FSRef ref = refOf(s.tree.path("in/" + n));
        HFSUniStr255 unicode;
        EXPECT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, &unicode, nullptr, nullptr), noErr);
        EXPECT_GT(unicode.length, 0);
    }

    RunResult r = runFolder(s.in, kFlipDeleteDataFork);
    ASSERT_EQ(r.results.size(), names.size());
    // Sorted bytewise after case folding: the broken name sorts last. The
    // 255-byte name cannot have a sidecar: refused with bdNamErr, untouched.
    EXPECT_EQ(expectFlipWhole(dirfd, before),
              (std::map<std::string, bool>{
                  {longest, false}, {roomy, true}, {latin1, true}, {broken, true}}));
    ForkState now;
    ASSERT_EQ(readForkState(dirfd, longest, &now), noErr);
    EXPECT_EQ(now.data, before.at(longest).data);
    std::multiset<OSErr> got(r.results.begin(), r.results.end());
    EXPECT_EQ(got, (std::multiset<OSErr>{bdNamErr, noErr, noErr, noErr}));

    // Deleting the resource forks works on every name, the longest included.
    r = runFolder(s.in, kDeleteResourceFork);
    for (OSErr e : r.results) EXPECT_EQ(e, noErr);
    for (const std::string& n : names) {
        ASSERT_EQ(readForkState(dirfd, n, &now), noErr);
        EXPECT_TRUE(now.rsrc.empty());
    }
    ::close(dirfd);
    EXPECT_EQ(checkSidecars(s.tree.root()), "");
}

// ---- Links ----

TEST(HostileTrees, SymbolicLinkLoopsAreNeitherFollowedNorChanged) {
    Scene s;
    s.tree.write("in/real", pattern(800, 1));
    const auto link = [&](const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), s.tree.path("in/" + name).c_str()), 0) << name;
    };
    link("b", "a");  // a -> b -> a
    link("a", "b");
    link("self", "self");                   // points at itself
    link("..", "up");                       // a folder loop through the parent
    link(s.in, "top");                      // the dropped folder itself, absolute
    link(s.outside, "out");                 // a folder outside
    link(s.outside + "/victim", "victim");  // a file outside
    link("._victim-side", "._victim");      // a "sidecar" that is a link
    s.tree.write("in/sub/real2", pattern(900, 2));
    ASSERT_EQ(::symlink("../..", s.tree.path("in/sub/loop").c_str()), 0);

    alarm(60);  // a walk that loops fails the test instead of hanging it
    for (functionType op : kOps) {
        RunResult r = runFolder(s.in, op);
        EXPECT_EQ(r.countErr, noErr);
        EXPECT_EQ(r.collectErr, noErr);
        EXPECT_FALSE(r.skipped);
        // Every link is met once as an object and refused; the two real
        // files are processed.
        EXPECT_EQ(r.results.size(), 11u) << op;
        EXPECT_EQ(std::count(r.results.begin(), r.results.end(), notAFileErr), 9) << op;
        EXPECT_EQ(std::count(r.results.begin(), r.results.end(), noErr), 2) << op;
    }
    alarm(0);
    char target[64] = {};
    ASSERT_GT(::readlink(s.tree.path("in/a").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "b");
}

// ---- A folder that changes under the walk ----

TEST(HostileTrees, FilesRenamedAndRemovedBetweenWalkStepsAreSkippedOrRefusedWithFnfErr) {
    Scene s;
    for (int i = 0; i < 30; ++i)
        s.tree.write("in/f" + std::to_string(100 + i), pattern(400, unsigned(i)));
    // Between the walk's steps: each object met renames the next name on and
    // removes the one after it, and a new file appears.
    static std::string folder;
    static int met;
    folder = s.in;
    met = 0;
    auto filter = [](Boolean, ItemCount, const FSCatalogInfo*, const FSRef*, const FSSpec*,
                     const HFSUniStr255*, void*) -> Boolean {
        const int i = 100 + 3 * met++;
        const std::string a = folder + "/f" + std::to_string(i + 1);
        ::rename(a.c_str(), (a + "-renamed").c_str());
        ::unlink((folder + "/f" + std::to_string(i + 2)).c_str());
        ::close(::open((folder + "/new" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
        return false;
    };
    const FSRef ref = refOf(s.in);
    EXPECT_EQ(FSIterateContainer(&ref, 0, kFSCatInfoNodeFlags, false, false, filter, nullptr),
              noErr);
    // Removed and renamed entries are not met; the walk met only what was there.
    EXPECT_EQ(met, 10);

    // Processing while another thread renames and removes files of the folder:
    // every file gives noErr or fnfErr, and every file left holds its bytes in
    // one fork or the other.
    std::map<std::string, Bytes> originals;
    for (int i = 0; i < 60; ++i) {
        const std::string n = "g" + std::to_string(100 + i);
        originals[n] = pattern(3000, unsigned(1000 + i));
        s.tree.write("in/churn/" + n, originals[n]);
    }
    std::atomic<bool> stop{false}, started{false};
    std::thread churn([&] {
        // The walks above met a changing folder; this one hits the processing.
        while (!started && !stop) std::this_thread::yield();
        std::mt19937 random(7);
        const std::string dir = s.in + "/churn/";
        while (!stop) {
            const std::string n = "g" + std::to_string(100 + random() % 60);
            if (random() % 3 == 0)
                ::unlink((dir + n).c_str());
            else
                ::rename((dir + n).c_str(), (dir + n + "-moved").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    alarm(120);
    RunResult r = runFolder(s.in + "/churn", kFlipDeleteDataFork, [&](std::size_t) {
        started = true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    });
    stop = true;
    churn.join();
    alarm(0);
    EXPECT_TRUE(r.countErr == noErr || r.countErr == fnfErr) << r.countErr;
    for (OSErr e : r.results) EXPECT_TRUE(e == noErr || e == fnfErr) << e;
    ASSERT_EQ(r.results.size(), 60u);
    EXPECT_GT(std::count(r.results.begin(), r.results.end(), noErr), 0);
    EXPECT_GT(std::count(r.results.begin(), r.results.end(), fnfErr), 0);
    EXPECT_EQ(checkSidecars(s.in), "");
    int dirfd = openDir(s.in + "/churn");
    DIR* d = ::fdopendir(::dup(dirfd));
    int checked = 0;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n[0] == '.') continue;
        const std::string original = n.substr(0, 4);
        ASSERT_TRUE(originals.count(original)) << n;
        ForkState before, now;
        before.data = originals[original];
        before.finderInfo.assign(32, 0);
        ASSERT_EQ(readForkState(dirfd, n, &now), noErr) << n;
        // The other thread renames files without their sidecars (as a plain
        // "mv" does): a file flipped before its move left its fork in the
        // orphan "._" of its old name.
        if (now.data.empty() && now.rsrc.empty()) now.rsrc = orphanFork(dirfd, original);
        bool done;
        EXPECT_EQ(checkForkState(ForkOp::Flip, before, now, &done), "") << n;
        ++checked;
    }
    ::closedir(d);
    ::close(dirfd);
    EXPECT_GT(checked, 0);
}
