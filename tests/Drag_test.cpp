// The drag layer: items and their 'hfs ' data from a text/uri-list, Qt's drag
// events turned into tracking messages and the receive call. The hilite is
// drawn over the application's window in the DropTarget tests.
#include "platform/ui/Drag.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::fileURL;
using testsupport::TempTree;
using testsupport::uriList;

namespace {

// The path an item's 'hfs ' data names now, "" when it names nothing, "?"
// when the item has no such data.
std::string pathOfItem(DragRef drag, UInt16 index) {
    DragItemRef item;
    FlavorFlags flags;
    HFSFlavor hfs;
    Size size = sizeof hfs;
    if (GetDragItemReferenceNumber(drag, index, &item) != noErr ||
        GetFlavorFlags(drag, item, flavorTypeHFS, &flags) != noErr ||
        GetFlavorData(drag, item, flavorTypeHFS, &hfs, &size, 0) != noErr)
        return "?";
    FSRef ref;
    return FSpMakeFSRef(&hfs.fileSpec, &ref) == noErr ? testsupport::pathOf(ref) : "";
}

}  // namespace

TEST(DragItems, EveryUriListEntryIsAnItemAndOnlyLocalObjectsCarryTheHFSFlavor) {
    TempTree tree;
    const std::string file = tree.write("a file.txt", "x");
    const std::string folder = tree.mkdir("folder #1");
    const std::string latin1 = tree.write(std::string("caf\xE9"), "y");  // not UTF-8
    const std::string gone = tree.path("gone.txt");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    // Each entry and the path its item names now ("?": no 'hfs ' data). A file
    // on another host is no local object; a file gone before the drag has a
    // spec that names nothing; a name longer than a spec holds, or one with no
    // folder to name it in, has no spec at all.
    const std::pair<QByteArray, std::string> entries[] = {
        {fileURL(folder), folder},
        {"file:///", "/"},
        {"https://example.org/clipping", "?"},
        {"file://localhost" + fileURL(file).mid(7), file},
        {fileURL(latin1), latin1},
        {"file://" + QByteArray(host) + fileURL(file).mid(7), file},
        {"file://elsewhere.example" + fileURL(file).mid(7), "?"},
        {fileURL(gone), ""},
        {fileURL(tree.path(std::string(70, 'n'))), "?"},
        {fileURL(tree.path("no/such/x")), "?"},
    };
    std::vector<QByteArray> list = {"# a comment line is no item"};
    for (const auto& e : entries) list.push_back(e.first);
    std::unique_ptr<QMimeData> data(uriList({}, list));
    DragRef drag = nullptr;
    ASSERT_EQ(NewDragFromMimeData(data.get(), nullptr, &drag), noErr);
    UInt16 count = 0;
    ASSERT_EQ(CountDragItems(drag, &count), noErr);
    ASSERT_EQ(count, std::size(entries));
    for (UInt16 i = 1; i <= count; ++i) EXPECT_EQ(pathOfItem(drag, i), entries[i - 1].second) << i;
    tree.write("gone.txt", "back");
    EXPECT_EQ(pathOfItem(drag, 8), gone) << "the FSSpec names the file once it is back";

    // Folders and volumes are described as such; nothing lies past the data.
    HFSFlavor hfs;
    Size size = sizeof hfs;
    ASSERT_EQ(GetFlavorData(drag, 1, flavorTypeHFS, &hfs, &size, 0), noErr);
    EXPECT_EQ(hfs.fileType, FOUR_CHAR_CODE("fold"));
    EXPECT_EQ(hfs.fileCreator, FOUR_CHAR_CODE("MACS"));
    ASSERT_EQ(GetFlavorData(drag, 2, flavorTypeHFS, &hfs, &size, 0), noErr);
    EXPECT_EQ(hfs.fileType, FOUR_CHAR_CODE("disk"));
    size = 4;
    EXPECT_EQ(GetFlavorData(drag, 2, flavorTypeHFS, &hfs, &size, 81), cantGetFlavorErr);
    EXPECT_EQ(ShowDragHilite(drag, nullptr, true), paramErr);

    DragItemRef item;
    EXPECT_EQ(GetDragItemReferenceNumber(drag, count + 1, &item), badDragItemErr);
    FlavorFlags flags;
    EXPECT_EQ(GetFlavorFlags(drag, 1, FOUR_CHAR_CODE("TEXT"), &flags), badDragFlavorErr);
    ASSERT_EQ(DisposeDrag(drag), noErr);
    EXPECT_EQ(CountDragItems(drag, &count), badDragRefErr);
}

