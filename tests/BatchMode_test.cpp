#include "shell/batch/BatchMode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/files/linux/AppleDouble.h"
#include "processing/ResultCodes.h"
#include "settings/Settings.h"
#include "shell/batch/BatchInfo.h"
#include "shell/batch/BatchText.h"
#include "testkit/BatchRun.h"
#include "testkit/Mounts.h"
#include "testkit/Nobody.h"
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

// Runs the batch mode from `folder`, as a shell there would, and tells how its
// status and the lines it wrote differ from those expected ("" when they agree).
std::string batchIn(const std::string& folder, const std::vector<std::string>& args, int status,
                    const Lines& out, const Lines& err, bool interrupted = false) {
    if (::chdir(folder.c_str()) != 0) return "cannot enter " + folder;
    const BatchResult r = runBatch(args, false, "", interrupted);
    if (::chdir("/") != 0) return "cannot leave " + folder;
    std::string diff = r.status == status ? "" : "status " + std::to_string(r.status) + "\n";
    if (lines(r.out) != out) diff += "out:\n" + r.out;
    if (lines(r.err) != err) diff += "err:\n" + r.err;
    return diff;
}
void expectRun(const std::string& folder, const std::vector<std::string>& args, int status,
               const Lines& out, const Lines& err, bool interrupted = false) {
    EXPECT_EQ(batchIn(folder, args, status, out, err, interrupted), "");
}

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
        {"--info", "--frobnicate", "x"}};
    for (const auto& args : bad) {
        BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, kBatchUsage) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty());
    }
}

TEST(BatchModeTest, SkippedMeansTheOperationWouldChangeNothing) {
    TempTree tree;
    makeTree(tree, {"-plain=data, no resource fork", "blank=data", "empty=", "sized=data",
                    "behind=data"});
    tree.write("._blank", forkSidecar(placeholderBytes()));
    // Not skipped: a fork of the placeholder's size that is no placeholder, and
    // an attribute fork behind a sidecar whose own fork is empty.
    tree.write("._sized", forkSidecar(pattern(286, 9)));
    tree.write("._behind", forkSidecar({}));
    setXattr(tree.path("behind"), kMacFork, pattern(30, 2));
    const std::string before = snapshot(tree.root());
    // Options in their short and joined forms; "--" ends them before a name with a dash.
    expectRun(tree.root(), {"--operation=delete-resource", "-y", "--", "-plain", "blank", "empty"},
              kBatchSuccess, {"0 changed, 0 failed, 3 skipped"}, {});
    expectRun(tree.root(), {"--operation", "flip", "-y", "empty"}, kBatchSuccess,
              {"0 changed, 0 failed, 1 skipped"}, {});
    EXPECT_EQ(snapshot(tree.root()), before);
    expectRun(tree.root(), {"--operation", "delete-resource", "-y", "sized", "behind"},
              kBatchSuccess,
              {"deleted resource fork: sized", "deleted resource fork: behind",
               "2 changed, 0 failed, 0 skipped"},
              {});
    EXPECT_FALSE(hasXattr(tree.path("behind"), kMacFork));
}

