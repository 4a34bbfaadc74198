// The main window as a drop target: the tracking table, what a drop sends to
// the application, and a drop that ends in a processing run.
#include "intake/DragTarget.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppleEvents.h"
#include "platform/MacMemory.h"
#include "platform/Preferences.h"
#include "platform/Sound.h"
#include "platform/Windows.h"
#include "processing/ProcessingRun.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "testkit/AlertAnswer.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;

namespace {

// What one open-documents event held.
struct Received {
    DescType addressType = 0;
    ProcessSerialNumber address{};
    std::vector<DescType> itemTypes;
    std::vector<std::string> paths;  // each item read as an FSRef; "" when it did not resolve
};
std::vector<Received> gReceived;

OSErr recordOpenDocuments(const AppleEvent* event, AppleEvent*, long) {
    Received r;
    Size size = 0;
    AEGetAttributePtr(event, keyAddressAttr, typeWildCard, &r.addressType, &r.address,
                      sizeof r.address, &size);
    AEDescList list;
    if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr) {
        long count = 0;
        AECountItems(&list, &count);
        for (long i = 1; i <= count; ++i) {
            AEKeyword keyword;
            AEDesc item;
            AEGetNthDesc(&list, i, typeWildCard, &keyword, &item);
            r.itemTypes.push_back(item.descriptorType);
            AEDisposeDesc(&item);
            FSRef ref;
            DescType type;
            char path[4096] = "";
            if (AEGetNthPtr(&list, i, typeFSRef, &keyword, &type, &ref, sizeof ref, &size) ==
                    noErr &&
                FSRefMakePath(&ref, reinterpret_cast<UInt8*>(path), sizeof path) == noErr)
                r.paths.push_back(path);
            else
                r.paths.push_back("");
        }
        AEDisposeDesc(&list);
    }
    gReceived.push_back(r);
    return noErr;
}

QByteArray fileURL(const std::string& path) {
    return "file://" + QByteArray(path.data(), qsizetype(path.size())).toPercentEncoding("/");
}

QMimeData* files(const std::vector<std::string>& paths,
                 const std::vector<QByteArray>& others = {}) {
    auto* data = new QMimeData;
    QByteArray list;
    for (const std::string& p : paths) list += fileURL(p) + "\r\n";
    for (const QByteArray& o : others) list += o + "\r\n";
    data->setData("text/uri-list", list);
    return data;
}

void setOperation(int function) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &function);
    CFPreferencesSetAppValue(CFSTR("FunctionType"), number, kCFPreferencesCurrentApplication);
    CFRelease(number);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), kCFBooleanFalse,
                             kCFPreferencesCurrentApplication);
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
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
    void leave() {
        QDragLeaveEvent e;
        QCoreApplication::sendEvent(gWindow, &e);
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

TEST_F(DropTarget, TheTrackerAnswersEachMessageAndHilitesOnlyAnAcceptableDrag) {
    std::unique_ptr<QMimeData> good(files({tree.write("f", "x")}));
    std::unique_ptr<QMimeData> bad(files({}, {"https://example.org/"}));
    DragRef drag = nullptr;
    ASSERT_EQ(NewDragFromMimeData(good.get(), gWindow, &drag), noErr);

    EXPECT_EQ(DragTracker(kDragTrackingEnterHandler, gWindow, nullptr, drag), noErr);
    EXPECT_TRUE(gHasAcceptableDrag);
    EXPECT_FALSE(hilited());
    EXPECT_EQ(DragTracker(kDragTrackingEnterWindow, gWindow, nullptr, drag), noErr);
    Rect bounds;
    ASSERT_TRUE(hilited(&bounds));
    // 2 pixels inside the window's content, in the window's own coordinates.
    EXPECT_EQ(bounds.top, 2);
    EXPECT_EQ(bounds.left, 2);
    EXPECT_EQ(bounds.bottom, gWindow->height() - 2);
    EXPECT_EQ(bounds.right, gWindow->width() - 2);
    EXPECT_EQ(DragTracker(kDragTrackingInWindow, gWindow, nullptr, drag), paramErr);
    EXPECT_TRUE(hilited());
    EXPECT_EQ(DragTracker(kDragTrackingLeaveWindow, gWindow, nullptr, drag), noErr);
    EXPECT_FALSE(hilited());
    EXPECT_EQ(DragTracker(kDragTrackingLeaveHandler, gWindow, nullptr, drag), noErr);
    for (DragTrackingMessage other : {0, 6, -1, 100})
        EXPECT_EQ(DragTracker(other, gWindow, nullptr, drag), paramErr) << other;
    DisposeDrag(drag);

    ASSERT_EQ(NewDragFromMimeData(bad.get(), gWindow, &drag), noErr);
    EXPECT_EQ(DragTracker(kDragTrackingEnterHandler, gWindow, nullptr, drag), dragNotAcceptedErr);
    EXPECT_FALSE(gHasAcceptableDrag);
    EXPECT_EQ(DragTracker(kDragTrackingEnterWindow, gWindow, nullptr, drag), noErr);
    EXPECT_FALSE(hilited());
    EXPECT_EQ(DragTracker(kDragTrackingInWindow, gWindow, nullptr, drag), paramErr);
    EXPECT_EQ(DragTracker(kDragTrackingLeaveWindow, gWindow, nullptr, drag), noErr);
    EXPECT_EQ(DragTracker(kDragTrackingLeaveHandler, gWindow, nullptr, drag), noErr);
    DisposeDrag(drag);
}

TEST_F(DropTarget, ADragOfTextOnlyIsRefusedWithoutHilite) {
    auto* text = new QMimeData;
    text->setText("a text clipping");
    EXPECT_FALSE(enter(text));
    EXPECT_FALSE(hilited());
    EXPECT_FALSE(drop());
    EXPECT_TRUE(gReceived.empty());

    // Dropped all the same, the receiver refuses it.
    DragRef drag = nullptr;
    ASSERT_EQ(NewDragFromMimeData(text, gWindow, &drag), noErr);
    EXPECT_EQ(DragReceiver(gWindow, nullptr, drag), dragNotAcceptedErr);
    DisposeDrag(drag);
    QCoreApplication::processEvents();
    EXPECT_TRUE(gReceived.empty());
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(DropTarget, AFileWithATextClippingIsTakenAndOnlyTheFileIsSent) {
    const std::string file = tree.write("report.txt", "data");
    EXPECT_TRUE(enter(files({file}, {"data:text/plain,a%20clipping"})));
    EXPECT_TRUE(hilited());
    EXPECT_TRUE(drop());
    EXPECT_FALSE(hilited());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].addressType, typeProcessSerialNumber);
    EXPECT_EQ(gReceived[0].address.highLongOfPSN, 0u);
    EXPECT_EQ(gReceived[0].address.lowLongOfPSN, UInt32(kCurrentProcess));
    EXPECT_EQ(gReceived[0].itemTypes, (std::vector<DescType>{typeAlias}));
    EXPECT_EQ(gReceived[0].paths, (std::vector<std::string>{file}));
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(DropTarget, ThreeFilesGoInOneEventInTheDragsOrder) {
    const std::string c = tree.write("c", "3"), a = tree.write("a", "1"), b = tree.write("b", "2");
    EXPECT_TRUE(enter(files({c, a, b})));
    EXPECT_TRUE(drop());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].itemTypes, (std::vector<DescType>(3, typeAlias)));
    EXPECT_EQ(gReceived[0].paths, (std::vector<std::string>{c, a, b}));
}

