#include "platform/files/Files.h"

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
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"
#include "testkit/Faults.h"
#include "testkit/Refs.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;
using Names = std::vector<std::string>;

namespace {

HFSUniStr255 uni(const std::string& ascii) {
    HFSUniStr255 n{};
    n.length = UInt16(ascii.size());
    for (std::size_t i = 0; i < ascii.size(); ++i) n.unicode[i] = UniChar(ascii[i]);
    return n;
}

// The fork names FSGetDataForkName and FSGetResourceForkName give.
const HFSUniStr255 kData{}, kRsrc = uni("RESOURCE_FORK");

OSErr openFork(const FSRef& ref, const HFSUniStr255& fork, SInt8 perm, FSIORefNum* refNum) {
    return FSOpenFork(&ref, fork.length, fork.unicode, perm, refNum);
}

// The result of opening a fork (closed again at once).
OSErr tryOpen(const FSRef& ref, const HFSUniStr255& fork, SInt8 perm) {
    FSIORefNum refNum;
    OSErr err = openFork(ref, fork, perm, &refNum);
    if (err == noErr) FSCloseFork(refNum);
    return err;
}

OSErr deleteFork(const FSRef& ref, const HFSUniStr255& fork) {
    return FSDeleteFork(&ref, fork.length, fork.unicode);
}

OSErr getInfo(const FSRef& ref, FSCatalogInfoBitmap which, FSCatalogInfo* info) {
    return FSGetCatalogInfo(&ref, which, info, nullptr, nullptr, nullptr);
}

// Creates the file `name`, or the folder when `folder`, in the folder `d`.
OSErr create(const FSRef& d, const std::string& name, bool folder = false,
             FSCatalogInfoBitmap which = 0, const FSCatalogInfo* info = nullptr,
             FSRef* made = nullptr) {
    HFSUniStr255 n = uni(name);
    return folder ? FSCreateDirectoryUnicode(&d, n.length, n.unicode, which, info, made, nullptr,
                                             nullptr)
                  : FSCreateFileUnicode(&d, n.length, n.unicode, which, info, made, nullptr);
}

OSErr renameTo(FSRef& ref, const std::string& name) {
    HFSUniStr255 n = uni(name);
    return FSRenameUnicode(&ref, n.length, n.unicode, 0, nullptr);
}

// The whole fork, read past its end (which gives eofErr and every byte).
Bytes readFork(const FSRef& ref, const HFSUniStr255& fork) {
    FSIORefNum refNum;
    EXPECT_EQ(openFork(ref, fork, fsRdPerm, &refNum), noErr);
    Bytes out(65536);
    ByteCount actual = 0;
    EXPECT_EQ(FSReadFork(refNum, fsFromStart, 0, out.size(), out.data(), &actual), eofErr);
    FSCloseFork(refNum);
    out.resize(actual);
    return out;
}

Bytes sidecarWithFork(const std::string& fork) {
    return sidecar(finderInfo("TEXT", "ttxt"), bytesOf(fork));
}

}  // namespace

// ---------------------------------------------------------------- references

TEST(References, PathsRoundTripResolveAndGiveTheirCodes) {
    TempTree t;
    t.write("dir/file.txt", "x");
    Boolean isDir = TRUE;
    FSRef ref = refOf(t.path("dir/./../dir/file.txt"), nullptr, &isDir);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(pathOf(ref), t.path("dir/file.txt"));
    EXPECT_EQ(pathOf(refOf(t.path("dir/"), nullptr, &isDir)), t.path("dir"));
    EXPECT_TRUE(isDir);
    const std::pair<std::string, OSErr> bad[] = {{t.path("dir/missing"), fnfErr},
                                                 {t.path("dir/file.txt/below"), dirNFErr},
                                                 {t.path(std::string(256, 'n')), bdNamErr}};
    for (const auto& [path, code] : bad) {
        OSErr err;
        refOf(path, &err);
        EXPECT_EQ(err, code) << path;
    }
    EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);
    UInt8 small[8];
    EXPECT_EQ(FSRefMakePath(&ref, small, sizeof small), pathTooLongErr);
}

