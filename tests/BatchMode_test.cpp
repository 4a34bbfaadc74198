#include "shell/batch/BatchMode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/files/linux/AppleDouble.h"
#include "processing/FolderExpansion.h"
#include "processing/ResultCodes.h"
#include "settings/Settings.h"
#include "shell/batch/BatchInfo.h"
#include "shell/batch/BatchText.h"
#include "testkit/BatchRun.h"
#include "testkit/Mounts.h"
#include "testkit/Nobody.h"
#include "testkit/Refs.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace testsupport;
using ::testing::HasSubstr;

namespace {

using Lines = std::vector<std::string>;

// A sidecar holding Finder info with type and creator and a resource fork.
Bytes forkSidecar(const Bytes& fork) {
    return sidecar(finderInfo("TEXT", "ttxt"), fork);
}

// A tree with every kind of thing a run meets: forks in a sidecar and in an
// attribute, empty forks, a malformed sidecar, a link, a FIFO, mixed case.
struct MixedTree {
    TempTree tree;
    MixedTree() {
        makeTree(tree, {"top/Alpha=alpha data", "top/beta=", "top/Sub/gamma=gamma",
                        "top/Sub/delta=", "top/bad=bad data", "top/._bad@malformed/duplicate-id.ad",
                        "top/link~Alpha", "top/fifo|"});
        tree.write("top/._Alpha", forkSidecar(pattern(300, 3)));
        tree.write("top/._beta", forkSidecar(pattern(40, 5)));
        setXattr(tree.path("top/Sub/gamma"), kMacFork, pattern(20, 7));
    }
    std::string top() const { return tree.path("top"); }
};

}  // namespace

TEST(BatchOptionsTest, BatchInvocationIsDecidedFromArgvAlone) {
    auto is = [](std::vector<const char*> args) {
        args.insert(args.begin(), "brackwater");
        return IsBatchInvocation(int(args.size()), args.data());
    };
    EXPECT_FALSE(is({}));
    EXPECT_FALSE(is({"/home/u/file", "/home/u/folder"}));  // a launcher's %F
    EXPECT_FALSE(is({"-platform", "offscreen", "/tmp/x"}));
    EXPECT_FALSE(is({"--style=fusion"}));
    EXPECT_FALSE(is({"--", "--info", "-h"}));
    EXPECT_TRUE(is({"--operation", "flip", "x"}));
    EXPECT_TRUE(is({"/tmp/x", "--info"}));
    EXPECT_TRUE(is({"-h"}));
    EXPECT_TRUE(is({"--opertion", "flip"}));  // a typo is bad usage, not a window
}

TEST(BatchOptionsTest, AWindowIsOpenedOnlyWhereADisplayOrAHeadlessPlatformIsNamed) {
    EXPECT_TRUE(WindowPlatformAvailable(":0", nullptr, nullptr));
    EXPECT_TRUE(WindowPlatformAvailable(nullptr, "wayland-0", "wayland"));
    EXPECT_TRUE(WindowPlatformAvailable(nullptr, nullptr, "offscreen"));
    EXPECT_TRUE(WindowPlatformAvailable("", nullptr, "minimal:enable_fonts"));
    // Nothing to show a window on: Qt would abort the process.
    EXPECT_FALSE(WindowPlatformAvailable(nullptr, nullptr, nullptr));
    EXPECT_FALSE(WindowPlatformAvailable("", "", ""));
    EXPECT_FALSE(WindowPlatformAvailable(nullptr, nullptr, "xcb"));
    EXPECT_FALSE(WindowPlatformAvailable(nullptr, nullptr, "wayland-egl"));
}

TEST(BatchOptionsTest, BadUsageIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--operation"},
        {"--operation", "rotate", "x"},
        {"--operation", "flip"},
        {"--operation", "flip", "--info", "x"},
        {"--operation", "flip", "--operation", "delete-data", "x"},
        {"--operation", "flip", "--json", "x"},
        {"--info", "--dry-run", "x"},
        {"--info", "--yes", "x"},
        {"--info", "--frobnicate", "x"}};
    for (const auto& args : bad) {
        BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, kBatchUsage) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty());
    }
    CBatchOptions options;
    std::string error;
    const char* argv[] = {"brackwater", "-n", "--operation=delete-resource", "-y", "--", "-x"};
    ASSERT_TRUE(ParseBatchOptions(6, argv, &options, &error)) << error;
    EXPECT_EQ(options.command, BatchCommand::Operation);
    EXPECT_EQ(options.function, kDeleteResourceFork);
    EXPECT_TRUE(options.dryRun);
    EXPECT_TRUE(options.yes);
    EXPECT_EQ(options.paths, std::vector<std::string>{"-x"});
}

