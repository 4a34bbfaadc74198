// Real peers read the forks the fork store writes: Samba's fruit module
// serves a sidecar's fork and Finder info over SMB (its layout is checked byte
// for byte in ForkStore_test), and, with "fruit:resource = stream", the fork
// Brackwater left in Samba's stream attribute. Each test runs only where
// Samba is installed (CI installs it; scripts/install-deps.sh).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "platform/files/linux/ForkStore.h"
#include "processing/ForkOperations.h"
#include "testkit/ForkInvariant.h"
#include "testkit/Refs.h"
#include "testkit/SambaServer.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

// Writes `fork` and Finder info TEXT/ttxt for `name` through the store.
void writeWithStore(int dirfd, const char* name, const Bytes& fork) {
    const Bytes fi = finderInfo("TEXT", "ttxt");
    ASSERT_EQ(forkstore::writeResourceFork(dirfd, name, 0, fork.size(), fork.data()), noErr);
    ASSERT_EQ(forkstore::setFinderInfo(dirfd, name, fi.data()), noErr);
}

}  // namespace

TEST(PeerInterop, SambaReadsTheForkAndFinderInfoWeWrote) {
    TempTree tree;
    const std::string share = tree.mkdir("share");
    for (const char* name : {"f", "h"}) tree.write("share/" + std::string(name), "data fork");
    const Bytes forkF = pattern(5000, 7);
    int dirfd = ::open(share.c_str(), O_RDONLY | O_DIRECTORY);
    writeWithStore(dirfd, "f", forkF);
    // A rebuilt sidecar has this shape too (ForkStore_test, byte for byte).
    // Creation dates without a dates entry: a new metadata attribute, which
    // Samba must take as valid (it removes one it cannot parse) and from which
    // it serves f's Finder info.
    ASSERT_EQ(forkstore::setCreationDate(dirfd, "f", 1234567890), noErr);
    ASSERT_EQ(forkstore::setCreationDate(dirfd, "h", 1234567890), noErr);
    ::close(dirfd);
    if (!CSambaServer::available()) GTEST_SKIP() << "samba is not installed";

    std::string log;
    {
        CSambaServer smbd(tree.root(), share, "  vfs objects = catia fruit streams_xattr\n");
        ASSERT_TRUE(smbd.up()) << "smbd did not start";
        log = smbd.client("get f:AFP_Resource " + tree.path("f.rsrc") + "; get f:AFP_AfpInfo " +
                          tree.path("f.afp") + "; allinfo h; allinfo f");
    }
    EXPECT_EQ(readBytes(tree.path("f.rsrc")), forkF) << log;
    const Bytes afp = readBytes(tree.path("f.afp"));
    ASSERT_EQ(afp.size(), 60u) << log;
    EXPECT_EQ(std::string(afp.begin() + 16, afp.begin() + 24), "TEXTttxt");

    // Samba converted the sidecar as it served it (Finder info into its
    // metadata attribute); the store still reads the dates back. (How the
    // store reads Samba's layout: ForkStore_test's "Samba" row.)
    dirfd = ::open(share.c_str(), O_RDONLY | O_DIRECTORY);
    std::int64_t created = 0;
    bool found = false;
    for (const char* name : {"f", "h"}) {
        ASSERT_EQ(forkstore::getCreationDate(dirfd, name, &created, &found), noErr);
        EXPECT_EQ(std::tuple(found, created), std::tuple(true, 1234567890)) << name << log;
    }
    ::close(dirfd);
}

TEST(PeerInterop, SambaWithStreamForksServesWhatBrackwaterLeftInItsAttribute) {
    // fruit:resource = stream keeps the resource fork in the stream attribute
    // and never looks at "._name": a fork moved there would vanish for Samba.
    if (!CSambaServer::available()) GTEST_SKIP() << "samba is not installed";
    TempTree tree;
    const std::string share = tree.mkdir("share");
    const Bytes forkF = pattern(700, 4), forkG = pattern(300, 5);
    for (const auto& [name, fork] : {std::pair{"f", forkF}, {"g", forkG}}) {
        tree.write("share/" + std::string(name), "data fork of " + std::string(name));
        tree.write(std::string(name) + ".rsrc", fork);
    }

    CSambaServer smbd(tree.root(), share,
                      "  vfs objects = catia fruit streams_xattr\n"
                      "  fruit:resource = stream\n  fruit:metadata = netatalk\n");
    ASSERT_TRUE(smbd.up()) << "smbd did not start";
    std::string log = smbd.client("put " + tree.path("f.rsrc") + " f:AFP_Resource; put " +
                                  tree.path("g.rsrc") + " g:AFP_Resource");
    // Samba keeps each fork in its stream attribute, one NUL byte longer.
    for (const auto& [name, fork] : {std::pair{"f", forkF}, {"g", forkG}})
        ASSERT_EQ(xattr(share + "/" + name, kSambaFork), concat(fork, {0})) << name << log;

    // Brackwater flips f and deletes g's fork. (A fork too large for the
    // attribute is refused with every byte kept: ForkOperations_test, and
    // the store's refusals in ForkStore_test.)
    const FSRef f = refOf(share + "/f"), g = refOf(share + "/g");
    EXPECT_EQ(ProcessFSRef(&f, kFlipDeleteDataFork), noErr);
    EXPECT_EQ(ProcessFSRef(&g, kDeleteResourceFork), noErr);
    Bytes flipped = forkF;
    const std::string dataF = "data fork of f";
    std::copy(dataF.begin(), dataF.end(), flipped.begin());
    EXPECT_EQ(xattr(share + "/f", kSambaFork), concat(flipped, {0}));

    // What Samba serves now.
    log = smbd.client("get f:AFP_Resource " + tree.path("f.out") + "; get f " +
                      tree.path("f.data") + "; get g:AFP_Resource " + tree.path("g.out"));
    EXPECT_EQ(readBytes(tree.path("f.out")), flipped) << log;
    EXPECT_TRUE(exists(tree.path("f.data")) && readBytes(tree.path("f.data")).empty()) << log;
    // g's stream is gone, not left empty: the only get that fails is g's.
    EXPECT_NE(log.find("NT_STATUS_OBJECT_NAME_NOT_FOUND"), std::string::npos) << log;
}
