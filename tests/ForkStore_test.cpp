#include "platform/ForkStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/AppleDouble.h"
#include "platform/FileErrors.h"
#include "platform/SysIO.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace forkstore;
using testsupport::Bytes;
using testsupport::bytesOf;
using testsupport::corpusBytes;
using testsupport::makeSidecar;
using testsupport::readBytes;
using namespace std::string_literals;

namespace {

constexpr char kMacFork[] = "user.com.apple.ResourceFork";
constexpr char kSambaFork[] = "user.DosStream.AFP_Resource:$DATA";
constexpr char kMacFinderInfo[] = "user.com.apple.FinderInfo";
constexpr char kMetadata[] = "user.org.netatalk.Metadata";

// Fault injection: the Nth system call through the seam fails with gErrno.
int gFailAt = 0, gCalls = 0, gErrno = 0;
bool gHit = false;
int failNth(sysio::Call) {
    if (++gCalls != gFailAt) return 0;
    gHit = true;
    return gErrno;
}

class ForkStore : public ::testing::Test {
public:
    void SetUp() override { open(); }
    void TearDown() override {
        sysio::setFaultHook(nullptr);
        ::close(dirfd);
    }
    void open() { dirfd = ::open(tree->root().c_str(), O_RDONLY | O_DIRECTORY); }
    void fresh() {
        ::close(dirfd);
        tree = std::make_unique<testsupport::TempTree>();
        open();
    }

    std::string path(const std::string& name) const { return tree->path(name); }
    void file(const std::string& name, const std::string& data = "data fork") {
        tree->write(name, data);
    }
    void sidecar(const std::string& name, const Bytes& bytes) { tree->write("._" + name, bytes); }
    // A new metadata attribute records the file's modification and access
    // times: fixed ones make runs a second apart write the same bytes (the
    // access time lies ahead, so reading the file does not move it).
    void fixTimes(const std::string& name) {
        const struct timespec times[2] = {{4102444800, 0}, {1500000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    Bytes sidecarBytes(const std::string& name) const { return readBytes(path("._" + name)); }
    bool hasSidecar(const std::string& name) const {
        return testsupport::exists(path("._" + name));
    }
    void setAttr(const std::string& name, const char* attr, const Bytes& value) {
        ASSERT_EQ(::lsetxattr(path(name).c_str(), attr, value.data(), value.size(), 0), 0);
    }
    bool hasAttr(const std::string& name, const char* attr) const {
        return ::lgetxattr(path(name).c_str(), attr, nullptr, 0) >= 0;
    }
    Bytes attr(const std::string& name, const char* attr) const {
        Bytes v(70000);
        ssize_t n = ::lgetxattr(path(name).c_str(), attr, v.data(), v.size());
        v.resize(n < 0 ? 0 : std::size_t(n));
        return v;
    }
    // The whole resource fork as the store reports it.
    Bytes fork(const std::string& name, RsrcStore* store = nullptr) {
        RsrcInfo info;
        EXPECT_EQ(getResourceFork(dirfd, name.c_str(), &info), noErr);
        if (store) *store = info.store;
        Bytes b(info.length);
        std::size_t actual = 0;
        EXPECT_EQ(readResourceFork(dirfd, name.c_str(), 0, b.size(), b.data(), &actual), noErr);
        EXPECT_EQ(actual, b.size());
        return b;
    }
    OSErr writeFork(const std::string& name, std::uint64_t offset, const Bytes& b) {
        return writeResourceFork(dirfd, name.c_str(), offset, b.size(), b.data());
    }
    std::string finderType(const std::string& name) {
        UInt8 fi[32];
        EXPECT_EQ(getFinderInfo(dirfd, name.c_str(), fi), noErr);
        return std::string(reinterpret_cast<char*>(fi), 8);
    }
    static bool valid(const Bytes& b) {
        appledouble::Header h;
        return appledouble::parse(b.data(), b.size(), b.size(), &h) == appledouble::Problem::None;
    }
    std::string snap() const { return testsupport::snapshot(tree->root()); }

    std::unique_ptr<testsupport::TempTree> tree = std::make_unique<testsupport::TempTree>();
    int dirfd = -1;
};

Bytes blankFork() {
    const auto& p = appledouble::placeholderFork();
    return Bytes(p.begin(), p.end());
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + from, b.begin() + std::min(to, b.size()));
}

const Bytes kTextFinderInfo = testsupport::finderInfo("TEXT", "ttxt");

}  // namespace

// ---- Reading: stores, precedence, empty forks, peers ----

TEST_F(ForkStore, ReadsTheSidecarBeforeTheMacAttributeBeforeSambasStream) {
    file("f");
    setAttr("f", kSambaFork, bytesOf("samba!\0"s));
    RsrcStore store;
    EXPECT_EQ(fork("f", &store), bytesOf("samba!"));
    EXPECT_EQ(store, RsrcStore::SambaStream);
    setAttr("f", kMacFork, bytesOf("mac"));
    EXPECT_EQ(fork("f", &store), bytesOf("mac"));
    EXPECT_EQ(store, RsrcStore::MacXattr);
    sidecar("f", makeSidecar({{9, 50, 32, {}}, {2, 82, 4, bytesOf("side")}}));
    EXPECT_EQ(fork("f", &store), bytesOf("side"));
    EXPECT_EQ(store, RsrcStore::Sidecar);
}

TEST_F(ForkStore, ZeroLengthAndPlaceholderForksReadAsEmpty) {
    file("blank");
    sidecar("blank", makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 286, blankFork()}}));
    file("zero");
    sidecar("zero", makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 0, {}}}));
    file("attr");
    setAttr("attr", kMacFork, blankFork());
    for (const char* name : {"blank", "zero", "attr"}) {
        RsrcInfo info;
        ASSERT_EQ(getResourceFork(dirfd, name, &info), noErr);
        EXPECT_EQ(info.store, RsrcStore::None) << name;
        EXPECT_EQ(info.length, 0u) << name;
        char c;
        std::size_t actual = 7;
        EXPECT_EQ(readResourceFork(dirfd, name, 0, 1, &c, &actual), eofErr);
        EXPECT_EQ(actual, 0u);
    }
}

