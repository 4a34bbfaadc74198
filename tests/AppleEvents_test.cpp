// Descriptors and lists, file URL items read as FSRefs, and Apple events sent
// to this process and delivered to their handlers by the loop.
#include "platform/events/AppleEvents.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <string>

#include "platform/events/AEBuild.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::refOf;
using testsupport::TempTree;

namespace {

OSErr itemAsFSRef(const AEDescList& list, long i, FSRef* ref) {
    return AEGetNthPtr(&list, i, typeFSRef, nullptr, nullptr, ref, sizeof *ref, nullptr);
}

}  // namespace

TEST(AppleEvents, ListsAppendReplaceAndCopyOutWithinTheBuffer) {
    AEDesc d;
    EXPECT_EQ(AECreateDesc(typeChar, nullptr, 3, &d), paramErr);
    ASSERT_EQ(AECreateDesc(typeChar, "hello", 5, &d), noErr);
    long count = 0;
    EXPECT_EQ(AECountItems(&d, &count), errAEWrongDataType);
    AEDescList list;
    ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
    ASSERT_EQ(AEPutDesc(&list, 0, &d), noErr);
    AEDisposeDesc(&d);  // the list keeps its own copy
    ASSERT_EQ(AEPutPtr(&list, 0, typeChar, "two", 3), noErr);
    ASSERT_EQ(AEPutPtr(&list, 3, typeChar, "three", 5), noErr);  // count + 1 appends
    ASSERT_EQ(AEPutPtr(&list, 2, typeChar, "TWO", 3), noErr);    // replaces
    EXPECT_EQ(AEPutPtr(&list, 9, typeChar, "x", 1), errAEBadListItem);
    char buffer[6] = {};
    DescType type = 0;
    Size size = 0;
    ASSERT_EQ(AEGetNthPtr(&list, 1, typeChar, nullptr, &type, buffer, 6, &size), noErr);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    ASSERT_EQ(AEGetNthPtr(&list, 3, typeChar, nullptr, &type, buffer, 4, &size), noErr);
    EXPECT_EQ(std::string(buffer, 5), "threo");  // cut at the buffer, the whole size told
    EXPECT_EQ(size, 5);
    ASSERT_EQ(AEGetNthPtr(&list, 2, typeWildCard, nullptr, nullptr, buffer, 4, nullptr), noErr);
    EXPECT_EQ(std::string(buffer, 3), "TWO");
    for (long outside : {0, 4})
        EXPECT_EQ(AEGetNthPtr(&list, outside, typeChar, nullptr, nullptr, buffer, 4, nullptr),
                  errAEBadListItem);
    FSRef ref;  // a text item is not a file
    EXPECT_EQ(itemAsFSRef(list, 1, &ref), errAECoercionFail);

    // A list holds deep copies: sharing nested storage crashes
    // AEBuildLiterals.NumbersTextHexCodesNullAndLists (nested lists) and the
    // drop and comment tests.
    AEDisposeDesc(&list);
}

// Items of every file type read as FSRefs (CFile_test covers each type); here
// the file URLs, whose bytes come from outside.
TEST(AppleEvents, FileURLItemsReadAsFSRefsByteForByteAndOthersDoNot) {
    TempTree tree;
    const std::string spaced = tree.write("a folder/with space & 100%.txt", "x");
    const std::string latin1 = tree.write(std::string("caf\xE9"), "y");  // not UTF-8
    const std::string url =
        "file://" + QByteArray::fromStdString(spaced).toPercentEncoding("/").toStdString();
    const std::string latinURL = "file://localhost" + tree.root() + "/caf%E9";
    const std::string gone = "file://" + tree.root() + "/nothing";
    const std::pair<std::string, OSErr> urls[] = {{url, noErr},
                                                  {latinURL, noErr},
                                                  {"http://example.org/x", errAECoercionFail},
                                                  {"file://otherhost/tmp", errAECoercionFail},
                                                  {"file:///tmp/%zz", errAECoercionFail},
                                                  {"file:///tmp/a%00b", errAECoercionFail},
                                                  {gone, fnfErr}};
    AEDescList list;
    AECreateList(nullptr, 0, false, &list);
    for (const auto& [u, err] : urls) {
        AEPutPtr(&list, 1, typeFileURL, u.data(), Size(u.size()));
        FSRef ref;
        EXPECT_EQ(itemAsFSRef(list, 1, &ref), err) << u;
        if (err != noErr) continue;
        FSRef expected = refOf(u == url ? spaced : latin1);
        EXPECT_EQ(FSCompareFSRefs(&ref, &expected), noErr) << u;
    }
    AEDisposeDesc(&list);
}

namespace {
struct Received {
    int calls = 0;
    long refcon = 0;
    std::string firstItem;
};
Received gReceived;

OSErr recordingHandler(const AppleEvent* event, AppleEvent*, long refcon) {
    ++gReceived.calls;
    gReceived.refcon = refcon;
    // Any single descriptor reads as a list of one.
    AEDescList list;
    if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr) {
        char buffer[64] = {};
        Size size = 0;
        AEGetNthPtr(&list, 1, typeChar, nullptr, nullptr, buffer, sizeof buffer, &size);
        gReceived.firstItem.assign(buffer, size_t(size));
        AEDisposeDesc(&list);
    }
    return noErr;
}

// An event to `psn` whose direct object is one text.
AppleEvent eventTo(const ProcessSerialNumber& psn, AEEventID id, const char* item) {
    AppleEvent event = {typeNull, nullptr};
    EXPECT_EQ(AEBuildAppleEvent(kCoreEventClass, id, typeProcessSerialNumber, &psn, sizeof psn,
                                kAutoGenerateReturnID, kAnyTransactionID, &event, nullptr,
                                "'----':'TEXT'(@)", item),
              noErr);
    return event;
}
}  // namespace

TEST(AppleEvents, EventsSentToSelfAreQueuedAndDeliveredByTheLoop) {
    gReceived = {};
    ASSERT_EQ(AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, recordingHandler, 7, false),
              noErr);
    const ProcessSerialNumber self = {0, UInt32(kCurrentProcess)};
    AppleEvent event = eventTo(self, kAEOpenDocuments, "first");
    AppleEvent reply;
    ASSERT_EQ(
        AESend(&event, &reply, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr),
        noErr);
    EXPECT_EQ(reply.descriptorType, typeNull);
    AEDisposeDesc(&event);  // the queued copy is the delivery's own
    EXPECT_EQ(gReceived.calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(gReceived.calls, 1);
    EXPECT_EQ(gReceived.refcon, 7);
    EXPECT_EQ(gReceived.firstItem, "first");

    // Another process is not reachable; an event nobody handles says so.
    // (Waiting for a reply: the Finder stand-in's events, handled in this process.)
    ProcessSerialNumber own;
    GetCurrentProcess(&own);
    event = eventTo({0, own.lowLongOfPSN + 1}, kAEOpenDocuments, "x");
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), procNotFound);
    AEDisposeDesc(&event);
    event = eventTo(self, FOUR_CHAR_CODE("zzzz"), "x");
    EXPECT_EQ(AEDeliverAppleEvent(&event, nullptr), errAEEventNotHandled);
    AEDisposeDesc(&event);
    AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, recordingHandler, false);
}
