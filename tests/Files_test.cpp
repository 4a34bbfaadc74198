#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/PathNodes.h"
#include "platform/SysIO.h"
#include "testkit/Nobody.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

FSRef refOf(const std::string& path, OSErr* result = nullptr) {
    FSRef ref{};
    OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
    if (result)
        *result = OSErr(err);
    else
        EXPECT_EQ(err, noErr) << path;
    return ref;
}

std::string pathOf(const FSRef& ref) {
    std::vector<UInt8> buf(65536);
    OSStatus err = FSRefMakePath(&ref, buf.data(), UInt32(buf.size()));
    return err == noErr ? std::string(reinterpret_cast<char*>(buf.data())) : std::string();
}

HFSUniStr255 dataName() {
    HFSUniStr255 n;
    FSGetDataForkName(&n);
    return n;
}

HFSUniStr255 rsrcName() {
    HFSUniStr255 n;
    FSGetResourceForkName(&n);
    return n;
}

OSErr openFork(const FSRef& ref, const HFSUniStr255& name, SInt8 perm, FSIORefNum* refNum) {
    return FSOpenFork(&ref, name.length, name.unicode, perm, refNum);
}

// Opens a fork and closes it again: the result of the open.
OSErr tryOpen(const FSRef& ref, const HFSUniStr255& name, SInt8 perm) {
    FSIORefNum refNum;
    OSErr err = openFork(ref, name, perm, &refNum);
    if (err == noErr) FSCloseFork(refNum);
    return err;
}

OSErr deleteRsrc(const FSRef& ref) {
    HFSUniStr255 rn = rsrcName();
    return FSDeleteFork(&ref, rn.length, rn.unicode);
}

OSErr getInfo(const FSRef& ref, FSCatalogInfoBitmap which, FSCatalogInfo* info) {
    return FSGetCatalogInfo(&ref, which, info, nullptr, nullptr, nullptr);
}

std::string nameText(const HFSUniStr255& n) {
    std::string s;
    for (int i = 0; i < n.length; ++i) s += n.unicode[i] < 0x80 ? char(n.unicode[i]) : '?';
    return s;
}

HFSUniStr255 uniName(const std::string& ascii) {
    HFSUniStr255 n{};
    n.length = UInt16(ascii.size());
    for (std::size_t i = 0; i < ascii.size(); ++i) n.unicode[i] = UniChar(ascii[i]);
    return n;
}

OSErr createFile(const FSRef& d, const std::string& name, FSCatalogInfoBitmap which = 0,
                 const FSCatalogInfo* info = nullptr, FSRef* made = nullptr) {
    HFSUniStr255 n = uniName(name);
    return FSCreateFileUnicode(&d, n.length, n.unicode, which, info, made, nullptr);
}

OSErr createFolder(const FSRef& d, const std::string& name, FSCatalogInfoBitmap which = 0,
                   const FSCatalogInfo* info = nullptr, FSRef* made = nullptr,
                   UInt32* dirID = nullptr) {
    HFSUniStr255 n = uniName(name);
    return FSCreateDirectoryUnicode(&d, n.length, n.unicode, which, info, made, nullptr, dirID);
}

OSErr renameTo(FSRef& ref, const std::string& name, FSRef* renamed = nullptr) {
    HFSUniStr255 n = uniName(name);
    return FSRenameUnicode(&ref, n.length, n.unicode, 0, renamed);
}

// Names a flat listing gives, in order.
std::vector<std::string> listNames(const std::string& folder) {
    std::vector<std::string> names;
    FSRef ref = refOf(folder);
    FSIterator it = nullptr;
    EXPECT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &it), noErr);
    for (;;) {
        ItemCount count = 0;
        FSCatalogInfo info;
        FSRef item;
        HFSUniStr255 name;
        OSErr err = FSGetCatalogInfoBulk(it, 1, &count, nullptr, kFSCatInfoNodeFlags, &info, &item,
                                         nullptr, &name);
        if (count == 1) names.push_back(nameText(name));
        if (err != noErr) {
            EXPECT_EQ(err, errFSNoMoreItems);
            break;
        }
    }
    FSCloseIterator(it);
    return names;
}

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes readFork(const FSRef& ref, const HFSUniStr255& name) {
    FSIORefNum refNum;
    EXPECT_EQ(openFork(ref, name, fsRdPerm, &refNum), noErr);
    SInt64 size = 0;
    EXPECT_EQ(FSGetForkSize(refNum, &size), noErr);
    Bytes out(static_cast<std::size_t>(size));
    ByteCount actual = 0;
    if (size > 0) {
        EXPECT_EQ(FSReadFork(refNum, fsFromStart, 0, ByteCount(size), out.data(), &actual), noErr);
    }
    FSCloseFork(refNum);
    return out;
}

// Removes a tree too deep for path-based removal, folder by folder.
void removeDeep(int dirfd, const char* name) {
    int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(dirfd, name, 0);
        return;
    }
    std::vector<std::string> entries;
    if (DIR* d = ::fdopendir(::dup(fd))) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                entries.emplace_back(e->d_name);
        ::closedir(d);
    }
    for (const auto& e : entries) removeDeep(fd, e.c_str());
    ::close(fd);
    ::unlinkat(dirfd, name, AT_REMOVEDIR);
}

}  // namespace

// ---------------------------------------------------------------- references

