#include "platform/files/linux/ForkStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

#include "platform/files/FileErrors.h"
#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/SysIO.h"
#include "testkit/Faults.h"
#include "testkit/Nobody.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace forkstore;
using namespace testsupport;
using namespace std::string_literals;

namespace {

constexpr char kSamba[] = "peers/samba-fruit.ad", kUnar[] = "peers/unar-hidden.ad",
               kMac[] = "peers/macos-4096.ad", kSambaMeta[] = "peers/samba-fruit.meta";
// netatalk 2's ".AppleDouble/name" files: with a 700-byte fork, as afpd
// creates one (empty fork), a folder's ".Parent", and one whose slots and
// filler hold older bytes (100-byte fork).
constexpr char kAtalkFork[] = "peers/netatalk2-fork.ad", kAtalkEmpty[] = "peers/netatalk2-empty.ad",
               kAtalkParent[] = "peers/netatalk2-parent.ad",
               kAtalkStale[] = "peers/netatalk2-stale.ad";
constexpr std::size_t kAtalkHeader = 741, kAtalkLengthField = 34;
const Bytes kTextFinderInfo = finderInfo("TEXT", "ttxt");
const Bytes kAppl = finderInfo("APPL", "CARO");
const UInt8 kZero[32] = {};

// The first rename fails as on file systems without renameat2 flags (NFS, exFAT).
int gFlagRenames = 0;
int renameFlagsUnsupported(sysio::Call call) {
    return call == sysio::Call::Rename && gFlagRenames-- > 0 ? EINVAL : 0;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + from, b.begin() + std::min(to, b.size()));
}
std::uint32_t date(std::int64_t unixSeconds) {
    return *appledouble::encodeDate(unixSeconds);
}
// Finder info and a fork, the shape a new sidecar has.
Bytes plainSidecar(const Bytes& fork, const Bytes& fi = {}) {
    return makeSidecar({{9, 50, 32, fi}, {2, 82, std::uint32_t(fork.size()), fork}});
}

class ForkStore : public ::testing::Test {
public:
    void SetUp() override { open(); }
    void TearDown() override {
        sysio::setFaultHook(nullptr);
        ::close(dirfd);
    }
    void open() { dirfd = ::open(tree->root().c_str(), O_RDONLY | O_DIRECTORY); }
    // A new empty tree holding only "f".
    void fresh() {
        ::close(dirfd);
        tree = std::make_unique<TempTree>();
        open();
        file("f");
    }
    std::string path(const std::string& name) const { return tree->path(name); }
    void file(const std::string& name, const std::string& data = "data fork") {
        tree->write(name, data);
    }
    void sidecar(const std::string& name, const Bytes& bytes) { tree->write("._" + name, bytes); }
    // netatalk 2's header file of `name`.
    void netatalk(const std::string& name, const Bytes& bytes) {
        tree->write(".AppleDouble/" + name, bytes);
    }
    Bytes netatalkBytes(const std::string& name) const {
        return readBytes(path(".AppleDouble/" + name));
    }
    Bytes sidecarBytes(const std::string& name) const { return readBytes(path("._" + name)); }
    bool hasSidecar(const std::string& name) const { return exists(path("._" + name)); }
    void setAttr(const std::string& name, const char* a, const Bytes& v) {
        setXattr(path(name), a, v);
    }
    bool hasAttr(const std::string& name, const char* a) const { return hasXattr(path(name), a); }
    Bytes attr(const std::string& name, const char* a) const { return xattr(path(name), a); }
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
    std::int64_t created(const std::string& name, bool expectFound = true) {
        std::int64_t when = 0;
        bool found = !expectFound;
        EXPECT_EQ(getCreationDate(dirfd, name.c_str(), &when, &found), noErr);
        EXPECT_EQ(found, expectFound) << name;
        return when;
    }
    std::string snap() const { return snapshot(tree->root()); }

    std::unique_ptr<TempTree> tree = std::make_unique<TempTree>();
    int dirfd = -1;
};

}  // namespace

// ---- Reading: stores, precedence, empty forks, peers ----

TEST_F(ForkStore, ZeroLengthAndPlaceholderForksReadAsEmpty) {
    const Bytes blank = placeholderBytes();
    for (const char* n : {"blank", "zero", "attr"}) file(n);
    sidecar("blank", plainSidecar(blank, kTextFinderInfo));
    sidecar("zero", plainSidecar({}, kTextFinderInfo));
    setAttr("attr", kMacFork, blank);
    for (const char* name : {"blank", "zero", "attr"}) {
        SCOPED_TRACE(name);
        RsrcInfo info;
        ASSERT_EQ(getResourceFork(dirfd, name, &info), noErr);
        EXPECT_EQ(std::tuple(info.store, info.length), std::tuple(RsrcStore::None, 0u));
        char c;
        std::size_t actual = 7;
        EXPECT_EQ(readResourceFork(dirfd, name, 0, 1, &c, &actual), eofErr);
        EXPECT_EQ(actual, 0u);
    }
}

TEST_F(ForkStore, PeerSidecarsGiveTheirForkAndFinderInfo) {
    for (const char* n : {"samba", "unar", "mac"}) file(n);
    sidecar("samba", corpusBytes(kSamba));
    setAttr("samba", kMetadata, corpusBytes(kSambaMeta));
    sidecar("unar", corpusBytes(kUnar));
    sidecar("mac", corpusBytes(kMac));
    EXPECT_EQ(fork("samba"), corpusBytes("peers/samba-fruit.rsrc"));
    EXPECT_EQ(fork("unar"), corpusBytes("peers/unar-hidden.rsrc"));
    RsrcStore store;
    EXPECT_TRUE(fork("mac", &store).empty());  // the placeholder
    EXPECT_EQ(store, RsrcStore::None);
    // Samba's from the metadata attribute.
    for (const char* n : {"samba", "unar", "mac"}) EXPECT_EQ(finderType(n), "TEXTttxt") << n;
}

// ---- Finder info: precedence and where writes go ----

TEST_F(ForkStore, FinderInfoComesFromMetadataThenSidecarThenMacAttribute) {
    file("f");
    setAttr("f", kMacFinderInfo, finderInfo("MACA", "ttxt"));
    EXPECT_EQ(finderType("f"), "MACAttxt");
    sidecar("f", plainSidecar({}, finderInfo("SIDE", "ttxt")));
    EXPECT_EQ(finderType("f"), "SIDEttxt");
    // Valid metadata comes first (the Samba sample shows it); an invalid
    // attribute is passed over and left alone.
    Bytes meta = corpusBytes(kSambaMeta);
    meta.pop_back();
    setAttr("f", kMetadata, meta);
    EXPECT_EQ(finderType("f"), "SIDEttxt");
    EXPECT_EQ(attr("f", kMetadata), meta);
    // All-zero Finder info counts as none.
    sidecar("f", plainSidecar({}));
    EXPECT_EQ(finderType("f"), "MACAttxt");
}

