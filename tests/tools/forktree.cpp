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
#include <sstream>
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

// The fork state of file i in the tree `top`.
OSErr stateOf(const std::string& top, int i, ForkState* state) {
    const int dirfd = ::open((top + "/" + folderOf(i)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const OSErr err = readForkState(dirfd, nameOf(i), state);
    ::close(dirfd);
    return err;
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
    int files = 0, done = 0, bad = 0, temporaries = 0;
    auto report = [&](const std::string& problem) {
        std::printf("%s\n", problem.c_str());
        ++bad;
    };
    for (int i = 0;; ++i) {
        const std::string rel = folderOf(i) + "/" + nameOf(i);
        ForkState before, now;
        const OSErr readBefore = stateOf(manifest, i, &before);
        if (readBefore == fnfErr) break;
        if (readBefore != noErr) {
            std::fprintf(stderr, "forktree: cannot read back %s (%d)\n", rel.c_str(), readBefore);
            return 2;
        }
        ++files;
        if (i % 50 == 0 &&
            readBytes(root + "/" + folderOf(i) + "/.AppleDouble/.Parent") != corpusBytes(kParent))
            report(folderOf(i) + "/.AppleDouble/.Parent changed");
        if (const OSErr err = stateOf(root, i, &now); err != noErr) {
            report(rel + ": unreadable (" + std::to_string(err) + ")");
            continue;
        }
        bool fileDone = false;
        const std::string problems = checkForkState(ForkOp::Flip, before, now, &fileDone);
        if (!problems.empty()) report(rel + ": " + problems);
        if (fileDone)
            ++done;
        else if (wantDone)
            report(rel + ": not flipped");
    }
    if (files == 0) {
        std::fprintf(stderr, "forktree: no files below %s\n", manifest.c_str());
        return 2;
    }
    std::istringstream sidecars(checkSidecars(root));
    for (std::string line; std::getline(sidecars, line);) {
        const bool temporary = line.rfind("temporary file left", 0) == 0;
        temporaries += temporary;
        if (!temporary || wantDone) report(line);
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
