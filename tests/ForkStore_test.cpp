// The fork store over every store a fork, Finder info or a creation date can
// live in: what is read from which, where each change lands with every other
// byte kept, who may read a new sidecar, what is refused (the whole malformed
// corpus is swept here), and that every failing system call leaves the old
// bytes or finishes.
#include "platform/files/linux/ForkStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/SysIO.h"
#include "testkit/Faults.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Nobody.h"
#include "testkit/SidecarBytes.h"
#include "testkit/TempTree.h"

using namespace forkstore;
using namespace testsupport;
using namespace std::string_literals;
using appledouble::Problem;

namespace {

constexpr char kSamba[] = "peers/samba-fruit.ad", kUnar[] = "peers/unar-hidden.ad",
               kMac[] = "peers/macos-4096.ad", kSambaMeta[] = "peers/samba-fruit.meta";
// netatalk 2's ".AppleDouble/name" files: with a 700-byte fork, as afpd
// creates one (empty fork), a folder's ".Parent", and one whose slots and
// filler hold older bytes (100-byte fork).
constexpr char kAtalkFork[] = "peers/netatalk2-fork.ad", kAtalkEmpty[] = "peers/netatalk2-empty.ad",
               kAtalkParent[] = "peers/netatalk2-parent.ad",
               kAtalkStale[] = "peers/netatalk2-stale.ad";
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
// `b` with `part` written at `at`, grown (with zeros between) to hold it.
Bytes overwrite(Bytes b, std::size_t at, const Bytes& part) {
    if (b.size() < at + part.size()) b.resize(at + part.size());
    std::copy(part.begin(), part.end(), b.begin() + at);
    return b;
}
// An AppleDouble file whose fork starts at `forkAt` and is last, with `fork`
// instead of its fork and the length field at `lengthField` set to match.
Bytes withFork(const Bytes& file, std::size_t forkAt, std::size_t lengthField, const Bytes& fork) {
    Bytes b = concat(slice(file, 0, forkAt), fork);
    bigendian::writeU32(b.data() + lengthField, std::uint32_t(fork.size()));
    return b;
}
// netatalk's header with `fork`: it is at 741, its length field at 34.
Bytes atalkWith(const Bytes& header, const Bytes& fork) {
    return withFork(header, 741, 34, fork);
}
Bytes dateBytes(std::int64_t unixSeconds) {
    Bytes b(4);
    bigendian::writeU32(b.data(), *appledouble::encodeDate(unixSeconds));
    return b;
}

// What the file "f" holds besides its data fork ("data fork"): its sidecar,
// netatalk's header (with the folder's ".Parent" beside it) and attributes.
struct Stores {
    std::optional<Bytes> sidecar{}, netatalk{};
    std::map<std::string, Bytes> attrs{};
};
// A change to the file "f" in the folder it is given; `writesFork` for a write
// of the fork.
struct Change {
    std::function<OSErr(int)> apply;
    bool writesFork = false;
};
Change writeAt(std::uint64_t at, const Bytes& b) {
    return {[=](int dirfd) { return writeResourceFork(dirfd, "f", at, b.size(), b.data()); }, true};
}
const Change kDelete{[](int dirfd) { return deleteResourceFork(dirfd, "f"); }},
    kSetAppl{[](int dirfd) { return setFinderInfo(dirfd, "f", kAppl.data()); }},
    kClearFinderInfo{[](int dirfd) { return setFinderInfo(dirfd, "f", kZero); }},
    kSetDate{[](int dirfd) { return setCreationDate(dirfd, "f", 1234567890); }};

class ForkStore : public ::testing::Test {
public:
    void SetUp() override { fresh(); }
    void TearDown() override {
        sysio::setFaultHook(nullptr);
        ::close(dirfd);
    }
    // A new empty tree holding only "f".
    void fresh() {
        ::close(dirfd);
        tree = std::make_unique<TempTree>();
        dirfd = ::open(tree->root().c_str(), O_RDONLY | O_DIRECTORY);
        file("f");
    }
    // A new tree whose "f" holds `s`. netatalk's header is 0660 in a 0751
    // folder, and ".Parent" has an old modification time, to show that
    // changes keep them. "f" has fixed times: a new metadata attribute
    // records them, and every run must give the same bytes even when a
    // second passes between runs. The access time lies ahead, so reading the
    // file does not move it (relatime).
    void make(const Stores& s) {
        fresh();
        const struct timespec times[2] = {{2000000000, 0}, {1400000000, 0}};
        ASSERT_EQ(::utimensat(dirfd, "f", times, 0), 0);
        if (s.sidecar) tree->write("._f", *s.sidecar);
        if (s.netatalk) {
            tree->write(".AppleDouble/f", *s.netatalk);
            tree->write(".AppleDouble/.Parent", corpusBytes(kAtalkParent));
            ASSERT_EQ(::chmod(path(".AppleDouble/f").c_str(), 0660), 0);
            ASSERT_EQ(::chmod(path(".AppleDouble").c_str(), 0751), 0);
            const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path(".AppleDouble/.Parent").c_str(), old, 0), 0);
            parentIno = stat(".AppleDouble/.Parent").st_ino;
        }
        for (const auto& [a, v] : s.attrs) setXattr(path("f"), a.c_str(), v);
    }
    // "f" holds `want` and its data fork and no temporary is left. netatalk's
    // header kept its mode, and the folder's own header was never touched.
    void expectStores(const Stores& want) {
        auto maybe = [&](const std::string& name) {
            return exists(path(name)) ? std::optional(readBytes(path(name))) : std::nullopt;
        };
        EXPECT_EQ(readText(path("f")), "data fork");
        EXPECT_EQ(maybe("._f"), want.sidecar) << "the sidecar";
        EXPECT_EQ(maybe(".AppleDouble/f"), want.netatalk) << "netatalk's header";
        std::map<std::string, Bytes> attrs;
        for (const char* a : {kMacFork, kSambaFork, kMacFinderInfo, kMetadata})
            if (hasXattr(path("f"), a)) attrs[a] = xattr(path("f"), a);
        EXPECT_EQ(attrs, want.attrs) << "the attributes";
        if (want.netatalk) {
            EXPECT_EQ(stat(".AppleDouble/f").st_mode & 07777, 0660u);
            EXPECT_EQ(stat(".AppleDouble").st_mode & 07777, 0751u);
            EXPECT_EQ(readBytes(path(".AppleDouble/.Parent")), corpusBytes(kAtalkParent));
            const struct stat parent = stat(".AppleDouble/.Parent");
            EXPECT_EQ(std::tuple(parent.st_ino, parent.st_mtim.tv_sec, parent.st_mtim.tv_nsec),
                      std::tuple(parentIno, 1000000000, 0));
        }
        EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
    }
    std::string path(const std::string& name) const { return tree->path(name); }
    struct stat stat(const std::string& name) const {
        struct stat st {};
        EXPECT_EQ(::lstat(path(name).c_str(), &st), 0) << name;
        return st;
    }
    void file(const std::string& name, const std::string& data = "data fork") {
        tree->write(name, data);
    }
    Bytes sidecarBytes(const std::string& name) const { return readBytes(path("._" + name)); }
    // The whole resource fork as the store reports it, read asking for a byte
    // more: that gives eofErr and the count read (set even when it is none:
    // it starts at 7).
    Bytes fork(const std::string& name) {
        RsrcInfo info;
        EXPECT_EQ(getResourceFork(dirfd, name.c_str(), &info), noErr);
        Bytes b(info.length + 1);
        std::size_t actual = 7;
        EXPECT_EQ(readResourceFork(dirfd, name.c_str(), 0, b.size(), b.data(), &actual), eofErr);
        b.resize(actual);
        return b;
    }
    OSErr writeFork(const std::string& name, std::uint64_t offset, const Bytes& b) {
        return writeResourceFork(dirfd, name.c_str(), offset, b.size(), b.data());
    }
    // The creation date, none when no store holds one.
    std::optional<std::int64_t> created(const std::string& name) {
        std::int64_t when = 0;
        bool found = false;
        EXPECT_EQ(getCreationDate(dirfd, name.c_str(), &when, &found), noErr);
        return found ? std::optional(when) : std::nullopt;
    }
    std::string snap() const { return snapshot(tree->root()); }

    std::unique_ptr<TempTree> tree;
    int dirfd = -1;
    ino_t parentIno = 0;
};

}  // namespace