// The tree has forks in a sidecar and in an attribute, empty forks, a
// malformed sidecar, a link, a FIFO and mixed case.
TEST(BatchModeTest, NoByteChangesBeforeAYesAndADryRunListsWhatWouldChange) {
    TempTree tree;
    makeTree(tree, {"top/Alpha=alpha data", "top/beta=", "top/Sub/gamma=gamma",
                    "top/Sub/delta=", "top/bad=bad data", "top/._bad@malformed/duplicate-id.ad",
                    "top/link~Alpha", "top/fifo|"});
    tree.write("top/._Alpha", forkSidecar(pattern(300, 3)));
    tree.write("top/._beta", forkSidecar(pattern(40, 5)));
    setXattr(tree.path("top/Sub/gamma"), kMacFork, pattern(20, 7));
    const std::string top = tree.path("top"), before = snapshot(tree.root());
    const std::string bad = "brackwater: top/bad: would fail: " + DescribeResultCode(ioErr);
    const Lines notFiles = {"brackwater: top/fifo: would fail: " + DescribeResultCode(notAFileErr),
                            "brackwater: top/link: would fail: " + DescribeResultCode(notAFileErr)};
    const Lines failing = {bad, notFiles[0], notFiles[1]};
    expectRun(tree.root(), {"--operation", "flip", "--dry-run", "top"}, kBatchFailure,
              {"would flip (data 10 bytes, resource 300 bytes): top/Alpha",
               "would flip (data 5 bytes, resource 20 bytes): top/Sub/gamma",
               "dry run: 2 would change, 3 would fail, 2 skipped; nothing was changed"},
              failing);
    expectRun(tree.root(), {"--operation", "delete-resource", "-n", "top"}, kBatchFailure,
              {"would delete resource fork (data 10 bytes, resource 300 bytes): top/Alpha",
               "would delete resource fork (data 0 bytes, resource 40 bytes): top/beta",
               "would delete resource fork (data 5 bytes, resource 20 bytes): top/Sub/gamma",
               "dry run: 3 would change, 3 would fail, 1 skipped; nothing was changed"},
              failing);
    // Deleting the data fork does not need the resource fork: the malformed
    // sidecar does not stop it.
    expectRun(tree.root(), {"--operation", "delete-data", "-n", "top"}, kBatchFailure,
              {"would delete data fork (data 10 bytes, resource 300 bytes): top/Alpha",
               "would delete data fork (data 8 bytes, resource unknown): top/bad",
               "would delete data fork (data 5 bytes, resource 20 bytes): top/Sub/gamma",
               "dry run: 3 would change, 2 would fail, 2 skipped; nothing was changed"},
              notFiles);
    for (const char* answer : {"n\n", "\n", "", "whatever\n"}) {
        BatchResult r = runBatch({"--operation", "delete-resource", top}, true, answer);
        EXPECT_EQ(r.status, kBatchFailure) << answer;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(std::string(ConfirmationMessage(kDeleteResourceFork)) + "\n" +
                                  ConfirmationExplanation() + "\nGo ahead? [y/N] ",
                              0),
                  0u)
            << r.err;
    }
    EXPECT_EQ(snapshot(tree.root()), before);
    // The real run agrees with the dry run.
    BatchResult yes = runBatch({"--operation", "delete-resource", top}, true, "Yes\n");
    EXPECT_EQ(yes.status, kBatchFailure);  // the link, the FIFO and the malformed sidecar
    EXPECT_EQ(lines(yes.out).back(), "3 changed, 3 failed, 1 skipped");
    // beta's sidecar keeps its type and creator, with an empty fork.
    EXPECT_EQ(readBytes(tree.path("top/._beta")).size(), 82u);
    // A file with other names sharing its data fork would be left untouched.
    ASSERT_EQ(::link(tree.path("top/Alpha").c_str(), tree.path("linked").c_str()), 0);
    EXPECT_THAT(runBatch({"--operation", "flip", "-n", tree.path("linked")}).err,
                HasSubstr("would fail: fileHasLinksErr (-27001)"));
}

// A sidecar, netatalk's folder and the headers in it are parts of other files
// wherever they are named: "dir/.* dir/*" or "find -type f | xargs" hand them
// over beside the files. They are screened out before any operation looks at
// them; a flip, which would write into a sidecar taken for a file, shows it.
TEST(BatchModeTest, SidecarsAndNetatalkHeadersNamedAsItemsAreSkippedWithTheReason) {
    TempTree tree;
    makeTree(tree, {"d/foo=foo data", "d/._gone=an orphan is an ordinary file",
                    "d/.AppleDouble/foo@peers/netatalk2-fork.ad",
                    "d/.AppleDouble/.Parent@peers/netatalk2-parent.ad"});
    tree.write("d/._foo", forkSidecar(pattern(50, 4)));
    const std::string headers = snapshot(tree.path("d/.AppleDouble"));
    expectRun(tree.path("d"),
              {"--operation", "flip", "--yes", "._foo", "foo", ".AppleDouble", "._gone",
               ".AppleDouble/foo"},
              kBatchSuccess, {"flipped: foo", "flipped: ._gone", "2 changed, 0 failed, 3 skipped"},
              {"brackwater: ._foo: skipped: the AppleDouble sidecar of the file beside it, part "
               "of that file, never handled as a file of its own",
               "brackwater: .AppleDouble: skipped: netatalk's folder of other files' forks, "
               "never handled itself",
               "brackwater: .AppleDouble/foo: skipped: netatalk's header of another file's fork "
               "and Finder info, never handled as a file of its own"});
    EXPECT_EQ(readText(tree.path("d/foo")) + readText(tree.path("d/._gone")), "");
    EXPECT_EQ(snapshot(tree.path("d/.AppleDouble")), headers);
    // foo keeps its type and creator, and its resource fork, which the flip
    // wrote its data fork over (a flip of ._foo as a file would have emptied it).
    Bytes fork = pattern(50, 4);
    std::copy_n("foo data", 8, fork.begin());
    EXPECT_EQ(readBytes(tree.path("d/._foo")), forkSidecar(fork));
}