TEST(BatchModeTest, SkippedMeansTheOperationWouldChangeNothing) {
    TempTree tree;
    tree.write("plain", "data, no resource fork");
    tree.write("blank", "data");
    tree.write("._blank", forkSidecar(placeholderBytes()));
    tree.write("empty", "");
    const std::string before = snapshot(tree.root());
    BatchResult r = runBatch({"--operation", "delete-resource", "-y", tree.path("plain"),
                              tree.path("blank"), tree.path("empty")});
    EXPECT_EQ(r.status, kBatchSuccess) << r.err;
    EXPECT_EQ(r.out, "0 changed, 0 failed, 3 skipped\n");
    EXPECT_EQ(snapshot(tree.root()), before);
    r = runBatch({"--operation", "flip", "-y", tree.path("empty")});
    EXPECT_EQ(r.out, "0 changed, 0 failed, 1 skipped\n");
    EXPECT_EQ(snapshot(tree.root()), before);

    // Not skipped: a fork of the placeholder's size that is no placeholder, and
    // an attribute fork behind a sidecar whose own fork is empty.
    tree.write("sized", "data");
    tree.write("._sized", forkSidecar(pattern(286, 9)));
    tree.write("behind", "data");
    tree.write("._behind", forkSidecar({}));
    setXattr(tree.path("behind"), kMacFork, pattern(30, 2));
    r = runBatch({"--operation", "delete-resource", "-y", tree.path("sized"), tree.path("behind")});
    EXPECT_EQ(r.out, "deleted resource fork: " + tree.path("sized") + "\ndeleted resource fork: " +
                         tree.path("behind") + "\n2 changed, 0 failed, 0 skipped\n");
    EXPECT_FALSE(hasXattr(tree.path("behind"), kMacFork));
}

// Before a yes nothing is written: a dry run lists what would change with the
// sizes, and on a terminal the batch mode asks once with the Stop alert's text.
TEST(BatchModeTest, NoByteChangesBeforeAYesAndADryRunListsWhatWouldChange) {
    MixedTree m;
    const std::string before = snapshot(m.tree.root());
    BatchResult flip = runBatch({"--operation", "flip", "--dry-run", m.top()});
    EXPECT_EQ(flip.status, kBatchFailure);
    EXPECT_EQ(
        lines(flip.out),
        (Lines{"would flip (data 10 bytes, resource 300 bytes): " + m.tree.path("top/Alpha"),
               "would flip (data 5 bytes, resource 20 bytes): " + m.tree.path("top/Sub/gamma"),
               "dry run: 2 would change, 3 would fail, 2 skipped; nothing was changed"}));
    EXPECT_THAT(flip.err, HasSubstr(m.tree.path("top/bad") + ": would fail: ioErr (-36)"));

    BatchResult rsrc = runBatch({"--operation", "delete-resource", "-n", m.top()});
    EXPECT_EQ(lines(rsrc.out),
              (Lines{"would delete resource fork (data 10 bytes, resource 300 bytes): " +
                         m.tree.path("top/Alpha"),
                     "would delete resource fork (data 0 bytes, resource 40 bytes): " +
                         m.tree.path("top/beta"),
                     "would delete resource fork (data 5 bytes, resource 20 bytes): " +
                         m.tree.path("top/Sub/gamma"),
                     "dry run: 3 would change, 3 would fail, 1 skipped; nothing was changed"}));

    // Deleting the data fork does not need the resource fork: the malformed
    // sidecar does not stop it.
    BatchResult data = runBatch({"--operation", "delete-data", "-n", m.top()});
    EXPECT_THAT(data.out, HasSubstr("would delete data fork (data 8 bytes, resource unknown): " +
                                    m.tree.path("top/bad")));
    EXPECT_EQ(lines(data.out).back(),
              "dry run: 3 would change, 2 would fail, 2 skipped; nothing was changed");

    for (const char* answer : {"n\n", "\n", "", "whatever\n"}) {
        BatchResult r = runBatch({"--operation", "delete-resource", m.top()}, true, answer);
        EXPECT_EQ(r.status, kBatchFailure) << answer;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(std::string(ConfirmationMessage(kDeleteResourceFork)) + "\n" +
                                  ConfirmationExplanation() + "\nGo ahead? [y/N] ",
                              0),
                  0u)
            << r.err;
    }
    EXPECT_EQ(snapshot(m.tree.root()), before);
    // The real run agrees with the dry run.
    BatchResult yes = runBatch({"--operation", "delete-resource", m.top()}, true, "Yes\n");
    EXPECT_EQ(yes.status, kBatchFailure);  // the link, the FIFO and the malformed sidecar
    EXPECT_EQ(lines(yes.out).back(), "3 changed, 3 failed, 1 skipped");
    // beta's sidecar keeps its type and creator, with an empty fork.
    EXPECT_EQ(readBytes(m.tree.path("top/._beta")).size(), 82u);
    // A file with other names sharing its data fork would be left untouched.
    ASSERT_EQ(::link(m.tree.path("top/Alpha").c_str(), m.tree.path("linked").c_str()), 0);
    EXPECT_THAT(runBatch({"--operation", "flip", "-n", m.tree.path("linked")}).err,
                HasSubstr("would fail: fileHasLinksErr (-27001)"));
}