TEST(References, PathsRoundTripAndTellFoldersFromFiles) {
    TempTree t;
    t.write("dir/file.txt", "x");
    FSRef ref{};
    Boolean isDir = TRUE;
    ASSERT_EQ(
        FSPathMakeRef(reinterpret_cast<const UInt8*>(t.path("dir/file.txt").c_str()), &ref, &isDir),
        noErr);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(pathOf(ref), t.path("dir/file.txt"));
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(t.path("dir/").c_str()), &ref, &isDir),
              noErr);
    EXPECT_TRUE(isDir);
    EXPECT_EQ(pathOf(ref), t.path("dir"));
    // "." and ".." are resolved; the root is "/".
    EXPECT_EQ(pathOf(refOf(t.path("dir/./../dir/file.txt"))), t.path("dir/file.txt"));
    EXPECT_EQ(pathOf(refOf("/")), "/");
    EXPECT_EQ(pathOf(refOf("/..")), "/");

    // A relative path starts at the working folder.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(t.path("dir").c_str()), 0);
    FSRef relative = refOf("file.txt");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(FSCompareFSRefs(&relative, &ref), errFSRefsDifferent);
    EXPECT_EQ(pathOf(relative), t.path("dir/file.txt"));

    OSErr err;
    refOf(t.path("dir/missing"), &err);
    EXPECT_EQ(err, fnfErr);
    refOf(t.path("dir/file.txt/below"), &err);
    EXPECT_EQ(err, dirNFErr);
    refOf(t.path(std::string(256, 'n')), &err);
    EXPECT_EQ(err, bdNamErr);
    EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);

    UInt8 small[8];
    EXPECT_EQ(FSRefMakePath(&ref, small, sizeof small), pathTooLongErr);
}

TEST(References, LinksInsideAPathAreResolvedButTheLastOneIsNot) {
    TempTree t;
    t.write("real/file", "x");
    ASSERT_EQ(symlink(t.path("real").c_str(), t.path("alias").c_str()), 0);
    ASSERT_EQ(symlink("file", t.path("real/link").c_str()), 0);
    // Through the linked folder: the reference is to the real file.
    FSRef viaLink = refOf(t.path("alias/file"));
    FSRef direct = refOf(t.path("real/file"));
    EXPECT_EQ(FSCompareFSRefs(&viaLink, &direct), noErr);
    EXPECT_EQ(pathOf(viaLink), t.path("real/file"));
    // Naming a link gives the link itself.
    Boolean isDir = TRUE;
    FSRef link{};
    ASSERT_EQ(
        FSPathMakeRef(reinterpret_cast<const UInt8*>(t.path("real/link").c_str()), &link, &isDir),
        noErr);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(FSCompareFSRefs(&link, &direct), errFSRefsDifferent);
    EXPECT_EQ(pathOf(link), t.path("real/link"));
}

TEST(References, RemovedOrReplacedObjectsGiveFnfErr) {
    TempTree t;
    std::string p = t.write("f", "one");
    FSRef ref = refOf(p);
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(ref, kFSCatInfoNodeFlags, &info), noErr);
    ASSERT_EQ(unlink(p.c_str()), 0);
    EXPECT_EQ(getInfo(ref, kFSCatInfoNodeFlags, &info), fnfErr);
    EXPECT_EQ(tryOpen(ref, dataName(), fsRdWrPerm), fnfErr);
    EXPECT_EQ(FSDeleteFork(&ref, 0, nullptr), fnfErr);
    EXPECT_EQ(deleteRsrc(ref), fnfErr);

    // Replaced: a new file under the old name is another object. The old
    // inode is kept alive so the new file cannot reuse its number.
    int keep = open(t.write("g", "old").c_str(), O_RDONLY);
    FSRef g = refOf(t.path("g"));
    ASSERT_EQ(rename(t.write("g.new", "new").c_str(), t.path("g").c_str()), 0);
    EXPECT_EQ(tryOpen(g, dataName(), fsRdWrPerm), fnfErr);
    EXPECT_EQ(FSDeleteFork(&g, 0, nullptr), fnfErr);
    EXPECT_EQ(readText(t.path("g")), "new");
    close(keep);

    // A folder on the way replaced by a file.
    t.write("d/inner", "x");
    FSRef inner = refOf(t.path("d/inner"));
    ASSERT_EQ(rename(t.path("d").c_str(), t.path("d.old").c_str()), 0);
    t.write("d", "now a file");
    EXPECT_EQ(getInfo(inner, 0, nullptr), fnfErr);
    FSRef garbage{};
    EXPECT_EQ(getInfo(garbage, 0, nullptr), paramErr);
}

TEST(References, SpecsNameAFolderAndANameThatNeedNotExist) {
    TempTree t;
    t.write("dir/short", "x");
    std::string longName = std::string(70, 'L') + "\xC3\xA9" + std::string(20, 'z');
    t.write("dir/" + longName, "long");
    t.write("dir/" + std::string(70, 'L') + "other", "another long one");
    for (const std::string& name : {std::string("short"), longName}) {
        FSRef ref = refOf(t.path("dir/" + name));
        FSSpec spec;
        ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);
        EXPECT_LE(spec.name[0], 63);
        FSRef back;
        ASSERT_EQ(FSpMakeFSRef(&spec, &back), noErr) << name;
        EXPECT_EQ(FSCompareFSRefs(&ref, &back), noErr);
        EXPECT_EQ(pathOf(back), t.path("dir/" + name));
    }
    FSRef dir = refOf(t.path("dir"));
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(dir, kFSCatInfoNodeID, &info), noErr);
    FSSpec spec{};
    spec.parID = SInt32(info.nodeID);
    std::memcpy(spec.name, "\x07missing", 8);
    FSRef out;
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), fnfErr);
    // The folder itself (empty name) and the root (parent ID 1).
    spec.name[0] = 0;
    ASSERT_EQ(FSpMakeFSRef(&spec, &out), noErr);
    EXPECT_EQ(FSCompareFSRefs(&out, &dir), noErr);
    spec.parID = fsRtParID;
    ASSERT_EQ(FSpMakeFSRef(&spec, &out), noErr);
    EXPECT_EQ(pathOf(out), "/");
    // The folder gone: the FSSpec's folder does not exist.
    spec.parID = SInt32(info.nodeID);
    std::memcpy(spec.name, "\x05short", 6);
    removeDeep(AT_FDCWD, t.path("dir").c_str());
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), dirNFErr);
}

