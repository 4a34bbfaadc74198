// The File Manager over Linux files: references and specs, listings, the
// catalog, both forks, refusals of what is not a regular file, result codes,
// alias files and the report of where a file's forks are kept.
#include "platform/files/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files/FilesExtra.h"
#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"
#include "testkit/Faults.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Refs.h"
#include "testkit/SidecarBytes.h"
#include "testkit/Sidecars.h"
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

UTCDateTime dateOf(SInt64 unixSeconds, UInt16 fraction = 0) {
    const UInt64 s = UInt64(unixSeconds + 2082844800);  // from 1904
    return UTCDateTime{UInt16(s >> 32), UInt32(s), fraction};
}

auto fields(const UTCDateTime& d) {
    return std::tuple(+d.highSeconds, +d.lowSeconds, +d.fraction);
}

}  // namespace

// ---------------------------------------------------------------- references

TEST(References, PathsAndSpecsLeadBackToTheirObjectAndGiveTheirCodes) {
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
    FSRef garbage{};
    EXPECT_EQ(getInfo(garbage, 0, nullptr), paramErr);
    // A folder on the way replaced by a file: the reference is gone (a file
    // removed: the Safety test; a new object under the old name: KeptFolder's).
    ASSERT_EQ(rename(t.path("dir").c_str(), t.path("dir.old").c_str()), 0);
    t.write("dir", "now a file");
    EXPECT_EQ(getInfo(ref, 0, nullptr), fnfErr);

    // Names over 63 bytes are shortened in an FSSpec, yet still lead back to
    // their own file when another long name shares the first 70 bytes; a
    // Pascal name is looked up whole.
    const std::string longName = std::string(70, 'L') + "\xC3\xA9" + std::string(20, 'z');
    const FSRef longRef = refOf(t.write("long/" + longName, "long")),
                folder = refOf(t.path("long"));
    t.write("long/" + std::string(70, 'L') + "other", "another long one");
    FSSpec spec;
    FSRef out;
    ASSERT_EQ(FSGetCatalogInfo(&longRef, 0, nullptr, nullptr, &spec, nullptr), noErr);
    EXPECT_LE(spec.name[0], 63);
    ASSERT_EQ(FSpMakeFSRef(&spec, &out), noErr);
    EXPECT_EQ(pathOf(out), t.path("long/" + longName));
    Str255 name;
    name[0] = UInt8(longName.size());
    std::memcpy(name + 1, longName.data(), longName.size());
    ASSERT_EQ(FSMakeFSRef(spec.vRefNum, spec.parID, name, &out), noErr);
    EXPECT_EQ(FSCompareFSRefs(&out, &longRef), noErr);
    ASSERT_EQ(FSMakeFSRef(0, spec.parID, nullptr, &out), noErr);  // no name: the folder
    EXPECT_EQ(FSCompareFSRefs(&out, &folder), noErr);
    EXPECT_EQ(FSMakeFSRef(FSVolumeRefNum(spec.vRefNum - 1), spec.parID, spec.name, &out), nsvErr);
    // The root: parent ID 1 and no name.
    FSSpec root = spec;
    root.parID = fsRtParID;
    root.name[0] = 0;
    ASSERT_EQ(FSpMakeFSRef(&root, &out), noErr);
    EXPECT_EQ(pathOf(out), "/");
    std::memcpy(spec.name, "\x07missing", 8);
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), fnfErr);
    std::filesystem::remove_all(t.path("long"));
    EXPECT_EQ(FSpMakeFSRef(&spec, &out), dirNFErr);
}

// Paths longer than PATH_MAX, with folders opened in one call (openat2) and
// component by component (as on kernels without it).
TEST(References, PathsLongerThanPathMaxWorkInOneCallAndComponentByComponent) {
    for (const bool inOneCall : {true, false}) {
        SCOPED_TRACE(inOneCall ? "in one call" : "component by component");
        pathnodes::setUseOpenat2(inOneCall);
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

        FSRef ref = refOf(path + "/deep.bin");
        EXPECT_EQ(pathOf(ref), path + "/deep.bin");
        EXPECT_EQ(readFork(ref, kData), bytesOf("deep data"));
        // A folder on the way replaced by a link: the reference is gone.
        std::string first = t.path(level);
        ASSERT_EQ(rename(first.c_str(), (first + ".old").c_str()), 0);
        ASSERT_EQ(symlink((first + ".old").c_str(), first.c_str()), 0);
        EXPECT_EQ(getInfo(ref, 0, nullptr), fnfErr);
        // GNU rm removes trees of any depth (std::filesystem stops at PATH_MAX).
        EXPECT_EQ(std::system(("rm -rf '" + first + ".old'").c_str()), 0);
    }
    pathnodes::setUseOpenat2(true);
}

