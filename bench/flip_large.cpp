// Flips one file (copies its data fork into its resource fork, then deletes
// the data fork) through the File Manager, for timing by bench/flip_large.sh.
#include <cstdio>

#include "platform/files/Files.h"
#include "processing/ForkOperations.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    FSRef ref;
    OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8*>(argv[1]), &ref, nullptr);
    if (err == noErr) err = FlipDeleteDataFork(&ref);
    if (err != noErr) std::fprintf(stderr, "flip failed: %d\n", int(err));
    return err == noErr ? 0 : 1;
}
