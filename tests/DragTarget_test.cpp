// The main window as a drop target: the hilite of an acceptable drag and what
// a drop sends to the application (tests/e2e/window_drop.sh drops from another process).
#include "intake/DragTarget.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/events/AppleEvents.h"
#include "platform/ui/Sound.h"
#include "platform/ui/Windows.h"
#include "processing/ProcessingRun.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;
using testsupport::uriList;
using Paths = std::vector<std::string>;

namespace {

// What one open-documents event held: each item's type, and its path read as
// an FSRef ("" when it did not resolve).
struct Received {
    std::vector<DescType> itemTypes;
    Paths paths;
};
std::vector<Received> gReceived;

OSErr recordOpenDocuments(const AppleEvent* event, AppleEvent*, long) {
    Received r;
    testsupport::directObjectItems(event, &r.itemTypes, &r.paths);
    gReceived.push_back(r);
    return noErr;
}

// The drop target of the application's own main window, as start-up made it.
class DropTarget : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static TempTree config;
        setenv("XDG_CONFIG_HOME", config.root().c_str(), 1);
        ASSERT_EQ(StartApplication(), noErr);
    }

    void SetUp() override {
        gReceived.clear();
        ResetSysBeepCount();
        AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, recordOpenDocuments, 0, false);
        gWindow->resize(520, 190);
        ShowWindow(gWindow);
    }
    void TearDown() override {
        SetMemoryFailureHook(nullptr);
        AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, OpenDocsAppleEventHandler, 0,
                              false);
        QCoreApplication::processEvents();
    }

    bool enter(QMimeData* data) {
        data_.reset(data);
        QDragEnterEvent e(QPoint(40, 40), Qt::CopyAction | Qt::MoveAction, data_.get(),
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(gWindow, &e);
        return e.isAccepted();
    }
    bool drop() {
        QDropEvent e(QPointF(40, 40), Qt::CopyAction | Qt::MoveAction, data_.get(), Qt::LeftButton,
                     Qt::NoModifier);
        QCoreApplication::sendEvent(gWindow, &e);
        // The event to self is delivered by the loop.
        QCoreApplication::processEvents();
        return e.isAccepted();
    }
    static bool hilited(Rect* bounds = nullptr) { return GetDragHiliteBounds(gWindow, bounds); }

    TempTree tree;
    std::unique_ptr<QMimeData> data_;
};

}  // namespace

TEST_F(DropTarget, FilesFoldersAndVolumesGoInOneEventOfAliasesInTheDragsOrder) {
    const std::string c = tree.write("c", "3"), a = tree.write("a", "1"), b = tree.write("b", "2");
    const std::string folder = tree.mkdir("a folder");
    // A text clipping among them is taken, and left out of the event.
    const Paths paths = {c, a, folder, b, "/"};
    EXPECT_TRUE(enter(uriList(paths, {"data:text/plain,a%20clipping"})));
    Rect r;  // 2 pixels inside the window's content, in its own coordinates
    ASSERT_TRUE(hilited(&r));
    EXPECT_EQ((std::vector<int>{r.top, r.left, r.bottom, r.right}),
              (std::vector<int>{2, 2, gWindow->height() - 2, gWindow->width() - 2}));
    // A frame drawn on the region's inner edges, over the window's controls;
    // the middle and the outside stay clear.
    const QImage shot = gWindow->grab().toImage();
    const QColor frame = gWindow->palette().color(QPalette::Highlight);
    EXPECT_EQ(shot.pixelColor(r.left, 50), frame);
    EXPECT_EQ(shot.pixelColor(r.right - 1, 50), frame);
    EXPECT_NE(shot.pixelColor(r.left - 1, 50), frame);
    EXPECT_NE(shot.pixelColor(r.left + 3, 50), frame);
    EXPECT_TRUE(drop());
    EXPECT_FALSE(hilited());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].itemTypes, std::vector<DescType>(paths.size(), typeAlias));
    EXPECT_EQ(gReceived[0].paths, paths);
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(DropTarget, DropsSendOnlyTheFilesStillThereAndBeepOnlyWhenNothingCanBeSent) {
    auto* text = new QMimeData;
    text->setText("a text clipping");
    // Text alone, and a file gone before the drag: no hilite though the drag
    // layer still tells the tracker it entered the window, and dropped all the
    // same, the receiver refuses it too.
    const std::string gone = tree.path("gone"), kept = tree.write("kept", "x");
    for (QMimeData* refused : {text, uriList({gone})}) {
        EXPECT_FALSE(enter(refused));
        EXPECT_FALSE(hilited());
        EXPECT_FALSE(drop());
    }
    // Gone between entering and dropping: the drop looks again, and an item
    // whose alias cannot be made is left out of the event, first or last.
    for (const Paths& paths : {Paths{gone}, Paths{gone, kept}, Paths{kept, gone}}) {
        tree.write("gone", "x");
        EXPECT_TRUE(enter(uriList(paths)));
        unlink(gone.c_str());
        EXPECT_EQ(drop(), paths.size() > 1) << paths.size();
    }
    ASSERT_EQ(gReceived.size(), 2u);
    EXPECT_EQ(gReceived[0].paths, (Paths{kept}));
    EXPECT_EQ(gReceived[1].paths, (Paths{kept}));
    EXPECT_EQ(SysBeepCount(), 0);

    // Memory for the drop's one FSSpec, none for anything after it: the
    // event cannot be sent, which one beep tells.
    gReceived.clear();
    EXPECT_TRUE(enter(uriList({kept})));
    SetMemoryFailureHook([](Size bytes) { return bytes != Size(sizeof(FSSpec)); });
    EXPECT_FALSE(drop());
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(SysBeepCount(), 1);
    EXPECT_TRUE(gReceived.empty());
}

TEST_F(DropTarget, OtherMessagesAndSendingNoItemsAreRefused) {
    // Inside the window, and for any message it does not know, the tracker
    // answers paramErr, which the drag layer takes as no answer.
    EXPECT_EQ(DragTracker(kDragTrackingInWindow, gWindow, nullptr, nullptr), paramErr);
    FSSpec spec{};
    EXPECT_EQ(SendOpenDocAppleEventToSelf(0, &spec), paramErr);
    // Specs that name nothing: no alias, no event, the last item's error.
    spec.parID = 2;
    spec.name[0] = 20;
    std::memcpy(spec.name + 1, "no-such-file-at-root", 20);
    EXPECT_EQ(SendOpenDocAppleEventToSelf(1, &spec), fnfErr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(gReceived.empty());
}

TEST(DropTargetInstall, AWindowThatCannotTakeTheReceiverKeepsNoTracker) {
    InitDragHandlers();
    QWidget window;
    auto otherReceiver = [](WindowRef, void*, DragRef) -> OSErr { return noErr; };
    ASSERT_EQ(InstallReceiveHandler(otherReceiver, &window, nullptr), noErr);
    EXPECT_EQ(InstallDragHandlers(&window), duplicateHandlerErr);
    EXPECT_EQ(RemoveTrackingHandler(gDragTrackingHandlerUPP, &window), handlerNotFoundErr);

    QWidget fresh;
    EXPECT_EQ(InstallDragHandlers(&fresh), noErr);
    EXPECT_TRUE(fresh.acceptDrops());
    EXPECT_EQ(InstallDragHandlers(&fresh), duplicateHandlerErr);
}
