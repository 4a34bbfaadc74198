#include "platform/files/FilesExtra.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>

#include "platform/files/linux/AppleDouble.h"
#include "testkit/Refs.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

UTCDateTime dateOf(SInt64 unixSeconds, UInt16 fraction = 0) {
    const UInt64 s = UInt64(unixSeconds + 2082844800);  // from 1904
    return UTCDateTime{UInt16(s >> 32), UInt32(s), fraction};
}

auto fields(const UTCDateTime& d) {
    return std::tuple(+d.highSeconds, +d.lowSeconds, +d.fraction);
}

}  // namespace

// A date set and read back is the same date, down to its 1/65536 s fraction.
TEST(FSSetCatalogInfoDates, ContentAndAccessDatesLandOnTheFileToTheFraction) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
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
    ASSERT_EQ(FSGetCatalogInfo(&ref, which, &back, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(fields(back.contentModDate), fields(info.contentModDate));
    EXPECT_EQ(fields(back.accessDate), fields(info.accessDate));
    // The attribute modification date cannot be set: accepted, nothing moves.
    const std::string before = snapshot(tree.root());
    info.attributeModDate = dateOf(5);
    EXPECT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoAttrMod, &info), noErr);
    EXPECT_EQ(snapshot(tree.root()), before);
}

