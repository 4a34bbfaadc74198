#include "testkit/ForkInvariant.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/ForkStore.h"
#include "testkit/Sidecars.h"

namespace testsupport {

namespace {

// The whole of the open file `fd`.
OSErr readAll(int fd, Bytes* out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return ioErr;
    out->assign(std::size_t(st.st_size), 0);
    return ::pread(fd, out->data(), out->size(), 0) == ssize_t(out->size()) ? noErr : ioErr;
}

// The whole file `name` in `dirfd`, never through a link. With `present`, a
// name that is not there is no error.
OSErr readFileAt(int dirfd, const std::string& name, Bytes* out, bool* present) {
    int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (present) *present = fd >= 0;
    if (fd < 0)
        return present && (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) ? noErr
                                                                                         : ioErr;
    OSErr err = readAll(fd, out);
    ::close(fd);
    return err;
}

OSErr readXattrs(int fd, std::map<std::string, Bytes>* out, bool* forkAttribute) {
    std::vector<char> names(65536);
    ssize_t n = ::flistxattr(fd, names.data(), names.size());
    if (n < 0) return ioErr;
    for (ssize_t i = 0; i < n; i += ssize_t(std::strlen(names.data() + i)) + 1) {
        const std::string name = names.data() + i;
        const bool fork = name == kMacFork || name == kSambaFork;
        *forkAttribute = *forkAttribute || fork;
        if (fork) continue;
        Bytes v(70000);
        ssize_t len = ::fgetxattr(fd, name.c_str(), v.data(), v.size());
        if (len < 0) return ioErr;
        v.resize(std::size_t(len));
        (*out)[name] = std::move(v);
    }
    return noErr;
}

std::string show(const Bytes& b) {
    return std::to_string(b.size()) + " bytes";
}

// What is wrong with an AppleDouble file (None when nothing is): a sidecar, or
// with `netatalk` netatalk 2's header. *h describes it when nothing is wrong.
appledouble::Problem problemOf(const Bytes& b, bool netatalk, appledouble::Header* h) {
    using namespace appledouble;
    return netatalk
               ? parseNetatalkHeader(b.data(), std::min(b.size(), kNetatalkHeaderSize), b.size(), h)
               : parse(b.data(), std::min(b.size(), kMaxHeaderRead), b.size(), h);
}

// Each shape's name and the length of its data fork: longer and shorter than
// the forks they replace; where the fork is in an attribute, small enough for
// ext4's (about 4 KiB a file). Then what it holds besides, with a fork of
// `fork` bytes where it has one: a sidecar with Finder info and the fork, a
// sidecar with the fork alone or Finder info alone, a fork attribute, a
// comment attribute, or a peer's sidecar or netatalk header from the corpus.
const struct {
    const char* name;
    std::size_t dataSize;
    const char* holds;
    std::uint32_t fork;
} kShapes[] = {{"a-plain", 5000, "", 0},
               {"b-short-fork", 3000, "sidecar", 100},
               {"c-long-fork", 3000, "sidecar", 8000},
               {"d-empty-fork", 2000, "sidecar", 0},
               {"e-macos", 1500, "peers/macos-4096.ad", 0},
               {"f-samba", 900, "peers/samba-fruit.ad", 0},
               {"g-mac-attr", 2500, "mac", 1000},
               {"h-samba-stream", 700, "samba", 1200},
               {"i-empty-data", 0, "sidecar", 40},
               {"j-fork-only", 600, "fork only", 200},
               {"k-comment", 800, "comment", 0},
               {"l-finder-info", 1100, "Finder info", 0},
               {"m-netatalk", 1300, "peers/netatalk2-fork.ad", 0},
               {"n-netatalk-new", 400, "peers/netatalk2-empty.ad", 0},
               {"o-netatalk-stale", 50, "peers/netatalk2-stale.ad", 0},
               {"p-empty-stream", 300, "samba", 0},
               {"q-finder-info-no-data", 0, "Finder info", 0}};

}  // namespace

OSErr readForkState(int dirfd, const std::string& name, ForkState* out) {
    *out = ForkState();
    int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fnfErr;
    OSErr err = readAll(fd, &out->data);
    if (err == noErr) err = readXattrs(fd, &out->xattrs, &out->forkAttribute);
    ::close(fd);
    if (err != noErr) return err;

    forkstore::RsrcInfo info;
    if ((err = forkstore::getResourceFork(dirfd, name.c_str(), &info)) != noErr) return err;
    out->store = info.store;
    out->rsrc.assign(std::size_t(info.length), 0);
    std::size_t actual = 0;
    err = forkstore::readResourceFork(dirfd, name.c_str(), 0, out->rsrc.size(), out->rsrc.data(),
                                      &actual);
    if (err != noErr || actual != out->rsrc.size()) return err != noErr ? err : OSErr(ioErr);
    out->finderInfo.assign(32, 0);
    if ((err = forkstore::getFinderInfo(dirfd, name.c_str(), out->finderInfo.data())) != noErr)
        return err;

    Bytes sidecar;
    bool present = false, there = false;
    appledouble::Header h;
    if ((err = readFileAt(dirfd, "._" + name, &sidecar, &present)) != noErr ||
        (err = readFileAt(dirfd, ".AppleDouble/" + name, &out->netatalkHeader, &there)) != noErr)
        return err;
    out->sidecar = present;
    if (there && problemOf(out->netatalkHeader, true, &h) != appledouble::Problem::None)
        return ioErr;
    if (there) out->netatalkHeader.resize(appledouble::kNetatalkHeaderSize);
    if (there) std::fill_n(out->netatalkHeader.begin() + 34, 4, 0);
    if (present) {
        if (problemOf(sidecar, false, &h) != appledouble::Problem::None) return ioErr;
        for (const appledouble::Attribute& a : h.attributes)
            out->attrBlock[a.name] =
                Bytes(sidecar.begin() + a.offset, sidecar.begin() + a.offset + a.length);
    }
    return noErr;
}

std::string checkForkState(ForkOp op, const ForkState& before, const ForkState& now, bool* done) {
    *done = false;
    std::string problems;
    if (now.finderInfo != before.finderInfo) problems += "Finder info changed; ";
    if (now.attrBlock != before.attrBlock) problems += "ATTR block changed; ";
    if (now.xattrs != before.xattrs) problems += "other attributes changed; ";
    if (now.netatalkHeader != before.netatalkHeader) problems += "netatalk header changed; ";
    // The fork stays where its server reads it.
    using forkstore::RsrcStore;
    const bool keptElsewhere = before.forkAttribute || !before.netatalkHeader.empty();
    if (!before.sidecar && now.sidecar && keptElsewhere)
        problems += "a sidecar appeared beside a fork kept elsewhere; ";
    if (before.store != RsrcStore::None && before.store != RsrcStore::Sidecar &&
        now.store != before.store && now.store != RsrcStore::None)
        problems += "resource fork moved to another store; ";
    if (op == ForkOp::Flip) {
        // The data fork written over the start of the old resource fork, which
        // keeps its length when it was longer.
        Bytes target = before.rsrc;
        if (target.size() < before.data.size()) target.resize(before.data.size());
        std::copy(before.data.begin(), before.data.end(), target.begin());
        if (now.data.empty() && !before.data.empty()) {
            if (now.rsrc != target)
                problems += "data fork deleted but resource fork holds " + show(now.rsrc) +
                            ", not the " + show(target) + " copy; ";
        } else if (now.data != before.data) {
            problems += "data fork changed to " + show(now.data) + "; ";
        } else if (now.rsrc != before.rsrc && now.rsrc != target) {
            problems += "resource fork neither old nor copied (" + show(now.rsrc) + "); ";
        }
        *done = now.data.empty() && now.rsrc == target;
    } else {
        if (now.data != before.data) problems += "data fork changed; ";
        if (!now.rsrc.empty() && now.rsrc != before.rsrc)
            problems += "resource fork neither whole nor gone (" + show(now.rsrc) + "); ";
        *done = now.rsrc.empty();
    }
    return problems;
}

const std::vector<std::string> kForkShapes = [] {
    std::vector<std::string> names;
    for (const auto& shape : kShapes) names.push_back(shape.name);
    return names;
}();

void writeForkShape(const std::string& dir, const std::string& name, std::size_t shape,
                    unsigned seed) {
    const std::string file = dir + "/" + name, sidecar = dir + "/._" + name;
    const std::string holds = kShapes[shape].holds;
    const Bytes fork = pattern(kShapes[shape].fork, seed + 1);
    writeFile(file, pattern(kShapes[shape].dataSize, seed));
    if (holds == "sidecar")
        writeFile(sidecar, makeSidecar({{9, 50, 32, finderInfo("TEXT", "ttxt")},
                                        {2, 82, kShapes[shape].fork, fork}}));
    else if (holds == "fork only")
        writeFile(sidecar, makeSidecar({{2, 38, kShapes[shape].fork, fork}}));
    else if (holds == "Finder info")
        writeFile(sidecar, makeSidecar({{9, 50, 32, finderInfo("BINA", "hDmp")}}));
    else if (holds == "mac")
        setXattr(file, kMacFork, fork);
    else if (holds == "samba")
        setXattr(file, kSambaFork, concat(fork, {0}));
    else if (holds == "comment")
        setXattr(file, "user.xdg.comment", bytesOf("comment of " + name));
    else if (holds.rfind("peers/netatalk", 0) == 0)
        writeFile(dir + "/.AppleDouble/" + name, corpusBytes(holds));
    else if (!holds.empty())
        writeFile(sidecar, corpusBytes(holds));
    if (holds == "mac") setXattr(file, kMacFinderInfo, finderInfo("APPL", "CARO"));
    if (holds == "peers/samba-fruit.ad")
        setXattr(file, kMetadata, corpusBytes("peers/samba-fruit.meta"));
}

std::string checkSidecars(const std::string& root) {
    namespace fs = std::filesystem;
    std::string problems;
    std::error_code ec;
    // Links are listed, never followed.
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path folder = it->path().parent_path();
        const std::string where = it->path(), name = it->path().filename();
        if (name.rfind(".bwtmp-", 0) == 0) problems += "temporary file left: " + where + "\n";
        if (!fs::is_regular_file(it->symlink_status())) continue;
        // A netatalk header belongs to a file beside its folder, or is the
        // folder's ".Parent"; a sidecar "._name" to "name" beside it.
        const bool header =
            folder.filename() == ".AppleDouble" && name.find("::EA") == std::string::npos &&
            (name == ".Parent" || fs::exists(fs::symlink_status(folder.parent_path() / name)));
        const bool sidecar = name.rfind("._", 0) == 0 && name.size() > 2 &&
                             fs::exists(fs::symlink_status(folder / name.substr(2)));
        Bytes bytes;
        appledouble::Header h;
        if (!header && !sidecar) continue;
        if (readFileAt(AT_FDCWD, where, &bytes, nullptr) != noErr)
            problems += "unreadable: " + where + "\n";
        else if (appledouble::Problem p = problemOf(bytes, header, &h);
                 p != appledouble::Problem::None)
            problems +=
                "malformed (" + std::string(appledouble::describe(p)) + "): " + where + "\n";
    }
    if (ec) problems += "cannot read " + root + ": " + ec.message() + "\n";
    return problems;
}

}  // namespace testsupport
