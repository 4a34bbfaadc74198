// Creates the trees the batch benchmarks run over: folders of 1,000 files
// each, either with AppleDouble sidecars ("sidecars": 64-byte data fork,
// sidecar with type and creator and a 256-byte resource fork, as unar and
// macOS write them) or small files without forks beyond the data ("small":
// 512-byte data fork).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void put32(std::vector<unsigned char>& b, std::size_t at, unsigned v) {
    b[at] = v >> 24;
    b[at + 1] = v >> 16;
    b[at + 2] = v >> 8;
    b[at + 3] = v;
}

std::vector<unsigned char> sidecar(unsigned forkLength) {
    std::vector<unsigned char> b(82 + forkLength, 0);
    put32(b, 0, 0x00051607);
    put32(b, 4, 0x00020000);
    std::memcpy(&b[8], "Mac OS X        ", 16);
    b[24] = 0;
    b[25] = 2;
    put32(b, 26, 9);
    put32(b, 30, 50);
    put32(b, 34, 32);
    put32(b, 38, 2);
    put32(b, 42, 82);
    put32(b, 46, forkLength);
    std::memcpy(&b[50], "TEXTttxt", 8);
    for (unsigned i = 0; i < forkLength; ++i) b[82 + i] = (unsigned char)(i * 7 + 3);
    return b;
}

bool writeFile(const std::string& path, const void* bytes, std::size_t n) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = ::write(fd, bytes, n) == ssize_t(n);
    return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s sidecars|small ROOT COUNT\n", argv[0]);
        return 2;
    }
    const bool withSidecars = std::strcmp(argv[1], "sidecars") == 0;
    const std::string root = argv[2];
    const long count = std::atol(argv[3]);
    const std::vector<unsigned char> side = sidecar(256);
    const std::vector<unsigned char> data(withSidecars ? 64 : 512, 'd');
    ::mkdir(root.c_str(), 0755);
    for (long i = 0; i < count; ++i) {
        char folder[32], name[32];
        std::snprintf(folder, sizeof folder, "/d%03ld", i / 1000);
        std::snprintf(name, sizeof name, "/f%04ld", i % 1000);
        const std::string dir = root + folder;
        if (i % 1000 == 0) ::mkdir(dir.c_str(), 0755);
        if (!writeFile(dir + name, data.data(), data.size())) return 1;
        if (withSidecars && !writeFile(dir + "/._" + (name + 1), side.data(), side.size()))
            return 1;
    }
    return 0;
}
