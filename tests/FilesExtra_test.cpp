#include "platform/FilesExtra.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/SysIO.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

constexpr SInt64 kSeconds1904To1970 = 2082844800;
constexpr SInt64 kSeconds1970To2000 = 946684800;

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr)
        << path;
    return ref;
}

std::u16string u16(const char16_t* s) {
    return std::u16string(s);
}

UTCDateTime dateOf(SInt64 unixSeconds, UInt16 fraction = 0) {
    const UInt64 s = UInt64(unixSeconds + kSeconds1904To1970);
    return UTCDateTime{UInt16(s >> 32), UInt32(s), fraction};
}

bool sameDate(const UTCDateTime& a, const UTCDateTime& b) {
    return a.highSeconds == b.highSeconds && a.lowSeconds == b.lowSeconds &&
           a.fraction == b.fraction;
}

// A sidecar with a dates entry (created, modified, backup, access: unknown),
// Finder info and an empty fork, as netatalk and some archivers write them.
Bytes sidecarWithDates() {
    Bytes dates(16, 0);
    for (int i = 0; i < 4; ++i) dates[std::size_t(4 * i)] = 0x80;
    return makeSidecar(
        {{8, 62, 16, dates}, {9, 78, 32, finderInfo("TEXT", "ttxt")}, {2, 110, 0, {}}});
}

int gFailErrno = 0;
sysio::Call gFailCall;
int failOne(sysio::Call call) {
    return call == gFailCall ? gFailErrno : 0;
}

}  // namespace

// ---- FSSetCatalogInfo -----------------------------------------------------

TEST(FSSetCatalogInfoFinderInfo, NewFinderInfoGoesIntoANewSidecarThatPeersRead) {
    TempTree tree;
    const std::string file = tree.write("doc", "data");
    FSRef ref = refOf(file);
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "APPLTvLy\x01\x00", 10);
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info), noErr);
    const Bytes sc = readBytes(tree.path("._doc"));
    ASSERT_GE(sc.size(), 82u);
    EXPECT_EQ(be32(sc, 0), 0x00051607u);
    EXPECT_EQ(std::string(sc.begin() + 8, sc.begin() + 24), "Mac OS X        ");
    EXPECT_EQ(be32(sc, 26), 9u);   // Finder info first
    EXPECT_EQ(be32(sc, 30), 50u);  // at 50
    EXPECT_EQ(std::string(sc.begin() + 50, sc.begin() + 58), "APPLTvLy");
    EXPECT_EQ(readText(file), "data");

    // Extended Finder info alone leaves type and creator as they are.
    std::memset(info.finderInfo, 0, 16);
    info.extFinderInfo[0] = 0x42;
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoFinderXInfo, &info), noErr);
    FSCatalogInfo back{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo, &back, nullptr,
                               nullptr, nullptr),
              noErr);
    EXPECT_EQ(std::memcmp(back.finderInfo, "APPLTvLy", 8), 0);
    EXPECT_EQ(back.extFinderInfo[0], 0x42);
}

TEST(FSSetCatalogInfoFinderInfo, RefusedWhereItCannotLiveAndOnBadSidecars) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    const std::string link = tree.path("l");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    FSRef linkRef = refOf(link), root = refOf("/"), fileRef = refOf(file);
    EXPECT_EQ(FSSetCatalogInfo(&linkRef, kFSCatInfoFinderInfo, &info), notAFileErr);
    EXPECT_EQ(FSSetCatalogInfo(&root, kFSCatInfoFinderInfo, &info), paramErr);
    EXPECT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoPermissions, &info), paramErr);
    EXPECT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoDataSizes, &info), paramErr);
    EXPECT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoFinderInfo, nullptr), paramErr);
    EXPECT_FALSE(exists(tree.path("._f")));

    tree.write("._f", corpusBytes("malformed/overlapping-entries.ad"));
    const std::string before = snapshot(tree.root());
    EXPECT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoFinderInfo, &info), ioErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