TEST(References, RemovedOrReplacedObjectsGiveFnfErr) {
    TempTree t;
    std::string p = t.write("f", "one");
    FSRef ref = refOf(p);
    ASSERT_EQ(getInfo(ref, 0, nullptr), noErr);
    ASSERT_EQ(unlink(p.c_str()), 0);
    EXPECT_EQ(getInfo(ref, 0, nullptr), fnfErr);
    EXPECT_EQ(tryOpen(ref, kData, fsRdWrPerm), fnfErr);
    EXPECT_EQ(deleteFork(ref, kData), fnfErr);
    EXPECT_EQ(deleteFork(ref, kRsrc), fnfErr);
    // A new object under the old name: KeptFolder's tests. A folder on the
    // way replaced by a file:
    FSRef inner = refOf(t.write("d/inner", "x"));
    ASSERT_EQ(rename(t.path("d").c_str(), t.path("d.old").c_str()), 0);
    t.write("d", "now a file");
    EXPECT_EQ(getInfo(inner, 0, nullptr), fnfErr);
    FSRef garbage{};
    EXPECT_EQ(getInfo(garbage, 0, nullptr), paramErr);
}

TEST(References, SpecsNameAFolderAndANameThatNeedNotExist) {
    // Names over 63 bytes are shortened in an FSSpec, yet still lead back to
    // their own file when another long name shares the first 70 bytes.
    TempTree t;
    std::string longName = std::string(70, 'L') + "\xC3\xA9" + std::string(20, 'z');
    t.write("dir/" + longName, "long");
    t.write("dir/" + std::string(70, 'L') + "other", "another long one");
    FSSpec spec;
    FSRef ref = refOf(t.path("dir/" + longName)), out;
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);
    EXPECT_LE(spec.name[0], 63);
    ASSERT_EQ(FSpMakeFSRef(&spec, &out), noErr);
    EXPECT_EQ(pathOf(out), t.path("dir/" + longName));
    // The root: parent ID 1 and no name.
    FSSpec root = spec;
    root.parID = fsRtParID;
    root.name[0] = 0;
    ASSERT_EQ(FSpMakeFSRef(&root, &out), noErr);
    EXPECT_EQ(pathOf(out), "/");
    std::memcpy(spec.name, "\x07missing", 8);
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), fnfErr);
    std::filesystem::remove_all(t.path("dir"));
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), dirNFErr);
}

TEST(References, RenamingNeverGoesOverAnObjectNorTakesABadName) {
    // CFile's tests rename a file with its sidecar, KeptFolder's a folder
    // whose files keep their references; here the refusals.
    TempTree t;
    t.mkdir("d/moved");
    FSRef a = refOf(t.write("d/a", "data"));
    // Never over an existing object; the object keeps its name.
    EXPECT_EQ(renameTo(a, "moved"), dupFNErr);
    EXPECT_EQ(renameTo(a, "x/y"), bdNamErr);
    EXPECT_EQ(readText(t.path("d/a")), "data");
}

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
    std::string level(200, 'd'), path = t.root();
    int fd = open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 30; ++i, path += "/" + level) {  // about 6000 bytes
        ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
        int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    int file = openat(fd, "deep.bin", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(write(file, "deep data", 9), 9);
    close(file);
    close(fd);
    ASSERT_GT(path.size(), std::size_t(PATH_MAX));

    FSRef ref = refOf(path + "/deep.bin");
    EXPECT_EQ(pathOf(ref), path + "/deep.bin");
    EXPECT_EQ(readFork(ref, kData), bytesOf("deep data"));
    EXPECT_EQ(listNames(path), Names{"deep.bin"});
    // A folder on the way replaced by a link: the reference is gone.
    std::string first = t.path(level);
    ASSERT_EQ(rename(first.c_str(), (first + ".old").c_str()), 0);
    ASSERT_EQ(symlink((first + ".old").c_str(), first.c_str()), 0);
    EXPECT_EQ(getInfo(ref, 0, nullptr), fnfErr);
    // GNU rm removes trees of any depth (std::filesystem stops at PATH_MAX).
    EXPECT_EQ(std::system(("rm -rf '" + first + ".old'").c_str()), 0);
}

// ---------------------------------------------------------------- listings

TEST(Listings, SortCaseInsensitivelyThenBytewise) {
    TempTree t;
    for (const char* n : {"b", "B", "a", "C", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "10", "1"})
        t.write(std::string("d/") + n, "x");
    EXPECT_EQ(listNames(t.path("d")), (Names{"1", "10", "a", "B", "b", "C", "?T?", "?t?"}));
}

TEST(Listings, HandOutOneObjectPerCallHidingSidecarsBesideTheirFiles) {
    // Shown: orphans and folders named like sidecars. Hidden: a sidecar beside
    // its file or folder, and netatalk's folder.
    TempTree t;
    t.write("d/name", "x");
    t.write("d/._name", sidecarWithFork("r"));
    t.write("d/._orphan", "x");
    t.mkdir("d/folder");
    t.write("d/._folder", sidecar(Bytes(32, 0), {}));
    t.write("d/.AppleDouble/name", "x");
    t.write("d/.AppleDouble.txt", "x");
    t.mkdir("d/._dir-without-file");
    t.write("d/zz-gone", "x");
    // An old modification time, so that the removal below changes it.
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, t.path("d").c_str(), old, 0), 0);
    FSRef d = refOf(t.path("d")), ref, fromSpec;
    FSIterator it;
    ASSERT_EQ(FSOpenIterator(&d, kFSIterateFlat, &it), noErr);
    ASSERT_EQ(unlink(t.path("d/zz-gone").c_str()), 0);  // vanishes after the folder was read
    Names seen;                                         // name, "/" for a folder
    OSErr err = noErr;
    Boolean changed = FALSE;
    while (err == noErr) {
        ItemCount count = 9;
        FSCatalogInfo info;
        FSSpec spec;
        HFSUniStr255 name;
        err = FSGetCatalogInfoBulk(it, 1, &count, &changed, kFSCatInfoNodeFlags, &info, &ref, &spec,
                                   &name);
        EXPECT_EQ(count, err == noErr ? 1u : 0u);
        if (err != noErr) break;
        seen.push_back(asciiName(name) + (info.nodeFlags & kFSNodeIsDirectoryMask ? "/" : ""));
        EXPECT_EQ(pathOf(ref), t.path("d/" + asciiName(name)));
        ASSERT_EQ(FSpMakeFSRef(&spec, &fromSpec), noErr);
        EXPECT_EQ(FSCompareFSRefs(&ref, &fromSpec), noErr);
    }
    EXPECT_EQ(err, errFSNoMoreItems);
    EXPECT_TRUE(changed);  // a name was removed since the listing began
    EXPECT_EQ(seen,
              (Names{"._dir-without-file/", "._orphan", ".AppleDouble.txt", "folder/", "name"}));
    EXPECT_EQ(FSCloseIterator(it), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(getInfo(d, kFSCatInfoValence, &info), noErr);
    EXPECT_EQ(+info.valence, 5u);
    FSRef file = refOf(t.path("d/name"));
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &it), errFSNotAFolder);
    EXPECT_EQ(FSOpenIterator(&d, kFSIterateSubtree, &it), errFSBadIteratorFlags);
}