// ---- Reading: which store is read, empty forks, peers ----

TEST_F(ForkStore, EachStoreIsReadInItsOrderAndReadingChangesNothing) {
    const Bytes blank = placeholderBytes(), atalk = corpusBytes(kAtalkFork),
                meta = corpusBytes(kSambaMeta), side = finderInfo("SIDE", "ttxt"),
                maca = finderInfo("MACA", "ttxt");
    const Bytes atalkFork = corpusBytes("peers/netatalk2-fork.rsrc");
    const std::map<std::string, Bytes> attrs = {
        {kSambaFork, bytesOf("samba!\0"s)}, {kMacFork, bytesOf("mac")}, {kMacFinderInfo, maca}};
    const Bytes badMeta = slice(meta, 0, meta.size() - 1);
    // Created, modified, never backed up, accessed.
    const Bytes dates = concat(dateBytes(1000000000), {0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0});
    const Bytes dated = makeSidecar(
        {{9, 62, 32, kTextFinderInfo}, {8, 94, 16, dates}, {2, 110, 4, bytesOf("rsrc")}});
    const Bytes far = makeSidecar(
        {{9, 62, 32, kTextFinderInfo}, {4, 94, 70000, {}}, {2, 70094, 4, bytesOf("rsrc")}});
    const std::string none(8, '\0');
    const std::optional<std::int64_t> metaDate = appledouble::decodeDate(be32(meta, 354));
    const std::int64_t atalkDate = 1262304000 - 86400;
    // `stores` read back as `fork` from `store`, with Finder info of type and
    // creator `type` and the creation date `created`; and nothing changed.
    auto read = [&](const char* what, const Stores& stores, const Bytes& rsrc, RsrcStore store,
                    const std::string& type = "TEXTttxt",
                    std::optional<std::int64_t> created = std::nullopt) {
        SCOPED_TRACE(what);
        make(stores);
        ForkState got;
        ASSERT_EQ(readForkState(dirfd, "f", &got), noErr);
        const std::string gotType(got.finderInfo.begin(), got.finderInfo.begin() + 8);
        EXPECT_EQ(std::tuple(got.rsrc, fork("f"), got.store, gotType, this->created("f")),
                  std::tuple(rsrc, rsrc, store, type, created));
        expectStores(stores);
    };
    // An empty fork and macOS's placeholder (in its sidecar below) are none,
    // wherever they are.
    read("placeholder in the attribute", {{}, {}, {{kMacFork, blank}}}, {}, RsrcStore::None, none);
    // Peers' sidecars; Samba's Finder info and date from its metadata.
    read("Samba", {corpusBytes(kSamba), {}, {{kMetadata, meta}}},
         corpusBytes("peers/samba-fruit.rsrc"), RsrcStore::Sidecar, "TEXTttxt", metaDate);
    read("macOS", {corpusBytes(kMac)}, {}, RsrcStore::None);
    // A fork beyond the 64 KiB read as header.
    read("far fork", {far}, bytesOf("rsrc"), RsrcStore::Sidecar);
    // The sidecar, then netatalk's header, then the Mac and Samba's attributes.
    read("Samba's stream", {{}, {}, {{kSambaFork, bytesOf("samba!\0"s)}}}, bytesOf("samba!"),
         RsrcStore::SambaStream, none);
    read("Mac attribute", {{}, {}, attrs}, bytesOf("mac"), RsrcStore::MacXattr, "MACAttxt");
    read("netatalk", {{}, atalk, attrs}, atalkFork, RsrcStore::NetatalkFolder, "TEXTttxt",
         atalkDate);
    read("sidecar", {sidecar(side, bytesOf("side")), atalk, attrs}, bytesOf("side"),
         RsrcStore::Sidecar, "SIDEttxt", atalkDate);
    read("a sidecar holding nothing hides nothing", {sidecar({}, {}), atalk, attrs}, atalkFork,
         RsrcStore::NetatalkFolder, "TEXTttxt", atalkDate);
    // A header as afpd makes one for a file it has only looked at.
    read("afpd's empty header", {{}, corpusBytes(kAtalkEmpty), attrs}, bytesOf("mac"),
         RsrcStore::MacXattr, "MACAttxt", 1262304000);
    // Finder info: valid metadata, the sidecar (over the Mac attribute's in
    // the "sidecar" row), the Mac attribute. An invalid metadata attribute is
    // passed over; all zero counts as none.
    read("metadata", {sidecar(side, {}), {}, {{kMetadata, meta}}}, {}, RsrcStore::None, "TEXTttxt",
         metaDate);
    read("invalid metadata", {sidecar(side, {}), {}, {{kMetadata, badMeta}}}, {}, RsrcStore::None,
         "SIDEttxt");
    read("zero Finder info", {sidecar({}, {}), {}, {{kMacFinderInfo, maca}}}, {}, RsrcStore::None,
         "MACAttxt");
    // The creation date from the metadata, then the sidecar's dates entry.
    read("dates entry", {dated}, bytesOf("rsrc"), RsrcStore::Sidecar, "TEXTttxt", 1000000000);
    read("metadata's date", {dated, {}, {{kMetadata, meta}}}, bytesOf("rsrc"), RsrcStore::Sidecar,
         "TEXTttxt", metaDate);
}