// A sidecar, netatalk's folder and the headers in it are parts of other files
// wherever they are named: "dir/.* dir/*" or "find -type f | xargs" hand them
// over beside the files. They are screened out before any operation looks at
// them; a flip, which would write into a sidecar taken for a file, shows it.
TEST(BatchModeTest, SidecarsAndNetatalkHeadersNamedAsItemsAreSkippedWithTheReason) {
    const Bytes header = corpusBytes("peers/netatalk2-fork.ad");
    TempTree tree;
    const std::string foo = tree.write("d/foo", "foo data");
    const std::string fooSide = tree.write("d/._foo", forkSidecar(pattern(50, 4)));
    const std::string orphan = tree.write("d/._gone", "an orphan is an ordinary file");
    const std::string fooHeader = tree.write("d/.AppleDouble/foo", header);
    const std::string parent =
        tree.write("d/.AppleDouble/.Parent", corpusBytes("peers/netatalk2-parent.ad"));
    const std::string store = tree.path("d/.AppleDouble");
    BatchResult r =
        runBatch({"--operation", "flip", "--yes", fooSide, foo, store, orphan, fooHeader, parent});
    EXPECT_EQ(r.status, kBatchSuccess) << r.err;
    const auto err = lines(r.err);
    ASSERT_EQ(err.size(), 4u) << r.err;
    EXPECT_EQ(err[0], "brackwater: " + fooSide +
                          ": skipped: the AppleDouble sidecar of the file beside it, part of "
                          "that file, never handled as a file of its own");
    EXPECT_EQ(err[1].rfind("brackwater: " + store + ": skipped: netatalk's folder", 0), 0u);
    EXPECT_EQ(err[2], "brackwater: " + fooHeader +
                          ": skipped: netatalk's header of another file's fork and Finder "
                          "info, never handled as a file of its own");
    EXPECT_EQ(err[3].rfind("brackwater: " + parent + ": skipped: ", 0), 0u) << err[3];
    EXPECT_EQ(lines(r.out).back(), "2 changed, 0 failed, 4 skipped");
    EXPECT_EQ(readText(foo), "");
    EXPECT_EQ(readText(orphan), "");
    EXPECT_EQ(readBytes(fooHeader), header);
    EXPECT_EQ(readBytes(parent), corpusBytes("peers/netatalk2-parent.ad"));
    EXPECT_FALSE(exists(tree.path("d/._._foo")));
    // foo keeps its type and creator, and its resource fork, which the flip
    // wrote its data fork over.
    Bytes fork = pattern(50, 4);
    std::copy_n("foo data", 8, fork.begin());
    EXPECT_EQ(readBytes(fooSide), forkSidecar(fork));
}

// Every file is handled once per run, however often it is named: by itself,
// through its folder, or through a folder named twice; and each is reported
// by the path given with the names below it.
TEST(BatchModeTest, EachFileIsHandledOncePerRunAndReportedBelowThePathGiven) {
    TempTree tree;
    makeTree(tree, {"d/a=a", "d/sub/b=b", "e=e", "x/sub/g=g"});
    ASSERT_EQ(::chdir(tree.root().c_str()), 0);
    BatchResult r = runBatch({"--operation", "delete-data", "--yes", "d/sub/b", "e", "d",
                              "./d/../e", "d/sub", "d/", "./x/sub/../sub"});
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(r.status, kBatchSuccess) << r.err;
    EXPECT_EQ(lines(r.out),
              (Lines{"deleted data fork: e", "deleted data fork: d/a", "deleted data fork: d/sub/b",
                     "deleted data fork: ./x/sub/../sub/g", "4 changed, 0 failed, 4 skipped"}));
    EXPECT_EQ(lines(r.err), (Lines{"brackwater: d/sub/b: skipped: inside d, which is handled whole",
                                   "brackwater: ./d/../e: skipped: named before; handled once",
                                   "brackwater: d/sub: skipped: inside d, which is handled whole",
                                   "brackwater: d/: skipped: named before; handled once"}));
    EXPECT_EQ(readText(tree.path("x/sub/g")) + readText(tree.path("d/sub/b")), "");
}