// ---------------------------------------------------------------- catalog

TEST(Catalog, ACreationDateNoStoreHoldsIsTheBirthTimeNeverEmpty) {
    // Names, flags, parents, sizes, Finder info and dates set through the
    // catalog are read back in the listing tests and in CFile's and FilesExtra's.
    TempTree t;
    FSRef ref = refOf(t.write("d/Doc", "0123456789"));
    FSCatalogInfo info{};
    ASSERT_EQ(getInfo(ref, kFSCatInfoCreateDate, &info), noErr);
    EXPECT_GT((UInt64(info.createDate.highSeconds) << 32) | info.createDate.lowSeconds,
              2082844800u);
}

TEST(Catalog, AMalformedSidecarFailsWhatNeedsItAndStaysAsItWas) {
    TempTree t;
    t.write("f", "data");
    Bytes bad = sidecarWithFork("r");
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
    EXPECT_EQ(readFork(ref, kData), bytesOf("data"));
    EXPECT_EQ(tryOpen(ref, kRsrc, fsRdWrPerm), ioErr);
    EXPECT_EQ(FSCreateFork(&ref, kRsrc.length, kRsrc.unicode), ioErr);
    EXPECT_EQ(deleteFork(ref, kRsrc), ioErr);
    EXPECT_EQ(snapshot(t.root()), before);
}