// ---- Changes: each in the store that holds it, every other byte kept, all or nothing ----

TEST_F(ForkStore, EachChangeLandsWhereItsValueIsKeepsEveryOtherByteAndSurvivesFailingCalls) {
    const Bytes blank = placeholderBytes(), data = pattern(900, 5), zero(32, 0);
    const Bytes samba = corpusBytes(kSamba), meta = corpusBytes(kSambaMeta),
                unar = corpusBytes(kUnar), mac = corpusBytes(kMac), atalk = corpusBytes(kAtalkFork);
    const Bytes finderOnly = sidecar(kTextFinderInfo, {}), abc = bytesOf("abc");
    const Bytes when = dateBytes(1234567890);
    // `change` turns `before` into `after`. With `everyCall`, it runs again
    // with the 1st, 2nd, ... system call failing with ENOSPC and with EIO,
    // until a run hits no fault: each run leaves the old bytes or finishes.
    // (Flips and deletions over files of every shape fail call by call in
    // FaultInjection_test.)
    auto change = [&](const char* what, const Stores& before, const Change& c, const Stores& after,
                      bool everyCall = false) {
        SCOPED_TRACE(what);
        make(before);
        ASSERT_EQ(c.apply(dirfd), noErr);
        expectStores(after);
        if (!everyCall) return;
        const std::string done = snap();
        for (const auto& [err, code] : {std::pair<int, OSErr>{ENOSPC, dskFulErr}, {EIO, ioErr}}) {
            for (int n = 1;; ++n) {
                make(before);
                const std::string was = snap();
                const InjectedFault fault({}, err, n);
                const OSErr result = c.apply(dirfd);
                // An attribute refusing a fork for want of room while the disk
                // has room: the fork does not fit it.
                const bool tooBig =
                    c.writesFork && err == ENOSPC && fault.failedCall() == sysio::Call::SetXattr;
                const OSErr failed = tooBig ? OSErr(fsDataTooBigErr) : code;
                EXPECT_EQ(snap(), result == noErr ? done : was) << "call " << n;
                if (!fault.hit()) {
                    // Each change takes several calls; fewer means injection missed them.
                    EXPECT_EQ(std::tuple(result, n > 3), std::tuple(noErr, true));
                    break;
                }
                EXPECT_TRUE(result == noErr || result == failed) << "call " << n << ": " << result;
                ASSERT_LT(n, 200);
            }
        }
    };
    // New sidecars, for a fork or for Finder info, are checked byte for byte
    // in ANewSidecarIsNeverOpenToMoreThanItsFile; here once under faults.
    change("Finder info into a new sidecar", {}, kSetAppl, {sidecar(kAppl, {})}, true);
    change("Finder info added to a fork-only sidecar",
           {makeSidecar({{2, 38, 5, bytesOf("fork!")}})}, kSetAppl,
           {sidecar(kAppl, bytesOf("fork!"))}, true);
    change("written past its end", {sidecar({}, abc)}, writeAt(5, bytesOf("!")),
           {sidecar({}, bytesOf("abc\0\0!"s))}, true);
    change("fork added to a Finder-info-only sidecar",
           {makeSidecar({{9, 38, 32, kTextFinderInfo}})}, writeAt(0, abc),
           {sidecar(kTextFinderInfo, abc)});
    // Peers' sidecars: the fork emptied and the file cut where it began.
    // Samba's holds nothing but the fork and goes; its metadata stays.
    const Stores sambas{samba, {}, {{kMetadata, meta}}};
    change("Samba's", sambas, writeAt(0, data),
           {withFork(samba, 82, 34, data), {}, {{kMetadata, meta}}});
    change("Samba's, deleted", sambas, kDelete, {{}, {}, {{kMetadata, meta}}});
    change("macOS's", {mac}, writeAt(0, data), {withFork(mac, 3810, 46, data)});
    change("macOS's, deleted", {mac}, kDelete, {withFork(mac, 3810, 46, {})});
    // A fork that is not last is laid out again with every entry kept.
    const Bytes note = bytesOf("a comment"), dev = bytesOf("DEVICE#8");
    change("re-laid out",
           {makeSidecar({{2, 74, 6, bytesOf("oldfrk")},
                         {4, 80, 9, note},
                         {0x80444556, 89, 8, dev},
                         {9, 97, 32, kTextFinderInfo}},
                        "Netatalk")},
           writeAt(6, bytesOf("+new")),
           {makeSidecar({{9, 74, 32, kTextFinderInfo},
                         {4, 106, 9, note},
                         {0x80444556, 115, 8, dev},
                         {2, 123, 10, bytesOf("oldfrk+new")}},
                        "Netatalk")},
           true);
    // Deleting empties every store; netatalk's header keeps the rest.
    change("deleted everywhere",
           {sidecar({}, bytesOf("side")),
            atalk,
            {{kMacFork, bytesOf("mac")}, {kSambaFork, bytesOf("samba\0"s)}}},
           kDelete, {{}, atalkWith(atalk, {})});
    change("nothing to delete", {}, kDelete, {});
    // Finder info where it was found.
    change("metadata's Finder info", sambas, kSetAppl,
           {samba, {}, {{kMetadata, overwrite(meta, 122, kAppl)}}});
    change("Mac Finder info", {{}, {}, {{kMacFinderInfo, kTextFinderInfo}}}, kSetAppl,
           {{}, {}, {{kMacFinderInfo, kAppl}}});
    change("macOS's Finder info", {mac}, kSetAppl, {overwrite(mac, 50, kAppl)}, true);
    change("Finder info cleared", {sidecar(kAppl, {})}, kClearFinderInfo, {});
    change("no Finder info cleared", {}, kClearFinderInfo, {});
    // In netatalk's header; cleared, it stays (netatalk's ids, the fork).
    change("netatalk's Finder info", {{}, atalk}, kSetAppl, {{}, overwrite(atalk, 653, kAppl)});
    change("netatalk's Finder info cleared", {{}, atalk}, kClearFinderInfo,
           {{}, overwrite(atalk, 653, zero)});
    change("netatalk's date", {{}, atalk}, kSetDate, {{}, overwrite(atalk, 637, when)});
    // Written into the metadata attribute, the header's copy follows it.
    change("metadata and netatalk's Finder info", {{}, atalk, {{kMetadata, meta}}}, kSetAppl,
           {{}, overwrite(atalk, 653, kAppl), {{kMetadata, overwrite(meta, 122, kAppl)}}});
    // The date in the metadata, else in the sidecar's dates entry.
    const Bytes dated =
        makeSidecar({{9, 62, 32, kTextFinderInfo}, {8, 94, 16, {}}, {2, 110, 3, abc}});
    change("dates entry", {dated}, kSetDate, {overwrite(dated, 94, when)});
    change("metadata's date", {dated, {}, {{kMetadata, meta}}}, kSetDate,
           {dated, {}, {{kMetadata, overwrite(meta, 354, when)}}});
    // Without a dates entry, the date goes into a new metadata attribute of
    // Samba's shape with the file's times and current Finder info (no new
    // sidecar, no third sidecar entry). Finder info is then written there, and
    // into the copies, which stay equal to it: cleared, no old one comes back.
    // Created, modified (the file's), never backed up, accessed (the file's).
    const Bytes dates =
        concat(concat(when, dateBytes(1400000000)), concat({0x80, 0, 0, 0}, dateBytes(2000000000)));
    const Bytes textMeta = sambaMetadata(kTextFinderInfo, dates),
                applMeta = sambaMetadata(kAppl, dates), zeroMeta = sambaMetadata(zero, dates);
    change("date beside unar's sidecar", {unar}, kSetDate, {unar, {}, {{kMetadata, textMeta}}},
           true);
    change("date alone", {}, kSetDate, {{}, {}, {{kMetadata, zeroMeta}}});
    change("Finder info in the metadata and its copies",
           {unar, {}, {{kMacFinderInfo, kTextFinderInfo}, {kMetadata, textMeta}}}, kSetAppl,
           {overwrite(unar, 50, kAppl), {}, {{kMacFinderInfo, kAppl}, {kMetadata, applMeta}}},
           true);
    change("cleared in the metadata and the sidecar", {unar, {}, {{kMetadata, textMeta}}},
           kClearFinderInfo, {overwrite(unar, 50, zero), {}, {{kMetadata, zeroMeta}}});
    change("cleared in the metadata and the Mac attribute",
           {{}, {}, {{kMacFinderInfo, kAppl}, {kMetadata, applMeta}}}, kClearFinderInfo,
           {{}, {}, {{kMetadata, zeroMeta}}});
    // The fork goes where it is, though a sidecar with an empty one comes
    // first; with no fork anywhere, the first store there is takes it.
    change("stream behind an empty sidecar", {finderOnly, {}, {{kSambaFork, bytesOf("stream\0"s)}}},
           writeAt(0, bytesOf("S")), {finderOnly, {}, {{kSambaFork, bytesOf("Stream\0"s)}}});
    change("empty sidecar before an empty stream", {finderOnly, {}, {{kSambaFork, {0}}}},
           writeAt(0, bytesOf("side")),
           {sidecar(kTextFinderInfo, bytesOf("side")), {}, {{kSambaFork, {0}}}});
    // A fork in an attribute stays there: Samba with "fruit:resource = stream"
    // serves only its stream (with a trailing NUL byte), macOS's copy only the
    // Mac attribute, and a sidecar would hide the new fork. An empty fork kept
    // there (the NUL byte alone, or macOS's placeholder) still says where the
    // fork goes.
    for (const char* a : {kMacFork, kSambaFork}) {
        const Bytes nul = a == kSambaFork ? Bytes{0} : Bytes{}, fork = bytesOf("attrfork");
        auto in = [&](const Bytes& f) { return Stores{{}, {}, {{a, concat(f, nul)}}}; };
        change(a, in(fork), writeAt(1, bytesOf("XY")), in(bytesOf("aXYrfork")), true);
        change(a, in(fork), writeAt(10, bytesOf("Z")), in(overwrite(fork, 10, {'Z'})));
        change(a, a == kSambaFork ? in({}) : Stores{{}, {}, {{a, blank}}}, writeAt(0, abc),
               in(abc));
        change(a, in(fork), kDelete, {});
    }
    // netatalk's header takes the fork and keeps every other byte: no sidecar,
    // no attribute, since netatalk serves the fork from its header.
    const Bytes over = pattern(300, 21), longer = pattern(2000, 22);
    for (const char* sample : {kAtalkFork, kAtalkEmpty, kAtalkStale}) {
        const Bytes h = corpusBytes(sample), was = slice(h, 741, h.size());
        change(sample, {{}, h}, writeAt(0, over), {{}, atalkWith(h, overwrite(was, 0, over))},
               sample == kAtalkFork);
        change(sample, {{}, h}, writeAt(1000, longer),
               {{}, atalkWith(h, overwrite(was, 1000, longer))});
        change(sample, {{}, h}, kDelete, {{}, atalkWith(h, {})});
    }
}

