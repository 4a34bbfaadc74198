// Builds a tree of files in every fork shape for the crash tests and checks
// what a killed flip left in it.
//   forktree make DIR COUNT MANIFEST   writes COUNT files below DIR, and the
//                                      same files below the folder MANIFEST,
//                                      which nothing else touches
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
#include <string>

#include "testkit/ForkInvariant.h"
#include "testkit/Sidecars.h"

using namespace testsupport;

namespace {

constexpr char kParent[] = "peers/netatalk2-parent.ad";

// File i's relative folder and name: 50 files a folder, ten folders a group.
std::string folderOf(int i) {
    return "d" + std::to_string(i / 500) + "/e" + std::to_string(i / 50 % 10);
}
std::string nameOf(int i) {
    return "file-" + std::to_string(i);
}

int openDir(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int make(const std::string& root, int count, const std::string& manifest) {
    for (const std::string& top : {root, manifest}) {
        for (int i = 0; i < count; ++i) {
            const std::string dir = top + "/" + folderOf(i);
            if (i % 50 == 0) {
                writeFile(dir + "/.AppleDouble/.Parent", corpusBytes(kParent));
            }
            writeForkShape(dir, nameOf(i), std::size_t(i) % kForkShapes.size(),
                           unsigned(i) * 7919u + 1);
        }
    }
    return 0;
}

int check(const std::string& root, const std::string& manifest, bool wantDone) {
    int files = 0, done = 0, bad = 0;
    for (int i = 0;; ++i) {
        const std::string rel = folderOf(i) + "/" + nameOf(i);
        const int beforeFd = openDir(manifest + "/" + folderOf(i));
        ForkState before;
        const OSErr readBefore = readForkState(beforeFd, nameOf(i), &before);
        ::close(beforeFd);
        if (readBefore == fnfErr) break;
        if (readBefore != noErr) {
            std::fprintf(stderr, "forktree: cannot read back %s (%d)\n", rel.c_str(), readBefore);
            return 2;
        }
        ++files;
        const std::string dir = root + "/" + folderOf(i);
        if (i % 50 == 0 && readBytes(dir + "/.AppleDouble/.Parent") != corpusBytes(kParent)) {
            std::printf("%s/.AppleDouble/.Parent changed\n", folderOf(i).c_str());
            ++bad;
        }
        const int dirfd = openDir(dir);
        ForkState now;
        const OSErr err = readForkState(dirfd, nameOf(i), &now);
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
    if (files == 0) {
        std::fprintf(stderr, "forktree: no files below %s\n", manifest.c_str());
        return 2;
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