// ---------------------------------------------------------------- listings

TEST(Listings, SortAndHandOutOneObjectPerCallHidingSidecarsBesideTheirFiles) {
    TempTree t;
    // Sorted case-insensitively, then bytewise.
    for (const char* n : {"b", "B", "a", "C", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "10", "1"})
        t.write(std::string("sorted/") + n, "x");
    EXPECT_EQ(listNames(t.path("sorted")), (Names{"1", "10", "a", "B", "b", "C", "?T?", "?t?"}));
    // Shown: orphans and folders named like sidecars. Hidden: a sidecar beside
    // its file or folder, and netatalk's folder.
    for (const char* name : {"name", "._name", "._orphan", "._folder", ".AppleDouble/name",
                             ".AppleDouble.txt", "zz-gone"})
        t.write(std::string("d/") + name, "x");
    t.mkdir("d/folder");
    t.mkdir("d/._dir-without-file");
    FSRef d = refOf(t.path("d")), ref, fromSpec;
    FSIterator it;
    ASSERT_EQ(FSOpenIterator(&d, kFSIterateFlat, &it), noErr);
    ASSERT_EQ(unlink(t.path("d/zz-gone").c_str()), 0);  // vanishes after the folder was read
    Names seen;                                         // name, "/" for a folder
    OSErr err = noErr;
    while (err == noErr) {
        ItemCount count = 9;
        FSCatalogInfo info;
        FSSpec spec;
        HFSUniStr255 name;
        err = FSGetCatalogInfoBulk(it, 1, &count, nullptr, kFSCatInfoNodeFlags, &info, &ref, &spec,
                                   &name);
        if (err != noErr) break;
        seen.push_back(asciiName(name) + (info.nodeFlags & kFSNodeIsDirectoryMask ? "/" : ""));
        EXPECT_EQ(pathOf(ref), t.path("d/" + asciiName(name)));
        ASSERT_EQ(FSpMakeFSRef(&spec, &fromSpec), noErr);
        EXPECT_EQ(FSCompareFSRefs(&ref, &fromSpec), noErr);
    }
    EXPECT_EQ(err, errFSNoMoreItems);
    EXPECT_EQ(seen,
              (Names{"._dir-without-file/", "._orphan", ".AppleDouble.txt", "folder/", "name"}));
    EXPECT_EQ(FSCloseIterator(it), noErr);
    FSRef file = refOf(t.path("d/name"));
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &it), errFSNotAFolder);
    EXPECT_EQ(FSOpenIterator(&d, kFSIterateSubtree, &it), errFSBadIteratorFlags);
}

// ---------------------------------------------------------------- catalog

// Names, flags, parents, sizes and Finder info set through the catalog are
// read back in the listing tests and in CFile's.