TEST_F(DropTarget, FoldersAndVolumesAreTakenLikeFiles) {
    const std::string folder = tree.mkdir("a folder");
    tree.write("a folder/inside", "x");
    EXPECT_TRUE(enter(files({folder, "/"})));
    EXPECT_TRUE(drop());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].paths, (std::vector<std::string>{folder, "/"}));
}

TEST_F(DropTarget, AFileThatVanishedIsRefused) {
    const std::string before = tree.write("gone before", "x");
    unlink(before.c_str());
    EXPECT_FALSE(enter(files({before})));
    EXPECT_FALSE(hilited());
    EXPECT_FALSE(drop());

    // Gone between entering and dropping: the drop looks again.
    const std::string during = tree.write("gone during", "x");
    EXPECT_TRUE(enter(files({during})));
    EXPECT_TRUE(hilited());
    unlink(during.c_str());
    EXPECT_FALSE(drop());
    EXPECT_FALSE(hilited());
    EXPECT_TRUE(gReceived.empty());
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(DropTarget, AnItemWhoseAliasCannotBeMadeIsLeftOutAndTheOthersAreSent) {
    const std::string kept = tree.write("kept", "x");
    const std::string gone = tree.write("gone", "x");
    EXPECT_TRUE(enter(files({kept, gone})));
    unlink(gone.c_str());
    EXPECT_TRUE(drop());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].paths, (std::vector<std::string>{kept}));
    EXPECT_EQ(SysBeepCount(), 0);

    // The same from the other end: the first item gone, the alias is made for
    // the second.
    gReceived.clear();
    const std::string first = tree.write("first", "x");
    EXPECT_TRUE(enter(files({first, kept})));
    unlink(first.c_str());
    EXPECT_TRUE(drop());
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].paths, (std::vector<std::string>{kept}));
}

TEST_F(DropTarget, ADropWhoseEventCannotBeSentBeepsOnce) {
    const std::string file = tree.write("f", "x");
    EXPECT_TRUE(enter(files({file})));
    // Memory for the one spec of the drop, none for anything after it.
    SetMemoryFailureHook([](Size bytes) { return bytes != Size(sizeof(FSSpec)); });
    EXPECT_FALSE(drop());
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(SysBeepCount(), 1);
    EXPECT_TRUE(gReceived.empty());
    EXPECT_FALSE(hilited());
}

TEST_F(DropTarget, SendingNoItemsBuildsNothing) {
    FSSpec spec{};
    EXPECT_EQ(SendOpenDocAppleEventToSelf(0, &spec), paramErr);
    EXPECT_EQ(SendOpenDocAppleEventToSelf(1, nullptr), paramErr);
    // Specs that name nothing: no alias, no event, the last item's error.
    FSSpec nothing{};
    nothing.parID = 2;
    nothing.name[0] = 20;
    std::memcpy(nothing.name + 1, "no-such-file-at-root", 20);
    EXPECT_EQ(SendOpenDocAppleEventToSelf(1, &nothing), fnfErr);
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

TEST_F(DropTarget, ADroppedFileIsProcessedOnceTheAlertIsAnswered) {
    AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, OpenDocsAppleEventHandler, 0, false);
    setOperation(2);  // delete the data fork
    const std::string file = tree.write("dropped", "the data fork");
    AlertAnswer answer(Qt::Key_Return);
    EXPECT_TRUE(enter(files({file})));
    EXPECT_TRUE(drop());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 &&
           (answer.alertsShown() == 0 || ProcessingRunActive() || WaitingDropCount() > 0))
        WaitNextEvent(0, nullptr, 1, nullptr);
    EXPECT_EQ(answer.alertsShown(), 1);
    EXPECT_EQ(answer.seen().text, "You are about to delete the data forks of the selected files.");
    EXPECT_EQ(testsupport::readText(file), "");
}