TEST_F(ForkStore, ReadingPastTheEndGivesEofWithTheBytesThatWereThere) {
    file("f");
    sidecar("f", makeSidecar({{9, 50, 32, {}}, {2, 82, 6, bytesOf("abcdef")}}));
    char buf[10] = {};
    std::size_t actual = 0;
    EXPECT_EQ(readResourceFork(dirfd, "f", 4, 10, buf, &actual), eofErr);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(std::string(buf, 2), "ef");
    EXPECT_EQ(readResourceFork(dirfd, "f", 6, 1, buf, &actual), eofErr);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(readResourceFork(dirfd, "f", 1, 3, buf, &actual), noErr);
    EXPECT_EQ(std::string(buf, 3), "bcd");
}

TEST_F(ForkStore, PeerSidecarsGiveTheirForkAndFinderInfo) {
    file("samba");
    sidecar("samba", corpusBytes("peers/samba-fruit.ad"));
    setAttr("samba", kMetadata, corpusBytes("peers/samba-fruit.meta"));
    EXPECT_EQ(fork("samba"), corpusBytes("peers/samba-fruit.rsrc"));
    EXPECT_EQ(finderType("samba"), "TEXTttxt");  // from the metadata attribute

    file("unar");
    sidecar("unar", corpusBytes("peers/unar-hidden.ad"));
    EXPECT_EQ(fork("unar"), corpusBytes("peers/unar-hidden.rsrc"));
    EXPECT_EQ(finderType("unar"), "TEXTttxt");

    file("mac");
    sidecar("mac", corpusBytes("peers/macos-4096.ad"));
    RsrcStore store;
    EXPECT_TRUE(fork("mac", &store).empty());
    EXPECT_EQ(store, RsrcStore::None);
    EXPECT_EQ(finderType("mac"), "TEXTttxt");
}

// ---- Finder info: precedence and where writes go ----

TEST_F(ForkStore, FinderInfoComesFromMetadataThenSidecarThenMacAttribute) {
    file("f");
    setAttr("f", kMacFinderInfo, testsupport::finderInfo("MACA", "ttxt"));
    EXPECT_EQ(finderType("f"), "MACAttxt");
    sidecar("f",
            makeSidecar({{9, 50, 32, testsupport::finderInfo("SIDE", "ttxt")}, {2, 82, 0, {}}}));
    EXPECT_EQ(finderType("f"), "SIDEttxt");
    Bytes meta = corpusBytes("peers/samba-fruit.meta");
    setAttr("f", kMetadata, meta);
    EXPECT_EQ(finderType("f"), "TEXTttxt");
    // An invalid metadata attribute is passed over (and left alone).
    meta.pop_back();
    setAttr("f", kMetadata, meta);
    EXPECT_EQ(finderType("f"), "SIDEttxt");
    EXPECT_EQ(attr("f", kMetadata), meta);
    // All-zero Finder info counts as none.
    sidecar("f", makeSidecar({{9, 50, 32, {}}, {2, 82, 0, {}}}));
    EXPECT_EQ(finderType("f"), "MACAttxt");
}

TEST_F(ForkStore, FinderInfoIsWrittenWhereItWasFoundAndNewIntoASidecar) {
    const Bytes appl = testsupport::finderInfo("APPL", "CARO");
    file("meta");
    sidecar("meta", corpusBytes("peers/samba-fruit.ad"));
    const Bytes meta = corpusBytes("peers/samba-fruit.meta");
    setAttr("meta", kMetadata, meta);
    ASSERT_EQ(setFinderInfo(dirfd, "meta", appl.data()), noErr);
    Bytes expected = meta;
    std::copy(appl.begin(), appl.end(), expected.begin() + 122);
    EXPECT_EQ(attr("meta", kMetadata), expected);
    EXPECT_EQ(sidecarBytes("meta"), corpusBytes("peers/samba-fruit.ad"));

    file("mac");
    setAttr("mac", kMacFinderInfo, kTextFinderInfo);
    ASSERT_EQ(setFinderInfo(dirfd, "mac", appl.data()), noErr);
    EXPECT_EQ(attr("mac", kMacFinderInfo), appl);
    EXPECT_FALSE(hasSidecar("mac"));

    file("none");
    ASSERT_EQ(setFinderInfo(dirfd, "none", appl.data()), noErr);
    EXPECT_EQ(sidecarBytes("none"), makeSidecar({{9, 50, 32, appl}, {2, 82, 0, {}}}));
    EXPECT_EQ(finderType("none"), "APPLCARO");
    // Clearing it leaves nothing worth a sidecar.
    const UInt8 zero[32] = {};
    ASSERT_EQ(setFinderInfo(dirfd, "none", zero), noErr);
    EXPECT_FALSE(hasSidecar("none"));
    // All-zero Finder info for a file without any is not stored at all.
    ASSERT_EQ(setFinderInfo(dirfd, "none", zero), noErr);
    EXPECT_FALSE(hasSidecar("none"));
}