TEST(BatchModeTest, FilesComeInTheWindowsWalkOrder) {
    TempTree tree;
    for (const char* name :
         {"w/zeta", "w/Beta", "w/alpha", "w/ALPHA", "w/b/inner", "w/B2/x", "w/a dir/deep/er/file",
          "w/a dir/z", "w/._orphan", "w/m", "w/._m", "w/_under", "w/é", "w/E", "w/10", "w/9"})
        tree.write(name, "x");
    tree.mkdir("w/empty/folders/only");

    // The window: count, allocate, collect.
    const FSRef folder = refOf(tree.path("w"));
    gNbrFilesToBeProcessed = gNbrFilesProcessed = 0;
    ASSERT_EQ(IterateCountFolder(&folder), noErr);
    std::vector<FSRef> array(static_cast<std::size_t>(gNbrFilesToBeProcessed));
    gFSRefArray = array.data();
    ASSERT_EQ(IterateCollectFolder(&folder), noErr);
    gFSRefArray = nullptr;
    ASSERT_EQ(gNbrFilesProcessed, gNbrFilesToBeProcessed);
    std::vector<std::string> window;
    for (const FSRef& ref : array) window.push_back(pathOf(ref));
    ASSERT_EQ(window.size(), 15u);  // "._m" belongs to m

    // The batch mode's report, in the same order.
    BatchResult r = runBatch({"--operation", "delete-data", "-y", tree.path("w")});
    std::vector<std::string> reported;
    for (const auto& line : lines(r.out))
        if (line.rfind("deleted data fork: ", 0) == 0) reported.push_back(line.substr(19));
    EXPECT_EQ(reported, window);
}

TEST(BatchModeTest, AnInterruptedRunStopsBetweenFiles) {
    TempTree tree;
    tree.write("f/a", "1");
    tree.write("f/b", "2");
    BatchResult r =
        runBatch({"--operation", "delete-data", "--yes", tree.path("f")}, false, "", true);
    EXPECT_EQ(r.status, kBatchInterrupted);
    EXPECT_THAT(r.err, HasSubstr("interrupted"));
    EXPECT_EQ(readText(tree.path("f/a")) + readText(tree.path("f/b")), "12");
}

// ---- Folders the walk does not enter ----