// Every file is handled once per run, however often it is named: by itself,
// through its folder, or through a folder named twice; and each is reported
// by the path given with the names below it. A missing item fails alone.
TEST(BatchModeTest, EachFileIsHandledOncePerRunAndReportedBelowThePathGiven) {
    TempTree tree;
    // Hidden files and a "._" file without its file are files of their own.
    makeTree(tree, {"d/a=a", "d/sub/b=b", "d/.hidden=h", "d/._orphan=o", "e=e", "x/sub/g=g"});
    expectRun(
        tree.root(),
        {"--operation", "delete-data", "--yes", "d/sub/b", "e", "d", "./d/../e", "d/sub", "d/",
         "./x/sub/../sub", "gone"},
        kBatchFailure,
        {"deleted data fork: e", "deleted data fork: d/._orphan", "deleted data fork: d/.hidden",
         "deleted data fork: d/a", "deleted data fork: d/sub/b",
         "deleted data fork: ./x/sub/../sub/g", "6 changed, 1 failed, 4 skipped"},
        {"brackwater: d/sub/b: skipped: inside d, which is handled whole",
         "brackwater: ./d/../e: skipped: named before; handled once",
         "brackwater: d/sub: skipped: inside d, which is handled whole",
         "brackwater: d/: skipped: named before; handled once",
         "brackwater: gone: " + DescribeResultCode(fnfErr)});
    EXPECT_EQ(readText(tree.path("x/sub/g")) + readText(tree.path("d/sub/b")), "");
}

TEST(BatchModeTest, AnInterruptedRunStopsBetweenFiles) {
    TempTree tree;
    makeTree(tree, {"f/a=1", "f/b=2"});
    expectRun(tree.root(), {"--operation", "delete-data", "--yes", "f"}, kBatchInterrupted,
              {"0 changed, 0 failed, 0 skipped"},
              {"brackwater: interrupted: 2 files were not handled"}, true);
    EXPECT_EQ(readText(tree.path("f/a")) + readText(tree.path("f/b")), "12");
}

// ---- Folders the walk does not enter ----

