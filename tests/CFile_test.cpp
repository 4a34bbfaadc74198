#include "support/CFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <tuple>

#include "platform/base/MacMemory.h"
#include "platform/events/AEObjects.h"
#include "platform/files/Aliases.h"
#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/SysIO.h"
#include "support/MoreAppleEvents.h"
#include "testkit/AllocationProbe.h"
#include "testkit/Faults.h"
#include "testkit/Nobody.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

constexpr AEDesc kNull = {typeNull, nullptr};
constexpr SInt64 kSeconds1970To2000 = 946684800;

bool same(const FSRef& a, const FSRef& b) {
    return FSCompareFSRefs(&a, &b) == noErr;
}

UTCDateTime dateOf(SInt64 unixSeconds) {
    const UInt64 s = UInt64(unixSeconds + 2082844800);  // from 1904
    return UTCDateTime{UInt16(s >> 32), UInt32(s), 0};
}

// The whole data fork as ReadFile returns it; "<null>" when it returns null.
std::string readAll(char* array, std::size_t size) {
    std::unique_ptr<char[]> owned(array);
    return array ? std::string(array, size) : "<null>";
}

// Type and creator from the sidecar, read with the AppleDouble codec.
std::string typeAndCreator(const std::string& sidecar) {
    const Bytes b = readBytes(sidecar);
    appledouble::Header h;
    if (appledouble::parse(b.data(), b.size(), b.size(), &h) != appledouble::Problem::None)
        return "<not AppleDouble>";
    const appledouble::Entry* e = h.find(appledouble::kFinderInfoId);
    return e ? std::string(b.begin() + e->offset, b.begin() + e->offset + 8) : "<no Finder info>";
}

}  // namespace

// ---- Tests and queries --------------------------------------------------------

TEST(CFileQueries, KindsSizesFinderInfoNamesPathsLookUpsAndWhatAMissingObjectGives) {
    TempTree tree;
    const std::string folder = tree.mkdir("dir"),
                      file = tree.write("dir/caf\xC3\xA9", pattern(100, 1));
    tree.write("dir/._caf\xC3\xA9",
               makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 50, pattern(50, 2)}}));
    const std::string link = tree.path("toFolder");
    ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
    // The link itself, never followed, is an alias of a folder.
    const struct {
        std::string path;
        bool directory, aliasedDirectory;
    } cases[] = {{folder, true, false}, {file, false, false}, {link, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const FSRef ref = refOf(c.path);
        EXPECT_EQ(bool(CFile::IsADirectory(ref)), c.directory);
        EXPECT_EQ(bool(CFile::IsAFile(ref)), !c.directory);
        EXPECT_EQ(bool(CFile::FileIsAliasedDirectory(&ref)), c.aliasedDirectory);
    }
    FSRef ref = refOf(file), folderRef = refOf(folder), parent, found;
    unsigned long long size = 0;
    unsigned long type = 1, creator = 1;
    ASSERT_EQ(CFile::FSGetSize(ref, size), noErr);
    EXPECT_EQ(size, 150u);                          // both forks
    ASSERT_EQ(CFile::FSGetType(ref, type), noErr);  // as the sidecar's writer set them
    ASSERT_EQ(CFile::FSGetCreator(ref, creator), noErr);
    EXPECT_EQ(std::tuple(type, creator),
              std::tuple(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt")));

    CString256 name("old");
    ASSERT_EQ(CFile::FSGetObjectName(ref, name), noErr);
    EXPECT_STREQ(name.text, "caf\x8E");  // Mac Roman
    ASSERT_TRUE(CFile::FSObjectExists(ref, parent));
    EXPECT_TRUE(same(parent, folderRef));
    EXPECT_TRUE(CFile::FSObjectExists(folderRef, CString256("caf\x8E"), found));
    EXPECT_TRUE(same(found, ref));
    EXPECT_FALSE(CFile::FSObjectExists(folderRef, CString256("nothing"), found));
    // A look-up that fails for another reason than a missing name (here: the
    // parent is a file) may hide an object: it counts as existing, so creating
    // under that name is not tried.
    EXPECT_TRUE(CFile::FSObjectExists(ref, CString256("x"), found));
    // A path of 255 bytes or more does not fit a Pascal string: untouched.
    Str255 path = "\x03old";
    const std::string deep = tree.mkdir(std::string(120, 'a') + "/" + std::string(120, 'b'));
    EXPECT_EQ(CFile::FSGetPascalPath(refOf(deep), path), pathTooLongErr);
    EXPECT_EQ(path[0], 3);
    ASSERT_EQ(CFile::FSGetPascalPath(ref, path), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path + 1), path[0]), file);

    // A type that cannot be read: the malformed sidecar case below.
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(CFile::FSGetSize(ref, size), fnfErr);
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(CFile::IsAFile(ref) || CFile::IsADirectory(ref));
    EXPECT_FALSE(CFile::FSObjectExists(ref, parent));
    EXPECT_EQ(CFile::FSGetObjectName(ref, name), fnfErr);
    EXPECT_STREQ(name.text, "caf\x8E");
}