// A date set and read back is the same date, down to its 1/65536 s fraction;
// a creation date no store holds is the birth time, never empty. Creating and
// renaming refuse taken and bad names, and a creation whose catalog fields
// fail takes back what it made (CFile's tests rename a file with its sidecar,
// KeptFolder's a folder whose files keep their references).
TEST(Catalog, FieldsLandToTheFractionOrAreRefusedLeavingNothingBehind) {
    TempTree t;
    const std::string file = t.write("f", "x");
    FSRef ref = refOf(file);
    FSCatalogInfo info{}, back{};
    info.contentModDate = dateOf(1234567890, 0x8000);  // and a half second
    info.accessDate = dateOf(1000000000, 0x0001);
    const FSCatalogInfoBitmap which = kFSCatInfoContentMod | kFSCatInfoAccessDate;
    ASSERT_EQ(FSSetCatalogInfo(&ref, which, &info), noErr);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_atim.tv_sec),
              std::tuple(1234567890, 500000000, 1000000000));
    ASSERT_EQ(getInfo(ref, which | kFSCatInfoCreateDate, &back), noErr);
    EXPECT_EQ(fields(back.contentModDate), fields(info.contentModDate));
    EXPECT_EQ(fields(back.accessDate), fields(info.accessDate));
    EXPECT_GT((UInt64(back.createDate.highSeconds) << 32) | back.createDate.lowSeconds,
              2082844800u);
    // Nothing below changes a byte until the creations that succeed.
    t.write("d/x", "data");
    t.write("d/._orphan", "an ordinary file");
    FSRef d = refOf(t.path("d")), x = refOf(t.path("d/x"));
    const std::string before = snapshot(t.root());
    // Never over an existing object, nor to a name that is no name.
    const HFSUniStr255 taken = uni("._orphan"), slash = uni("x/y");
    EXPECT_EQ(FSRenameUnicode(&x, taken.length, taken.unicode, 0, nullptr), dupFNErr);
    EXPECT_EQ(FSRenameUnicode(&x, slash.length, slash.unicode, 0, nullptr), bdNamErr);
    info = FSCatalogInfo{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    info.createDate = {0, 2900000000u, 0};
    const FSCatalogInfoBitmap both = kFSCatInfoFinderInfo | kFSCatInfoCreateDate;
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder" : "file");
        // A sidecar's name beside its file is refused, and so is an existing name.
        EXPECT_EQ(create(d, "._x", folder), bdNamErr);
        EXPECT_EQ(create(d, "x", folder), dupFNErr);
        // No user attributes: the Finder info went into a sidecar, the date
        // fails (for "orphan" the sidecar's place is taken by a file that is
        // not one).
        InjectedFault noAttributes(kAttributeCalls, EOPNOTSUPP);
        EXPECT_EQ(create(d, "new", folder, both, &info), wrgVolTypErr);
        EXPECT_EQ(create(d, "orphan", folder, both, &info), ioErr);
    }
    info.createDate = {0, 0, 0};  // 1904: a date the dates entry cannot hold
    EXPECT_EQ(create(d, "new", false, both, &info), paramErr);
    EXPECT_EQ(snapshot(t.root()), before);
    // Without "z" beside it "._z" is an ordinary name; "orphan" beside an
    // orphan "._orphan" is created and the orphan kept. Never inside a file.
    FSRef made;
    EXPECT_EQ(create(d, "._z"), noErr);
    ASSERT_EQ(create(d, "orphan", false, 0, nullptr, &made), noErr);
    EXPECT_TRUE(exists(t.path("d/._z")));
    EXPECT_EQ(readText(t.path("d/orphan")) + readText(t.path("d/._orphan")), "an ordinary file");
    EXPECT_EQ(readText(t.path("d/x")), "data");
    EXPECT_EQ(create(made, "x"), dirNFErr);
}

// ---------------------------------------------------------------- forks

TEST(Forks, ReadWriteSizeAndPositionOnBothForksWithinTheirBounds) {
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
        {  // a failing call passes on its errno's code (each errno's: FileErrors)
            InjectedFault full({sysio::Call::Write, sysio::Call::Read}, ENOSPC);
            EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 2, "zz", nullptr), dskFulErr);
            EXPECT_EQ(FSReadFork(refNum, fsFromStart, 0, 2, buf, &actual), dskFulErr);
        }
        // The open fork is busy: it cannot be deleted meanwhile.
        EXPECT_EQ(deleteFork(ref, fork), fBsyErr);
        EXPECT_EQ(FSCloseFork(refNum), noErr);
        EXPECT_EQ(FSCloseFork(refNum), rfNumErr);
    }
    EXPECT_EQ(resourceForkOf(readBytes(t.path("._f"))), bytesOf("XYcde123"));
    // Read-only forks refuse writes, a data fork that cannot be cut is not
    // deleted, and the file stays as it was.
    FSIORefNum refNum;
    ASSERT_EQ(openFork(ref, kData, fsRdPerm, &refNum), noErr);
    EXPECT_EQ(FSWriteFork(refNum, fsFromStart, 0, 1, "z", nullptr), wrPermErr);
    FSCloseFork(refNum);
    InjectedFault busy({sysio::Call::Truncate}, EBUSY);  // to the end of the test
    EXPECT_EQ(deleteFork(ref, kData), fBsyErr);
    EXPECT_EQ(readText(t.path("f")), "XYcde123");
    // A folder, a link or a FIFO is no file (notAFileErr: Safety); fnfErr and
    // dirNFErr: References.
}