TEST_F(ForkStore, FinderInfoOfAFolderLivesInItsSidecarToo) {
    tree->mkdir("dir");
    const Bytes appl = testsupport::finderInfo("fold", "MACS");
    ASSERT_EQ(setFinderInfo(dirfd, "dir", appl.data()), noErr);
    EXPECT_EQ(finderType("dir"), "foldMACS");
    RsrcInfo info;
    EXPECT_EQ(getResourceFork(dirfd, "dir", &info), notAFileErr);
}

TEST_F(ForkStore, FinderInfoWriteKeepsTheAttrBlockAndEveryOtherByte) {
    file("mac");
    const Bytes before = corpusBytes("peers/macos-4096.ad");
    sidecar("mac", before);
    const Bytes appl = testsupport::finderInfo("APPL", "CARO");
    ASSERT_EQ(setFinderInfo(dirfd, "mac", appl.data()), noErr);
    Bytes expected = before;
    std::copy(appl.begin(), appl.end(), expected.begin() + 50);
    EXPECT_EQ(sidecarBytes("mac"), expected);
}

// ---- Writing the fork ----

TEST_F(ForkStore, ANewForkGoesIntoASidecarOfTheShapeEveryReaderAccepts) {
    file("f");
    ASSERT_EQ(writeFork("f", 0, bytesOf("hello")), noErr);
    EXPECT_EQ(sidecarBytes("f"), makeSidecar({{9, 50, 32, {}}, {2, 82, 5, bytesOf("hello")}}));
    RsrcStore store;
    EXPECT_EQ(fork("f", &store), bytesOf("hello"));
    EXPECT_EQ(store, RsrcStore::Sidecar);
    // Writing past the end leaves zeros in between.
    ASSERT_EQ(writeFork("f", 8, bytesOf("!")), noErr);
    EXPECT_EQ(fork("f"), concat(bytesOf("hello"), Bytes{0, 0, 0, '!'}));
    EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
}

TEST_F(ForkStore, AppendingGrowsTheSidecarInPlace) {
    file("f");
    ASSERT_EQ(writeFork("f", 0, bytesOf("abc")), noErr);
    struct stat before, after;
    ASSERT_EQ(::stat(path("._f").c_str(), &before), 0);
    ASSERT_EQ(writeFork("f", 3, bytesOf("def")), noErr);
    ASSERT_EQ(::stat(path("._f").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(fork("f"), bytesOf("abcdef"));
    EXPECT_EQ(after.st_size, 82 + 6);
}

TEST_F(ForkStore, AShorterWriteKeepsTheTailOfALongerFork) {
    file("f");
    const Bytes old = testsupport::pattern(5000, 3);
    sidecar("f", makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 5000, old}}));
    const Bytes head = testsupport::pattern(1200, 9);
    ASSERT_EQ(writeFork("f", 0, head), noErr);
    const Bytes now = fork("f");
    ASSERT_EQ(now.size(), 5000u);
    EXPECT_EQ(slice(now, 0, 1200), head);
    EXPECT_EQ(slice(now, 1200, 5000), slice(old, 1200, 5000));
    EXPECT_EQ(finderType("f"), "TEXTttxt");
}

TEST_F(ForkStore, LargeSidecarsAreCopiedWholeBeyondTheHeaderAndEveryChunk) {
    // A 70 000-byte comment pushes the fork past the 64 KiB read as header; the
    // 3 MiB fork takes several copy chunks when the sidecar is rebuilt.
    file("f");
    const Bytes comment = testsupport::pattern(70000, 4);
    const Bytes old = testsupport::pattern(3u << 20, 5);
    const std::uint32_t forkAt = 62 + 32 + 70000;
    const Bytes before = makeSidecar({{9, 62, 32, kTextFinderInfo},
                                      {4, 94, 70000, comment},
                                      {2, forkAt, std::uint32_t(old.size()), old}});
    sidecar("f", before);
    EXPECT_EQ(fork("f"), old);
    const Bytes head = testsupport::pattern(100, 6);
    ASSERT_EQ(writeFork("f", 0, head), noErr);
    Bytes expected = before;
    std::copy(head.begin(), head.end(), expected.begin() + forkAt);
    EXPECT_TRUE(sidecarBytes("f") == expected);
    const Bytes tail = testsupport::pattern(10, 7);
    ASSERT_EQ(writeFork("f", old.size(), tail), noErr);  // appended in place
    expected = concat(expected, tail);
    appledouble::writeU32(expected.data() + 26 + 24 + 8, std::uint32_t(old.size() + 10));
    EXPECT_TRUE(sidecarBytes("f") == expected);
}

TEST_F(ForkStore, AForkInAnAttributeMovesIntoASidecar) {
    for (const char* a : {kMacFork, kSambaFork}) {
        fresh();
        file("f");
        const bool samba = std::strcmp(a, kSambaFork) == 0;
        setAttr("f", a, samba ? bytesOf("attrfork\0"s) : bytesOf("attrfork"));
        ASSERT_EQ(writeFork("f", 1, bytesOf("XY")), noErr) << a;
        RsrcStore store;
        EXPECT_EQ(fork("f", &store), bytesOf("aXYrfork")) << a;
        EXPECT_EQ(store, RsrcStore::Sidecar);
        EXPECT_FALSE(hasAttr("f", a)) << a;
        EXPECT_TRUE(valid(sidecarBytes("f")));
    }
}