// Folders get Finder info in a sidecar and a date in the metadata too (and
// no fork: EachRefusalGivesItsCodeAndChangesNothing).
TEST_F(ForkStore, AFolderTakesFinderInfoAndACreationDate) {
    tree->mkdir("dir");
    ASSERT_EQ(setFinderInfo(dirfd, "dir", kAppl.data()), noErr);
    ASSERT_EQ(setCreationDate(dirfd, "dir", 1234567890), noErr);
    EXPECT_EQ(sidecarBytes("dir"), sidecar(kAppl, {}));
    EXPECT_EQ(created("dir"), 1234567890);  // not in the sidecar: in the metadata
}

// ---- Owners and modes: a new sidecar is never open to anyone its file is closed to ----

// A new sidecar belongs to its file's owner and group (only root can hand it
// to another owner), with the usual mode (0666 less umask) limited to the
// file's bits; a rebuilt one keeps its mode, even beyond the file's. For a fork
// (and once for new Finder info, which takes the same way to disk), written
// without a name first, under a temporary name (where the file system has no
// O_TMPFILE), and where rename flags are unsupported (NFS, exFAT: linked into
// place, or replaced by a plain rename).
TEST_F(ForkStore, ANewSidecarIsNeverOpenToMoreThanItsFile) {
    const mode_t umaskWas = ::umask(022);
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
    enum What { kFork, kFinderInfo, kRebuilt };
    const Bytes want[] = {sidecar({}, bytesOf("SECRET")), sidecar(kAppl, {}),
                          sidecar(kTextFinderInfo, bytesOf("SECRETrk"))};
    const std::tuple<mode_t, mode_t, What> rows[] = {
        {0600, 0600, kFork}, {0644, 0644, kFork},       {0640, 0640, kFork},
        {0755, 0644, kFork}, {0640, 0640, kFinderInfo}, {0600, 0660, kRebuilt}};
    enum How { kUnnamed, kNamed, kNoRenameFlags };
    for (How how : {kUnnamed, kNamed, kNoRenameFlags}) {
        for (const auto& [mode, expected, what] : rows) {
            SCOPED_TRACE(testing::Message()
                         << "file " << std::oct << mode << " way " << how << " kind " << what);
            fresh();
            ASSERT_EQ(::chown(path("f").c_str(), owner, group), 0);
            ASSERT_EQ(::chmod(path("f").c_str(), mode), 0);
            if (what == kRebuilt) {
                tree->write("._f", sidecar(kTextFinderInfo, bytesOf("old fork")));
                ASSERT_EQ(::chown(path("._f").c_str(), owner, group), 0);
                ASSERT_EQ(::chmod(path("._f").c_str(), 0660), 0);
            }
            sysio::setFaultHook(renameFlagsUnsupported);
            gFlagRenames = how == kNoRenameFlags;
            // The file's open, the sidecar's (found or not), the new sidecar's.
            std::optional<InjectedFault> noTmpfile;
            if (how == kNamed) noTmpfile.emplace(std::set{sysio::Call::Open}, EOPNOTSUPP, 3);
            ASSERT_EQ(what == kFinderInfo ? setFinderInfo(dirfd, "f", kAppl.data())
                                          : writeFork("f", 0, bytesOf("SECRET")),
                      noErr);
            EXPECT_EQ(noTmpfile && noTmpfile->hit(), how == kNamed);
            EXPECT_EQ(sidecarBytes("f"), want[what]);
            const struct stat st = stat("._f");
            EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
                      std::tuple(owner, group, expected));
            EXPECT_EQ(snap().find(".bwtmp"), std::string::npos);
        }
    }
    ::umask(umaskWas);
}

