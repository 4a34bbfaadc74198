#include "platform/FilesExtra.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

constexpr SInt64 kSeconds1904To1970 = 2082844800;

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr)
        << path;
    return ref;
}

UTCDateTime dateOf(SInt64 unixSeconds, UInt16 fraction = 0) {
    const UInt64 s = UInt64(unixSeconds + kSeconds1904To1970);
    return UTCDateTime{UInt16(s >> 32), UInt32(s), fraction};
}

bool sameDate(const UTCDateTime& a, const UTCDateTime& b) {
    return a.highSeconds == b.highSeconds && a.lowSeconds == b.lowSeconds &&
           a.fraction == b.fraction;
}

}  // namespace

// ---- Dates through FSSetCatalogInfo ----------------------------------------------

// A date set and read back is the same date, down to its 1/65536 s fraction.
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

// ---- Alias files ----------------------------------------------------------------------

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