TEST(Catalog, CreationTakesBackWhatItMadeWhenTheCatalogFieldsFail) {
    TempTree t;
    t.write("d/x", "data");
    t.write("d/._orphan", "an ordinary file");
    FSRef d = refOf(t.path("d"));
    const std::string before = snapshot(t.root());
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    info.createDate = {0, 2900000000u, 0};
    const FSCatalogInfoBitmap which = kFSCatInfoFinderInfo | kFSCatInfoCreateDate;
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder" : "file");
        // A sidecar's name beside its file is refused, and so is an existing name.
        EXPECT_EQ(create(d, "._x", folder), bdNamErr);
        EXPECT_EQ(create(d, "x", folder), dupFNErr);
        // No user attributes: the Finder info went into a sidecar, the date
        // fails (for "orphan" the sidecar's place is taken by a file that is
        // not one).
        InjectedFault noAttributes(kAttributeCalls, EOPNOTSUPP);
        EXPECT_EQ(create(d, "new", folder, which, &info), wrgVolTypErr);
        EXPECT_EQ(create(d, "orphan", folder, which, &info), ioErr);
    }
    info.createDate = {0, 0, 0};  // 1904: a date the dates entry cannot hold
    EXPECT_EQ(create(d, "new", false, which, &info), paramErr);
    EXPECT_EQ(snapshot(t.root()), before);
    // Without "z" beside it "._z" is an ordinary name; "orphan" beside an
    // orphan "._orphan" is created and the orphan kept. Never inside a file.
    FSRef file;
    EXPECT_EQ(create(d, "._z"), noErr);
    ASSERT_EQ(create(d, "orphan", false, 0, nullptr, &file), noErr);
    EXPECT_TRUE(exists(t.path("d/._z")));
    EXPECT_EQ(readText(t.path("d/orphan")) + readText(t.path("d/._orphan")), "an ordinary file");
    EXPECT_EQ(readText(t.path("d/x")), "data");
    EXPECT_EQ(create(file, "x"), dirNFErr);
}

// ---------------------------------------------------------------- forks

TEST(Forks, ReadWriteSizeAndPositionOnBothForks) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "abcdef"));
    EXPECT_EQ(tryOpen(ref, uni("com.example.other"), fsRdPerm), errFSForkNotFound);
    // Creating a resource fork writes no empty sidecar.
    EXPECT_EQ(FSCreateFork(&ref, kRsrc.length, kRsrc.unicode), noErr);
    EXPECT_FALSE(exists(t.path("._f")));
    for (const HFSUniStr255& fork : {kData, kRsrc}) {
        SCOPED_TRACE(fork.length ? "resource" : "data");
        FSIORefNum refNum;
        ASSERT_EQ(openFork(ref, fork, fsRdWrPerm, &refNum), noErr);
        if (fork.length) {
            ASSERT_EQ(FSWriteFork(refNum, fsFromStart, 0, 6, "abcdef", nullptr), noErr);
        }
        // Writing over the start keeps the bytes beyond the count; reading past
        // the end gives eofErr with the bytes that were there.
        ByteCount actual = 0;
        char buf[16] = {};
        ASSERT_EQ(FSWriteFork(refNum, fsFromStart, 0, 2, "XY", nullptr), noErr);
        ASSERT_EQ(FSReadFork(refNum, fsFromStart, 4, 10, buf, &actual), eofErr);
        EXPECT_EQ(std::string(buf, actual), "ef");
        // Classic writes go at the mark and advance it; writing past the end grows.
        ASSERT_EQ(FSSetForkPosition(refNum, fsFromLEOF, -1), noErr);
        SInt32 count = 3;
        ASSERT_EQ(FSWrite(refNum, &count, "123"), noErr);
        SInt64 size = -1, pos = -1;
        ASSERT_EQ(FSGetForkPosition(refNum, &pos), noErr);
        ASSERT_EQ(FSGetForkSize(refNum, &size), noErr);
        EXPECT_EQ(std::tuple(pos, size), std::tuple(8, 8));
        // Positions before the start or past 2^63 are refused, not wrapped.
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromStart, -1), posErr);
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromStart, 100), eofErr);
        EXPECT_EQ(FSReadFork(refNum, fsFromStart, INT64_MAX - 1, 10, buf, &actual), posErr);
        EXPECT_EQ(FSWriteFork(refNum, fsFromStart, INT64_MAX - 1, 10, buf, &actual), posErr);
        EXPECT_EQ(FSSetForkPosition(refNum, fsFromMark, INT64_MAX), posErr);
        // The open fork is busy: it cannot be deleted meanwhile.
        EXPECT_EQ(deleteFork(ref, fork), fBsyErr);
        EXPECT_EQ(FSCloseFork(refNum), noErr);
        EXPECT_EQ(FSCloseFork(refNum), rfNumErr);
        EXPECT_EQ(FSReadFork(refNum, fsFromStart, 0, 1, buf, &actual), rfNumErr);
    }
    EXPECT_EQ(resourceForkOf(readBytes(t.path("._f"))), bytesOf("XYcde123"));
    // Read-only forks refuse writes.
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, kData, fsRdPerm, &refNum), noErr);
    EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 1, "z", nullptr), wrPermErr);
    FSCloseFork(refNum);
    EXPECT_EQ(readText(t.path("f")), "XYcde123");
}

// ---------------------------------------------------------------- safety