// Nobody and root's files: the owner of a sidecar root made for their file
// can change it later; a writer who cannot give a new sidecar the file's
// group lets that group read no more than everyone else; and a file nobody
// may not write stays as it was.
TEST_F(ForkStore, ANewSidecarBelongsToItsFilesOwnerAndGroupAndAFileNobodyMayNotWriteIsKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand a file to another owner";
    const mode_t umaskWas = ::umask(022);
    file("r");
    tree->write("._r", sidecar(kTextFinderInfo, bytesOf("abc")));
    ASSERT_EQ(::chmod(path("r").c_str(), 0444), 0);
    ASSERT_EQ(::chown(path("f").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path("f").c_str(), 0600), 0);
    ASSERT_EQ(writeFork("f", 0, bytesOf("SECRET")), noErr);
    // The owner patches it in place: the folder is not theirs to write.
    ASSERT_EQ(::chmod(tree->root().c_str(), 0755), 0);
    EXPECT_EQ(runAsNobody([&] { return int(setFinderInfo(dirfd, "f", kAppl.data())); }), noErr);
    EXPECT_EQ(sidecarBytes("f"), sidecar(kAppl, bytesOf("SECRET")));

    ASSERT_EQ(::chmod(tree->root().c_str(), 0777), 0);
    const std::string before = snap();
    // A bit mask of the calls that did not refuse.
    EXPECT_EQ(runAsNobody([&] {
                  return int(writeResourceFork(dirfd, "r", 0, 3, "xyz") != afpAccessDenied) |
                         (deleteResourceFork(dirfd, "r") != afpAccessDenied) << 1 |
                         (setFinderInfo(dirfd, "r", kAppl.data()) != afpAccessDenied) << 2 |
                         (setCreationDate(dirfd, "r", 0) != afpAccessDenied) << 3;
              }),
              0);
    EXPECT_EQ(snap(), before);
    // Nobody's file in root's group, which nobody cannot give a file to.
    file("g");
    ASSERT_EQ(::chown(path("g").c_str(), 65534, 0), 0);
    ASSERT_EQ(::chmod(path("g").c_str(), 0640), 0);
    EXPECT_EQ(runAsNobody([&] { return int(writeFork("g", 0, bytesOf("SECRET"))); }), noErr);
    const struct stat st = stat("._g");
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::tuple(65534u, 65534u, 0600u));
    EXPECT_EQ(sidecarBytes("g"), sidecar({}, bytesOf("SECRET")));
    ::umask(umaskWas);
}