TEST(BatchModeTest, AFolderThatCannotBeListedIsReportedWhereItWasMetAndTheRestIsHandled) {
    TempTree tree;
    ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
    tree.write("p/a/f", "aa");
    tree.write("p/b-locked/f", "bb");
    tree.write("p/c/f", "cc");  // after the locked folder
    for (const char* f : {"p", "p/a", "p/a/f", "p/b-locked", "p/b-locked/f", "p/c", "p/c/f"})
        ASSERT_EQ(::chown(tree.path(f).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(tree.path("p/b-locked").c_str(), 0), 0);
    // As nobody, for whom the mode counts; one bit per check, the child cannot
    // report a gtest failure of its own.
    EXPECT_EQ(runAsNobody([&] {
                  BatchResult r = runBatch({"--operation", "delete-data", "--yes", tree.path("p")});
                  return int(r.status == kBatchFailure) |
                         int(lines(r.out) == Lines{"deleted data fork: " + tree.path("p/a/f"),
                                                   "deleted data fork: " + tree.path("p/c/f"),
                                                   "2 changed, 1 failed, 0 skipped"})
                             << 1 |
                         int(r.err == "brackwater: " + tree.path("p/b-locked") +
                                          ": afpAccessDenied (-5000): permission denied (cannot "
                                          "list this folder; files in it were not handled)\n")
                             << 2;
              }),
              7);
    EXPECT_EQ(readText(tree.path("p/a/f")), "");
    EXPECT_EQ(readText(tree.path("p/b-locked/f")), "bb");
    EXPECT_EQ(readText(tree.path("p/c/f")), "");
}

TEST(BatchModeTest, AFileSystemMountedBelowIsSkippedAndDroppedItselfIsHandled) {
    TempTree tree;
    tree.write("d/a", "aa");
    tree.mkdir("d/m");
    tree.write("d/z", "zz");
    TmpfsMount mount(tree.path("d/m"));
    if (!mount.ok()) GTEST_SKIP() << mount.error();
    tree.write("d/m/inside", "mounted bytes");
    BatchResult r = runBatch({"--operation", "delete-data", "--yes", tree.path("d")});
    EXPECT_EQ(r.status, kBatchSuccess);
    EXPECT_EQ(lines(r.out),
              (Lines{"deleted data fork: " + tree.path("d/a"),
                     "deleted data fork: " + tree.path("d/z"), "2 changed, 0 failed, 1 skipped"}));
    EXPECT_EQ(r.err, "brackwater: " + tree.path("d/m") +
                         ": skipped: another file system is mounted here; it was not entered\n");
    EXPECT_EQ(readText(tree.path("d/m/inside")), "mounted bytes");

    r = runBatch({"--operation", "delete-data", "--yes", tree.path("d/m")});
    EXPECT_EQ(r.status, kBatchSuccess) << r.err;
    EXPECT_EQ(lines(r.out), (Lines{"deleted data fork: " + tree.path("d/m/inside"),
                                   "1 changed, 0 failed, 0 skipped"}));
    EXPECT_EQ(readText(tree.path("d/m/inside")), "");
}

// One fork the attribute holding it cannot take fails alone: the other files
// of the folder are still flipped (each store's bytes after a flip are checked
// by the fault-injection runs over every fork shape and ForkOperations_test,
// and netatalk's folder is hidden from the listing, as Files_test shows).
TEST(BatchModeTest, AForkItsStoreCannotTakeFailsAlone) {
    TempTree tree;
    tree.write("s/side", "side data");
    tree.write("s/._side", forkSidecar(pattern(300, 3)));
    tree.write("s/plain", "plain data");
    const std::string tooBig = tree.write("s/big", pattern(70000, 8));  // met first
    setXattr(tooBig, kMacFork, bytesOf("small"));
    BatchResult flip = runBatch({"--operation", "flip", "--yes", tree.path("s")});
    EXPECT_EQ(flip.status, kBatchFailure);
    EXPECT_EQ(lines(flip.out).back(), "2 changed, 1 failed, 0 skipped") << flip.out;
    EXPECT_EQ(flip.err, "brackwater: " + tooBig +
                            ": fsDataTooBigErr (-1310): the resource fork is too large for the "
                            "store that holds it (an extended attribute the file system refuses "
                            "at that size, or more than a sidecar can describe); nothing was "
                            "changed\n");
    EXPECT_EQ(readBytes(tooBig), pattern(70000, 8));
    EXPECT_EQ(xattr(tooBig, kMacFork), bytesOf("small"));
    EXPECT_FALSE(exists(tree.path("s/._big")));
    EXPECT_EQ(readText(tree.path("s/plain")), "");
}

// What --info says of each store, of netatalk's headers valid and malformed,
// of links and of what cannot be examined (how each peer's sidecar is read is
// the fork store's tests' concern).
TEST(BatchInfoTest, EachStoreAndEveryFindingIsReportedInJsonAndInText) {
    TempTree tree;
    const std::string sample = tree.write("a/sample", "data fork of the sample\n");
    const std::string header =
        tree.write("a/.AppleDouble/sample", corpusBytes("peers/netatalk2-fork.ad"));
    tree.write("a/.AppleDouble/.Parent", corpusBytes("peers/netatalk2-parent.ad"));
    tree.write("a/bad", "bad");
    tree.write("a/.AppleDouble/bad", corpusBytes("netatalk2-malformed/fork-length-short.ad"));
    const std::string samba = tree.write("samba/sample", "data fork of the sample\n");
    tree.write("samba/._sample", corpusBytes("peers/samba-fruit.ad"));
    setXattr(samba, kMetadata, corpusBytes("peers/samba-fruit.meta"));
    // Samba's stream attribute carries one byte more than the fork.
    const std::string stream = tree.write("xattr/sample", "");
    setXattr(stream, kSambaFork, concat(corpusBytes("peers/samba-fruit.rsrc"), {0}));
    tree.write("f", "x");
    ASSERT_EQ(::symlink("f", tree.path("link").c_str()), 0);
    tree.mkdir("._g");  // a folder named like a sidecar is no sidecar
    tree.write("g", "x");
    const std::string backup = tree.write("backup", "b");
    ASSERT_EQ(::link(backup.c_str(), tree.path("linked").c_str()), 0);
    const std::string before = snapshot(tree.root());
    const std::string ioErr =
        "{\"code\":-36,\"message\":" + JsonString(DescribeResultCode(-36)) + "}";
    const struct {
        std::vector<std::string> args;
        int status;
        std::size_t outLines, errLines;
        std::vector<std::string> out;  // one: the whole output; more: parts of it
    } cases[] = {
        {{"--json", tree.path("a")},  // .AppleDouble is part of the files, not one
         kBatchSuccess,
         2,
         0,
         {"\"resource_error\":" + ioErr +
              ",\"type\":null,\"creator\":null,\"finder_info_error\":" + ioErr,
          "\"netatalk_header\":\"malformed\",\"netatalk_problem\":\"resource fork length differs "
          "from the file's size\"}",
          "\"resource_fork\":700,\"resource_store\":\"netatalk\"",
          "\"netatalk_header\":\"valid\",\"netatalk_problem\":null}"}},
        {{sample},
         kBatchSuccess,
         7,
         0,
         {sample + "\n  data fork      24 bytes\n  resource fork  700 bytes, in netatalk's " +
          header +
          "\n  type/creator   TEXT/ttxt\n  writable       yes\n  sidecar        none\n"
          "  netatalk       " +
          header + ", valid\n"}},
        {{"--json", stream},
         kBatchSuccess,
         1,
         0,
         {"{\"path\":" + JsonString(stream) +
          ",\"data_fork\":0,\"resource_fork\":700,\"resource_store\":\"attribute\","
          "\"resource_attribute\":\"user.DosStream.AFP_Resource:$DATA\",\"type\":null,"
          "\"creator\":null,\"writable\":true,\"sidecar\":\"none\",\"sidecar_problem\":null}\n"}},
        {{samba},
         kBatchSuccess,
         6,
         0,
         {samba +
          "\n  data fork      24 bytes\n  resource fork  700 bytes, in the sidecar ._sample\n"
          "  type/creator   TEXT/ttxt\n  writable       yes\n  sidecar        ._sample, valid\n"}},
        {{"--json", tree.path("link"), tree.path("g"), tree.path("none")},
         kBatchFailure,
         3,
         3,
         {"{\"path\":" + JsonString(tree.path("link")) + ",\"error\":{\"code\":-1302,\"message\":" +
              JsonString(DescribeResultCode(notAFileErr)) + "}}",
          "\"resource_error\":{\"code\":-1302", "\"sidecar\":\"not a file\"", "\"code\":-43"}},
        {{tree.path("linked")},
         kBatchSuccess,
         7,
         0,
         {"hard links     2 names share the data fork"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--info"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(lines(r.out).size(), c.outLines) << r.out;
        EXPECT_EQ(lines(r.err).size(), c.errLines) << r.err;
        if (c.out.size() == 1 && c.out[0].back() == '\n') {
            EXPECT_EQ(r.out, c.out[0]);
        }
        for (const auto& part : c.out) EXPECT_THAT(r.out, HasSubstr(part));
    }
    EXPECT_EQ(snapshot(tree.root()), before);  // --info only reads
}

TEST(BatchTextTest, PathsStayOnOneLineAndJsonIsValidUtf8) {
    EXPECT_EQ(TerminalPath("a\nb\\c\x01\té"), "a\\nb\\\\c\\x01\\té");
    EXPECT_EQ(JsonString("x\"y\\z\n\x1f"), "\"x\\\"y\\\\z\\n\\u001f\"");
    EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // Stray bytes are Latin-1 characters: 0xE9 alone is é, an overlong form too.
    EXPECT_EQ(JsonString("caf\xe9"), "\"caf\xc3\xa9\"");
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\xc3\x80\xc2\xaf\"");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\xc3\xad\xc2\xa0\xc2\x80\"");  // a surrogate
    EXPECT_EQ(FourCharText(0x54455854), "TEXT");
    EXPECT_EQ(FourCharText(0x00000001), "0x00000001");
    EXPECT_EQ(
        DescribeResultCode(-36),
        "ioErr (-36): I/O error, or a malformed AppleDouble file (sidecar or .AppleDouble header)");
    EXPECT_EQ(DescribeResultCode(-12345), "result code -12345");
}