TEST_F(ForkStore, FinderInfoIsWrittenWhereItWasFoundAndNewIntoASidecar) {
    for (const char* n : {"meta", "mac", "none", "macos"}) file(n);
    sidecar("meta", corpusBytes(kSamba));
    const Bytes meta = corpusBytes(kSambaMeta);
    setAttr("meta", kMetadata, meta);
    setAttr("mac", kMacFinderInfo, kTextFinderInfo);
    sidecar("macos", corpusBytes(kMac));
    tree->mkdir("dir");
    for (const char* n : {"meta", "mac", "none", "macos", "dir"})
        ASSERT_EQ(setFinderInfo(dirfd, n, kAppl.data()), noErr) << n;

    Bytes expected = meta;
    std::copy(kAppl.begin(), kAppl.end(), expected.begin() + 122);
    EXPECT_EQ(attr("meta", kMetadata), expected);
    EXPECT_EQ(sidecarBytes("meta"), corpusBytes(kSamba));
    EXPECT_EQ(attr("mac", kMacFinderInfo), kAppl);
    EXPECT_FALSE(hasSidecar("mac"));
    EXPECT_EQ(sidecarBytes("none"), plainSidecar({}, kAppl));
    EXPECT_EQ(sidecarBytes("dir"), plainSidecar({}, kAppl));  // folders too
    // macOS's shape: the ATTR block and every other byte kept.
    expected = corpusBytes(kMac);
    std::copy(kAppl.begin(), kAppl.end(), expected.begin() + 50);
    EXPECT_EQ(sidecarBytes("macos"), expected);
    // Clearing it leaves nothing worth a sidecar; clearing again stores nothing.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(setFinderInfo(dirfd, "none", kZero), noErr);
        EXPECT_FALSE(hasSidecar("none"));
    }
    RsrcInfo info;
    EXPECT_EQ(getResourceFork(dirfd, "dir", &info), notAFileErr);
}

// ---- Writing the fork ----

TEST_F(ForkStore, ANewForkGoesIntoASidecarOfTheShapeEveryReaderAccepts) {
    file("f");
    ASSERT_EQ(writeFork("f", 0, bytesOf("abc")), noErr);
    EXPECT_EQ(sidecarBytes("f"), plainSidecar(bytesOf("abc")));
    // Appending grows the sidecar in place; past the end leaves zeros between.
    struct stat before, after;
    ASSERT_EQ(::stat(path("._f").c_str(), &before), 0);
    ASSERT_EQ(writeFork("f", 3, bytesOf("def")), noErr);
    ASSERT_EQ(::stat(path("._f").c_str(), &after), 0);
    EXPECT_EQ(std::tuple(after.st_ino, after.st_size), std::tuple(before.st_ino, 82 + 6));
    ASSERT_EQ(writeFork("f", 8, bytesOf("!")), noErr);
    EXPECT_EQ(fork("f"), concat(bytesOf("abcdef"), Bytes{0, 0, '!'}));
    EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
    // Sizes a sidecar's 32-bit fields cannot hold are refused, not wrapped.
    const std::string kept = snap();
    EXPECT_EQ(writeFork("f", 0xFFFFFFF0ull, Bytes(100, 1)), posErr);
    EXPECT_EQ(writeFork("f", UINT64_MAX - 1, Bytes(4, 1)), posErr);
    EXPECT_EQ(snap(), kept);
}

TEST_F(ForkStore, AShorterWriteKeepsTheTailAndLargeSidecarsAreCopiedWhole) {
    // A shorter write keeps the tail of the fork and every other entry.
    // A 70 000-byte comment pushes the fork past the 64 KiB read as header; the
    // 3 MiB fork takes several copy chunks when the sidecar is rebuilt.
    file("f");
    const Bytes comment = pattern(70000, 4), old = pattern(3u << 20, 5);
    const std::uint32_t forkAt = 62 + 32 + 70000;
    const Bytes before = makeSidecar({{9, 62, 32, kTextFinderInfo},
                                      {4, 94, 70000, comment},
                                      {2, forkAt, std::uint32_t(old.size()), old}});
    sidecar("f", before);
    EXPECT_EQ(fork("f"), old);
    const Bytes head = pattern(100, 6), tail = pattern(10, 7);
    ASSERT_EQ(writeFork("f", 0, head), noErr);
    Bytes expected = before;
    std::copy(head.begin(), head.end(), expected.begin() + forkAt);
    EXPECT_TRUE(sidecarBytes("f") == expected);
    ASSERT_EQ(writeFork("f", old.size(), tail), noErr);  // appended in place
    expected = concat(expected, tail);
    bigendian::writeU32(expected.data() + 26 + 24 + 8, std::uint32_t(old.size() + 10));
    EXPECT_TRUE(sidecarBytes("f") == expected);
}

TEST_F(ForkStore, AForkInAnAttributeStaysThereWithSambasTrailingByte) {
    // Samba with "fruit:resource = stream" serves only the stream attribute,
    // and macOS's copy only the Mac one: a sidecar would hide the new fork.
    const Bytes blank = placeholderBytes();
    for (const char* a : {kMacFork, kSambaFork}) {
        SCOPED_TRACE(a);
        const Bytes nul = a == kSambaFork ? Bytes{0} : Bytes{};
        fresh();
        setAttr("f", a, concat(bytesOf("attrfork"), nul));
        ASSERT_EQ(writeFork("f", 1, bytesOf("XY")), noErr);
        EXPECT_EQ(attr("f", a), concat(bytesOf("aXYrfork"), nul));
        ASSERT_EQ(writeFork("f", 10, bytesOf("Z")), noErr);  // past the end: zeros between
        EXPECT_EQ(attr("f", a), concat(bytesOf("aXYrfork\0\0Z"s), nul));
        EXPECT_FALSE(hasSidecar("f"));
        // An empty fork kept there (Samba's stream of its NUL byte alone, or
        // macOS's placeholder) still says where the fork goes.
        fresh();
        setAttr("f", a, a == kSambaFork ? nul : blank);
        ASSERT_EQ(writeFork("f", 0, bytesOf("new")), noErr);
        EXPECT_EQ(attr("f", a), concat(bytesOf("new"), nul));
        EXPECT_FALSE(hasSidecar("f"));
        ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
        EXPECT_FALSE(hasAttr("f", a));
        EXPECT_FALSE(hasSidecar("f"));
    }
    // The fork goes where it is, though a sidecar with an empty one comes
    // first; with no fork anywhere, the first store there is takes it.
    fresh();
    const Bytes finderOnly = plainSidecar({}, kTextFinderInfo);
    sidecar("f", finderOnly);
    setAttr("f", kSambaFork, bytesOf("stream\0"s));
    ASSERT_EQ(writeFork("f", 0, bytesOf("S")), noErr);
    EXPECT_EQ(attr("f", kSambaFork), bytesOf("Stream\0"s));
    EXPECT_EQ(sidecarBytes("f"), finderOnly);
    setAttr("f", kSambaFork, Bytes{0});
    ASSERT_EQ(writeFork("f", 0, bytesOf("side")), noErr);
    EXPECT_EQ(sidecarBytes("f"), plainSidecar(bytesOf("side"), kTextFinderInfo));
    EXPECT_EQ(attr("f", kSambaFork), Bytes{0});
}