// ---- Refusals: malformed sidecars, links, FIFOs, missing files, sizes, dates ----

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
    EXPECT_EQ(deleteResourceFork(dirfd, name), expected);
    EXPECT_EQ(getFinderInfo(dirfd, name, fi), expected);
    EXPECT_EQ(setFinderInfo(dirfd, name, fi), expected);
    EXPECT_EQ(getCreationDate(dirfd, name, &when, &found), expected);
    EXPECT_EQ(setCreationDate(dirfd, name, 1234567890), expected);
}
}  // namespace

// The whole corpus of malformed sidecars and netatalk headers, at the layer
// every caller goes through (the layers above try one sample each): each file
// is refused for its own reason, by every call, and left byte for byte.
TEST_F(ForkStore, EveryMalformedSidecarOrNetatalkHeaderIsRefusedForItsReasonAndLeftAsItWas) {
    // The files of both folders by the reason each is refused for ("n/": a
    // netatalk header).
    const std::pair<Problem, std::vector<std::string>> reasons[] = {
        {Problem::TooShort, {"too-short", "empty", "n/too-short"}},
        {Problem::BadMagic, {"bad-magic-applesingle", "bad-magic-little-endian", "n/applesingle"}},
        {Problem::BadVersion, {"bad-version-1", "n/version-1"}},
        {Problem::BadEntryCount, {"zero-entries", "sixteen-entries"}},
        {Problem::TruncatedTable, {"truncated-table"}},
        {Problem::ZeroId, {"id-zero", "n/id-zero"}},
        {Problem::DuplicateId, {"duplicate-id", "n/duplicate-id"}},
        {Problem::Overlap, {"overlapping-entries", "n/comment-over-dates"}},
        {Problem::EntryInHeader, {"entry-inside-header"}},
        {Problem::EntryPastEnd,
         {"offset-past-end", "length-past-end", "length-wraps-32-bits", "offset-wraps-32-bits",
          "n/fork-length-long", "n/truncated-header"}},
        {Problem::FinderInfoTooShort, {"finder-info-short", "n/finder-info-short"}},
        {Problem::BadAttrBlock,
         {"attr-total-size-past-entry", "attr-too-many", "attr-data-start-in-header",
          "attr-value-past-block", "attr-name-unterminated"}},
        {Problem::UnknownId, {"n/unknown-id"}},
        {Problem::NotNetatalkLayout, {"n/twelve-entries", "n/fork-not-at-741"}},
        {Problem::ForkLengthMismatch, {"n/fork-length-short"}},
    };
    std::map<std::string, Problem> expected;
    for (const auto& [problem, names] : reasons)
        for (const std::string& name : names) expected[name + ".ad"] = problem;
    std::size_t files = 0;
    for (const bool netatalk : {false, true}) {
        const std::string folder = netatalk ? "netatalk2-malformed" : "malformed";
        for (const auto& entry : std::filesystem::directory_iterator(corpusPath(folder))) {
            const std::string name = (netatalk ? "n/" : "") + entry.path().filename().string();
            SCOPED_TRACE(name);
            ASSERT_TRUE(expected.count(name)) << "no reason given";
            fresh();
            tree->write(netatalk ? ".AppleDouble/f" : "._f", readBytes(entry.path().string()));
            setXattr(path("f"), kMacFork, bytesOf("attribute fork"));
            setXattr(path("f"), kMacFinderInfo, kTextFinderInfo);
            const std::string before = snap();
            Inspection seen;
            inspect(dirfd, "f", kInspectAll, &seen);
            const CompanionFinding& found = netatalk ? seen.netatalk : seen.sidecar;
            EXPECT_EQ(std::tuple(found.state, Problem(found.problem)),
                      std::tuple(CompanionState::Malformed, expected.at(name)));
            tryEverything(dirfd, "f", ioErr);
            EXPECT_EQ(snap(), before);
            ++files;
        }
    }
    EXPECT_EQ(files, expected.size());
}