TEST(FSIsAliasFile, LinksAndFlaggedFilesAreAliasesFoldersAreNot) {
    TempTree tree;
    const std::string folder = tree.mkdir("folder"), file = tree.write("file", "x");
    ASSERT_EQ(::symlink(folder.c_str(), tree.path("toFolder").c_str()), 0);
    ASSERT_EQ(::symlink(file.c_str(), tree.path("toFile").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", tree.path("dangling").c_str()), 0);
    // Empty files whose sidecar carries Finder info, with or without the alias flag.
    for (const auto& [name, type, alias] : {std::tuple{"folderAlias", "fdrp", true},
                                            {"docAlias", "TEXT", true},
                                            {"fdrpNotFlagged", "fdrp", false}}) {
        tree.write(name, "");
        Bytes fi = finderInfo(type, "MACS");
        fi[8] = alias ? 0x80 : 0;  // kIsAlias
        tree.write(std::string("._") + name, makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
    }
    const struct {
        const char* name;
        bool alias, folder;
    } cases[] = {
        {"toFolder", true, true},    {"toFile", true, false},   {"dangling", true, false},
        {"folderAlias", true, true}, {"docAlias", true, false}, {"fdrpNotFlagged", false, false},
        {"file", false, false},      {"folder", false, false},  {"/", false, false}};  // the root
    Boolean alias = 2, isFolder = 2;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FSRef ref = refOf(c.name[0] == '/' ? c.name : tree.path(c.name));
        ASSERT_EQ(FSIsAliasFile(&ref, &alias, &isFolder), noErr);
        EXPECT_EQ(std::tuple(bool(alias), bool(isFolder)), std::tuple(c.alias, c.folder));
    }
    FSRef gone = refOf(file);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(FSIsAliasFile(&gone, &alias, &isFolder), fnfErr);
    EXPECT_FALSE(alias);
    EXPECT_EQ(FSIsAliasFile(&gone, nullptr, &isFolder), paramErr);
}

TEST(FSMakeFSRef, FromTheFieldsOfASpecAndWithLongNames) {
    TempTree tree;
    const std::string longName(100, 'n');
    FSRef ref = refOf(tree.write("dir/short", "x")), folderRef = refOf(tree.path("dir"));
    FSRef longRef = refOf(tree.write("dir/" + longName, "y")), made;
    FSSpec spec;
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);
    ASSERT_EQ(FSMakeFSRef(spec.vRefNum, spec.parID, spec.name, &made), noErr);
    EXPECT_EQ(FSCompareFSRefs(&made, &ref), noErr);
    ASSERT_EQ(FSMakeFSRef(0, spec.parID, nullptr, &made), noErr);
    EXPECT_EQ(FSCompareFSRefs(&made, &folderRef), noErr);
    Str255 name;
    name[0] = UInt8(longName.size());
    std::memcpy(name + 1, longName.data(), longName.size());
    ASSERT_EQ(FSMakeFSRef(0, spec.parID, name, &made), noErr);
    EXPECT_EQ(FSCompareFSRefs(&made, &longRef), noErr);
    EXPECT_EQ(FSMakeFSRef(FSVolumeRefNum(spec.vRefNum - 1), spec.parID, spec.name, &made), nsvErr);
    EXPECT_EQ(FSMakeFSRef(spec.vRefNum, spec.parID, spec.name, nullptr), paramErr);
}

// Every store is reported with the fork's length, and an attribute store by
// its name; a sidecar holding macOS's blank fork is valid and holds none. A
// malformed AppleDouble file is a finding with the parser's own code and
// text, and the fork it hides is refused with ioErr; a link in a sidecar's
// place is no sidecar. Nothing on disk changes.
TEST(FSInspectForks, EachStoreIsReportedWithItsForkAndFinderInfo) {
    TempTree tree;
    tree.write("side", "1");
    tree.write("._side",
               makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")}, {2, 82, 100, pattern(100)}}));
    tree.write("blank", "2");
    tree.write("._blank", makeSidecar({{2, 50, 286, placeholderBytes()}}));
    setXattr(tree.write("mac", "3"), kMacFork, pattern(50));
    setXattr(tree.write("samba", "4"), kSambaFork, concat(pattern(40), Bytes{0}));
    tree.write("net", "5");
    tree.write(".AppleDouble/net", corpusBytes("peers/netatalk2-fork.ad"));
    tree.write("bad", "6");
    tree.write("._bad", corpusBytes("malformed/duplicate-id.ad"));
    tree.write("badnet", "7");
    tree.write(".AppleDouble/badnet", corpusBytes("netatalk2-malformed/fork-length-short.ad"));
    tree.write("linked", "8");
    ASSERT_EQ(::symlink("bad", tree.path("._linked").c_str()), 0);
    const std::string before = snapshot(tree.root());

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
    } cases[] = {
        {"side", kFSForkStoreSidecar, 100, nullptr, valid, none, noErr, P::None},
        {"blank", kFSForkStoreNone, 0, nullptr, valid, none, noErr, P::None},
        {"mac", kFSForkStoreMacAttribute, 50, kMacFork, none, none, noErr, P::None},
        {"samba", kFSForkStoreSambaAttribute, 40, kSambaFork, none, none, noErr, P::None},
        // the sample's 700-byte fork
        {"net", kFSForkStoreNetatalk, 700, nullptr, none, valid, noErr, P::None},
        {"bad", kFSForkStoreNone, 0, nullptr, malformed, none, ioErr, P::DuplicateId},
        {"badnet", kFSForkStoreNone, 0, nullptr, none, malformed, ioErr, P::ForkLengthMismatch},
        {"linked", kFSForkStoreNone, 0, nullptr, kFSCompanionNotAFile, none, notAFileErr, P::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FSRef ref = refOf(tree.path(c.name));
        FSForkInspection forks;
        ASSERT_EQ(FSInspectForks(&ref, kFSInspectAll, &forks), noErr);
        EXPECT_EQ(forks.dataLength, 1u);
        EXPECT_EQ(forks.writeError, noErr);
        EXPECT_EQ(forks.rsrcError, c.rsrcError);
        EXPECT_EQ(forks.sidecar.state, c.sidecar);
        EXPECT_EQ(forks.netatalk.state, c.netatalk);
        for (const FSCompanionInfo* info : {&forks.sidecar, &forks.netatalk}) {
            const bool bad = info->state == kFSCompanionMalformed;
            EXPECT_EQ(info->problem, bad ? SInt32(c.problem) : 0);
            if (bad) {
                EXPECT_STREQ(info->message, appledouble::describe(c.problem));
            }
        }
        if (c.rsrcError != noErr) continue;
        EXPECT_EQ(forks.rsrcStore, c.store);
        EXPECT_EQ(forks.rsrcLength, c.length);
        EXPECT_STREQ(forks.rsrcAttribute, c.attribute);
        if (c.sidecar == kFSCompanionValid) {
            EXPECT_EQ(forks.sidecar.forkLength, c.length);
        }
    }
    const FSRef side = refOf(tree.path("side"));
    FSForkInspection forks;
    ASSERT_EQ(FSInspectForks(&side, kFSInspectFinderInfo, &forks), noErr);
    EXPECT_TRUE(forks.hasFinderInfo);
    EXPECT_EQ(forks.fileType, be32(finderInfo("TEXT", "ttxt"), 0));
    EXPECT_EQ(forks.fileCreator, be32(finderInfo("TEXT", "ttxt"), 4));
    EXPECT_EQ(snapshot(tree.root()), before);
}