namespace {
// The size of an attribute value the file system under `root` refuses though
// Linux would take it (ext4 keeps one file's attributes in about 4 KiB), or 0
// when it takes every value up to 64 KiB (tmpfs, xfs).
std::size_t sizeRefusedBelow64KiB(const std::string& root) {
    const std::string probe = root + "/probe";
    int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    std::size_t refused = 0;
    for (std::size_t size : {8000u, 20000u, 65536u}) {
        const Bytes value(size, 'p');
        if (::fsetxattr(fd, "user.probe", value.data(), value.size(), 0) != 0) {
            refused = size;
            break;
        }
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return refused;
}
}  // namespace

TEST_F(ForkStore, AForkTooLargeForItsAttributeIsRefusedAndNothingChanges) {
    file("mac");
    setAttr("mac", kMacFork, bytesOf("small fork"));
    setAttr("mac", kMacFinderInfo, kTextFinderInfo);
    file("samba");
    setAttr("samba", kSambaFork, bytesOf("small fork\0"s));
    const std::string before = snap();
    // No attribute anywhere holds more than 64 KiB: Samba's stream keeps its
    // NUL byte besides, so 65536 bytes of fork are one too many there.
    EXPECT_EQ(writeFork("mac", 0, Bytes(65537, 'm')), fsDataTooBigErr);
    EXPECT_EQ(writeFork("mac", 65530, Bytes(7, 'm')), fsDataTooBigErr);
    EXPECT_EQ(writeFork("samba", 0, Bytes(65536, 's')), fsDataTooBigErr);
    EXPECT_EQ(snap(), before);
    const std::size_t refused = sizeRefusedBelow64KiB(tree->root());
    if (refused == 0) {
        std::printf("this file system takes attributes up to 64 KiB: only that limit was met\n");
        return;
    }
    // What this file system refuses (ENOSPC from ext4) is refused the same way.
    EXPECT_EQ(writeFork("mac", 0, Bytes(refused, 'm')), fsDataTooBigErr);
    EXPECT_EQ(writeFork("samba", 0, Bytes(refused, 's')), fsDataTooBigErr);
    EXPECT_EQ(snap(), before);
    EXPECT_EQ(fork("mac"), bytesOf("small fork"));
}

TEST_F(ForkStore, WritingOrDeletingAPeersForkKeepsEveryOtherByte) {
    const Bytes data = pattern(900, 5);
    struct Case {
        const char* sample;
        std::size_t forkAt, lengthField;
    } cases[] = {{kSamba, 82, 34}, {kUnar, 82, 46}, {kMac, 3810, 46}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        const Bytes before = corpusBytes(c.sample);
        for (bool write : {true, false}) {
            fresh();
            sidecar("f", before);
            if (c.sample == kSamba) setAttr("f", kMetadata, corpusBytes(kSambaMeta));
            ASSERT_EQ(write ? writeFork("f", 0, data) : deleteResourceFork(dirfd, "f"), noErr);
            if (c.sample == kSamba) {
                EXPECT_EQ(attr("f", kMetadata), corpusBytes(kSambaMeta));
                // Samba keeps the Finder info in the metadata attribute: its
                // sidecar holds nothing but the fork and goes.
                if (!write) {
                    EXPECT_FALSE(hasSidecar("f"));
                    continue;
                }
            }
            // Elsewhere the fork is emptied and the file cut where it began.
            Bytes expected = slice(before, 0, c.forkAt);
            bigendian::writeU32(expected.data() + c.lengthField, write ? 900 : 0);
            EXPECT_EQ(sidecarBytes("f"), write ? concat(expected, data) : expected);
        }
    }
    // macOS's shape with zero Finder info and an ATTR block without attributes
    // holds nothing else either.
    fresh();
    Bytes empty = corpusBytes(kMac);
    std::fill_n(empty.begin() + 50, 32, 0);
    empty[84 + 34] = empty[84 + 35] = 0;  // no attributes
    empty[3810 + 100] = 1;                // a real fork instead of the blank one
    sidecar("f", empty);
    ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
    EXPECT_FALSE(hasSidecar("f"));
}

TEST_F(ForkStore, AForkThatIsNotLastIsLaidOutAgainWithEveryEntryKept) {
    file("f");
    const Bytes comment = bytesOf("a comment"), dev = bytesOf("DEVICE#8");
    sidecar("f", makeSidecar({{2, 74, 6, bytesOf("oldfrk")},
                              {4, 80, 9, comment},
                              {0x80444556, 89, 8, dev},
                              {9, 97, 32, kTextFinderInfo}},
                             "Netatalk"));
    ASSERT_EQ(writeFork("f", 6, bytesOf("+new")), noErr);
    EXPECT_EQ(sidecarBytes("f"), makeSidecar({{9, 74, 32, kTextFinderInfo},
                                              {4, 106, 9, comment},
                                              {0x80444556, 115, 8, dev},
                                              {2, 123, 10, bytesOf("oldfrk+new")}},
                                             "Netatalk"));
}

TEST_F(ForkStore, SidecarsWrittenAnewKeepOwnerAndModeWhereRenameFlagsAreUnsupported) {
    // Only root can hand a file to another owner.
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    file("f");
    ASSERT_EQ(::chown(path("f").c_str(), owner, owner), 0);
    struct stat st;
    sysio::setFaultHook(renameFlagsUnsupported);
    gFlagRenames = 1;
    ASSERT_EQ(writeFork("f", 0, bytesOf("hello")), noErr);  // linked into place
    ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, owner);
    ASSERT_EQ(::chmod(path("._f").c_str(), 0640), 0);
    gFlagRenames = 1;
    ASSERT_EQ(writeFork("f", 0, bytesOf("J")), noErr);  // rebuilt, replaced by a plain rename
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(sidecarBytes("f"), plainSidecar(bytesOf("Jello")));
    EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
    // The file's owner, not the writer (root here), and the mode it had.
    ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_mode & 07777), std::tuple(owner, 0640u));
}