TEST(FSSetCatalogInfoDates, ContentAndAccessDatesLandOnTheFileToTheFraction) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    FSRef ref = refOf(file);
    FSCatalogInfo info{};
    info.contentModDate = dateOf(1234567890, 0x8000);  // and a half second
    info.accessDate = dateOf(1000000000, 0x0001);
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoContentMod | kFSCatInfoAccessDate, &info), noErr);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    FSCatalogInfo back{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoContentMod | kFSCatInfoAccessDate, &back, nullptr,
                               nullptr, nullptr),
              noErr);
    EXPECT_TRUE(sameDate(back.contentModDate, info.contentModDate));
    EXPECT_TRUE(sameDate(back.accessDate, info.accessDate));

    // The attribute modification date cannot be set: accepted, nothing moves.
    const std::string before = snapshot(tree.root());
    info.attributeModDate = dateOf(5);
    EXPECT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoAttrMod, &info), noErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

TEST(FSSetCatalogInfoDates, CreationDateGoesIntoTheSidecarsDatesEntry) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    tree.write("._f", sidecarWithDates());
    const Bytes before = readBytes(tree.path("._f"));
    FSRef ref = refOf(file);
    FSCatalogInfo info{};
    info.createDate = dateOf(kSeconds1970To2000 + 366 * 86400);  // 2001-01-01
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoCreateDate, &info), noErr);
    const Bytes after = readBytes(tree.path("._f"));
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(be32(after, 62), 366u * 86400u);  // seconds since 2000, as Samba and unar read it
    EXPECT_TRUE(std::equal(after.begin() + 66, after.end(), before.begin() + 66));
    FSCatalogInfo back{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoCreateDate, &back, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_TRUE(sameDate(back.createDate, info.createDate));

    // Before 2000 the count is negative.
    info.createDate = dateOf(kSeconds1970To2000 - 86400);
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoCreateDate, &info), noErr);
    EXPECT_EQ(be32(readBytes(tree.path("._f")), 62), UInt32(-86400));
}