TEST(Safety, FifosSocketsAndDevicesAreRefusedWithoutBlocking) {
    // Links (to a file outside the tree) are never followed either.
    TempTree outside, t;
    std::string target = outside.write("victim", "precious");
    outside.write("._victim", sidecarWithFork("its fork"));
    ASSERT_EQ(symlink(target.c_str(), t.path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0666), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", t.path("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    bool haveDevice = mknod(t.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    t.write("file", "data");
    ASSERT_EQ(mkfifo(t.path("._file").c_str(), 0666), 0);  // a sidecar that is a FIFO
    const std::string before = snapshot(outside.root());

    alarm(20);  // a blocked open ends the test instead of hanging it
    for (const char* name : {"link", "fifo", "sock", "null"}) {
        if (std::string(name) == "null" && !haveDevice) continue;
        SCOPED_TRACE(name);
        FSRef ref = refOf(t.path(name));
        // Every fork call finds its file through the one check of its kind.
        EXPECT_EQ(tryOpen(ref, kData, fsRdWrPerm), notAFileErr);
        EXPECT_EQ(tryOpen(ref, kRsrc, fsRdWrPerm), notAFileErr);
        EXPECT_EQ(deleteFork(ref, kData), notAFileErr);
        FSCatalogInfo info;
        ASSERT_EQ(getInfo(ref, kFSCatInfoGettableInfo, &info), noErr);
        EXPECT_EQ(info.dataLogicalSize + info.rsrcLogicalSize, 0u);
    }
    FSRef file = refOf(t.path("file"));
    EXPECT_EQ(tryOpen(file, kRsrc, fsRdWrPerm), notAFileErr);
    EXPECT_EQ(readFork(file, kData), bytesOf("data"));
    alarm(0);
    close(sock);
    EXPECT_EQ(snapshot(outside.root()), before);
    EXPECT_FALSE(exists(t.path("._link")));
}

TEST(Safety, AFileReplacedWhileItsResourceForkIsOpenIsNotWritten) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "one"));
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, kRsrc, fsRdWrPerm, &refNum), noErr);
    int keep = open(t.path("f").c_str(), O_RDONLY);
    ASSERT_EQ(rename(t.write("other", "two").c_str(), t.path("f").c_str()), 0);
    EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 4, "rsrc", nullptr), fnfErr);
    EXPECT_FALSE(exists(t.path("._f")));
    FSCloseFork(refNum);
    close(keep);
}

// ---------------------------------------------------------------- result codes

TEST(ResultCodes, SystemFailuresMapToTheirCodes) {
    TempTree t;
    FSRef ref = refOf(t.write("f", "data"));
    using C = sysio::Call;
    // One row for each kind of call; FileErrors' test holds the codes met nowhere else.
    const struct {
        C call;
        int err;
        OSErr expected;
    } rows[] = {{C::Write, ENOSPC, dskFulErr}, {C::Open, EROFS, wPrErr},
                {C::Open, EMFILE, tmfoErr},    {C::Open, EACCES, afpAccessDenied},
                {C::Read, EIO, ioErr},         {C::Truncate, EBUSY, fBsyErr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(int(row.call)) + " " + std::to_string(row.err));
        FSIORefNum refNum = 0;
        const bool onOpenFork = row.call == C::Write || row.call == C::Read;
        if (onOpenFork) {
            ASSERT_EQ(openFork(ref, kData, fsRdWrPerm, &refNum), noErr);
        }
        char buf[4];
        auto fault = std::make_unique<InjectedFault>(std::set<C>{row.call}, row.err);
        OSErr got = row.call == C::Truncate ? deleteFork(ref, kData)
                    : row.call == C::Open   ? tryOpen(ref, kData, fsRdWrPerm)
                    : row.call == C::Write ? FSWriteFork(refNum, fsFromStart, 0, 4, "DATA", nullptr)
                                           : FSReadFork(refNum, fsFromStart, 0, 4, buf, nullptr);
        fault.reset();
        if (onOpenFork) FSCloseFork(refNum);
        EXPECT_EQ(got, row.expected);
        EXPECT_EQ(readText(t.path("f")), "data");
    }
    // Conditions met without injection (fnfErr and dirNFErr: see References).
    EXPECT_EQ(tryOpen(refOf(t.root()), kData, fsRdPerm), notAFileErr);
    EXPECT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, nullptr), paramErr);
    EXPECT_EQ(FSGetDataForkName(nullptr), paramErr);
    EXPECT_EQ(FSGetCatalogInfo(nullptr, 0, nullptr, nullptr, nullptr, nullptr), paramErr);
}
