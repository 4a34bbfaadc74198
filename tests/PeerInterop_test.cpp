// Real peers read the sidecars the fork store writes: unar's lsar decodes
// them, and Samba's fruit module serves their fork and Finder info over SMB.
// Each test runs only where the peer is installed (CI does not need them).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "platform/ForkStore.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using testsupport::Bytes;

namespace {

bool installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

// Writes `fork` and Finder info TEXT/ttxt for `name` through the store.
void writeWithStore(int dirfd, const char* name, const Bytes& fork) {
    const Bytes fi = testsupport::finderInfo("TEXT", "ttxt");
    ASSERT_EQ(forkstore::writeResourceFork(dirfd, name, 0, fork.size(), fork.data()), noErr);
    ASSERT_EQ(forkstore::setFinderInfo(dirfd, name, fi.data()), noErr);
}

Bytes attribute(const std::string& path, const char* name) {
    Bytes value(65536);
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    value.resize(n < 0 ? 0 : std::size_t(n));
    return value;
}

}  // namespace

TEST(PeerInterop, LsarDecodesOurSidecars) {
    if (!installed("lsar")) GTEST_SKIP() << "unar is not installed";
    testsupport::TempTree tree;
    tree.write("f", "data");
    int dirfd = ::open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
    writeWithStore(dirfd, "f", testsupport::pattern(700));
    ::close(dirfd);
    const std::string out = run("lsar -L '" + tree.path("._f") + "'");
    EXPECT_NE(out.find("Is a Mac OS resource fork: Yes"), std::string::npos) << out;
    EXPECT_NE(out.find("700 bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("54455854 74747874"), std::string::npos) << out;  // TEXT ttxt
}

TEST(PeerInterop, SambaServesTheForkAndFinderInfoWeWrote) {
    if (!installed("smbd") || !installed("smbclient")) GTEST_SKIP() << "samba is not installed";
    testsupport::TempTree tree;
    const std::string share = tree.mkdir("share");
    for (const char* d : {"run", "lock", "state", "cache", "private", "ncalrpc"}) tree.mkdir(d);
    tree.write("share/f", "data fork");
    tree.write("share/g", "data fork");
    const Bytes forkF = testsupport::pattern(5000, 7);
    const Bytes forkG = testsupport::pattern(300, 8);
    int dirfd = ::open(share.c_str(), O_RDONLY | O_DIRECTORY);
    writeWithStore(dirfd, "f", forkF);
    // g: a longer fork first, then a rewrite of its start (a rebuilt sidecar).
    writeWithStore(dirfd, "g", testsupport::pattern(900, 9));
    ASSERT_EQ(forkstore::writeResourceFork(dirfd, "g", 0, forkG.size(), forkG.data()), noErr);
    // Creation dates without a dates entry: a new metadata attribute, which
    // Samba must take as valid (it removes one it cannot parse) and from which
    // it serves f's Finder info.
    tree.write("share/h", "data fork");
    ASSERT_EQ(forkstore::setCreationDate(dirfd, "f", 1234567890), noErr);
    ASSERT_EQ(forkstore::setCreationDate(dirfd, "h", 1234567890), noErr);
    const Bytes metaH = attribute(share + "/h", "user.org.netatalk.Metadata");
    ASSERT_EQ(metaH.size(), 402u);
    ::close(dirfd);
    Bytes expectedG = testsupport::pattern(900, 9);
    std::copy(forkG.begin(), forkG.end(), expectedG.begin());

    const int port = 40000 + int(std::random_device{}() % 20000);
    const std::string conf = tree.root() + "/smb.conf";
    std::ofstream(conf) << "[global]\n  server role = standalone server\n"
                        << "  map to guest = Bad User\n  smb ports = " << port << "\n"
                        << "  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
                        << "  pid directory = " << tree.root() << "/run\n"
                        << "  lock directory = " << tree.root() << "/lock\n"
                        << "  state directory = " << tree.root() << "/state\n"
                        << "  cache directory = " << tree.root() << "/cache\n"
                        << "  private dir = " << tree.root() << "/private\n"
                        << "  ncalrpc dir = " << tree.root() << "/ncalrpc\n"
                        << "  log file = " << tree.root() << "/smbd.log\n"
                        << "  load printers = no\n  disable spoolss = yes\n"
                        << "[share]\n  path = " << share << "\n  read only = no\n"
                        << "  guest ok = yes\n  force user = root\n"
                        << "  vfs objects = catia fruit streams_xattr\n";
    pid_t smbd = ::fork();
    ASSERT_GE(smbd, 0);
    if (smbd == 0) {
        ::setsid();
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("smbd", "smbd", "--foreground", "--no-process-group",
                 ("--configfile=" + conf).c_str(), (char*)nullptr);
        _exit(127);
    }
    const std::string client = "smbclient -N -p " + std::to_string(port) + " //127.0.0.1/share -c ";
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        up = run(client + "ls").find("blocks available") != std::string::npos;
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string log;
    if (up) {
        log = run(client + "'get f:AFP_Resource " + tree.path("f.rsrc") + "; get f:AFP_AfpInfo " +
                  tree.path("f.afp") + "; get g:AFP_Resource " + tree.path("g.rsrc") +
                  "; allinfo h; allinfo f'");
    }
    ::kill(-smbd, SIGTERM);
    ::waitpid(smbd, nullptr, 0);
    ASSERT_TRUE(up) << "smbd did not start";
    EXPECT_EQ(testsupport::readBytes(tree.path("f.rsrc")), forkF) << log;
    EXPECT_EQ(testsupport::readBytes(tree.path("g.rsrc")), expectedG) << log;
    const Bytes afp = testsupport::readBytes(tree.path("f.afp"));
    ASSERT_EQ(afp.size(), 60u) << log;
    EXPECT_EQ(std::string(afp.begin() + 16, afp.begin() + 24), "TEXTttxt");

    // Samba converted the sidecar as it served it (Finder info into its
    // metadata attribute); the store still reads both back.
    dirfd = ::open(share.c_str(), O_RDONLY | O_DIRECTORY);
    forkstore::RsrcInfo info;
    ASSERT_EQ(forkstore::getResourceFork(dirfd, "f", &info), noErr);
    Bytes back(info.length);
    std::size_t actual = 0;
    EXPECT_EQ(forkstore::readResourceFork(dirfd, "f", 0, back.size(), back.data(), &actual), noErr);
    EXPECT_EQ(back, forkF);
    UInt8 fi[32];
    ASSERT_EQ(forkstore::getFinderInfo(dirfd, "f", fi), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(fi), 8), "TEXTttxt");
    std::int64_t created = 0;
    bool found = false;
    for (const char* name : {"f", "h"}) {
        ASSERT_EQ(forkstore::getCreationDate(dirfd, name, &created, &found), noErr);
        EXPECT_TRUE(found) << name << log;
        EXPECT_EQ(created, 1234567890) << name;
    }
    EXPECT_EQ(attribute(share + "/h", "user.org.netatalk.Metadata"), metaH) << log;
    ::close(dirfd);
}
