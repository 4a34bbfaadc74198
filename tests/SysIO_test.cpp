// The copy between two files at the system-call seam: every byte where it
// belongs, holes kept as holes when the destination reads as zeros, a source
// that ends early told by the count, and an injected failure reported.
#include "platform/files/linux/SysIO.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testkit/Faults.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

struct Files {
    TempTree tree;
    const int in, out;
    explicit Files(const Bytes& source)
        : in(::open(tree.write("in", source).c_str(), O_RDWR)),
          out(::open(tree.path("out").c_str(), O_RDWR | O_CREAT, 0600)) {}
    ~Files() {
        ::close(in);
        ::close(out);
    }
    Bytes result() const { return readBytes(tree.path("out")); }
};

}  // namespace

TEST(SysIOCopy, EveryByteLandsAtItsOffsetAndAShortSourceIsToldByTheCount) {
    const Bytes source = pattern(3 << 20, 7);  // more than one buffer's worth
    Files f(source);
    ASSERT_EQ(sysio::pwrite(f.out, "HEAD", 4, 0), 4);
    EXPECT_EQ(sysio::copyRange(f.in, 10, f.out, 4, source.size() - 10),
              ssize_t(source.size() - 10));
    Bytes expected = bytesOf("HEAD");
    expected.insert(expected.end(), source.begin() + 10, source.end());
    EXPECT_EQ(f.result(), expected);
    // Asked for more than the source holds: the count says where it ended.
    EXPECT_EQ(sysio::copyRange(f.in, source.size() - 5, f.out, 0, 100), 5);
    {
        InjectedFault fault({sysio::Call::Write}, ENOSPC);
        EXPECT_EQ(sysio::copyRange(f.in, 0, f.out, 0, 10), -1);
        EXPECT_EQ(errno, ENOSPC);
    }
}

TEST(SysIOCopy, HolesStayHolesWhenTheDestinationReadsAsZeros) {
    Files f({});
    // 3 GiB with data only at the start, in the middle and at the end.
    const off_t size = off_t(3) << 30;
    for (off_t at : {off_t(0), size / 2, size - 4}) ASSERT_EQ(::pwrite(f.in, "DATA", 4, at), 4);
    ASSERT_EQ(::ftruncate(f.out, size + 82), 0);
    EXPECT_EQ(sysio::copyRange(f.in, 0, f.out, 82, size_t(size), true), ssize_t(size));
    struct stat st {};
    ASSERT_EQ(::fstat(f.out, &st), 0);
    EXPECT_EQ(st.st_size, size + 82);
    EXPECT_LT(st.st_blocks * 512, off_t(64) << 20);  // the holes were not written
    char got[4];
    for (off_t at : {off_t(0), size / 2, size - 4}) {
        ASSERT_EQ(::pread(f.out, got, 4, at + 82), 4);
        EXPECT_EQ(std::string(got, 4), "DATA") << at;
    }
    ASSERT_EQ(::pread(f.out, got, 4, size / 4 + 82), 4);
    EXPECT_EQ(std::string(got, 4), std::string(4, '\0'));
}