// ---- Type and creator -------------------------------------------------------------

TEST(CFileFinderInfo, TypeCreatorAndRenamingAsPeersSeeThem) {
    TempTree tree;
    const std::string file = tree.write("report", "data"), sidecar = tree.path("._report");
    FSRef ref = refOf(file);
    ASSERT_EQ(CFile::FSSetType(ref, FOUR_CHAR_CODE("TEXT")), noErr);
    ASSERT_EQ(CFile::FSSetCreator(ref, FOUR_CHAR_CODE("ttxt")), noErr);
    EXPECT_EQ(typeAndCreator(sidecar), "TEXTttxt");
    // Changing the creator keeps the type (every other byte of the sidecar and
    // the data fork: ForkStore.EachChangeLandsWhereItsValueIs...).
    ASSERT_EQ(CFile::FSSetCreator(ref, FOUR_CHAR_CODE("R*ch")), noErr);
    EXPECT_EQ(typeAndCreator(sidecar), "TEXTR*ch");

    // Renaming takes a Mac Roman name; the reference and the sidecar follow
    // (a name that is taken: Catalog.FieldsLandToTheFraction...).
    ASSERT_EQ(CFile::FSSetName(ref, CString256("after \x8E")), noErr);
    EXPECT_EQ(pathOf(ref), tree.path("after \xC3\xA9"));
    EXPECT_FALSE(exists(sidecar));
    EXPECT_EQ(typeAndCreator(tree.path("._after \xC3\xA9")), "TEXTR*ch");

    // A malformed sidecar is refused and kept.
    tree.write("._after \xC3\xA9", corpusBytes("malformed/length-past-end.ad"));
    const std::string kept = snapshot(tree.root());
    unsigned long type = 7;
    EXPECT_EQ(CFile::FSGetType(ref, type), ioErr);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(CFile::FSSetType(ref, FOUR_CHAR_CODE("TEXT")), ioErr);
    EXPECT_EQ(snapshot(tree.root()), kept);
}

// ---- Dates -----------------------------------------------------------------------

TEST(CFileDates, ModificationAndCreationDatesLandOnDiskOrTheFailureIsReported) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    const Bytes dates(16, 0x80);  // a dates entry of four dates before 2000
    tree.write("._f",
               makeSidecar(
                   {{8, 62, 16, dates}, {9, 78, 32, finderInfo("TEXT", "ttxt")}, {2, 110, 0, {}}}));
    const FSRef ref = refOf(file);
    const UTCDateTime modified = dateOf(1700000000), created = dateOf(kSeconds1970To2000 + 864000);
    const UTCDateTime when = dateOf(kSeconds1970To2000 + 12345);
    struct stat st;
    ASSERT_EQ(CFile::FSSetModCreateDate(ref, &modified, &created), noErr);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    // The creation date, as any AppleDouble reader finds it in the dates entry.
    EXPECT_EQ(be32(readBytes(tree.path("._f")), 62), 864000u);
    unsigned long low = 0;
    ASSERT_EQ(CFile::FSGetModDateAsUInt32(ref, low), noErr);
    EXPECT_EQ(low, +modified.lowSeconds);
    // One date for creation and modification (where a file without a dates
    // entry keeps its creation date: ForkStore.EachChangeLandsWhereItsValueIs...).
    ASSERT_EQ(CFile::FSSetModCreateAccessDate(ref, &when), noErr);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, kSeconds1970To2000 + 12345);
    EXPECT_EQ(be32(readBytes(tree.path("._f")), 62), 12345u);

    EXPECT_EQ(CFile::FSSetModCreateDate(ref, nullptr, &when), paramErr);
    EXPECT_EQ(CFile::FSSetModCreateAccessDate(ref, nullptr), paramErr);
    // The dates entry cannot be written: the write's error, not success.
    const std::string before = snapshot(tree.root());
    {
        InjectedFault fault({sysio::Call::Write}, EIO);
        EXPECT_EQ(CFile::FSSetModCreateDate(ref, &when, &when), ioErr);
        EXPECT_EQ(CFile::FSSetModCreateAccessDate(ref, &when), ioErr);
    }
    EXPECT_EQ(snapshot(tree.root()), before);
    // A catalog that cannot be read (a missing file, a malformed sidecar) fails
    // the setting of it as well: the refusals of FSSetType and FSGetSize above.
}

// ---- Creation --------------------------------------------------------