TEST(References, RenamingKeepsReferencesAndMovesTheSidecar) {
    TempTree t;
    t.write("d/a", "data");
    t.write("d/._a", sidecar(finderInfo("TEXT", "ttxt"), bytes("rsrc")));
    t.write("d/sub/inner", "x");
    FSRef a = refOf(t.path("d/a"));
    FSRef sub = refOf(t.path("d/sub"));
    FSRef inner = refOf(t.path("d/sub/inner"));
    FSRef renamed;
    ASSERT_EQ(renameTo(a, "b", &renamed), noErr);
    EXPECT_EQ(pathOf(a), t.path("d/b"));
    EXPECT_EQ(FSCompareFSRefs(&a, &renamed), noErr);
    EXPECT_FALSE(exists(t.path("d/._a")));
    EXPECT_EQ(readFork(a, rsrcName()), bytes("rsrc"));

    ASSERT_EQ(renameTo(sub, "moved"), noErr);
    EXPECT_EQ(pathOf(inner), t.path("d/moved/inner"));
    EXPECT_EQ(readFork(inner, dataName()), bytes("x"));

    // Never over an existing object; the object keeps its name.
    EXPECT_EQ(renameTo(a, "moved"), dupFNErr);
    EXPECT_EQ(readText(t.path("d/b")), "data");
    EXPECT_EQ(renameTo(a, "x/y"), bdNamErr);

    // A name looked up inside a folder.
    FSRef d = refOf(t.path("d")), found;
    HFSUniStr255 bname = uniName("b");
    ASSERT_EQ(FSMakeFSRefUnicode(&d, bname.length, bname.unicode, 0, &found), noErr);
    EXPECT_EQ(FSCompareFSRefs(&found, &a), noErr);
    HFSUniStr255 none = uniName("nothing");
    EXPECT_EQ(FSMakeFSRefUnicode(&d, none.length, none.unicode, 0, &found), fnfErr);
}

TEST(References, AMillionReferencesStaySmall) {
    using namespace pathnodes;
    std::size_t before = memoryUse();
    std::size_t nodesBefore = nodeCount();
    NodeID folder = child(kRootID, "million-test-folder");
    for (int i = 0; i < 1000000; ++i) child(folder, "file-" + std::to_string(i) + ".dat");
    ASSERT_EQ(nodeCount() - nodesBefore, 1000001u);
    // Making the same references again adds nothing.
    for (int i = 0; i < 1000; ++i) child(folder, "file-" + std::to_string(i) + ".dat");
    EXPECT_EQ(nodeCount() - nodesBefore, 1000001u);
    // About 16 bytes a node, an index slot or two and the name (~15 bytes):
    // well under 64 MB, where a full path per reference would take several times that.
    EXPECT_LT(memoryUse() - before, 64u * 1000000u);
    EXPECT_EQ(pathOf(find(folder, "file-999999.dat")), "/million-test-folder/file-999999.dat");
}

// ---------------------------------------------------------------- deep trees

class DeepTrees : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { pathnodes::setUseOpenat2(GetParam()); }
    void TearDown() override { pathnodes::setUseOpenat2(true); }
};
INSTANTIATE_TEST_SUITE_P(OpeningFolders, DeepTrees, ::testing::Values(true, false),
                         [](const auto& info) {
                             return info.param ? "InOneCall" : "ComponentByComponent";
                         });

TEST_P(DeepTrees, PathsLongerThanPathMaxWork) {
    TempTree t;
    std::string level(200, 'd');
    int fd = open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = t.root();
    for (int i = 0; i < 30; ++i) {  // about 6000 bytes
        ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
        int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        path += "/" + level;
    }
    int file = openat(fd, "deep.bin", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(write(file, "deep data", 9), 9);
    close(file);
    ASSERT_GT(path.size(), std::size_t(PATH_MAX));

    FSRef ref = refOf(path + "/deep.bin");
    EXPECT_EQ(pathOf(ref), path + "/deep.bin");
    EXPECT_EQ(readFork(ref, dataName()), bytes("deep data"));
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, rsrcName(), fsRdWrPerm, &refNum), noErr);
    ASSERT_EQ(FSWriteFork(refNum, fsFromStart, 0, 4, "rsrc", nullptr), noErr);
    FSCloseFork(refNum);
    EXPECT_EQ(readFork(ref, rsrcName()), bytes("rsrc"));
    EXPECT_EQ(listNames(path), (std::vector<std::string>{"deep.bin"}));
    FSCatalogInfo info;
    FSRef parent;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info, nullptr,
                               nullptr, &parent),
              noErr);
    EXPECT_EQ(+info.dataLogicalSize, 9u);
    EXPECT_EQ(+info.rsrcLogicalSize, 4u);
    EXPECT_EQ(pathOf(parent), path);
    close(fd);
    // A folder on the way replaced by a link: the reference is gone.
    std::string first = t.path(level);
    ASSERT_EQ(rename(first.c_str(), (first + ".old").c_str()), 0);
    ASSERT_EQ(symlink((first + ".old").c_str(), first.c_str()), 0);
    EXPECT_EQ(getInfo(ref, 0, nullptr), fnfErr);
    removeDeep(AT_FDCWD, (first + ".old").c_str());
}

// ---------------------------------------------------------------- listings