// ---------------------------------------------------------------- safety

// One sample of each kind of bad input at this layer (the fork store's tests
// sweep every kind, sockets and devices among them): a link to a file outside
// the tree (never followed), a FIFO (never blocked on), a malformed sidecar
// (the data fork stays reachable), a file removed since its reference was
// made, and one replaced while its resource fork is open. Each call gives the
// code of its kind and no byte changes anywhere.
TEST(Safety, EachKindOfBadInputGivesItsCodeAndChangesNothing) {
    TempTree outside, t;
    const std::string target = outside.write("victim", "precious");
    outside.write("._victim", sidecar(finderInfo("TEXT", "ttxt"), bytesOf("its fork")));
    ASSERT_EQ(symlink(target.c_str(), t.path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0666), 0);
    Bytes bad = sidecar(finderInfo("TEXT", "ttxt"), bytesOf("r"));
    bad[0] = 0xFF;  // wrong magic
    t.write("._malformed", bad);
    const FSRef malformed = refOf(t.write("malformed", "data")), gone = refOf(t.write("gone", "x"));
    ASSERT_EQ(unlink(t.path("gone").c_str()), 0);
    // A file replaced while its resource fork is open (the old one kept open
    // so that its inode is not the new one's).
    FSIORefNum replaced;
    ASSERT_EQ(openFork(refOf(t.write("replaced", "one")), kRsrc, fsRdWrPerm, &replaced), noErr);
    const int keep = open(t.path("replaced").c_str(), O_RDONLY);
    ASSERT_EQ(rename(t.write("other", "two").c_str(), t.path("replaced").c_str()), 0);
    const std::string before = snapshot(outside.root()) + snapshot(t.root());
    const struct {
        const char* name;
        OSErr catalog, data, rsrc;  // all gettable catalog info, the data fork, the resource fork
    } rows[] = {{"link", noErr, notAFileErr, notAFileErr},
                {"fifo", noErr, notAFileErr, notAFileErr},
                {"malformed", ioErr, noErr, ioErr},
                {"gone", fnfErr, fnfErr, fnfErr}};
    alarm(20);  // a blocked open ends the test instead of hanging it
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const FSRef ref = std::string(row.name) == "gone" ? gone : refOf(t.path(row.name));
        FSCatalogInfo info{};
        EXPECT_EQ(getInfo(ref, kFSCatInfoGettableInfo, &info), row.catalog);
        if (row.catalog == noErr) {
            EXPECT_EQ(info.dataLogicalSize + info.rsrcLogicalSize, 0u);
        }
        EXPECT_EQ(tryOpen(ref, kData, fsRdWrPerm), row.data);
        EXPECT_EQ(tryOpen(ref, kRsrc, fsRdWrPerm), row.rsrc);
        EXPECT_EQ(FSCreateFork(&ref, kRsrc.length, kRsrc.unicode), row.rsrc);
        EXPECT_EQ(deleteFork(ref, kRsrc), row.rsrc);
    }
    EXPECT_EQ(readFork(malformed, kData), bytesOf("data"));
    EXPECT_EQ(FSWriteFork(replaced, fsFromStart, 0, 4, "rsrc", nullptr), fnfErr);
    FSCloseFork(replaced);
    close(keep);
    alarm(0);
    EXPECT_EQ(snapshot(outside.root()) + snapshot(t.root()), before);
}

// ---------------------------------------------------------------- reports