TEST_F(ForkStore, WritingAPeersForkKeepsEveryOtherByte) {
    const Bytes data = testsupport::pattern(900, 5);
    struct Case {
        const char* sample;
        std::size_t forkAt;
        std::size_t lengthField;
    } cases[] = {{"peers/samba-fruit.ad", 82, 34},
                 {"peers/unar-hidden.ad", 82, 46},
                 {"peers/macos-4096.ad", 3810, 46}};
    for (const Case& c : cases) {
        fresh();
        file("f");
        const Bytes before = corpusBytes(c.sample);
        sidecar("f", before);
        if (c.sample == std::string("peers/samba-fruit.ad"))
            setAttr("f", kMetadata, corpusBytes("peers/samba-fruit.meta"));
        ASSERT_EQ(writeFork("f", 0, data), noErr) << c.sample;
        const Bytes after = sidecarBytes("f");
        ASSERT_EQ(after.size(), c.forkAt + 900) << c.sample;
        EXPECT_EQ(testsupport::be32(after, c.lengthField), 900u) << c.sample;
        Bytes expected = slice(before, 0, c.forkAt);
        std::copy(after.begin() + c.lengthField, after.begin() + c.lengthField + 4,
                  expected.begin() + c.lengthField);
        EXPECT_EQ(slice(after, 0, c.forkAt), expected) << c.sample;
        EXPECT_EQ(slice(after, c.forkAt, after.size()), data) << c.sample;
        if (c.sample == std::string("peers/samba-fruit.ad")) {
            EXPECT_EQ(attr("f", kMetadata), corpusBytes("peers/samba-fruit.meta"));
        }
    }
}

TEST_F(ForkStore, AForkThatIsNotLastIsLaidOutAgainWithEveryEntryKept) {
    file("f");
    const Bytes comment = bytesOf("a comment");
    const Bytes dev = bytesOf("DEVICE#8");
    const Bytes before = makeSidecar({{2, 74, 6, bytesOf("oldfrk")},
                                      {4, 80, 9, comment},
                                      {0x80444556, 89, 8, dev},
                                      {9, 97, 32, kTextFinderInfo}},
                                     "Netatalk");
    sidecar("f", before);
    ASSERT_EQ(writeFork("f", 6, bytesOf("+new")), noErr);
    const Bytes expected = makeSidecar({{9, 74, 32, kTextFinderInfo},
                                        {4, 106, 9, comment},
                                        {0x80444556, 115, 8, dev},
                                        {2, 123, 10, bytesOf("oldfrk+new")}},
                                       "Netatalk");
    EXPECT_EQ(sidecarBytes("f"), expected);
}

TEST_F(ForkStore, AForkTooLargeForASidecarIsRefusedNotWrapped) {
    file("f");
    ASSERT_EQ(writeFork("f", 0, bytesOf("abc")), noErr);
    const std::string before = snap();
    EXPECT_EQ(writeFork("f", 0xFFFFFFF0ull, Bytes(100, 1)), posErr);
    EXPECT_EQ(writeFork("f", UINT64_MAX - 1, Bytes(4, 1)), posErr);
    EXPECT_EQ(snap(), before);
}

namespace {
// The first rename fails as on file systems without renameat2 flags (NFS, exFAT).
int gFlagRenames = 0;
int renameFlagsUnsupported(sysio::Call call) {
    return call == sysio::Call::Rename && gFlagRenames-- > 0 ? EINVAL : 0;
}
}  // namespace

TEST_F(ForkStore, SidecarsAreStillWrittenWhereRenameFlagsAreUnsupported) {
    file("f");
    gFlagRenames = 1;
    sysio::setFaultHook(renameFlagsUnsupported);
    ASSERT_EQ(writeFork("f", 0, bytesOf("hello")), noErr);  // linked into place
    gFlagRenames = 1;
    ASSERT_EQ(writeFork("f", 0, bytesOf("J")), noErr);  // replaced by a plain rename
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(sidecarBytes("f"), makeSidecar({{9, 50, 32, {}}, {2, 82, 5, bytesOf("Jello")}}));
    EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
}

TEST_F(ForkStore, SidecarsWrittenAnewKeepOwnerAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand a file to another owner";
    file("f");
    ASSERT_EQ(::chown(path("f").c_str(), 65534, 65534), 0);
    ASSERT_EQ(writeFork("f", 0, bytesOf("hello")), noErr);
    struct stat st;
    ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);  // the file's owner, not the writer (root here)
    ASSERT_EQ(::chmod(path("._f").c_str(), 0640), 0);
    ASSERT_EQ(writeFork("f", 0, bytesOf("J")), noErr);  // rebuilt under a new name
    ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(fork("f"), bytesOf("Jello"));
}

// ---- Deleting the fork ----

TEST_F(ForkStore, DeletingTheForkEmptiesEveryStore) {
    file("f");
    sidecar("f", makeSidecar({{9, 50, 32, {}}, {2, 82, 4, bytesOf("side")}}));
    setAttr("f", kMacFork, bytesOf("mac"));
    setAttr("f", kSambaFork, bytesOf("samba\0"s));
    ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
    EXPECT_FALSE(hasSidecar("f"));  // it held nothing else
    EXPECT_FALSE(hasAttr("f", kMacFork));
    EXPECT_FALSE(hasAttr("f", kSambaFork));
    EXPECT_EQ(testsupport::readText(path("f")), "data fork");
    EXPECT_EQ(deleteResourceFork(dirfd, "f"), noErr);  // nothing left to delete
}

