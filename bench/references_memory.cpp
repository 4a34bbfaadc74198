// Memory of the reference table: makes a million references to files in
// folders six levels down, as a share's tree has them, and prints what the
// table grew by, in all and per reference, beside the bytes of the same
// references written out as full paths (characters alone, no string objects).
#include <cstdio>
#include <string>

#include "platform/files/linux/PathNodes.h"

int main() {
    using namespace pathnodes;
    const std::size_t before = memoryUse();
    NodeID top = kRootID;
    for (const char* level : {"srv", "shares", "design-archive", "Classic Projects", "1998"})
        top = child(top, level);
    const std::size_t topLength = pathOf(top).size();
    std::size_t pathBytes = 0;
    constexpr int kCount = 1000000;
    for (int i = 0; i < kCount; ++i) {
        const std::string folder = "Job " + std::to_string(i / 1000);
        const std::string name = "Layout file " + std::to_string(i % 1000);
        child(child(top, folder), name);
        pathBytes += topLength + 1 + folder.size() + 1 + name.size() + 1;
    }
    const std::size_t grown = memoryUse() - before;
    std::printf("%d references: table grew by %.1f MiB (%.1f bytes each); as paths: %.1f MiB\n",
                kCount, grown / 1048576.0, double(grown) / kCount, pathBytes / 1048576.0);
    return nodeCount() >= std::size_t(kCount) ? 0 : 1;
}