TEST(CFileCreation, ByNameOrPathNewOrExistingAndNothingMadeOnAFailedLookUp) {
    TempTree tree;
    FSRef parent = refOf(tree.root()), made, existing, dir, again;
    ASSERT_EQ(CFile::FSCreateFile(parent, CString256("new \x8E"), made), noErr);
    EXPECT_EQ(pathOf(made), tree.path("new \xC3\xA9"));
    EXPECT_TRUE(readBytes(tree.path("new \xC3\xA9")).empty());

    tree.write("old", "keep me");
    ASSERT_EQ(CFile::FSCreateFile(parent, CString256("old"), FOUR_CHAR_CODE("ttxt"),
                                  FOUR_CHAR_CODE("TEXT"), existing),
              noErr);
    EXPECT_TRUE(same(existing, refOf(tree.path("old"))));
    EXPECT_EQ(readText(tree.path("old")), "keep me");
    EXPECT_EQ(typeAndCreator(tree.path("._old")), "TEXTttxt");  // creator came first

    ASSERT_EQ(CFile::FSCreateDirectory(parent, CString256("sub"), dir), noErr);
    EXPECT_TRUE(CFile::IsADirectory(dir));
    ASSERT_EQ(CFile::FSCreateDirectory(parent, CString256("sub"), again), noErr);
    EXPECT_TRUE(same(again, dir));

    const std::string path = tree.path("by path \xC3\xA9");
    ASSERT_EQ(CFile::FSCreateFile(CString256(path.c_str()), FOUR_CHAR_CODE("ttxt"),
                                  FOUR_CHAR_CODE("TEXT"), made),
              noErr);
    EXPECT_EQ(pathOf(made), path);  // the very name the path gives
    EXPECT_EQ(typeAndCreator(tree.path("._by path \xC3\xA9")), "TEXTttxt");

    // A failed look-up is returned, not taken for a missing name: nothing is made.
    FSRef notAFolder = refOf(tree.path("old"));
    const std::string before = snapshot(tree.root());
    EXPECT_EQ(CFile::FSCreateFile(notAFolder, CString256("x"), made), dirNFErr);
    EXPECT_EQ(CFile::FSCreateDirectory(notAFolder, CString256("x"), made), dirNFErr);
    EXPECT_EQ(CFile::FSCreateFile(CString256(tree.path("no/such/x").c_str()), made), fnfErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

// ---- Whole data fork ---------------------------------------------------------------

TEST(CFileReadWrite, WritesKeepTheRestReadsComeInThreeFormsLongPathsAndReadOnlyFilesAreRefused) {
    TempTree tree;
    const std::string file = tree.write("f", "0123456789");
    const FSRef ref = refOf(file);
    ASSERT_EQ(CFile::WriteFile(ref, "abc", 3), noErr);
    EXPECT_EQ(readText(file), "abc3456789");
    EXPECT_EQ(readAll(CFile::ReadFile(ref), 10), "abc3456789");
    // An empty data fork reads as a non-null empty array.
    EXPECT_EQ(readAll(CFile::ReadFile(refOf(tree.write("empty", ""))), 0), "");

    long size = -1;
    EXPECT_EQ(readAll(CFile::ReadFile(CString256(file.c_str()), &size), 10), "abc3456789");
    EXPECT_EQ(size, 10);
    EXPECT_EQ(CFile::ReadFile(CString256(tree.path("missing").c_str()), &size), nullptr);
    EXPECT_EQ(size, 0);
    FSSpec spec;
    ASSERT_EQ(CFile::FSMakeFSSpec(&ref, &spec), noErr);
    EXPECT_EQ(readAll(CFile::ReadFile(spec.vRefNum, spec.parID, spec.name), 10), "abc3456789");
    EXPECT_EQ(CFile::ReadFile(spec.vRefNum, spec.parID, (const unsigned char*)"\x04nope"), nullptr);
    // A failed read, a failed allocation or a folder gives null.
    {
        InjectedFault fault({sysio::Call::Read}, EIO);
        EXPECT_EQ(CFile::ReadFile(ref), nullptr);
    }
    failNextNothrowArrays(1);
    EXPECT_EQ(CFile::ReadFile(ref), nullptr);
    EXPECT_EQ(CFile::ReadFile(refOf(tree.root())), nullptr);
    EXPECT_EQ(readText(file), "abc3456789");

    // By path: created when missing, refused when the path would be cut.
    const std::string path = tree.path("written");
    ASSERT_EQ(CFile::WriteFile(path.c_str(), "abc", 3), noErr);
    ASSERT_EQ(CFile::WriteFile(path.c_str(), "X", 1), noErr);
    EXPECT_EQ(readText(path), "Xbc");
    const std::string tooLong = tree.mkdir(std::string(200, 'd')) + "/" + std::string(60, 'f');
    ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const std::string before = snapshot(tree.root());
    EXPECT_EQ(CFile::WriteFile(tooLong.c_str(), "abc", 3), pathTooLongErr);
    EXPECT_EQ(CFile::WriteFile(static_cast<const char*>(nullptr), "abc", 3), paramErr);
    // A read-only file, for an ordinary user who may not open it for writing.
    EXPECT_EQ(runAsNobody([&] {
                  if (readAll(CFile::ReadFile(ref), 10) != "abc3456789") return 1;
                  return CFile::WriteFile(ref, "x", 1) == afpAccessDenied ? 0 : 2;
              }),
              0);
    EXPECT_EQ(snapshot(tree.root()), before);
}

// ---- Comments ----------------------------------------------------------------------

TEST(CFileComments, StoredInTheDesktopCommentAttributeAndReadBackInMacRoman) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    const FSRef ref = refOf(file);
    CString256 comment("as it was"), back;
    ASSERT_EQ(CFile::FSGetComment(ref, comment), noErr);
    EXPECT_STREQ(comment.text, "as it was");  // no comment yet

    ASSERT_EQ(CFile::FSSetComment(ref, CString256("Version 2 \xA5 final")), noErr);  // bullet
    EXPECT_EQ(xattr(file, "user.xdg.comment"), bytesOf("Version 2 \xE2\x80\xA2 final"));

    // Without user attributes: an error, and the string and attribute stay.
    {
        InjectedFault fault({sysio::Call::SetXattr}, EOPNOTSUPP);
        EXPECT_EQ(CFile::FSSetComment(ref, CString256("lost")), wrgVolTypErr);
    }
    {
        InjectedFault fault({sysio::Call::GetXattr}, EOPNOTSUPP);
        EXPECT_EQ(CFile::FSGetComment(ref, comment), wrgVolTypErr);
        EXPECT_STREQ(comment.text, "as it was");
    }
    ASSERT_EQ(CFile::FSGetComment(ref, back), noErr);
    EXPECT_STREQ(back.text, "Version 2 \xA5 final");
}

// ---- Descriptors and object specifiers ---------------------------------------------

TEST(CFileDescriptors, ReferencesFromEveryFileDescriptorTypeAndNoSpecifierOfAMissingObject) {
    TempTree tree;
    const std::string file = tree.write("target file", "x");
    FSRef ref = refOf(file), out{};
    FSSpec spec;
    ASSERT_EQ(CFile::FSMakeFSSpec(&ref, &spec), noErr);
    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    Handle h = reinterpret_cast<Handle>(alias);
    // A file URL takes the alias's road, through AECoerceDesc (URLs themselves:
    // AppleEvents.FileURLItemsReadAsFSRefsByteForByteAndOthersDoNot).
    AEDesc fsrf = kNull, fss = kNull, alis = kNull, shortRef = kNull;
    ASSERT_EQ(AECreateDesc(typeFSRef, &ref, sizeof ref, &fsrf), noErr);
    ASSERT_EQ(AECreateDesc(typeFSS, &spec, sizeof spec, &fss), noErr);
    ASSERT_EQ(AECreateDesc(typeAlias, *h, GetHandleSize(h), &alis), noErr);
    DisposeHandle(h);
    ASSERT_EQ(AECreateDesc(typeFSRef, &ref, 40, &shortRef), noErr);
    for (AEDesc* d : {&fsrf, &fss, &alis}) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&d->descriptorType), 4));
        ASSERT_EQ(CFile::GetFSRefFromAEDesc(&out, d), noErr);
        EXPECT_EQ(pathOf(out), file);
    }
    for (const AEDesc* d : std::initializer_list<const AEDesc*>{&shortRef, &kNull})
        EXPECT_EQ(CFile::GetFSRefFromAEDesc(&out, d), errAECoercionFail);

    // Object specifiers: the Finder stand-in, their one reader, resolves them
    // by their alias (the comment tests); a missing object has none.
    ASSERT_EQ(::unlink(file.c_str()), 0);
    AEDesc objSpec = {FOUR_CHAR_CODE("junk"), nullptr};
    // Neither road leads anywhere: the second one's code comes back.
    EXPECT_EQ(CFile::GetFSRefFromAEDesc(&out, &alis), errAECoercionFail);
    EXPECT_EQ(MoreFEUpdateItemFSRef(&ref), fnfErr);
    EXPECT_EQ(MoreAEOCreateObjSpecifierFromFSRef(&ref, &objSpec), fnfErr);
    EXPECT_EQ(objSpec.descriptorType, typeNull);
    // A send that fails returns its code: the comment tests, whose Finder
    // stand-in answers with the failing call's code.
    for (AEDesc* d : {&fsrf, &fss, &alis, &shortRef}) AEDisposeDesc(d);
}