// Alias files are links and files flagged as aliases in their Finder info
// (folder aliases by their type); folders are not. Every store is reported
// with the fork's length, and an attribute store by its name (macOS's sidecar
// with its blank fork: ForkStore's peer reads). A malformed sidecar is a
// finding with the parser's own code (its text: the batch mode's --info test),
// and the fork it hides is refused with ioErr (a malformed netatalk header,
// and every other reason: ForkStore's corpus sweep of the same inspection); a
// link in a sidecar's place is no sidecar. Nothing on disk changes.
TEST(Reports, AliasFilesAndEachStoreWithItsForkAreTold) {
    TempTree tree;  // a file in every shape the stores know
    for (std::size_t i = 0; i < kForkShapes.size(); ++i)
        writeForkShape(tree.root(), kForkShapes[i], i, 1);
    tree.write("bad", "6");
    tree.write("._bad", corpusBytes("malformed/duplicate-id.ad"));
    tree.write("linked", "8");
    ASSERT_EQ(::symlink("bad", tree.path("._linked").c_str()), 0);
    const std::string folder = tree.mkdir("folder"), file = tree.path("a-plain");
    ASSERT_EQ(::symlink(folder.c_str(), tree.path("toFolder").c_str()), 0);
    ASSERT_EQ(::symlink(file.c_str(), tree.path("toFile").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", tree.path("dangling").c_str()), 0);
    // Empty files whose sidecar carries Finder info with the alias flag.
    for (const auto& [name, type] : {std::pair{"folderAlias", "fdrp"}, {"docAlias", "TEXT"}}) {
        tree.write(name, "");
        Bytes fi = finderInfo(type, "MACS");
        fi[8] = 0x80;  // kIsAlias
        tree.write(std::string("._") + name, makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
    }
    const std::string before = snapshot(tree.root());

    const struct {
        const char* name;
        bool alias, folder;
    } aliases[] = {
        {"toFolder", true, true},    {"toFile", true, false},   {"dangling", true, false},
        {"folderAlias", true, true}, {"docAlias", true, false}, {"l-finder-info", false, false},
        {"a-plain", false, false},   {"folder", false, false},  {"/", false, false}};  // the root
    Boolean alias = 2, isFolder = 2;
    for (const auto& c : aliases) {
        SCOPED_TRACE(c.name);
        FSRef ref = refOf(c.name[0] == '/' ? c.name : tree.path(c.name));
        ASSERT_EQ(FSIsAliasFile(&ref, &alias, &isFolder), noErr);
        EXPECT_EQ(std::tuple(bool(alias), bool(isFolder)), std::tuple(c.alias, c.folder));
    }

    using P = appledouble::Problem;
    const FSCompanionState none = kFSCompanionNone, valid = kFSCompanionValid,
                           malformed = kFSCompanionMalformed;
    const struct {
        const char* name;
        FSForkStore store;
        UInt64 length;
        const char* attribute;
        FSCompanionState sidecar, netatalk;
        OSErr rsrcError;
        P problem;  // of the malformed one
    } stores[] = {
        {"b-short-fork", kFSForkStoreSidecar, 100, nullptr, valid, none, noErr, P::None},
        {"g-mac-attr", kFSForkStoreMacAttribute, 1000, kMacFork, none, none, noErr, P::None},
        {"h-samba-stream", kFSForkStoreSambaAttribute, 1200, kSambaFork, none, none, noErr,
         P::None},
        // the sample's 700-byte fork
        {"m-netatalk", kFSForkStoreNetatalk, 700, nullptr, none, valid, noErr, P::None},
        {"bad", kFSForkStoreNone, 0, nullptr, malformed, none, ioErr, P::DuplicateId},
        {"linked", kFSForkStoreNone, 0, nullptr, kFSCompanionNotAFile, none, notAFileErr, P::None},
    };
    for (const auto& c : stores) {
        SCOPED_TRACE(c.name);
        const FSRef ref = refOf(tree.path(c.name));
        FSForkInspection forks;
        ASSERT_EQ(FSInspectForks(&ref, kFSInspectAll, &forks), noErr);
        EXPECT_EQ(forks.rsrcError, c.rsrcError);
        EXPECT_EQ(forks.sidecar.state, c.sidecar);
        EXPECT_EQ(forks.netatalk.state, c.netatalk);
        EXPECT_EQ(std::tuple(forks.sidecar.problem, forks.netatalk.problem),
                  std::tuple(SInt32(c.problem), 0));
        if (c.rsrcError != noErr) continue;
        EXPECT_EQ(forks.rsrcStore, c.store);
        EXPECT_EQ(forks.rsrcLength, c.length);
        EXPECT_STREQ(forks.rsrcAttribute, c.attribute);
        if (c.sidecar == kFSCompanionValid) {
            EXPECT_EQ(forks.sidecar.forkLength, c.length);
        }
    }
    EXPECT_EQ(snapshot(tree.root()), before);
    FSRef gone = refOf(file);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(FSIsAliasFile(&gone, &alias, &isFolder), fnfErr);
    EXPECT_FALSE(alias);
}