TEST_F(ForkStore, DeletingAPeersForkKeepsEveryOtherByte) {
    // unar's and macOS's sidecars hold Finder info: the fork is emptied and
    // the file cut where it began.
    struct Case {
        const char* sample;
        std::size_t forkAt;
        std::size_t lengthField;
    } cases[] = {{"peers/unar-hidden.ad", 82, 46}, {"peers/macos-4096.ad", 3810, 46}};
    for (const Case& c : cases) {
        fresh();
        file("f");
        const Bytes before = corpusBytes(c.sample);
        sidecar("f", before);
        ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
        Bytes expected = slice(before, 0, c.forkAt);
        std::fill_n(expected.begin() + c.lengthField, 4, 0);
        EXPECT_EQ(sidecarBytes("f"), expected) << c.sample;
    }
    // macOS's shape with zero Finder info and an ATTR block without attributes
    // holds nothing else either.
    fresh();
    file("f");
    Bytes empty = corpusBytes("peers/macos-4096.ad");
    std::fill_n(empty.begin() + 50, 32, 0);
    empty[84 + 34] = empty[84 + 35] = 0;  // no attributes
    empty[3810 + 100] = 1;                // a real fork instead of the blank one
    sidecar("f", empty);
    ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
    EXPECT_FALSE(hasSidecar("f"));
    // Samba keeps the Finder info in the metadata attribute: its sidecar holds
    // nothing but the fork and goes; the attribute stays.
    fresh();
    file("f");
    sidecar("f", corpusBytes("peers/samba-fruit.ad"));
    setAttr("f", kMetadata, corpusBytes("peers/samba-fruit.meta"));
    ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
    EXPECT_FALSE(hasSidecar("f"));
    EXPECT_EQ(attr("f", kMetadata), corpusBytes("peers/samba-fruit.meta"));
}

// ---- Creation date ----

TEST_F(ForkStore, CreationDateComesFromMetadataThenTheSidecarsDatesEntry) {
    file("f");
    std::int64_t when = 0;
    bool found = true;
    ASSERT_EQ(getCreationDate(dirfd, "f", &when, &found), noErr);
    EXPECT_FALSE(found);
    Bytes dates(16, 0);
    appledouble::writeU32(dates.data(), *appledouble::encodeDate(1000000000));
    appledouble::writeU32(dates.data() + 8, 0x80000000);
    sidecar("f", makeSidecar({{9, 62, 32, kTextFinderInfo}, {8, 94, 16, dates}, {2, 110, 0, {}}}));
    ASSERT_EQ(getCreationDate(dirfd, "f", &when, &found), noErr);
    EXPECT_TRUE(found);
    EXPECT_EQ(when, 1000000000);
    ASSERT_EQ(setCreationDate(dirfd, "f", 1234567890), noErr);
    ASSERT_EQ(getCreationDate(dirfd, "f", &when, &found), noErr);
    EXPECT_EQ(when, 1234567890);
    EXPECT_EQ(slice(sidecarBytes("f"), 98, 110), slice(dates, 4, 16));  // other dates kept
    EXPECT_FALSE(hasAttr("f", kMetadata));  // the sidecar's entry is where the date lives

    const Bytes meta = corpusBytes("peers/samba-fruit.meta");
    setAttr("f", kMetadata, meta);
    ASSERT_EQ(getCreationDate(dirfd, "f", &when, &found), noErr);
    EXPECT_EQ(when, *appledouble::decodeDate(testsupport::be32(meta, 354)));
    ASSERT_EQ(setCreationDate(dirfd, "f", 1500000000), noErr);
    EXPECT_EQ(testsupport::be32(attr("f", kMetadata), 354), *appledouble::encodeDate(1500000000));
    EXPECT_EQ(appledouble::readU32(sidecarBytes("f").data() + 94),
              *appledouble::encodeDate(1234567890));
    // Dates outside the entry's range are refused, not wrapped.
    EXPECT_EQ(setCreationDate(dirfd, "f", 946684800ll + 0x80000000ll), paramErr);
}

namespace {
// Fails the attribute calls as a file system without user attributes does.
int noUserAttributes(sysio::Call call) {
    return call == sysio::Call::GetXattr || call == sysio::Call::SetXattr ||
                   call == sysio::Call::RemoveXattr
               ? EOPNOTSUPP
               : 0;
}
}  // namespace

