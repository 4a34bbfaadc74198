#include "platform/PathNodes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Files.h"
#include "testkit/Faults.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using namespace pathnodes;
using testsupport::refOf;
using testsupport::TempTree;

namespace {

NodeID nodeOf(const FSRef& ref) {
    NodeID node;
    Identity identity;
    return readRef(&ref, &node, &identity) ? node : kNoNode;
}

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

}  // namespace

// A pinned folder serves every call on its files from the descriptor it holds,
// which no caller may close; a folder moved meanwhile stays the one pinned.
// Once the pin ends, the path counts again and nothing is left open.
TEST(FolderPins, ServeTheOpenedFolderUntilTheyEnd) {
    TempTree t;
    t.write("in/file", "data");
    const FSRef file = refOf(t.path("in/file"));
    const NodeID folder = parentOf(nodeOf(file));
    {
        CDirFd first;  // "/" stays open for the process from the first lookup on
        ASSERT_EQ(openFolder(folder, &first), noErr);
    }
    const int descriptors = testsupport::openDescriptorCount();
    {
        CFolderPin pin(folder);
        ASSERT_GE(pin.fd(), 0);
        EXPECT_TRUE(canSyncFolder(pin.fd()));
        {
            CDirFd served;
            ASSERT_EQ(openFolder(folder, &served), noErr);
            EXPECT_EQ(served.get(), pin.fd());
        }
        EXPECT_TRUE(isOpen(pin.fd())) << "a borrowed descriptor was closed";

        ASSERT_EQ(std::rename(t.path("in").c_str(), t.path("moved").c_str()), 0);
        FSCatalogInfo info;
        EXPECT_EQ(FSGetCatalogInfo(&file, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(info.dataLogicalSize, 4u);
        {
            // A nested pin counts while it lasts, then the outer one again.
            CFolderPin inner(kRootID);
            CDirFd served;
            ASSERT_EQ(openFolder(folder, &served), fnfErr);
        }
        CDirFd served;
        ASSERT_EQ(openFolder(folder, &served), noErr);
        EXPECT_EQ(served.get(), pin.fd());
    }
    FSCatalogInfo info;
    EXPECT_EQ(FSGetCatalogInfo(&file, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
              fnfErr);
    EXPECT_EQ(testsupport::openDescriptorCount(), descriptors);
}

// A pin's serial number names it while it is the pin that counts; no other
// pin gets it, even one that gets the same descriptor number later.
TEST(FolderPins, HaveASerialNumberNoOtherPinShares) {
    TempTree t;
    t.write("in/file", "data");
    const NodeID folder = parentOf(nodeOf(refOf(t.path("in/file"))));
    UInt64 first = 0;
    int fd = -1;
    {
        CFolderPin pin(folder);
        fd = pin.fd();
        first = pinnedFolderSerial(fd);
        EXPECT_NE(first, 0u);
        {
            CFolderPin inner(kRootID);
            EXPECT_EQ(pinnedFolderSerial(fd), 0u);
            EXPECT_NE(pinnedFolderSerial(inner.fd()), 0u);
            EXPECT_NE(pinnedFolderSerial(inner.fd()), first);
        }
        EXPECT_EQ(pinnedFolderSerial(fd), first);
    }
    EXPECT_EQ(pinnedFolderSerial(fd), 0u);
    CFolderPin again(folder);
    EXPECT_NE(pinnedFolderSerial(again.fd()), 0u);
    EXPECT_NE(pinnedFolderSerial(again.fd()), first);
}