TEST(Listings, SortCaseInsensitivelyThenBytewise) {
    TempTree t;
    for (const char* n : {"b", "B", "a", "C", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "10", "1"})
        t.write(std::string("d/") + n, "x");
    std::vector<std::string> names = listNames(t.path("d"));
    EXPECT_EQ(names, (std::vector<std::string>{"1", "10", "a", "B", "b", "C", "?T?", "?t?"}));
}

TEST(Listings, HideSidecarsBesideTheirFilesAndNetatalkFolders) {
    TempTree t;
    t.write("d/name", "x");
    t.write("d/._name", sidecar(finderInfo("TEXT", "ttxt"), bytes("r")));
    t.write("d/._orphan", "x");
    t.mkdir("d/folder");
    t.write("d/._folder", sidecar(Bytes(32, 0), {}));
    t.write("d/.AppleDouble/name", "x");
    t.write("d/.AppleDouble.txt", "x");
    t.mkdir("d/._dir-without-file");
    EXPECT_EQ(listNames(t.path("d")),
              (std::vector<std::string>{"._dir-without-file", "._orphan", ".AppleDouble.txt",
                                        "folder", "name"}));
    FSRef d = refOf(t.path("d"));
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(d, kFSCatInfoValence, &info), noErr);
    EXPECT_EQ(+info.valence, 5u);
}

TEST(Listings, HandOutOneObjectPerCallWithItsRecords) {
    TempTree t;
    t.write("d/file", "12345");
    t.mkdir("d/sub");
    t.write("d/zz-gone", "x");
    ASSERT_EQ(symlink("/etc/passwd", t.path("d/link").c_str()), 0);
    // An old modification time, so that the removal below changes it.
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, t.path("d").c_str(), old, 0), 0);
    FSRef d = refOf(t.path("d"));
    FSIterator it;
    ASSERT_EQ(FSOpenIterator(&d, kFSIterateFlat, &it), noErr);
    ASSERT_EQ(unlink(t.path("d/zz-gone").c_str()), 0);  // vanishes after the folder was read

    std::vector<std::string> seen;  // name, "/" for a folder, path
    OSErr err = noErr;
    Boolean changed = FALSE;
    while (err == noErr) {
        ItemCount count = 9;
        FSCatalogInfo info;
        FSRef ref;
        FSSpec spec;
        HFSUniStr255 name;
        err = FSGetCatalogInfoBulk(it, 1, &count, &changed, kFSCatInfoNodeFlags, &info, &ref, &spec,
                                   &name);
        if (err == noErr) {
            ASSERT_EQ(count, 1u);
            seen.push_back(nameText(name) + (info.nodeFlags & kFSNodeIsDirectoryMask ? "/ " : " ") +
                           pathOf(ref));
            FSRef fromSpec;
            ASSERT_EQ(FSpMakeFSRef(&spec, &fromSpec), noErr);
            EXPECT_EQ(FSCompareFSRefs(&ref, &fromSpec), noErr);
        } else {
            EXPECT_EQ(count, 0u);
        }
    }
    EXPECT_EQ(err, errFSNoMoreItems);
    EXPECT_TRUE(changed);  // a name was removed since the listing began
    EXPECT_EQ(seen,
              (std::vector<std::string>{"file " + t.path("d/file"), "link " + t.path("d/link"),
                                        "sub/ " + t.path("d/sub")}));
    ItemCount count;
    EXPECT_EQ(FSGetCatalogInfoBulk(it, 1, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              errFSNoMoreItems);
    EXPECT_EQ(FSCloseIterator(it), noErr);

    FSRef file = refOf(t.path("d/file"));
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &it), errFSNotAFolder);
    EXPECT_EQ(FSOpenIterator(&d, kFSIterateSubtree, &it), errFSBadIteratorFlags);
}

// ---------------------------------------------------------------- catalog

TEST(Catalog, RecordsTellFlagsNamesSizesFinderInfoAndDates) {
    TempTree t;
    std::string p = t.write("d/Doc", "0123456789");
    t.write("d/._Doc", sidecar(finderInfo("TEXT", "ttxt"), bytes("resource!")));
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    ASSERT_EQ(chmod(p.c_str(), 0640), 0);

    FSRef ref = refOf(p);
    FSCatalogInfo info{};
    HFSUniStr255 name;
    FSSpec spec;
    FSRef parent;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, &name, &spec, &parent), noErr);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
    EXPECT_EQ(nameText(name), "Doc");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), spec.name[0]), "Doc");
    EXPECT_EQ(pathOf(parent), t.path("d"));
    EXPECT_EQ(+info.dataLogicalSize, 10u);
    EXPECT_EQ(+info.rsrcLogicalSize, 9u);
    EXPECT_EQ(std::memcmp(info.finderInfo, "TEXTttxt", 8), 0);
    // Content modification is mtime, counted from 1904 with a 16-bit fraction.
    auto seconds = [](const UTCDateTime& d) {
        return (UInt64(d.highSeconds) << 32) | d.lowSeconds;
    };
    EXPECT_EQ(seconds(info.contentModDate), 1234567890u + 2082844800u);
    EXPECT_EQ(+info.contentModDate.fraction, 0x8000);
    EXPECT_EQ(seconds(info.accessDate), 1000000000u + 2082844800u);
    EXPECT_GT(seconds(info.createDate), 2082844800u);  // birth time or mtime, never empty
    FSCatalogInfo parentInfo;
    ASSERT_EQ(getInfo(parent, kFSCatInfoNodeID, &parentInfo), noErr);
    EXPECT_EQ(+info.parentDirID, +parentInfo.nodeID);
    EXPECT_EQ(UInt32(spec.parID), +parentInfo.nodeID);
    FSPermissionInfo perm;
    std::memcpy(&perm, info.permissions, sizeof perm);
    EXPECT_EQ(perm.mode & 0777, 0640);
    EXPECT_EQ(perm.mode & S_IFMT, S_IFREG);

    FSRef d = refOf(t.path("d")), root = refOf("/");
    ASSERT_EQ(getInfo(d, kFSCatInfoNodeFlags | kFSCatInfoDataSizes, &info), noErr);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
    EXPECT_EQ(+info.dataLogicalSize, 0u);
    ASSERT_EQ(FSGetCatalogInfo(&root, kFSCatInfoNodeFlags | kFSCatInfoParentDirID, &info, nullptr,
                               nullptr, &parent),
              noErr);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
    EXPECT_EQ(+info.parentDirID, UInt32(fsRtParID));
}