TEST_F(ForkStore, CreationDateWithoutADatesEntryGoesIntoANewMetadataAttribute) {
    // Each file's Finder info from a different store; none has a dates entry.
    file("side");
    sidecar("side", corpusBytes("peers/unar-hidden.ad"));
    file("attr");
    setAttr("attr", kMacFinderInfo, testsupport::finderInfo("APPL", "CARO"));
    file("plain");
    tree->mkdir("folder");
    const struct timespec times[2] = {{1300000000, 0}, {1400000000, 0}};  // access, modify
    for (const char* n : {"side", "attr", "plain", "folder"}) {
        ASSERT_EQ(::utimensat(AT_FDCWD, path(n).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        ASSERT_EQ(setCreationDate(dirfd, n, 1234567890), noErr) << n;
        std::int64_t when = 0;
        bool found = false;
        ASSERT_EQ(getCreationDate(dirfd, n, &when, &found), noErr) << n;
        EXPECT_TRUE(found) << n;
        EXPECT_EQ(when, 1234567890) << n;

        // Samba's shape, byte for byte where it is fixed.
        const Bytes meta = attr(n, kMetadata);
        appledouble::Header h;
        ASSERT_EQ(appledouble::parseNetatalkMetadata(meta.data(), meta.size(), &h),
                  appledouble::Problem::None)
            << n;
        const std::vector<std::array<std::uint32_t, 3>> expected = {
            {4, 154, 0},          {8, 354, 16},         {9, 122, 32},         {14, 370, 4},
            {0x80444556, 374, 8}, {0x80494E4F, 382, 8}, {0x8053594E, 390, 8}, {0x8053567E, 398, 4}};
        ASSERT_EQ(h.entries.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ((std::array<std::uint32_t, 3>{h.entries[i].id, h.entries[i].offset,
                                                    h.entries[i].length}),
                      expected[i])
                << n << " descriptor " << i;
        EXPECT_EQ(slice(meta, 8, 24), Bytes(16, 0)) << n;  // filler
        EXPECT_EQ(slice(meta, 154, 354), Bytes(200, 0)) << n;
        EXPECT_EQ(slice(meta, 370, 402), Bytes(32, 0)) << n;
        EXPECT_EQ(testsupport::be32(meta, 354), *appledouble::encodeDate(1234567890)) << n;
        EXPECT_EQ(testsupport::be32(meta, 358), *appledouble::encodeDate(1400000000)) << n;
        EXPECT_EQ(testsupport::be32(meta, 362), 0x80000000u) << n;  // never backed up
        EXPECT_EQ(testsupport::be32(meta, 366), *appledouble::encodeDate(1300000000)) << n;
    }
    // The Finder info readers saw is what the new attribute holds.
    EXPECT_EQ(slice(attr("side", kMetadata), 122, 154), kTextFinderInfo);
    EXPECT_EQ(slice(attr("attr", kMetadata), 122, 154), testsupport::finderInfo("APPL", "CARO"));
    EXPECT_EQ(slice(attr("plain", kMetadata), 122, 154), Bytes(32, 0));
    EXPECT_EQ(finderType("side"), "TEXTttxt");
    EXPECT_EQ(finderType("attr"), "APPLCARO");
    // The sidecar keeps its two entries and every byte; no new sidecar appears.
    EXPECT_EQ(sidecarBytes("side"), corpusBytes("peers/unar-hidden.ad"));
    EXPECT_EQ(fork("side"), corpusBytes("peers/unar-hidden.rsrc"));
    EXPECT_FALSE(hasSidecar("plain"));
    EXPECT_FALSE(hasSidecar("folder"));

    // Later dates and Finder info go into the attribute now.
    const Bytes appl = testsupport::finderInfo("APPL", "ttxt");
    ASSERT_EQ(setCreationDate(dirfd, "side", 1500000000), noErr);
    ASSERT_EQ(setFinderInfo(dirfd, "side", appl.data()), noErr);
    const Bytes meta = attr("side", kMetadata);
    EXPECT_EQ(testsupport::be32(meta, 354), *appledouble::encodeDate(1500000000));
    EXPECT_EQ(slice(meta, 122, 154), appl);
    EXPECT_EQ(finderType("side"), "APPLttxt");
    // The copies stay equal to it: cleared Finder info does not bring the
    // old one back from the sidecar or the Mac attribute.
    EXPECT_EQ(slice(sidecarBytes("side"), 50, 82), appl);
    const UInt8 zero[32] = {};
    for (const char* n : {"side", "attr"}) {
        ASSERT_EQ(setFinderInfo(dirfd, n, zero), noErr) << n;
        EXPECT_EQ(finderType(n), std::string(8, '\0')) << n;
    }
    EXPECT_EQ(slice(sidecarBytes("side"), 50, 82), Bytes(32, 0));
    EXPECT_EQ(fork("side"), corpusBytes("peers/unar-hidden.rsrc"));
    EXPECT_FALSE(hasAttr("attr", kMacFinderInfo));
}

TEST_F(ForkStore, CreationDateNotStorableChangesNothing) {
    file("f");
    sidecar("f", corpusBytes("peers/unar-hidden.ad"));
    file("bad");
    setAttr("bad", kMetadata, slice(corpusBytes("peers/samba-fruit.meta"), 0, 300));
    const std::string before = snap();
    // No user attributes on this file system: an error, not a silent success.
    sysio::setFaultHook(noUserAttributes);
    EXPECT_EQ(setCreationDate(dirfd, "f", 1234567890), wrgVolTypErr);
    sysio::setFaultHook(nullptr);
    // A metadata attribute that does not parse is not written over.
    EXPECT_EQ(setCreationDate(dirfd, "bad", 1234567890), ioErr);
    // Dates the entry cannot hold.
    EXPECT_EQ(setCreationDate(dirfd, "f", 946684800ll - 0x80000000ll), paramErr);
    EXPECT_EQ(setCreationDate(dirfd, "f", 946684800ll + 0x80000000ll), paramErr);
    EXPECT_EQ(snap(), before);
}

// ---- Refusals: malformed sidecars, links, FIFOs, missing files, permissions ----

namespace {
// Every store operation on `name`, with its result.
std::vector<std::pair<std::string, OSErr>> tryEverything(int dirfd, const char* name) {
    std::vector<std::pair<std::string, OSErr>> r;
    RsrcInfo info;
    r.emplace_back("getResourceFork", getResourceFork(dirfd, name, &info));
    char buf[16];
    std::size_t actual;
    r.emplace_back("readResourceFork", readResourceFork(dirfd, name, 0, sizeof buf, buf, &actual));
    r.emplace_back("writeResourceFork", writeResourceFork(dirfd, name, 0, 5, "hello"));
    r.emplace_back("writeResourceFork at end", writeResourceFork(dirfd, name, 10, 5, "hello"));
    r.emplace_back("deleteResourceFork", deleteResourceFork(dirfd, name));
    UInt8 fi[32] = {'A', 'P', 'P', 'L'};
    r.emplace_back("getFinderInfo", getFinderInfo(dirfd, name, fi));
    std::memcpy(fi, "APPLCARO", 8);
    r.emplace_back("setFinderInfo", setFinderInfo(dirfd, name, fi));
    const UInt8 zero[32] = {};
    r.emplace_back("setFinderInfo zero", setFinderInfo(dirfd, name, zero));
    std::int64_t when;
    bool found;
    r.emplace_back("getCreationDate", getCreationDate(dirfd, name, &when, &found));
    r.emplace_back("setCreationDate", setCreationDate(dirfd, name, 1234567890));
    return r;
}
}  // namespace

TEST_F(ForkStore, EveryMalformedSidecarIsRefusedAndLeftByteForByte) {
    std::size_t files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(testsupport::corpusPath("malformed"))) {
        fresh();
        file("f");
        sidecar("f", readBytes(entry.path().string()));
        setAttr("f", kMacFork, bytesOf("attribute fork"));
        setAttr("f", kMacFinderInfo, kTextFinderInfo);
        const std::string before = snap();
        for (const auto& [op, result] : tryEverything(dirfd, "f"))
            EXPECT_EQ(result, ioErr) << entry.path().filename() << " " << op;
        EXPECT_EQ(snap(), before) << entry.path().filename();
        ++files;
    }
    EXPECT_GE(files, 20u);
}

TEST_F(ForkStore, SymbolicLinksAreNeverFollowed) {
    testsupport::TempTree outside;
    const Bytes valid = makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 3, bytesOf("abc")}});
    outside.write("target", valid);
    file("f");
    ASSERT_EQ(::symlink(outside.path("target").c_str(), path("._f").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path("target").c_str(), path("link").c_str()), 0);
    const std::string before = snap(), outsideBefore = testsupport::snapshot(outside.root());
    for (const char* name : {"f", "link"})
        for (const auto& [op, result] : tryEverything(dirfd, name))
            EXPECT_EQ(result, notAFileErr) << name << " " << op;
    EXPECT_EQ(snap(), before);
    EXPECT_EQ(testsupport::snapshot(outside.root()), outsideBefore);
}