// Every other refusal, in one tree and one snapshot: a file, its sidecar or
// its netatalk header that is a link or a FIFO, a missing file, values no
// store can hold, a metadata attribute or netatalk header that does not
// parse. Each call gives its code, and no byte in the tree or behind its
// links changes.
TEST_F(ForkStore, EachRefusalGivesItsCodeAndChangesNothing) {
    // A blocking open of a FIFO without a writer would hang this test.
    TempTree outside;
    outside.write("target", sidecar(kTextFinderInfo, bytesOf("abc")));
    outside.write("header", corpusBytes(kAtalkFork));
    for (const char* n : {"f", "g", "h", "p", "k", "mac", "samba", "bad", "m"}) file(n);
    tree->mkdir(".AppleDouble");
    for (const auto& [at, to] :
         {std::pair{"._f", "target"}, {"link", "target"}, {".AppleDouble/h", "header"}})
        ASSERT_EQ(::symlink(outside.path(to).c_str(), path(at).c_str()), 0);
    for (const char* at : {"._g", "pipe", ".AppleDouble/p"})
        ASSERT_EQ(::mkfifo(path(at).c_str(), 0644), 0);
    tree->write("._k", sidecar({}, bytesOf("abc")));
    setXattr(path("mac"), kMacFork, bytesOf("small fork"));
    setXattr(path("mac"), kMacFinderInfo, kTextFinderInfo);
    setXattr(path("samba"), kSambaFork, bytesOf("small fork\0"s));
    setXattr(path("bad"), kMetadata, slice(corpusBytes(kSambaMeta), 0, 300));
    tree->write(".AppleDouble/m",
                readBytes(corpusPath("netatalk2-malformed/fork-length-short.ad")));
    tree->write("._m", sidecar(kTextFinderInfo, bytesOf("side")));
    tree->mkdir("dir");
    const std::string before = snap(), outsideBefore = snapshot(outside.root());
    // A malformed netatalk header is not needed to read the sidecar's fork.
    EXPECT_EQ(fork("m"), bytesOf("side"));
    // Sizes a sidecar's 32-bit fields cannot hold are refused, not wrapped.
    EXPECT_EQ(writeFork("k", 0xFFFFFFF0ull, Bytes(100, 1)), posErr);
    EXPECT_EQ(writeFork("k", UINT64_MAX - 1, Bytes(4, 1)), posErr);
    // No attribute holds more than 64 KiB: Samba's stream keeps its NUL byte
    // besides, so 65536 bytes of fork are one too many there. Less, where the
    // file system refuses it (ext4's ENOSPC), is met call by call in the
    // change table.
    EXPECT_EQ(writeFork("mac", 65530, Bytes(7, 'm')), fsDataTooBigErr);
    EXPECT_EQ(writeFork("samba", 0, Bytes(65536, 's')), fsDataTooBigErr);
    // Without user attributes it is wrgVolTypErr (Files_test, creating
    // files). A metadata attribute that does not parse is not written over.
    EXPECT_EQ(setCreationDate(dirfd, "bad", 1234567890), ioErr);
    // Dates the entry cannot hold are refused, not wrapped (too early: Files_test).
    EXPECT_EQ(setCreationDate(dirfd, "k", 946684800ll + 0x80000000ll), paramErr);
    // Deleting a fork needs every store, the malformed header too.
    EXPECT_EQ(deleteResourceFork(dirfd, "m"), ioErr);
    RsrcInfo info;
    EXPECT_EQ(getResourceFork(dirfd, "dir", &info), notAFileErr);
    EXPECT_EQ(getResourceFork(dirfd, "a/b", nullptr), paramErr);
    for (const char* name : {"f", "link", "g", "pipe", "h", "p"})
        tryEverything(dirfd, name, notAFileErr);
    tryEverything(dirfd, "gone", fnfErr);
    EXPECT_EQ(snap(), before);
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
}