TEST(Catalog, AMalformedSidecarFailsWhatNeedsItAndStaysAsItWas) {
    TempTree t;
    t.write("f", "data");
    Bytes bad = sidecar(finderInfo("TEXT", "ttxt"), bytes("r"));
    bad[0] = 0xFF;  // wrong magic
    t.write("._f", bad);
    std::string before = snapshot(t.root());
    FSRef ref = refOf(t.path("f"));
    FSCatalogInfo info;
    EXPECT_EQ(getInfo(ref, kFSCatInfoFinderInfo, &info), ioErr);
    EXPECT_EQ(getInfo(ref, kFSCatInfoRsrcSizes, &info), ioErr);
    // The data fork stays reachable.
    ASSERT_EQ(getInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoDataSizes, &info), noErr);
    EXPECT_EQ(+info.dataLogicalSize, 4u);
    EXPECT_EQ(readFork(ref, dataName()), bytes("data"));
    EXPECT_EQ(tryOpen(ref, rsrcName(), fsRdWrPerm), ioErr);
    EXPECT_EQ(FSCreateFork(&ref, rsrcName().length, rsrcName().unicode), ioErr);
    EXPECT_EQ(deleteRsrc(ref), ioErr);
    EXPECT_EQ(snapshot(t.root()), before);
}

TEST(Catalog, SettingFinderInfoDatesAndModeWritesWhereTheyLive) {
    TempTree t;
    std::string p = t.write("f", "data");
    FSRef ref = refOf(p);
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "APPLTvLy", 8);
    info.createDate = {0, 2900000000u, 0};
    FSPermissionInfo perm{};
    perm.mode = 0600;
    std::memcpy(info.permissions, &perm, sizeof perm);
    // Content and access dates: FilesExtra's tests, to the fraction.
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoPermissions, &info), noErr);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Bytes side = readBytes(t.path("._f"));  // Finder info goes into a sidecar
    ASSERT_FALSE(side.empty());
    FSCatalogInfo back{};
    ASSERT_EQ(getInfo(ref, kFSCatInfoFinderInfo, &back), noErr);
    EXPECT_EQ(std::memcmp(back.finderInfo, "APPLTvLy", 8), 0);
    EXPECT_EQ(readText(p), "data");

    // The creation date lives in a sidecar's dates entry (seconds from 2000).
    std::string g = t.write("g", "data");
    Bytes dates = {0x10, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0x80, 0, 0, 0};
    t.write("._g", makeSidecar({{8, 62, 16, dates},
                                {9, 78, 32, finderInfo("TEXT", "ttxt")},
                                {2, 110, 4, bytesOf("rsrc")}}));
    FSRef gref = refOf(g);
    ASSERT_EQ(getInfo(gref, kFSCatInfoCreateDate, &back), noErr);
    EXPECT_EQ(+back.createDate.lowSeconds, 0x10000000u + 3029529600u);  // 2000 in Mac time
    ASSERT_EQ(FSSetCatalogInfo(&gref, kFSCatInfoCreateDate, &info), noErr);
    ASSERT_EQ(getInfo(gref, kFSCatInfoCreateDate, &back), noErr);
    EXPECT_EQ(+back.createDate.lowSeconds, 2900000000u);
    EXPECT_EQ(resourceForkOf(readBytes(t.path("._g"))), bytesOf("rsrc"));

    // Links get no sidecar.
    ASSERT_EQ(symlink("f", t.path("link").c_str()), 0);
    FSRef link = refOf(t.path("link"));
    EXPECT_EQ(FSSetCatalogInfo(&link, kFSCatInfoFinderInfo, &info), notAFileErr);
    EXPECT_FALSE(exists(t.path("._link")));
}