TEST_F(ForkStore, FifosAreRefusedWithoutBlocking) {
    // A blocking open of a FIFO without a writer would hang this test.
    file("f");
    ASSERT_EQ(::mkfifo(path("._f").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0);
    const std::string before = snap();
    for (const char* name : {"f", "pipe"})
        for (const auto& [op, result] : tryEverything(dirfd, name))
            EXPECT_EQ(result, notAFileErr) << name << " " << op;
    EXPECT_EQ(snap(), before);
}

TEST_F(ForkStore, AMissingFileGivesFnfErrAndCreatesNothing) {
    for (const auto& [op, result] : tryEverything(dirfd, "gone")) EXPECT_EQ(result, fnfErr) << op;
    EXPECT_EQ(snap(), "");
    EXPECT_EQ(getResourceFork(dirfd, "a/b", nullptr), paramErr);
}

TEST_F(ForkStore, AFileTheUserMayNotWriteStaysAsItWas) {
    // Runs the writes as nobody in a child process (CI runs as root).
    file("f");
    sidecar("f", makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 3, bytesOf("abc")}}));
    ASSERT_EQ(::chmod(tree->root().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path("f").c_str(), 0444), 0);
    const std::string before = snap();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(100);
        const UInt8 fi[32] = {'A'};
        int bad = 0;
        bad |= writeResourceFork(dirfd, "f", 0, 3, "xyz") != afpAccessDenied;
        bad |= (deleteResourceFork(dirfd, "f") != afpAccessDenied) << 1;
        bad |= (setFinderInfo(dirfd, "f", fi) != afpAccessDenied) << 2;
        bad |= (setCreationDate(dirfd, "f", 0) != afpAccessDenied) << 3;
        _exit(bad);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "bit mask of calls that did not refuse";
    EXPECT_EQ(snap(), before);
}

// ---- Crash safety: every failing system call leaves the old bytes or finishes ----

namespace {
struct Scenario {
    const char* what;
    std::function<void(ForkStore&)> setUp;
    std::function<OSErr(int dirfd)> run;
};
}  // namespace

class ForkStoreFaults : public ForkStore {
protected:
    // Runs `s` once without faults for the expected result, then with the
    // 1st, 2nd, ... system call failing, until a run hits no fault.
    void check(const Scenario& s, int err) {
        fresh();
        s.setUp(*this);
        ASSERT_EQ(s.run(dirfd), noErr) << s.what;
        const std::string done = snap();
        for (int n = 1;; ++n) {
            fresh();
            s.setUp(*this);
            const std::string before = snap();
            gFailAt = n;
            gCalls = 0;
            gErrno = err;
            gHit = false;
            sysio::setFaultHook(failNth);
            const OSErr result = s.run(dirfd);
            sysio::setFaultHook(nullptr);
            const std::string after = snap();
            if (!gHit) {
                EXPECT_EQ(result, noErr) << s.what;
                EXPECT_EQ(after, done) << s.what;
                // Each change takes several calls; fewer means injection missed them.
                EXPECT_GT(n, 3) << s.what;
                break;
            }
            if (result == noErr) {
                EXPECT_EQ(after, done) << s.what << ": call " << n << " failed, yet";
            } else {
                EXPECT_EQ(result, errnoToOSErr(err)) << s.what << ": call " << n;
                EXPECT_EQ(after, before) << s.what << ": call " << n;
            }
            ASSERT_LT(n, 200) << s.what;
        }
    }
};