TEST(FSSetCatalogInfoDates, CreationDateInNetatalkMetadataAndNowhereElse) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    const Bytes meta = corpusBytes("peers/samba-fruit.meta");
    ASSERT_EQ(::setxattr(file.c_str(), "user.org.netatalk.Metadata", meta.data(), meta.size(), 0),
              0);
    FSRef ref = refOf(file);
    FSCatalogInfo info{};
    info.createDate = dateOf(kSeconds1970To2000 + 1000);
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoCreateDate, &info), noErr);
    Bytes value(402);
    ASSERT_EQ(::getxattr(file.c_str(), "user.org.netatalk.Metadata", value.data(), value.size()),
              402);
    EXPECT_EQ(be32(value, 354), 1000u);
    value[354] = meta[354], value[355] = meta[355], value[356] = meta[356], value[357] = meta[357];
    EXPECT_EQ(value, meta);

    // A plain Linux file has no dates entry: nothing is added (a third sidecar
    // entry would make Samba refuse the sidecar).
    const std::string plain = tree.write("plain", "y");
    FSRef plainRef = refOf(plain);
    const std::string before = snapshot(tree.root());
    EXPECT_EQ(FSSetCatalogInfo(&plainRef, kFSCatInfoCreateDate, &info), noErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

// ---- Creation ----------------------------------------------------------------

TEST(FSCreateFileUnicode, CreatesEmptyFilesUnderTheirUtf8NamesNeverOverOthers) {
    TempTree tree;
    const std::string folder = tree.mkdir("in");
    FSRef parent = refOf(folder);
    const std::u16string name = u16(u"R\u00E9sum\u00E9.txt");
    FSRef made;
    FSSpec spec;
    ASSERT_EQ(FSCreateFileUnicode(&parent, UniCharCount(name.size()),
                                  reinterpret_cast<const UniChar*>(name.data()), 0, nullptr, &made,
                                  &spec),
              noErr);
    const std::string onDisk = folder + "/R\xC3\xA9sum\xC3\xA9.txt";
    EXPECT_TRUE(exists(onDisk));
    EXPECT_TRUE(readBytes(onDisk).empty());
    FSRef expected = refOf(onDisk), fromSpec;
    EXPECT_EQ(FSCompareFSRefs(&made, &expected), noErr);
    ASSERT_EQ(FSpMakeFSRef(&spec, &fromSpec), noErr);
    EXPECT_EQ(FSCompareFSRefs(&fromSpec, &expected), noErr);

    tree.write("in/taken", "keep");
    const std::u16string taken = u16(u"taken");
    EXPECT_EQ(FSCreateFileUnicode(&parent, 5, reinterpret_cast<const UniChar*>(taken.data()), 0,
                                  nullptr, &made, nullptr),
              dupFNErr);
    EXPECT_EQ(readText(tree.path("in/taken")), "keep");
    // "._taken" would be read as taken's sidecar.
    const std::u16string companion = u16(u"._taken");
    EXPECT_EQ(FSCreateFileUnicode(&parent, 7, reinterpret_cast<const UniChar*>(companion.data()), 0,
                                  nullptr, &made, nullptr),
              bdNamErr);
    const std::u16string slash = u16(u"a/b");
    EXPECT_EQ(FSCreateFileUnicode(&parent, 3, reinterpret_cast<const UniChar*>(slash.data()), 0,
                                  nullptr, &made, nullptr),
              bdNamErr);
    EXPECT_EQ(FSCreateFileUnicode(&parent, 0, nullptr, 0, nullptr, &made, nullptr), bdNamErr);
    FSRef fileAsParent = refOf(tree.path("in/taken"));
    EXPECT_EQ(FSCreateFileUnicode(&fileAsParent, 3, reinterpret_cast<const UniChar*>(u"new"), 0,
                                  nullptr, &made, nullptr),
              dirNFErr);
    EXPECT_FALSE(exists(tree.path("in/._taken")));
}

TEST(FSCreateFileUnicode, CatalogFieldsAreSetOrTheNewFileIsGone) {
    TempTree tree;
    FSRef parent = refOf(tree.root());
    FSCatalogInfo info{};
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    FSRef made;
    ASSERT_EQ(FSCreateFileUnicode(&parent, 1, reinterpret_cast<const UniChar*>(u"a"),
                                  kFSCatInfoFinderInfo, &info, &made, nullptr),
              noErr);
    const Bytes sc = readBytes(tree.path("._a"));
    ASSERT_GE(sc.size(), 58u);
    EXPECT_EQ(std::string(sc.begin() + 50, sc.begin() + 58), "TEXTttxt");

    const std::string before = snapshot(tree.root());
    gFailErrno = EIO;
    gFailCall = sysio::Call::Sync;
    sysio::setFaultHook(failOne);
    EXPECT_EQ(FSCreateFileUnicode(&parent, 1, reinterpret_cast<const UniChar*>(u"b"),
                                  kFSCatInfoFinderInfo, &info, &made, nullptr),
              ioErr);
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(snapshot(tree.root()), before);
    // Fields that cannot be set are refused before anything is made.
    EXPECT_EQ(FSCreateFileUnicode(&parent, 1, reinterpret_cast<const UniChar*>(u"c"),
                                  kFSCatInfoPermissions, &info, &made, nullptr),
              paramErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

TEST(FSCreateDirectoryUnicode, CreatesAFolderAndReportsItsID) {
    TempTree tree;
    FSRef parent = refOf(tree.root());
    FSRef made;
    UInt32 dirID = 0;
    ASSERT_EQ(FSCreateDirectoryUnicode(&parent, 3, reinterpret_cast<const UniChar*>(u"sub"), 0,
                                       nullptr, &made, nullptr, &dirID),
              noErr);
    struct stat st;
    ASSERT_EQ(::stat(tree.path("sub").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    FSCatalogInfo info{};
    ASSERT_EQ(FSGetCatalogInfo(&made, kFSCatInfoNodeID | kFSCatInfoNodeFlags, &info, nullptr,
                               nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.nodeID, dirID);
    EXPECT_TRUE(info.nodeFlags & kFSNodeIsDirectoryMask);
    EXPECT_EQ(FSCreateDirectoryUnicode(&parent, 3, reinterpret_cast<const UniChar*>(u"sub"), 0,
                                       nullptr, &made, nullptr, nullptr),
              dupFNErr);
}

// ---- Alias files ---------------------------------------------------------------

TEST(FSIsAliasFile, LinksAndFlaggedFilesAreAliasesFoldersAreNot) {
    TempTree tree;
    const std::string folder = tree.mkdir("folder");
    const std::string file = tree.write("file", "x");
    ASSERT_EQ(::symlink(folder.c_str(), tree.path("toFolder").c_str()), 0);
    ASSERT_EQ(::symlink(file.c_str(), tree.path("toFile").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", tree.path("dangling").c_str()), 0);
    tree.write("folderAlias", "");
    Bytes fi = finderInfo("fdrp", "MACS");
    fi[8] = 0x80;  // kIsAlias
    tree.write("._folderAlias", makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
    tree.write("docAlias", "");
    fi = finderInfo("TEXT", "ttxt");
    fi[8] = 0x80;
    tree.write("._docAlias", makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
    tree.write("fdrpNotFlagged", "");
    tree.write("._fdrpNotFlagged", makeSidecar({{9, 50, 32, finderInfo("fdrp", "MACS")}}));

    struct Case {
        const char* name;
        bool alias, folder;
    } cases[] = {{"toFolder", true, true},  {"toFile", true, false},
                 {"dangling", true, false}, {"folderAlias", true, true},
                 {"docAlias", true, false}, {"fdrpNotFlagged", false, false},
                 {"file", false, false},    {"folder", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FSRef ref = refOf(tree.path(c.name));
        Boolean alias = 2, isFolder = 2;
        ASSERT_EQ(FSIsAliasFile(&ref, &alias, &isFolder), noErr);
        EXPECT_EQ(bool(alias), c.alias);
        EXPECT_EQ(bool(isFolder), c.folder);
    }
    FSRef root = refOf("/");
    Boolean alias = 2, isFolder = 2;
    EXPECT_EQ(FSIsAliasFile(&root, &alias, &isFolder), noErr);
    EXPECT_FALSE(alias);

    FSRef gone = refOf(file);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(FSIsAliasFile(&gone, &alias, &isFolder), fnfErr);
    EXPECT_FALSE(alias);
    EXPECT_EQ(FSIsAliasFile(&root, nullptr, &isFolder), paramErr);
}

// ---- References from volume, folder ID and name -----------------------------------

TEST(FSMakeFSRef, FromTheFieldsOfASpecAndWithLongNames) {
    TempTree tree;
    const std::string folder = tree.mkdir("dir");
    const std::string file = tree.write("dir/short", "x");
    const std::string longName(100, 'n');
    const std::string longFile = tree.write("dir/" + longName, "y");
    FSRef ref = refOf(file), folderRef = refOf(folder);
    FSSpec spec;
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);

    FSRef made;
    ASSERT_EQ(FSMakeFSRef(spec.vRefNum, spec.parID, spec.name, &made), noErr);
    EXPECT_EQ(FSCompareFSRefs(&made, &ref), noErr);
    ASSERT_EQ(FSMakeFSRef(0, spec.parID, nullptr, &made), noErr);
    EXPECT_EQ(FSCompareFSRefs(&made, &folderRef), noErr);

    Str255 name;
    name[0] = UInt8(longName.size());
    std::memcpy(name + 1, longName.data(), longName.size());
    ASSERT_EQ(FSMakeFSRef(0, spec.parID, name, &made), noErr);
    FSRef longRef = refOf(longFile);
    EXPECT_EQ(FSCompareFSRefs(&made, &longRef), noErr);

    const unsigned char missing[] = "\x07missing";
    EXPECT_EQ(FSMakeFSRef(0, spec.parID, missing, &made), fnfErr);
    EXPECT_EQ(FSMakeFSRef(FSVolumeRefNum(spec.vRefNum - 1), spec.parID, spec.name, &made), nsvErr);
    EXPECT_EQ(FSMakeFSRef(spec.vRefNum, spec.parID, spec.name, nullptr), paramErr);
}