TEST(Catalog, FilesAndFoldersAreCreatedOnceInAFolder) {
    TempTree t;
    t.mkdir("d");
    FSRef d = refOf(t.path("d")), file, folder;
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    ASSERT_EQ(createFile(d, "new file", kFSCatInfoFinderInfo, &info, &file), noErr);
    EXPECT_EQ(readText(t.path("d/new file")), "");
    EXPECT_EQ(pathOf(file), t.path("d/new file"));
    FSCatalogInfo back{};
    ASSERT_EQ(getInfo(file, kFSCatInfoFinderInfo, &back), noErr);
    EXPECT_EQ(std::memcmp(back.finderInfo, "TEXTttxt", 8), 0);
    UInt32 dirID = 0;
    ASSERT_EQ(createFolder(d, "new folder", 0, nullptr, &folder, &dirID), noErr);
    ASSERT_EQ(getInfo(folder, kFSCatInfoNodeFlags | kFSCatInfoNodeID, &back), noErr);
    EXPECT_EQ(back.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
    EXPECT_EQ(+back.nodeID, dirID);
    t.write("d/taken", "keep");
    EXPECT_EQ(createFile(d, "taken"), dupFNErr);
    EXPECT_EQ(createFolder(d, "taken"), dupFNErr);
    EXPECT_EQ(readText(t.path("d/taken")), "keep");
    EXPECT_EQ(createFile(file, "taken"), dirNFErr);
}

namespace {
// A file system without user attributes.
int noUserAttributes(sysio::Call call) {
    return call == sysio::Call::GetXattr || call == sysio::Call::SetXattr ||
                   call == sysio::Call::RemoveXattr
               ? EOPNOTSUPP
               : 0;
}
}  // namespace

TEST(Catalog, ACreationDateOnAPlainFileIsKeptOrReportedAsNotKept) {
    TempTree t;
    const std::string p = t.write("f", "data");
    FSRef ref = refOf(p);
    FSCatalogInfo info{};
    info.createDate = {0, 2900000000u, 0};
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoCreateDate, &info), noErr);
    FSCatalogInfo back{};
    ASSERT_EQ(getInfo(ref, kFSCatInfoCreateDate, &back), noErr);
    EXPECT_EQ(+back.createDate.lowSeconds, 2900000000u);
    // In netatalk's metadata attribute, not in a new sidecar.
    EXPECT_EQ(::getxattr(p.c_str(), "user.org.netatalk.Metadata", nullptr, 0), 402);
    EXPECT_FALSE(exists(t.path("._f")));

    const std::string g = t.write("g", "data");
    FSRef gref = refOf(g);
    const std::string before = snapshot(t.root());
    sysio::setFaultHook(noUserAttributes);
    EXPECT_EQ(FSSetCatalogInfo(&gref, kFSCatInfoCreateDate, &info), wrgVolTypErr);
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(snapshot(t.root()), before);
}

TEST(Catalog, CreationTakesBackWhatItMadeWhenTheCatalogFieldsFail) {
    TempTree t;
    t.mkdir("d");
    t.write("d/._orphan", "an ordinary file");
    FSRef d = refOf(t.path("d"));
    const std::string before = snapshot(t.root());
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    info.createDate = {0, 2900000000u, 0};
    const FSCatalogInfoBitmap which = kFSCatInfoFinderInfo | kFSCatInfoCreateDate;
    for (const char* name : {"new", "orphan"}) {
        SCOPED_TRACE(name);
        FSRef made;
        // No user attributes: the Finder info went into a sidecar, the date fails.
        sysio::setFaultHook(noUserAttributes);
        EXPECT_EQ(createFile(d, name, which, &info, &made),
                  std::strcmp(name, "new") == 0 ? wrgVolTypErr : ioErr);
        EXPECT_EQ(createFolder(d, name, which, &info, &made),
                  std::strcmp(name, "new") == 0 ? wrgVolTypErr : ioErr);
        sysio::setFaultHook(nullptr);
        EXPECT_EQ(snapshot(t.root()), before);
    }
    // A date the dates entry cannot hold (1904).
    info.createDate = {0, 0, 0};
    EXPECT_EQ(createFile(d, "new", which, &info), paramErr);
    EXPECT_EQ(snapshot(t.root()), before);
}

TEST(Catalog, ASidecarsNameBesideItsFileIsRefused) {
    TempTree t;
    t.mkdir("d");
    t.write("d/x", "data");
    t.write("d/._y", "an orphan");
    FSRef d = refOf(t.path("d"));
    const std::string before = snapshot(t.root());
    EXPECT_EQ(createFile(d, "._x"), bdNamErr);
    EXPECT_EQ(createFolder(d, "._x"), bdNamErr);
    EXPECT_EQ(snapshot(t.root()), before);
    // Without "z" beside it "._z" is an ordinary name; "y" beside an orphan
    // "._y" is created and the orphan kept.
    for (const char* name : {"._z", "y"}) {
        EXPECT_EQ(createFile(d, name), noErr) << name;
    }
    EXPECT_TRUE(exists(t.path("d/._z")));
    EXPECT_EQ(readText(t.path("d/y")), "");
    EXPECT_EQ(readText(t.path("d/._y")), "an orphan");
}

// ---------------------------------------------------------------- forks

TEST(Forks, NamesAreEmptyForDataAndResourceForkForResources) {
    EXPECT_EQ(dataName().length, 0);
    EXPECT_EQ(nameText(rsrcName()), "RESOURCE_FORK");
    TempTree t;
    FSRef ref = refOf(t.write("f", "x"));
    EXPECT_EQ(tryOpen(ref, uniName("com.example.other"), fsRdPerm), errFSForkNotFound);
}