namespace {

std::vector<DragTrackingMessage> gMessages;
int gReceives = 0;
OSErr gEnterAnswer = noErr;
UInt16 gItemsSeen = 0;

OSErr recordTracking(DragTrackingMessage message, WindowRef, void* refCon, DragRef drag) {
    EXPECT_EQ(refCon, &gMessages);
    gMessages.push_back(message);
    CountDragItems(drag, &gItemsSeen);
    // In the window the application's tracker answers paramErr, as here.
    if (message == kDragTrackingInWindow) return paramErr;
    return message == kDragTrackingEnterHandler ? gEnterAnswer : OSErr(noErr);
}

OSErr recordReceive(WindowRef, void*, DragRef drag) {
    ++gReceives;
    CountDragItems(drag, &gItemsSeen);
    return noErr;
}

class DragEvents : public ::testing::Test {
protected:
    void SetUp() override {
        gMessages.clear();
        gReceives = 0;
        gEnterAnswer = noErr;
        window.resize(300, 200);
        ASSERT_EQ(InstallTrackingHandler(recordTracking, &window, &gMessages), noErr);
        ASSERT_EQ(InstallReceiveHandler(recordReceive, &window, nullptr), noErr);
        data.reset(uriList({tree.write("f", "x")}, {"https://example.org/"}));
    }
    bool send(QDropEvent&& e) {  // enter, move and drop events are all drop events
        QCoreApplication::sendEvent(&window, &e);
        lastAction = e.dropAction();
        return e.isAccepted();
    }
    bool enter(Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        return send(QDragEnterEvent({10, 10}, actions, data.get(), Qt::LeftButton, {}));
    }
    bool move() {
        return send(QDragMoveEvent({20, 20}, Qt::CopyAction, data.get(), Qt::LeftButton, {}));
    }
    bool drop() {
        return send(
            QDropEvent({20, 20}, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, {}));
    }
    void leave() {
        QDragLeaveEvent e;
        QCoreApplication::sendEvent(&window, &e);
    }
    TempTree tree;
    QWidget window;
    std::unique_ptr<QMimeData> data;
    Qt::DropAction lastAction = Qt::IgnoreAction;
};

using Messages = std::vector<DragTrackingMessage>;

}  // namespace

TEST_F(DragEvents, QtDragEventsBecomeTheTrackingMessagesAndADropAsksForACopy) {
    EXPECT_TRUE(enter());
    EXPECT_EQ(lastAction, Qt::CopyAction);
    EXPECT_EQ(gItemsSeen, 2);
    // The in-window answer does not take the drag back.
    EXPECT_TRUE(move());
    EXPECT_TRUE(move());
    leave();
    EXPECT_EQ(gMessages, (Messages{1, 2, 3, 3, 4, 5}));
    EXPECT_EQ(gReceives, 0);

    // A drop ends tracking, then calls the receiver.
    gMessages.clear();
    EXPECT_TRUE(enter());
    EXPECT_TRUE(drop());
    EXPECT_EQ(gMessages, (Messages{1, 2, 4, 5}));
    EXPECT_EQ(gReceives, 1);
    EXPECT_EQ(lastAction, Qt::CopyAction) << "a move could make the source delete the file";
    // A source that offers only a move or a link.
    EXPECT_TRUE(enter(Qt::LinkAction | Qt::MoveAction));
    EXPECT_EQ(lastAction, Qt::LinkAction);
    leave();

    // A refused drag: Qt sends nothing more to the window; the next drag to
    // enter first ends it. A receiver's refusal refuses the drop: the
    // DropTarget tests of a file gone before the drop and of an event that
    // cannot be sent.
    gMessages.clear();
    gEnterAnswer = dragNotAcceptedErr;
    EXPECT_FALSE(enter());
    leave();
    EXPECT_EQ(gMessages, (Messages{1, 2}));
    gEnterAnswer = noErr;
    EXPECT_TRUE(enter());
    EXPECT_EQ(gMessages, (Messages{1, 2, 4, 5, 1, 2}));
}

// One handler of each kind per window, and removing one that is not there:
// DropTargetInstall.
TEST_F(DragEvents, HandlersNeedAProcAndAWindowAndRemovingThemStopsTheDrops) {
    EXPECT_EQ(InstallTrackingHandler(nullptr, &window, nullptr), paramErr);
    EXPECT_EQ(InstallReceiveHandler(recordReceive, nullptr, nullptr), paramErr);
    EXPECT_EQ(RemoveReceiveHandler(recordReceive, &window), noErr);
    EXPECT_EQ(RemoveTrackingHandler(recordTracking, &window), noErr);
    EXPECT_FALSE(window.acceptDrops());
    EXPECT_FALSE(enter());
    EXPECT_FALSE(drop());
    EXPECT_TRUE(gMessages.empty());
    EXPECT_EQ(gReceives, 0);
}