TEST_F(ForkStore, NetatalksFolderIsNeverReachedThroughALinkNorTakenByItsOwnFiles) {
    TempTree outside;
    outside.write("folder/g", corpusBytes(kAtalkFork));
    const std::string outsideBefore = snapshot(outside.root());
    // A ".AppleDouble" that is a link is no netatalk folder: the fork of g
    // goes into a new sidecar, and the link's target keeps its bytes.
    file("g");
    ASSERT_EQ(::symlink(outside.path("folder").c_str(), path(".AppleDouble").c_str()), 0);
    EXPECT_TRUE(fork("g").empty());
    ASSERT_EQ(writeFork("g", 0, bytesOf("new")), noErr);
    EXPECT_EQ(sidecarBytes("g"), sidecar({}, bytesOf("new")));
    EXPECT_EQ(snapshot(outside.root()), outsideBefore);
    // A file named like netatalk's own files never takes its fork from them.
    file(".Parent");
    ::unlink(path(".AppleDouble").c_str());
    tree->write(".AppleDouble/.Parent", corpusBytes(kAtalkFork));
    EXPECT_TRUE(fork(".Parent").empty());
    ASSERT_EQ(writeFork(".Parent", 0, bytesOf("mine")), noErr);
    EXPECT_EQ(sidecarBytes(".Parent"), sidecar({}, bytesOf("mine")));
    EXPECT_EQ(readBytes(path(".AppleDouble/.Parent")), corpusBytes(kAtalkFork));
}

// ---- Companions: hidden sidecars (listed through the File Manager's tests) and renames ----

TEST_F(ForkStore, RenamingMovesTheSidecarButNeverOverAnotherFile) {
    // The sidecar and netatalk's header go with their file.
    file("new");
    file("._old", "sidecar of old");
    tree->write(".AppleDouble/old", corpusBytes(kAtalkFork));
    tree->write(".AppleDouble/.Parent", corpusBytes(kAtalkParent));
    ASSERT_EQ(renameCompanion(dirfd, "old", "new"), noErr);
    EXPECT_EQ(readText(path("._new")), "sidecar of old");
    EXPECT_EQ(readBytes(path(".AppleDouble/new")), corpusBytes(kAtalkFork));
    for (const char* gone : {"._old", ".AppleDouble/old"}) EXPECT_FALSE(exists(path(gone)));
    // A sidecar or a header in the way: nothing moves, the sidecar's rename is undone.
    for (const std::string n : {"a", "b", "c"}) file("._" + n, n);
    tree->write(".AppleDouble/c", corpusBytes(kAtalkFork));
    tree->write(".AppleDouble/d", corpusBytes(kAtalkEmpty));
    const std::string before = snap();
    EXPECT_EQ(renameCompanion(dirfd, "a", "b"), dupFNErr);
    EXPECT_EQ(renameCompanion(dirfd, "c", "d"), dupFNErr);
    EXPECT_EQ(snap(), before);
    // netatalk's own files stay where they are.
    EXPECT_EQ(renameCompanion(dirfd, "new", ".Parent"), dupFNErr);
    EXPECT_EQ(readBytes(path(".AppleDouble/.Parent")), corpusBytes(kAtalkParent));
    EXPECT_TRUE(exists(path("._new")));
    // Hidden only beside its file, and never a folder or the bare "._".
    file("g");
    tree->mkdir("._g");
    EXPECT_TRUE(isHiddenCompanion(dirfd, "._new"));
    for (const char* n : {"._a", "._g", "._"}) EXPECT_FALSE(isHiddenCompanion(dirfd, n)) << n;
}