TEST(Forks, ReadWriteSizeAndPositionOnBothForks) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "abcdef"));
    for (const HFSUniStr255& fork : {dataName(), rsrcName()}) {
        SCOPED_TRACE(fork.length ? "resource" : "data");
        FSIORefNum refNum;
        ASSERT_EQ(openFork(ref, fork, fsRdWrPerm, &refNum), noErr);
        if (fork.length) {
            ASSERT_EQ(FSWriteFork(refNum, fsFromStart, 0, 6, "abcdef", nullptr), noErr);
        }
        SInt64 size = -1, pos = -1;
        ASSERT_EQ(FSGetForkSize(refNum, &size), noErr);
        EXPECT_EQ(size, 6);
        // Writing over the start keeps the bytes beyond the count.
        ByteCount actual = 0;
        ASSERT_EQ(FSWriteFork(refNum, fsFromStart, 0, 2, "XY", &actual), noErr);
        EXPECT_EQ(actual, 2u);
        char buf[16] = {};
        ASSERT_EQ(FSReadFork(refNum, fsFromStart, 0, 6, buf, &actual), noErr);
        EXPECT_EQ(std::string(buf, actual), "XYcdef");
        // Reading past the end: eofErr with the bytes that were there.
        ASSERT_EQ(FSReadFork(refNum, fsFromStart, 4, 10, buf, &actual), eofErr);
        EXPECT_EQ(std::string(buf, actual), "ef");
        ASSERT_EQ(FSGetForkPosition(refNum, &pos), noErr);
        EXPECT_EQ(pos, 6);
        // Classic writes go at the mark and advance it; writing past the end grows.
        ASSERT_EQ(FSSetForkPosition(refNum, fsFromLEOF, -1), noErr);
        SInt32 count = 3;
        ASSERT_EQ(FSWrite(refNum, &count, "123"), noErr);
        EXPECT_EQ(count, 3);
        ASSERT_EQ(FSGetForkPosition(refNum, &pos), noErr);
        EXPECT_EQ(pos, 8);
        ASSERT_EQ(FSGetForkSize(refNum, &size), noErr);
        EXPECT_EQ(size, 8);
        ASSERT_EQ(FSReadFork(refNum, fsAtMark | 0x20, 0, 1, buf, &actual), eofErr);
        EXPECT_EQ(actual, 0u);
        ASSERT_EQ(FSSetForkPosition(refNum, fsFromMark, -3), noErr);
        ASSERT_EQ(FSReadFork(refNum, fsAtMark, 0, 3, buf, &actual), noErr);
        EXPECT_EQ(std::string(buf, 3), "123");
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromStart, -1), posErr);
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromStart, 100), eofErr);
        EXPECT_EQ(FSReadFork(refNum, fsFromStart, INT64_MAX - 1, 10, buf, &actual), posErr);
        EXPECT_EQ(FSWriteFork(refNum, fsFromStart, INT64_MAX - 1, 10, buf, &actual), posErr);
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromMark, INT64_MAX), posErr);
        // The open fork is busy: it cannot be deleted meanwhile.
        EXPECT_EQ(FSDeleteFork(&ref, fork.length, fork.unicode), fBsyErr);
        EXPECT_EQ(FSCloseFork(refNum), noErr);
        EXPECT_EQ(FSCloseFork(refNum), rfNumErr);
        EXPECT_EQ(FSReadFork(refNum, fsFromStart, 0, 1, buf, &actual), rfNumErr);
    }
    EXPECT_EQ(readText(t.path("f")), "XYcde123");
    EXPECT_EQ(resourceForkOf(readBytes(t.path("._f"))), bytes("XYcde123"));

    // Read-only forks refuse writes.
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, dataName(), fsRdPerm, &refNum), noErr);
    EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 1, "z", nullptr), wrPermErr);
    FSCloseFork(refNum);
    EXPECT_EQ(readText(t.path("f")), "XYcde123");
}

TEST(Forks, CreatingAResourceForkWritesNothingAndDeletingEmptiesIt) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "data"));
    HFSUniStr255 rn = rsrcName();
    EXPECT_EQ(FSCreateFork(&ref, rn.length, rn.unicode), noErr);
    EXPECT_FALSE(exists(t.path("._f")));
    EXPECT_EQ(readFork(ref, rsrcName()), Bytes{});

    t.write("._f", sidecar(finderInfo("TEXT", "ttxt"), bytes("old fork")));
    EXPECT_EQ(deleteRsrc(ref), noErr);
    EXPECT_EQ(readFork(ref, rsrcName()), Bytes{});
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(ref, kFSCatInfoFinderInfo, &info), noErr);
    EXPECT_EQ(std::memcmp(info.finderInfo, "TEXTttxt", 8), 0);  // Finder info stays
    EXPECT_EQ(FSDeleteFork(&ref, 0, nullptr), noErr);
    EXPECT_EQ(readText(t.path("f")), "");
}

// ---------------------------------------------------------------- safety

TEST(Safety, LinksAreNeverFollowed) {
    TempTree outside, t;
    std::string target = outside.write("victim", "precious");
    outside.write("._victim", sidecar(finderInfo("TEXT", "ttxt"), bytes("its fork")));
    ASSERT_EQ(symlink(target.c_str(), t.path("link").c_str()), 0);
    std::string before = snapshot(outside.root());
    FSRef link = refOf(t.path("link"));
    HFSUniStr255 rn = rsrcName();
    EXPECT_EQ(tryOpen(link, dataName(), fsRdWrPerm), notAFileErr);
    EXPECT_EQ(tryOpen(link, rsrcName(), fsRdWrPerm), notAFileErr);
    EXPECT_EQ(tryOpen(link, dataName(), fsRdPerm), notAFileErr);
    EXPECT_EQ(FSCreateFork(&link, rn.length, rn.unicode), notAFileErr);
    EXPECT_EQ(FSDeleteFork(&link, 0, nullptr), notAFileErr);
    EXPECT_EQ(deleteRsrc(link), notAFileErr);
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(link, kFSCatInfoGettableInfo, &info), noErr);
    EXPECT_EQ(+info.dataLogicalSize, 0u);
    EXPECT_EQ(+info.rsrcLogicalSize, 0u);
    EXPECT_EQ(snapshot(outside.root()), before);
    EXPECT_FALSE(exists(t.path("._link")));
}