TEST(BatchModeTest, AFolderThatCannotBeListedIsReportedWhereItWasMetAndTheRestIsHandled) {
    TempTree tree;
    ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
    makeTree(tree, {"p/a/f=aa", "p/b-locked/f=bb", "p/c/f=cc"});  // c after the locked folder
    for (const char* f : {"p", "p/a", "p/a/f", "p/b-locked", "p/b-locked/f", "p/c", "p/c/f"})
        ASSERT_EQ(::chown(tree.path(f).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(tree.path("p/b-locked").c_str(), 0), 0);
    // As nobody, for whom the mode counts; the child cannot report a gtest
    // failure of its own, it gives back what differed.
    EXPECT_EQ(runAsNobody([&] {
                  return int(batchIn(tree.root(), {"--operation", "delete-data", "--yes", "p"},
                                     kBatchFailure,
                                     {"deleted data fork: p/a/f", "deleted data fork: p/c/f",
                                      "2 changed, 1 failed, 0 skipped"},
                                     {"brackwater: p/b-locked: afpAccessDenied (-5000): permission "
                                      "denied (cannot list this folder; files in it were not "
                                      "handled)"})
                                 .size());
              }),
              0);
    EXPECT_EQ(readText(tree.path("p/a/f")) + readText(tree.path("p/c/f")), "");
    EXPECT_EQ(readText(tree.path("p/b-locked/f")), "bb");
}

TEST(BatchModeTest, AFileSystemMountedBelowIsSkippedAndDroppedItselfIsHandled) {
    TempTree tree;
    makeTree(tree, {"d/a=aa", "d/m", "d/z=zz"});
    TmpfsMount mount(tree.path("d/m"));
    if (!mount.ok()) GTEST_SKIP() << mount.error();
    tree.write("d/m/inside", "mounted bytes");
    expectRun(
        tree.root(), {"--operation", "delete-data", "--yes", "d"}, kBatchSuccess,
        {"deleted data fork: d/a", "deleted data fork: d/z", "2 changed, 0 failed, 1 skipped"},
        {"brackwater: d/m: skipped: another file system is mounted here; it was not "
         "entered"});
    EXPECT_EQ(readText(tree.path("d/m/inside")), "mounted bytes");
    expectRun(tree.root(), {"--operation", "delete-data", "--yes", "d/m"}, kBatchSuccess,
              {"deleted data fork: d/m/inside", "1 changed, 0 failed, 0 skipped"}, {});
    EXPECT_EQ(readText(tree.path("d/m/inside")), "");
}

// A fork the attribute holding it cannot take is refused and left as it was
// (a failure never ends a run: NoByteChangesBeforeAYes...; each store's bytes
// after a flip: the fault-injection runs over every fork shape and
// ForkOperations_test).
TEST(BatchModeTest, AForkItsStoreCannotTakeIsRefusedAndLeftAsItWas) {
    TempTree tree;
    const std::string big(70000, 'b');
    tree.write("s/big", big);
    setXattr(tree.path("s/big"), kMacFork, bytesOf("small"));
    expectRun(tree.root(), {"--operation", "flip", "--yes", "s"}, kBatchFailure,
              {"0 changed, 1 failed, 0 skipped"},
              {"brackwater: s/big: fsDataTooBigErr (-1310): the resource fork is too large "
               "for the store that holds it (an extended attribute the file system "
               "refuses at that size, or more than a sidecar can describe); nothing was "
               "changed"});
    EXPECT_EQ(readText(tree.path("s/big")), big);
    EXPECT_EQ(xattr(tree.path("s/big"), kMacFork), bytesOf("small"));
    EXPECT_FALSE(exists(tree.path("s/._big")));
}

// What --info says of each store, of netatalk's headers valid and malformed,
// of links and of what cannot be examined (how each peer's sidecar is read is
// the fork store's tests' concern).
TEST(BatchInfoTest, EachStoreAndEveryFindingIsReportedInJsonAndInText) {
    // Named relative to the tree, as from a shell in it. A folder named like a
    // sidecar ("._g") is no sidecar; Samba's stream attribute carries one byte
    // more than the fork.
    TempTree tree;
    makeTree(tree,
             {"a/sample=data fork of the sample\n", "a/.AppleDouble/sample@peers/netatalk2-fork.ad",
              "a/.AppleDouble/.Parent@peers/netatalk2-parent.ad", "a/bad=bad",
              "a/.AppleDouble/bad@netatalk2-malformed/fork-length-short.ad",
              "samba/sample=data fork of the sample\n", "samba/._sample@peers/samba-fruit.ad",
              "xattr/sample=", "f=x", "link~f", "._g", "g=x", "backup=b", "linked>backup"});
    setXattr(tree.path("samba/sample"), kMetadata, corpusBytes("peers/samba-fruit.meta"));
    setXattr(tree.path("xattr/sample"), kSambaFork,
             concat(corpusBytes("peers/samba-fruit.rsrc"), {0}));
    const std::string before = snapshot(tree.root());
    const std::string ioErr =
        "{\"code\":-36,\"message\":" + JsonString(DescribeResultCode(-36)) + "}";
    const struct {
        std::vector<std::string> args;
        int status;
        std::size_t outLines, errLines;
        std::vector<std::string> out;  // one: the whole output; more: parts of it
    } cases[] = {
        {{"--json", "a"},  // .AppleDouble is part of the files, not one
         kBatchSuccess,
         2,
         0,
         {"\"resource_error\":" + ioErr +
              ",\"type\":null,\"creator\":null,\"finder_info_error\":" + ioErr,
          "\"netatalk_header\":\"malformed\",\"netatalk_problem\":\"resource fork length differs "
          "from the file's size\"}",
          "\"resource_fork\":700,\"resource_store\":\"netatalk\"",
          "\"netatalk_header\":\"valid\",\"netatalk_problem\":null}"}},
        {{"--json", "xattr/sample"},
         kBatchSuccess,
         1,
         0,
         {"{\"path\":\"xattr/sample\""
          ",\"data_fork\":0,\"resource_fork\":700,\"resource_store\":\"attribute\","
          "\"resource_attribute\":\"user.DosStream.AFP_Resource:$DATA\",\"type\":null,"
          "\"creator\":null,\"writable\":true,\"sidecar\":\"none\",\"sidecar_problem\":null}\n"}},
        {{"samba/sample"},
         kBatchSuccess,
         6,
         0,
         {"samba/sample"
          "\n  data fork      24 bytes\n  resource fork  700 bytes, in the sidecar ._sample\n"
          "  type/creator   TEXT/ttxt\n  writable       yes\n  sidecar        ._sample, valid\n"}},
        {{"--json", "link", "g", "none"},
         kBatchFailure,
         3,
         3,
         {"{\"path\":\"link\",\"error\":{\"code\":-1302,\"message\":" +
              JsonString(DescribeResultCode(notAFileErr)) + "}}",
          "\"resource_error\":{\"code\":-1302", "\"sidecar\":\"not a file\"", "\"code\":-43"}},
        {{"linked"}, kBatchSuccess, 7, 0, {"hard links     2 names share the data fork"}},
    };
    ASSERT_EQ(::chdir(tree.root().c_str()), 0);
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
    ASSERT_EQ(::chdir("/"), 0);
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
