// Builds a tree of files in every fork shape for the crash tests and checks
// what a killed flip left in it.
//   forktree make DIR COUNT MANIFEST   writes COUNT files below DIR and records
//                                      each file's forks in MANIFEST
//   forktree check DIR MANIFEST [--done]
// check exits 0 when every file's bytes are whole in its data fork or whole in
// its resource fork, in the store it was in, its Finder info, "ATTR" block,
// netatalk header and attributes are kept, every sidecar and netatalk header
// parses and every folder's ".AppleDouble/.Parent" is as it was; with --done
// also when every file is flipped and no temporary file is left. It prints
// "files N done D temporaries T".
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "testkit/ForkInvariant.h"
#include "testkit/Sidecars.h"

using namespace testsupport;

namespace {

// ---- manifest: name, then each part as a length and its bytes ----

void putBytes(std::ofstream& out, const Bytes& b) {
    const std::uint32_t n = std::uint32_t(b.size());
    out.write(reinterpret_cast<const char*>(&n), 4);
    out.write(reinterpret_cast<const char*>(b.data()), n);
}
void putString(std::ofstream& out, const std::string& s) {
    putBytes(out, Bytes(s.begin(), s.end()));
}
void putMap(std::ofstream& out, const std::map<std::string, Bytes>& m) {
    const std::uint32_t n = std::uint32_t(m.size());
    out.write(reinterpret_cast<const char*>(&n), 4);
    for (const auto& [k, v] : m) {
        putString(out, k);
        putBytes(out, v);
    }
}
bool getBytes(std::ifstream& in, Bytes* b) {
    std::uint32_t n = 0;
    if (!in.read(reinterpret_cast<char*>(&n), 4)) return false;
    b->resize(n);
    return bool(in.read(reinterpret_cast<char*>(b->data()), n));
}
bool getString(std::ifstream& in, std::string* s) {
    Bytes b;
    if (!getBytes(in, &b)) return false;
    s->assign(b.begin(), b.end());
    return true;
}
bool getMap(std::ifstream& in, std::map<std::string, Bytes>* m) {
    std::uint32_t count = 0;
    if (!in.read(reinterpret_cast<char*>(&count), 4)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string k;
        Bytes v;
        if (!getString(in, &k) || !getBytes(in, &v)) return false;
        (*m)[k] = v;
    }
    return true;
}

// ---- the tree ----

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
void setAttr(const std::string& path, const char* name, const Bytes& v) {
    ::lsetxattr(path.c_str(), name, v.data(), v.size(), 0);
}
Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

constexpr char kParent[] = "peers/netatalk2-parent.ad";

// File i's relative folder and name: 50 files a folder, ten folders a group.
std::string folderOf(int i) {
    return "d" + std::to_string(i / 500) + "/e" + std::to_string(i / 50 % 10);
}
std::string nameOf(int i) {
    return "file-" + std::to_string(i);
}

void makeFile(const std::string& dir, int i) {
    const std::string p = dir + "/" + nameOf(i);
    const std::string sc = dir + "/._" + nameOf(i);
    const unsigned seed = unsigned(i) * 7919u + 1;
    const std::size_t size = std::size_t(seed % 24000);
    // What an attribute holding the fork must take, also on ext4 (about
    // 4 KiB of attributes per file).
    const std::size_t small = std::size_t(seed % 2000);
    const Bytes fi = finderInfo("TEXT", "ttxt");
    switch (i % 10) {
        case 0:  // data only
            writeFile(p, pattern(size, seed));
            break;
        case 1:  // a shorter fork in a sidecar: rebuilt
            writeFile(p, pattern(size, seed));
            writeFile(sc, makeSidecar({{9, 50, 32, fi}, {2, 82, 100, pattern(100, seed + 1)}}));
            break;
        case 2:  // an empty fork last in a sidecar: appended in place
            writeFile(p, pattern(size, seed));
            writeFile(sc, makeSidecar({{9, 50, 32, fi}, {2, 82, 0, {}}}));
            break;
        case 3:  // macOS's sidecar with an "ATTR" block and the placeholder fork
            writeFile(p, pattern(size, seed));
            writeFile(sc, corpusBytes("peers/macos-4096.ad"));
            break;
        case 4:  // fork and Finder info in Mac attributes: the fork stays there
            writeFile(p, pattern(small, seed));
            setAttr(p, "user.com.apple.ResourceFork", pattern(800, seed + 2));
            setAttr(p, "user.com.apple.FinderInfo", finderInfo("APPL", "CARO"));
            break;
        case 5:  // empty data fork, Finder info only
            writeFile(p, {});
            writeFile(sc, makeSidecar({{9, 50, 32, finderInfo("BINA", "hDmp")}}));
            break;
        case 6:  // Samba's sidecar (fork first) and netatalk metadata
            writeFile(p, pattern(size, seed));
            writeFile(sc, corpusBytes("peers/samba-fruit.ad"));
            setAttr(p, "user.org.netatalk.Metadata", corpusBytes("peers/samba-fruit.meta"));
            break;
        case 7:  // data and a comment
            writeFile(p, pattern(size, seed));
            setAttr(p, "user.xdg.comment", bytesOf("comment " + std::to_string(i)));
            break;
        case 8:  // netatalk 2's header, with a fork or as afpd makes one
            writeFile(p, pattern(size, seed));
            writeFile(
                dir + "/.AppleDouble/" + nameOf(i),
                corpusBytes(i % 20 == 8 ? "peers/netatalk2-fork.ad" : "peers/netatalk2-empty.ad"));
            break;
        default: {  // Samba's stream attribute, as fruit:resource = stream keeps it
            writeFile(p, pattern(small, seed));
            Bytes stream = pattern(300, seed + 3);
            stream.push_back(0);
            setAttr(p, "user.DosStream.AFP_Resource:$DATA", stream);
            break;
        }
    }
}

int make(const std::string& root, int count, const std::string& manifest) {
    std::ofstream out(manifest, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < count; ++i) {
        const std::string dir = root + "/" + folderOf(i);
        if (i % 50 == 0) {
            for (const std::string& part :
                 {root, root + "/d" + std::to_string(i / 500), dir, dir + "/.AppleDouble"})
                ::mkdir(part.c_str(), 0755);
            writeFile(dir + "/.AppleDouble/.Parent", corpusBytes(kParent));
        }
        makeFile(dir, i);
        int dirfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ForkState st;
        const OSErr err = readForkState(dirfd, nameOf(i), &st);
        ::close(dirfd);
        if (err != noErr) {
            std::fprintf(stderr, "forktree: cannot read back %s (%d)\n", nameOf(i).c_str(), err);
            return 1;
        }
        putString(out, folderOf(i) + "/" + nameOf(i));
        putBytes(out, st.data);
        putBytes(out, st.rsrc);
        putBytes(out, st.finderInfo);
        putMap(out, st.attrBlock);
        putMap(out, st.xattrs);
        putBytes(out, {std::uint8_t(st.store), st.sidecar, st.forkAttribute});
        putBytes(out, st.netatalkHeader);
    }
    return out ? 0 : 1;
}

int check(const std::string& root, const std::string& manifest, bool wantDone) {
    std::ifstream in(manifest, std::ios::binary);
    int files = 0, done = 0, bad = 0;
    std::string rel;
    while (getString(in, &rel)) {
        ForkState before;
        Bytes stores;
        if (!getBytes(in, &before.data) || !getBytes(in, &before.rsrc) ||
            !getBytes(in, &before.finderInfo) || !getMap(in, &before.attrBlock) ||
            !getMap(in, &before.xattrs) || !getBytes(in, &stores) || stores.size() != 3 ||
            !getBytes(in, &before.netatalkHeader)) {
            std::fprintf(stderr, "forktree: manifest cut short\n");
            return 2;
        }
        before.store = forkstore::RsrcStore(stores[0]);
        before.sidecar = stores[1];
        before.forkAttribute = stores[2];
        ++files;
        const std::size_t slash = rel.rfind('/');
        const std::string dir = root + "/" + rel.substr(0, slash);
        if (files % 50 == 1 && readFile(dir + "/.AppleDouble/.Parent") != corpusBytes(kParent)) {
            std::printf("%s/.AppleDouble/.Parent changed\n", rel.substr(0, slash).c_str());
            ++bad;
        }
        int dirfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ForkState now;
        const OSErr err = readForkState(dirfd, rel.substr(slash + 1), &now);
        ::close(dirfd);
        if (err != noErr) {
            std::printf("%s: unreadable (%d)\n", rel.c_str(), err);
            ++bad;
            continue;
        }
        bool fileDone = false;
        const std::string problems = checkForkState(ForkOp::Flip, before, now, &fileDone);
        if (!problems.empty()) {
            std::printf("%s: %s\n", rel.c_str(), problems.c_str());
            ++bad;
        }
        if (fileDone)
            ++done;
        else if (wantDone) {
            std::printf("%s: not flipped\n", rel.c_str());
            ++bad;
        }
    }
    int temporaries = 0;
    const std::string sidecars = checkSidecars(root);
    for (std::size_t at = 0; at < sidecars.size();) {
        const std::size_t end = sidecars.find('\n', at);
        const std::string line = sidecars.substr(at, end - at);
        at = end == std::string::npos ? sidecars.size() : end + 1;
        if (line.rfind("temporary file left", 0) == 0) {
            ++temporaries;
            if (!wantDone) continue;
        }
        std::printf("%s\n", line.c_str());
        ++bad;
    }
    std::printf("files %d done %d temporaries %d\n", files, done, temporaries);
    return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && argc == 5) return make(argv[2], std::atoi(argv[3]), argv[4]);
    if (cmd == "check" && (argc == 4 || argc == 5))
        return check(argv[2], argv[3], argc == 5 && std::strcmp(argv[4], "--done") == 0);
    std::fprintf(stderr, "usage: forktree make DIR COUNT MANIFEST | check DIR MANIFEST [--done]\n");
    return 2;
}