TEST_F(ForkStoreFaults, WritesAndDeletionsSurviveEveryFailingCall) {
    const Bytes data = testsupport::pattern(3000, 11);
    auto write = [data](std::uint64_t at) {
        return
            [data, at](int fd) { return writeResourceFork(fd, "f", at, data.size(), data.data()); };
    };
    const Bytes withFork =
        makeSidecar({{9, 50, 32, kTextFinderInfo}, {2, 82, 4000, testsupport::pattern(4000, 2)}});
    const Bytes appl = testsupport::finderInfo("APPL", "CARO");
    const std::vector<Scenario> scenarios = {
        {"new sidecar", [](ForkStore& t) { t.file("f"); }, write(0)},
        {"append in place",
         [&](ForkStore& t) {
             t.file("f");
             t.sidecar("f", withFork);
         },
         write(4000)},
        {"overwrite rebuilds",
         [&](ForkStore& t) {
             t.file("f");
             t.sidecar("f", withFork);
         },
         write(10)},
        {"placeholder replaced",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", corpusBytes("peers/macos-4096.ad"));
         },
         write(0)},
        {"re-layout",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", makeSidecar({{2, 62, 3, bytesOf("abc")},
                                         {4, 65, 4, bytesOf("note")},
                                         {9, 69, 32, kTextFinderInfo}}));
         },
         write(0)},
        {"moved out of an attribute",
         [](ForkStore& t) {
             t.file("f");
             t.setAttr("f", kMacFork, bytesOf("attribute fork"));
         },
         write(2)},
        {"moved next to a Finder-info-only sidecar",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", makeSidecar({{9, 38, 32, kTextFinderInfo}}));
             t.setAttr("f", kSambaFork, bytesOf("stream fork\0"s));
         },
         write(0)},
        {"delete cuts the sidecar",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", corpusBytes("peers/unar-hidden.ad"));
         },
         [](int fd) { return deleteResourceFork(fd, "f"); }},
        {"delete removes the sidecar",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", corpusBytes("peers/samba-fruit.ad"));
         },
         [](int fd) { return deleteResourceFork(fd, "f"); }},
        {"delete removes the attribute",
         [](ForkStore& t) {
             t.file("f");
             t.setAttr("f", kMacFork, bytesOf("attribute fork"));
         },
         [](int fd) { return deleteResourceFork(fd, "f"); }},
        {"Finder info in place",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", corpusBytes("peers/macos-4096.ad"));
         },
         [appl](int fd) { return setFinderInfo(fd, "f", appl.data()); }},
        {"Finder info into a new sidecar", [](ForkStore& t) { t.file("f"); },
         [appl](int fd) { return setFinderInfo(fd, "f", appl.data()); }},
        {"Finder info added to a fork-only sidecar",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", makeSidecar({{2, 38, 5, bytesOf("fork!")}}));
         },
         [appl](int fd) { return setFinderInfo(fd, "f", appl.data()); }},
        {"Finder info in the metadata attribute",
         [](ForkStore& t) {
             t.file("f");
             t.setAttr("f", kMetadata, corpusBytes("peers/samba-fruit.meta"));
         },
         [appl](int fd) { return setFinderInfo(fd, "f", appl.data()); }},
        {"creation date in place",
         [](ForkStore& t) {
             t.file("f");
             t.sidecar("f", makeSidecar({{9, 62, 32, {}}, {8, 94, 16, {}}, {2, 110, 0, {}}}));
         },
         [](int fd) { return setCreationDate(fd, "f", 1234567890); }},
        {"Finder info in the metadata attribute and its copies",
         [](ForkStore& t) {
             t.file("f");
             t.fixTimes("f");
             t.sidecar("f", corpusBytes("peers/unar-hidden.ad"));
             t.setAttr("f", kMacFinderInfo, kTextFinderInfo);
             ASSERT_EQ(setCreationDate(t.dirfd, "f", 1234567890), noErr);
         },
         [appl](int fd) { return setFinderInfo(fd, "f", appl.data()); }},
        {"creation date into a new metadata attribute",
         [](ForkStore& t) {
             t.file("f");
             t.fixTimes("f");
             t.sidecar("f", corpusBytes("peers/unar-hidden.ad"));
         },
         [](int fd) { return setCreationDate(fd, "f", 1234567890); }},
    };
    for (int err : {ENOSPC, EIO})
        for (const Scenario& s : scenarios) check(s, err);
}

// ---- Companions: hidden sidecars and renames ----

TEST_F(ForkStore, SidecarsBesideTheirFileAndNetatalkFoldersAreHidden) {
    file("f");
    file("._f", "sidecar");
    file("._orphan", "an ordinary file");
    tree->mkdir(".AppleDouble");
    file("g");
    tree->mkdir("._g");
    file("plain");
    EXPECT_TRUE(isHiddenCompanion(dirfd, "._f"));
    EXPECT_TRUE(isHiddenCompanion(dirfd, ".AppleDouble"));
    EXPECT_FALSE(isHiddenCompanion(dirfd, "._orphan"));
    EXPECT_FALSE(isHiddenCompanion(dirfd, "._g"));  // a folder is not a sidecar
    EXPECT_FALSE(isHiddenCompanion(dirfd, "f"));
    EXPECT_FALSE(isHiddenCompanion(dirfd, "._"));
    EXPECT_FALSE(isHiddenCompanion(dirfd, "plain"));
}

TEST_F(ForkStore, RenamingMovesTheSidecarButNeverOverAnotherFile) {
    file("new");
    file("._old", "sidecar of old");
    ASSERT_EQ(renameCompanion(dirfd, "old", "new"), noErr);
    EXPECT_EQ(testsupport::readText(path("._new")), "sidecar of old");
    EXPECT_FALSE(testsupport::exists(path("._old")));
    EXPECT_EQ(renameCompanion(dirfd, "none", "other"), noErr);
    file("._a", "a");
    file("._b", "b");
    EXPECT_EQ(renameCompanion(dirfd, "a", "b"), dupFNErr);
    EXPECT_EQ(testsupport::readText(path("._a")), "a");
    EXPECT_EQ(testsupport::readText(path("._b")), "b");
}