// ---- Who may read a new sidecar: never anyone the file is closed to ----

// The usual mode (0666 less umask) limited to the file's bits, for a fork and
// for new Finder info, written without a name first or (where the file system
// has no O_TMPFILE) under a temporary name. A rebuilt sidecar keeps its mode.
TEST_F(ForkStore, ANewSidecarIsNeverOpenToMoreThanItsFile) {
    const mode_t umaskWas = ::umask(022);
    const std::pair<mode_t, mode_t> modes[] = {
        {0600, 0600}, {0644, 0644}, {0640, 0640}, {0755, 0644}};
    struct stat st;
    for (bool named : {false, true}) {
        for (const auto& [fileMode, expected] : modes) {
            for (bool finderInfoOnly : {false, true}) {
                fresh();
                ASSERT_EQ(::chmod(path("f").c_str(), fileMode), 0);
                {
                    // The file's open, the open that finds no sidecar, the new sidecar's.
                    std::optional<InjectedFault> noTmpfile;
                    if (named) noTmpfile.emplace(std::set{sysio::Call::Open}, EOPNOTSUPP, 3);
                    ASSERT_EQ(finderInfoOnly ? setFinderInfo(dirfd, "f", kAppl.data())
                                             : writeFork("f", 0, bytesOf("SECRET")),
                              noErr);
                    EXPECT_EQ(noTmpfile && noTmpfile->hit(), named);
                }
                char what[40];
                std::snprintf(what, sizeof what, "file %o%s, %s", unsigned(fileMode),
                              named ? " named" : "", finderInfoOnly ? "finder info" : "fork");
                EXPECT_EQ(sidecarBytes("f"), finderInfoOnly ? plainSidecar({}, kAppl)
                                                            : plainSidecar(bytesOf("SECRET")))
                    << what;
                ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 07777, expected) << what;
                EXPECT_EQ(snap().find(".bwtmp"), std::string::npos) << what;
            }
        }
        // Rebuilt: the sidecar's own mode, even beyond the file's.
        fresh();
        ASSERT_EQ(::chmod(path("f").c_str(), 0600), 0);
        sidecar("f", plainSidecar(bytesOf("old fork"), kTextFinderInfo));
        ASSERT_EQ(::chmod(path("._f").c_str(), 0640), 0);
        {
            std::optional<InjectedFault> noTmpfile;
            if (named) noTmpfile.emplace(std::set{sysio::Call::Open}, EOPNOTSUPP, 3);
            ASSERT_EQ(writeFork("f", 0, bytesOf("SECRET")), noErr);
            EXPECT_EQ(noTmpfile && noTmpfile->hit(), named);
        }
        EXPECT_EQ(sidecarBytes("f"), plainSidecar(bytesOf("SECRETrk"), kTextFinderInfo));
        ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << (named ? "named" : "unnamed");
    }
    ::umask(umaskWas);
}