TEST(Safety, FifosSocketsAndDevicesAreRefusedWithoutBlocking) {
    TempTree t;
    ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0666), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", t.path("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    bool haveDevice = mknod(t.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    t.write("file", "data");
    ASSERT_EQ(mkfifo(t.path("._file").c_str(), 0666), 0);  // a sidecar that is a FIFO

    alarm(20);  // a blocked open ends the test instead of hanging it
    for (const char* name : {"fifo", "sock", "null"}) {
        if (std::string(name) == "null" && !haveDevice) continue;
        SCOPED_TRACE(name);
        FSRef ref = refOf(t.path(name));
        EXPECT_EQ(tryOpen(ref, dataName(), fsRdWrPerm), notAFileErr);
        EXPECT_EQ(tryOpen(ref, dataName(), fsRdPerm), notAFileErr);
        EXPECT_EQ(tryOpen(ref, rsrcName(), fsRdWrPerm), notAFileErr);
        EXPECT_EQ(FSDeleteFork(&ref, 0, nullptr), notAFileErr);
        EXPECT_EQ(deleteRsrc(ref), notAFileErr);
        FSCatalogInfo info;
        EXPECT_EQ(getInfo(ref, kFSCatInfoGettableInfo, &info), noErr);
    }
    FSRef file = refOf(t.path("file"));
    EXPECT_EQ(tryOpen(file, rsrcName(), fsRdWrPerm), notAFileErr);
    EXPECT_EQ(readFork(file, dataName()), bytes("data"));
    alarm(0);
    close(sock);
}

TEST(Safety, AFileReplacedWhileItsResourceForkIsOpenIsNotWritten) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "one"));
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, rsrcName(), fsRdWrPerm, &refNum), noErr);
    int keep = open(t.path("f").c_str(), O_RDONLY);
    ASSERT_EQ(rename(t.write("other", "two").c_str(), t.path("f").c_str()), 0);
    EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 4, "rsrc", nullptr), fnfErr);
    EXPECT_FALSE(exists(t.path("._f")));
    FSCloseFork(refNum);
    close(keep);
}

TEST(Safety, AReadOnlyFileGivesAccessDeniedAndStaysAsItWas) {
    TempTree t;
    ASSERT_EQ(chmod(t.root().c_str(), 0755), 0);
    t.write("ro/owned-by-root", "data");
    t.write("ro/._owned-by-root", sidecar(finderInfo("TEXT", "ttxt"), bytes("fork")));
    // A folder nobody may write in, and a read-only file of nobody's own.
    t.write("rw/mine", "data");
    ASSERT_EQ(chown(t.path("rw").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(t.path("rw/mine").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(t.path("rw/mine").c_str(), 0444), 0);
    ASSERT_EQ(chmod(t.path("ro").c_str(), 0755), 0);
    std::string before = snapshot(t.root());
    for (const char* rel : {"ro/owned-by-root", "rw/mine"}) {
        SCOPED_TRACE(rel);
        std::string p = t.path(rel);
        // Every way of writing is refused; reading is allowed.
        auto opening = [](HFSUniStr255 fork, SInt8 perm) {
            return [fork, perm](const FSRef& r) { return tryOpen(r, fork, perm); };
        };
        const std::pair<std::function<OSErr(const FSRef&)>, OSErr> ops[] = {
            {opening(dataName(), fsRdWrPerm), afpAccessDenied},
            {opening(rsrcName(), fsRdWrPerm), afpAccessDenied},
            {[](const FSRef& r) { return FSDeleteFork(&r, 0, nullptr); }, afpAccessDenied},
            {deleteRsrc, afpAccessDenied},
            {opening(dataName(), fsRdPerm), noErr},
        };
        for (const auto& [op, expected] : ops)
            EXPECT_EQ(runAsNobody([&] { return int(op(refOf(p))); }), expected);
    }
    EXPECT_EQ(snapshot(t.root()), before);
}

// ---------------------------------------------------------------- result codes

namespace {
int gInjectedErrno = 0;
sysio::Call gInjectedCall = sysio::Call::Open;
int injectOne(sysio::Call call) {
    return call == gInjectedCall ? gInjectedErrno : 0;
}
}  // namespace

TEST(ResultCodes, SystemFailuresMapToTheirCodes) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "data"));
    struct Row {
        sysio::Call call;
        int err;
        OSErr expected;
    };
    // One row for each kind of call; the whole errno table is FileErrors' own.
    const Row rows[] = {
        {sysio::Call::Write, ENOSPC, dskFulErr}, {sysio::Call::Open, EROFS, wPrErr},
        {sysio::Call::Open, EMFILE, tmfoErr},    {sysio::Call::Open, EACCES, afpAccessDenied},
        {sysio::Call::Read, EIO, ioErr},         {sysio::Call::Truncate, EBUSY, fBsyErr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(int(row.call)) + " " + std::to_string(row.err));
        gInjectedCall = row.call;
        gInjectedErrno = row.err;
        FSIORefNum refNum = 0;
        const bool onOpenFork = row.call == sysio::Call::Write || row.call == sysio::Call::Read;
        if (onOpenFork) {
            ASSERT_EQ(openFork(ref, dataName(), fsRdWrPerm, &refNum), noErr);
        }
        sysio::setFaultHook(injectOne);
        char buf[4];
        OSErr got = row.call == sysio::Call::Truncate ? FSDeleteFork(&ref, 0, nullptr)
                    : row.call == sysio::Call::Open   ? tryOpen(ref, dataName(), fsRdWrPerm)
                    : row.call == sysio::Call::Write
                        ? FSWriteFork(refNum, fsFromStart, 0, 4, "DATA", nullptr)
                        : FSReadFork(refNum, fsFromStart, 0, 4, buf, nullptr);
        sysio::setFaultHook(nullptr);
        if (onOpenFork) FSCloseFork(refNum);
        EXPECT_EQ(got, row.expected);
        EXPECT_EQ(readText(t.path("f")), "data");
    }
    // Conditions met without injection (fnfErr and dirNFErr: see References).
    FSRef dir = refOf(t.root());
    EXPECT_EQ(tryOpen(dir, dataName(), fsRdPerm), notAFileErr);
    EXPECT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, nullptr), paramErr);
    EXPECT_EQ(FSGetDataForkName(nullptr), paramErr);
    EXPECT_EQ(FSGetCatalogInfo(nullptr, 0, nullptr, nullptr, nullptr, nullptr), paramErr);
}