// Root hands a new sidecar to the file's owner and group, who can change it
// later. A writer who cannot give it the file's group lets that group read no
// more than everyone else.
TEST_F(ForkStore, ANewSidecarBelongsToItsFilesOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand a file to another owner";
    const mode_t umaskWas = ::umask(022);
    file("f");
    ASSERT_EQ(::chown(path("f").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path("f").c_str(), 0600), 0);
    ASSERT_EQ(writeFork("f", 0, bytesOf("SECRET")), noErr);
    struct stat st;
    ASSERT_EQ(::stat(path("._f").c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::tuple(65534u, 65534u, 0600u));
    // The owner patches it in place: the folder is not theirs to write.
    ASSERT_EQ(::chmod(tree->root().c_str(), 0755), 0);
    EXPECT_EQ(runAsNobody([&] { return int(setFinderInfo(dirfd, "f", kAppl.data())); }), noErr);
    EXPECT_EQ(sidecarBytes("f"), plainSidecar(bytesOf("SECRET"), kAppl));

    // Nobody's file in root's group, which nobody cannot give a file to.
    file("g");
    ASSERT_EQ(::chown(path("g").c_str(), 65534, 0), 0);
    ASSERT_EQ(::chmod(path("g").c_str(), 0640), 0);
    ASSERT_EQ(::chmod(tree->root().c_str(), 0777), 0);
    EXPECT_EQ(runAsNobody([&] { return int(writeFork("g", 0, bytesOf("SECRET"))); }), noErr);
    ASSERT_EQ(::stat(path("._g").c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::tuple(65534u, 65534u, 0600u));
    EXPECT_EQ(sidecarBytes("g"), plainSidecar(bytesOf("SECRET")));
    ::umask(umaskWas);
}

TEST_F(ForkStore, DeletingTheForkEmptiesEveryStore) {
    file("f");
    sidecar("f", plainSidecar(bytesOf("side")));
    const Bytes header = corpusBytes(kAtalkFork);
    netatalk("f", header);
    setAttr("f", kMacFork, bytesOf("mac"));
    setAttr("f", kSambaFork, bytesOf("samba\0"s));
    ASSERT_EQ(deleteResourceFork(dirfd, "f"), noErr);
    EXPECT_FALSE(hasSidecar("f"));  // it held nothing else
    // netatalk's header stays, with an empty fork and every other byte.
    Bytes emptied = slice(header, 0, kAtalkHeader);
    bigendian::writeU32(emptied.data() + kAtalkLengthField, 0);
    EXPECT_EQ(netatalkBytes("f"), emptied);
    EXPECT_FALSE(hasAttr("f", kMacFork));
    EXPECT_FALSE(hasAttr("f", kSambaFork));
    EXPECT_EQ(readText(path("f")), "data fork");
    EXPECT_EQ(deleteResourceFork(dirfd, "f"), noErr);  // nothing left to delete
}

// ---- Creation date ----

TEST_F(ForkStore, CreationDateComesFromMetadataThenTheSidecarsDatesEntry) {
    file("f");
    created("f", false);
    Bytes dates(16, 0);
    bigendian::writeU32(dates.data(), date(1000000000));
    bigendian::writeU32(dates.data() + 8, 0x80000000);
    const Bytes side = makeSidecar(
        {{9, 62, 32, kTextFinderInfo}, {8, 94, 16, dates}, {2, 110, 4, bytesOf("rsrc")}});
    sidecar("f", side);
    EXPECT_EQ(created("f"), 1000000000);
    ASSERT_EQ(setCreationDate(dirfd, "f", 1234567890), noErr);
    EXPECT_EQ(created("f"), 1234567890);
    Bytes expected = side;  // every other byte kept: other dates, Finder info, fork
    bigendian::writeU32(expected.data() + 94, date(1234567890));
    EXPECT_EQ(sidecarBytes("f"), expected);
    EXPECT_FALSE(hasAttr("f", kMetadata));  // the sidecar's entry is where the date lives

    const Bytes meta = corpusBytes(kSambaMeta);
    setAttr("f", kMetadata, meta);
    EXPECT_EQ(created("f"), *appledouble::decodeDate(be32(meta, 354)));
    ASSERT_EQ(setCreationDate(dirfd, "f", 1500000000), noErr);
    EXPECT_EQ(be32(attr("f", kMetadata), 354), date(1500000000));
    EXPECT_EQ(be32(sidecarBytes("f"), 94), date(1234567890));
}

TEST_F(ForkStore, CreationDateWithoutADatesEntryGoesIntoANewMetadataAttribute) {
    // Each file's Finder info from a different store; none has a dates entry.
    for (const char* n : {"side", "attr", "plain"}) file(n);
    sidecar("side", corpusBytes(kUnar));
    setAttr("attr", kMacFinderInfo, kAppl);
    tree->mkdir("folder");
    const struct timespec times[2] = {{1300000000, 0}, {1400000000, 0}};  // access, modify
    Bytes dates(16, 0);  // created, modified, never backed up, accessed
    const std::uint32_t when[] = {date(1234567890), date(1400000000), 0x80000000u,
                                  date(1300000000)};
    for (int i = 0; i < 4; ++i) bigendian::writeU32(dates.data() + 4 * i, when[i]);
    for (const char* n : {"side", "attr", "plain", "folder"}) {
        SCOPED_TRACE(n);
        ASSERT_EQ(::utimensat(AT_FDCWD, path(n).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        ASSERT_EQ(setCreationDate(dirfd, n, 1234567890), noErr);
        EXPECT_EQ(created(n), 1234567890);
        // Samba's shape, byte for byte, with the file's current Finder info.
        const std::string name = n;
        const Bytes fi = name == "side" ? kTextFinderInfo : name == "attr" ? kAppl : Bytes{};
        EXPECT_EQ(attr(n, kMetadata), makeSidecar({{4, 154, 0, {}},
                                                   {8, 354, 16, dates},
                                                   {9, 122, 32, fi},
                                                   {14, 370, 4, {}},
                                                   {0x80444556, 374, 8, {}},
                                                   {0x80494E4F, 382, 8, {}},
                                                   {0x8053594E, 390, 8, {}},
                                                   {0x8053567E, 398, 4, {}}},
                                                  ""));
    }
    // The sidecar keeps its two entries and every byte; no new sidecar appears.
    EXPECT_EQ(sidecarBytes("side"), corpusBytes(kUnar));
    EXPECT_FALSE(hasSidecar("plain"));
    EXPECT_FALSE(hasSidecar("folder"));

    // Later dates and Finder info go into the attribute now.
    const Bytes appl = finderInfo("APPL", "ttxt");
    ASSERT_EQ(setCreationDate(dirfd, "side", 1500000000), noErr);
    ASSERT_EQ(setFinderInfo(dirfd, "side", appl.data()), noErr);
    const Bytes meta = attr("side", kMetadata);
    EXPECT_EQ(be32(meta, 354), date(1500000000));
    EXPECT_EQ(slice(meta, 122, 154), appl);
    EXPECT_EQ(finderType("side"), "APPLttxt");
    // The copies stay equal to it: cleared Finder info does not bring the
    // old one back from the sidecar or the Mac attribute.
    EXPECT_EQ(slice(sidecarBytes("side"), 50, 82), appl);
    for (const char* n : {"side", "attr"}) {
        ASSERT_EQ(setFinderInfo(dirfd, n, kZero), noErr) << n;
        EXPECT_EQ(finderType(n), std::string(8, '\0')) << n;
    }
    EXPECT_EQ(slice(sidecarBytes("side"), 50, 82), Bytes(32, 0));
    EXPECT_EQ(fork("side"), corpusBytes("peers/unar-hidden.rsrc"));
    EXPECT_FALSE(hasAttr("attr", kMacFinderInfo));
}

TEST_F(ForkStore, CreationDateNotStorableChangesNothing) {
    file("f");
    sidecar("f", corpusBytes(kUnar));
    file("bad");
    setAttr("bad", kMetadata, slice(corpusBytes(kSambaMeta), 0, 300));
    const std::string before = snap();
    // No user attributes on this file system: an error, not a silent success.
    {
        InjectedFault noAttributes(kAttributeCalls, EOPNOTSUPP);
        EXPECT_EQ(setCreationDate(dirfd, "f", 1234567890), wrgVolTypErr);
    }
    // A metadata attribute that does not parse is not written over.
    EXPECT_EQ(setCreationDate(dirfd, "bad", 1234567890), ioErr);
    // Dates the entry cannot hold are refused, not wrapped.
    EXPECT_EQ(setCreationDate(dirfd, "f", 946684800ll - 0x80000000ll), paramErr);
    EXPECT_EQ(setCreationDate(dirfd, "f", 946684800ll + 0x80000000ll), paramErr);
    EXPECT_EQ(snap(), before);
}

// ---- Refusals: malformed sidecars, links, FIFOs, missing files, permissions ----

namespace {
// Every store operation on `name` gives `expected`.
void tryEverything(int dirfd, const char* name, OSErr expected) {
    SCOPED_TRACE(name);
    RsrcInfo info;
    char buf[16];
    std::size_t actual;
    UInt8 fi[32] = {'A', 'P', 'P', 'L'};
    std::int64_t when;
    bool found;
    EXPECT_EQ(getResourceFork(dirfd, name, &info), expected);
    EXPECT_EQ(readResourceFork(dirfd, name, 0, sizeof buf, buf, &actual), expected);
    EXPECT_EQ(writeResourceFork(dirfd, name, 0, 5, "hello"), expected);
    EXPECT_EQ(writeResourceFork(dirfd, name, 10, 5, "hello"), expected);
    EXPECT_EQ(deleteResourceFork(dirfd, name), expected);
    EXPECT_EQ(getFinderInfo(dirfd, name, fi), expected);
    EXPECT_EQ(setFinderInfo(dirfd, name, fi), expected);
    EXPECT_EQ(setFinderInfo(dirfd, name, kZero), expected);
    EXPECT_EQ(getCreationDate(dirfd, name, &when, &found), expected);
    EXPECT_EQ(setCreationDate(dirfd, name, 1234567890), expected);
}
}  // namespace

// The whole corpus of malformed sidecars and netatalk headers, at the layer
// every caller goes through; the layers above try one sample each.
TEST_F(ForkStore, EveryMalformedSidecarOrNetatalkHeaderIsRefusedAndLeftByteForByte) {
    for (const auto& [folder, least] : {std::pair{"malformed", 20}, {"netatalk2-malformed", 12}}) {
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(corpusPath(folder))) {
            SCOPED_TRACE(entry.path().filename());
            fresh();
            tree->write(std::string(folder) == "malformed" ? "._f" : ".AppleDouble/f",
                        readBytes(entry.path().string()));
            setAttr("f", kMacFork, bytesOf("attribute fork"));
            setAttr("f", kMacFinderInfo, kTextFinderInfo);
            const std::string before = snap();
            tryEverything(dirfd, "f", ioErr);
            EXPECT_EQ(snap(), before);
            ++files;
        }
        EXPECT_GE(files, least) << folder;
    }
    // A malformed netatalk header behind a sidecar that holds the fork is not
    // needed to read it, but deleting the fork needs every store and changes
    // nothing.
    fresh();
    netatalk("f", readBytes(corpusPath("netatalk2-malformed/fork-length-short.ad")));
    sidecar("f", plainSidecar(bytesOf("side"), kTextFinderInfo));
    const std::string before = snap();
    EXPECT_EQ(fork("f"), bytesOf("side"));
    EXPECT_EQ(deleteResourceFork(dirfd, "f"), ioErr);
    EXPECT_EQ(snap(), before);
}

TEST_F(ForkStore, LinksFifosAndMissingFilesAreRefusedNeverFollowedAndNeverBlockedOn) {
    // A blocking open of a FIFO without a writer would hang this test.
    TempTree outside;
    outside.write("target", plainSidecar(bytesOf("abc"), kTextFinderInfo));
    for (const char* n : {"f", "g"}) file(n);
    ASSERT_EQ(::symlink(outside.path("target").c_str(), path("._f").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path("target").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(path("._g").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0);
    const std::string before = snap(), outsideBefore = snapshot(outside.root());
    for (const char* name : {"f", "link", "g", "pipe"}) tryEverything(dirfd, name, notAFileErr);
    tryEverything(dirfd, "gone", fnfErr);
    EXPECT_EQ(snap(), before);
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
    EXPECT_EQ(getResourceFork(dirfd, "a/b", nullptr), paramErr);
}

TEST_F(ForkStore, AFileTheUserMayNotWriteStaysAsItWas) {
    file("f");
    sidecar("f", plainSidecar(bytesOf("abc"), kTextFinderInfo));
    ASSERT_EQ(::chmod(tree->root().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path("f").c_str(), 0444), 0);
    const std::string before = snap();
    // A bit mask of the calls that did not refuse.
    EXPECT_EQ(runAsNobody([&] {
                  const UInt8 fi[32] = {'A'};
                  return int(writeResourceFork(dirfd, "f", 0, 3, "xyz") != afpAccessDenied) |
                         (deleteResourceFork(dirfd, "f") != afpAccessDenied) << 1 |
                         (setFinderInfo(dirfd, "f", fi) != afpAccessDenied) << 2 |
                         (setCreationDate(dirfd, "f", 0) != afpAccessDenied) << 3;
              }),
              0);
    EXPECT_EQ(snap(), before);
}

// ---- netatalk 2's ".AppleDouble/name" ----

TEST_F(ForkStore, TheSidecarComesFirstThenNetatalksHeaderThenTheMacThenSambasAttribute) {
    file("f");
    RsrcStore store;
    setAttr("f", kSambaFork, bytesOf("samba!\0"s));
    EXPECT_EQ(std::tuple(fork("f", &store), store),
              std::tuple(bytesOf("samba!"), RsrcStore::SambaStream));
    setAttr("f", kMacFork, bytesOf("mac"));
    setAttr("f", kMacFinderInfo, finderInfo("MACA", "ttxt"));
    EXPECT_EQ(std::tuple(fork("f", &store), store),
              std::tuple(bytesOf("mac"), RsrcStore::MacXattr));
    netatalk("f", corpusBytes(kAtalkFork));
    EXPECT_EQ(std::tuple(fork("f", &store), store),
              std::tuple(corpusBytes("peers/netatalk2-fork.rsrc"), RsrcStore::NetatalkFolder));
    EXPECT_EQ(finderType("f"), "TEXTttxt");
    EXPECT_EQ(created("f"), 1262304000 - 86400);
    sidecar("f", plainSidecar(bytesOf("side"), finderInfo("SIDE", "ttxt")));
    EXPECT_EQ(std::tuple(fork("f", &store), store),
              std::tuple(bytesOf("side"), RsrcStore::Sidecar));
    EXPECT_EQ(finderType("f"), "SIDEttxt");
    // A sidecar with an empty fork and no Finder info hides nothing.
    sidecar("f", plainSidecar({}));
    fork("f", &store);
    EXPECT_EQ(store, RsrcStore::NetatalkFolder);
    EXPECT_EQ(finderType("f"), "TEXTttxt");
    // A header as afpd makes one for a file it has only looked at: the
    // attributes show through.
    netatalk("f", corpusBytes(kAtalkEmpty));
    EXPECT_EQ(std::tuple(fork("f", &store), store),
              std::tuple(bytesOf("mac"), RsrcStore::MacXattr));
    EXPECT_EQ(finderType("f"), "MACAttxt");
    EXPECT_EQ(created("f"), 1262304000);
}

TEST_F(ForkStore, NetatalksHeaderTakesTheForkAndKeepsEveryOtherByte) {
    const Bytes data = pattern(300, 21), longer = pattern(2000, 22);
    struct Op {
        const char* what;
        std::function<OSErr(ForkStore*)> run;
        std::function<Bytes(const Bytes&)> fork;  // the new fork from the old
    } ops[] = {
        {"write at the start", [&](ForkStore* t) { return t->writeFork("f", 0, data); },
         [&](Bytes old) {
             if (old.size() < data.size()) old.resize(data.size());
             std::copy(data.begin(), data.end(), old.begin());
             return old;
         }},
        {"write past the end", [&](ForkStore* t) { return t->writeFork("f", 1000, longer); },
         [&](Bytes old) {
             old.resize(3000);
             std::copy(longer.begin(), longer.end(), old.begin() + 1000);
             return old;
         }},
        {"delete", [](ForkStore* t) { return deleteResourceFork(t->dirfd, "f"); },
         [](const Bytes&) { return Bytes(); }},
    };
    for (const char* sample : {kAtalkFork, kAtalkEmpty, kAtalkStale}) {
        for (const Op& op : ops) {
            SCOPED_TRACE(std::string(sample) + ", " + op.what);
            fresh();
            const Bytes before = corpusBytes(sample), parent = corpusBytes(kAtalkParent);
            netatalk("f", before);
            netatalk(".Parent", parent);
            ASSERT_EQ(::chmod(path(".AppleDouble/f").c_str(), 0640), 0);
            ASSERT_EQ(::chmod(path(".AppleDouble").c_str(), 0751), 0);
            const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path(".AppleDouble/.Parent").c_str(), old, 0), 0);
            struct stat parentBefore;
            ASSERT_EQ(::stat(path(".AppleDouble/.Parent").c_str(), &parentBefore), 0);

            ASSERT_EQ(op.run(this), noErr);
            const Bytes newFork = op.fork(slice(before, kAtalkHeader, before.size()));
            Bytes expected = concat(slice(before, 0, kAtalkHeader), newFork);
            bigendian::writeU32(expected.data() + kAtalkLengthField, std::uint32_t(newFork.size()));
            EXPECT_EQ(netatalkBytes("f"), expected);
            EXPECT_EQ(fork("f"), newFork);
            // No sidecar, no attribute: netatalk serves the fork from its header.
            EXPECT_FALSE(hasSidecar("f"));
            EXPECT_FALSE(hasAttr("f", kMacFork));
            EXPECT_EQ(readText(path("f")), "data fork");
            struct stat st;
            ASSERT_EQ(::stat(path(".AppleDouble/f").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            ASSERT_EQ(::stat(path(".AppleDouble").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0751u);
            // The folder's own header is never touched.
            EXPECT_EQ(netatalkBytes(".Parent"), parent);
            ASSERT_EQ(::stat(path(".AppleDouble/.Parent").c_str(), &st), 0);
            EXPECT_EQ(std::tuple(st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
                      std::tuple(parentBefore.st_ino, parentBefore.st_mtim.tv_sec,
                                 parentBefore.st_mtim.tv_nsec));
            EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
        }
    }
}

TEST_F(ForkStore, FinderInfoAndCreationDateAreChangedInsideNetatalksHeader) {
    file("f");
    const Bytes before = corpusBytes(kAtalkFork);
    netatalk("f", before);
    ASSERT_EQ(setFinderInfo(dirfd, "f", kAppl.data()), noErr);
    ASSERT_EQ(setCreationDate(dirfd, "f", 1234567890), noErr);
    Bytes expected = before;
    std::copy(kAppl.begin(), kAppl.end(), expected.begin() + 653);  // the Finder info slot
    bigendian::writeU32(expected.data() + 637, date(1234567890));   // the dates slot
    EXPECT_EQ(netatalkBytes("f"), expected);
    EXPECT_EQ(finderType("f"), "APPLCARO");
    EXPECT_EQ(created("f"), 1234567890);
    // Cleared, the header stays: it holds netatalk's ids and the fork.
    ASSERT_EQ(setFinderInfo(dirfd, "f", kZero), noErr);
    std::fill_n(expected.begin() + 653, 32, 0);
    EXPECT_EQ(netatalkBytes("f"), expected);
    EXPECT_FALSE(hasSidecar("f"));
    EXPECT_FALSE(hasAttr("f", kMetadata));
    // Written into the metadata attribute, the header's copy follows it.
    file("g");
    netatalk("g", before);
    const Bytes meta = corpusBytes(kSambaMeta);
    setAttr("g", kMetadata, meta);
    ASSERT_EQ(setFinderInfo(dirfd, "g", kAppl.data()), noErr);
    Bytes metaAfter = meta;
    std::copy(kAppl.begin(), kAppl.end(), metaAfter.begin() + 122);
    EXPECT_EQ(attr("g", kMetadata), metaAfter);
    expected = before;
    std::copy(kAppl.begin(), kAppl.end(), expected.begin() + 653);
    EXPECT_EQ(netatalkBytes("g"), expected);
}

TEST_F(ForkStore, NetatalksFolderAndHeadersAreNeverReachedThroughALink) {
    TempTree outside;
    outside.write("header", corpusBytes(kAtalkFork));
    outside.write("folder/g", corpusBytes(kAtalkFork));
    for (const char* n : {"f", "p"}) file(n);
    tree->mkdir(".AppleDouble");
    ASSERT_EQ(::symlink(outside.path("header").c_str(), path(".AppleDouble/f").c_str()), 0);
    ASSERT_EQ(::mkfifo(path(".AppleDouble/p").c_str(), 0644), 0);
    const std::string outsideBefore = snapshot(outside.root());
    for (const char* name : {"f", "p"}) tryEverything(dirfd, name, notAFileErr);
    // A ".AppleDouble" that is a link is no netatalk folder: the fork of g
    // goes into a new sidecar, and the link's target keeps its bytes.
    fresh();
    file("g");
    ASSERT_EQ(::symlink(outside.path("folder").c_str(), path(".AppleDouble").c_str()), 0);
    RsrcStore store;
    EXPECT_TRUE(fork("g", &store).empty());
    ASSERT_EQ(writeFork("g", 0, bytesOf("new")), noErr);
    EXPECT_EQ(sidecarBytes("g"), plainSidecar(bytesOf("new")));
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
    // A file named like netatalk's own files never takes its fork from them.
    file(".Parent");
    ::unlink(path(".AppleDouble").c_str());
    netatalk(".Parent", corpusBytes(kAtalkFork));
    EXPECT_TRUE(fork(".Parent", &store).empty());
    ASSERT_EQ(writeFork(".Parent", 0, bytesOf("mine")), noErr);
    EXPECT_EQ(sidecarBytes(".Parent"), plainSidecar(bytesOf("mine")));
    EXPECT_EQ(netatalkBytes(".Parent"), corpusBytes(kAtalkFork));
}

// ---- Crash safety: every failing system call leaves the old bytes or finishes ----

namespace {
enum class Op { Write, Delete, FinderInfo, Date };
struct Scenario {
    const char* what;
    Bytes sidecar;  // none when empty
    std::vector<std::pair<const char*, Bytes>> attrs;
    Op op;
    std::uint64_t at = 0;  // where a write starts
    bool dated = false;    // a creation date set first
    Bytes netatalk{};      // ".AppleDouble/f", with a ".Parent" beside it; none when empty
};
}  // namespace

class ForkStoreFaults : public ForkStore {
protected:
    void setUpScenario(const Scenario& s) {
        fresh();
        // Fixed times: a new metadata attribute records them, and every run
        // must give the same bytes even when a second passes between runs.
        // The access time lies ahead, so reading the file for a snapshot
        // does not move it (relatime).
        const struct timespec times[2] = {{2000000000, 0}, {1400000000, 0}};
        ASSERT_EQ(::utimensat(dirfd, "f", times, 0), 0);
        if (!s.sidecar.empty()) sidecar("f", s.sidecar);
        if (!s.netatalk.empty()) {
            netatalk("f", s.netatalk);
            netatalk(".Parent", corpusBytes(kAtalkParent));
        }
        for (const auto& [a, v] : s.attrs) setAttr("f", a, v);
        if (s.dated) {
            ASSERT_EQ(setCreationDate(dirfd, "f", 1234567890), noErr);
        }
    }
    OSErr run(const Scenario& s) {
        static const Bytes data = pattern(3000, 11);
        switch (s.op) {
            case Op::Write:
                return writeResourceFork(dirfd, "f", s.at, data.size(), data.data());
            case Op::Delete:
                return deleteResourceFork(dirfd, "f");
            case Op::FinderInfo:
                return setFinderInfo(dirfd, "f", kAppl.data());
            case Op::Date:
                return setCreationDate(dirfd, "f", 1234567890);
        }
        return paramErr;
    }
    // Runs `s` once without faults for the expected result, then with the
    // 1st, 2nd, ... system call failing, until a run hits no fault.
    void check(const Scenario& s, int err) {
        SCOPED_TRACE(s.what);
        setUpScenario(s);
        ASSERT_EQ(run(s), noErr);
        const std::string done = snap();
        for (int n = 1;; ++n) {
            setUpScenario(s);
            const std::string before = snap();
            auto fault = std::make_unique<InjectedFault>(std::set<sysio::Call>{}, err, n);
            const OSErr result = run(s);
            const bool hit = fault->hit();
            const sysio::Call failed = fault->failedCall();
            fault.reset();
            const std::string after = snap();
            if (!hit) {
                EXPECT_EQ(result, noErr);
                EXPECT_EQ(after, done);
                // Each change takes several calls; fewer means injection missed them.
                EXPECT_GT(n, 3);
                break;
            }
            if (result == noErr) {
                EXPECT_EQ(after, done) << "call " << n << " failed, yet";
            } else {
                // An attribute refusing a fork for want of room while the
                // disk has room: the fork does not fit it.
                const bool tooBig =
                    s.op == Op::Write && err == ENOSPC && failed == sysio::Call::SetXattr;
                EXPECT_EQ(result, tooBig ? OSErr(fsDataTooBigErr) : errnoToOSErr(err))
                    << "call " << n;
                EXPECT_EQ(after, before) << "call " << n;
            }
            ASSERT_LT(n, 200);
        }
    }
};

TEST_F(ForkStoreFaults, WritesFinderInfoAndDatesSurviveEveryFailingCall) {
    // Flips and deletions over files of every shape fail call by call in
    // FaultInjection_test; here the store's other changes, and each store's
    // own fork writes, each all or nothing.
    const Bytes mac = corpusBytes(kMac), unar = corpusBytes(kUnar), atalk = corpusBytes(kAtalkFork);
    const Bytes forkFirst = makeSidecar(
        {{2, 62, 3, bytesOf("abc")}, {4, 65, 4, bytesOf("note")}, {9, 69, 32, kTextFinderInfo}});
    const Bytes forkOnly = makeSidecar({{2, 38, 5, bytesOf("fork!")}});
    const Bytes withDates = makeSidecar({{9, 62, 32, {}}, {8, 94, 16, {}}, {2, 110, 0, {}}});
    const std::pair<const char*, Bytes> meta = {kMetadata, corpusBytes(kSambaMeta)},
                                        macFi = {kMacFinderInfo, kTextFinderInfo};
    const std::vector<Scenario> scenarios = {
        {"append in place", plainSidecar(pattern(4000, 2), kTextFinderInfo), {}, Op::Write, 4000},
        {"re-layout keeps a comment", forkFirst, {}, Op::Write},
        {"Finder info in place", mac, {}, Op::FinderInfo},
        {"Finder info into a new sidecar", {}, {}, Op::FinderInfo},
        {"Finder info added to a fork-only sidecar", forkOnly, {}, Op::FinderInfo},
        {"Finder info in the metadata attribute", {}, {meta}, Op::FinderInfo},
        {"Finder info in metadata and its copies", unar, {macFi}, Op::FinderInfo, 0, true},
        {"creation date in place", withDates, {}, Op::Date},
        {"creation date into a new metadata attribute", unar, {}, Op::Date},
        // Forks kept where they are: in either attribute, and in netatalk's
        // header (rebuilt beside it in ".AppleDouble", like a sidecar).
        {"fork in the Mac attribute", {}, {{kMacFork, pattern(500, 3)}}, Op::Write, 100},
        {"fork in Samba's stream", {}, {{kSambaFork, concat(pattern(500, 4), {0})}}, Op::Write},
        {"fork into netatalk's header", {}, {}, Op::Write, 0, false, atalk},
        {"fork deleted in netatalk's header", {}, {}, Op::Delete, 0, false, atalk},
        {"Finder info in netatalk's header", {}, {}, Op::FinderInfo, 0, false, atalk},
        {"creation date in netatalk's header", {}, {}, Op::Date, 0, false, atalk},
    };
    for (int err : {ENOSPC, EIO})
        for (const Scenario& s : scenarios) check(s, err);
}

// ---- Companions: hidden sidecars (listed through the File Manager's tests) and renames ----

TEST_F(ForkStore, RenamingMovesTheSidecarButNeverOverAnotherFile) {
    // The sidecar and netatalk's header go with their file.
    file("new");
    file("._old", "sidecar of old");
    netatalk("old", corpusBytes(kAtalkFork));
    netatalk(".Parent", corpusBytes(kAtalkParent));
    ASSERT_EQ(renameCompanion(dirfd, "old", "new"), noErr);
    EXPECT_EQ(readText(path("._new")), "sidecar of old");
    EXPECT_EQ(netatalkBytes("new"), corpusBytes(kAtalkFork));
    EXPECT_FALSE(exists(path("._old")));
    EXPECT_FALSE(exists(path(".AppleDouble/old")));
    EXPECT_EQ(renameCompanion(dirfd, "none", "other"), noErr);
    // A sidecar or a header in the way: nothing moves, the sidecar's rename is undone.
    file("._a", "a");
    file("._b", "b");
    file("._c", "c");
    netatalk("c", corpusBytes(kAtalkFork));
    netatalk("d", corpusBytes(kAtalkEmpty));
    const std::string before = snap();
    EXPECT_EQ(renameCompanion(dirfd, "a", "b"), dupFNErr);
    EXPECT_EQ(renameCompanion(dirfd, "c", "d"), dupFNErr);
    EXPECT_EQ(snap(), before);
    // netatalk's own files stay where they are.
    EXPECT_EQ(renameCompanion(dirfd, "new", ".Parent"), dupFNErr);
    EXPECT_EQ(netatalkBytes(".Parent"), corpusBytes(kAtalkParent));
    EXPECT_TRUE(exists(path("._new")));
    // Hidden only beside its file, and never a folder or the bare "._".
    file("g");
    tree->mkdir("._g");
    EXPECT_TRUE(isHiddenCompanion(dirfd, "._new"));
    for (const char* n : {"._a", "._g", "._"}) EXPECT_FALSE(isHiddenCompanion(dirfd, n)) << n;
}
