#include "platform/AppleEvents.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>
#include <string>

#include "platform/Aliases.h"
#include "platform/MacMemory.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
}

std::string text(const AEDesc& d) {
    std::string s(size_t(AEGetDescDataSize(&d)), '\0');
    AEGetDescData(&d, s.data(), Size(s.size()));
    return s;
}

// Reads item i of the list as an FSRef and checks it names the path.
void expectItemIs(const AEDescList& list, long i, const std::string& path) {
    FSRef ref;
    Size size = 0;
    ASSERT_EQ(AEGetNthPtr(&list, i, typeFSRef, nullptr, nullptr, &ref, sizeof ref, &size), noErr);
    EXPECT_EQ(size, Size(sizeof ref));
    FSRef expected = refOf(path);
    EXPECT_EQ(FSCompareFSRefs(&ref, &expected), noErr);
}

}  // namespace

TEST(AppleEvents, DescriptorsOwnTheirBytesAndDuplicatesAreIndependent) {
    AEDesc d, copy;
    ASSERT_EQ(AECreateDesc(typeChar, "hello", 5, &d), noErr);
    ASSERT_EQ(AEDuplicateDesc(&d, &copy), noErr);
    AEDisposeDesc(&d);
    EXPECT_EQ(d.descriptorType, typeNull);
    EXPECT_EQ(d.dataHandle, nullptr);
    EXPECT_EQ(text(copy), "hello");
    AEDisposeDesc(&copy);

    AEDesc null;
    ASSERT_EQ(AECreateDesc(typeNull, nullptr, 0, &null), noErr);
    EXPECT_EQ(AEDisposeDesc(&null), noErr);
    EXPECT_EQ(AECreateDesc(typeChar, nullptr, 3, &d), paramErr);
}

TEST(AppleEvents, ListsAppendReplaceAndCopyOutWithinTheBuffer) {
    AEDescList list;
    ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
    EXPECT_EQ(list.descriptorType, typeAEList);
    ASSERT_EQ(AEPutPtr(&list, 0, typeChar, "one", 3), noErr);
    ASSERT_EQ(AEPutPtr(&list, 0, typeChar, "two", 3), noErr);
    ASSERT_EQ(AEPutPtr(&list, 3, typeChar, "three", 5), noErr);  // count + 1 appends
    ASSERT_EQ(AEPutPtr(&list, 2, typeChar, "TWO", 3), noErr);    // replaces
    EXPECT_EQ(AEPutPtr(&list, 9, typeChar, "x", 1), errAEBadListItem);
    long count = 0;
    ASSERT_EQ(AECountItems(&list, &count), noErr);
    EXPECT_EQ(count, 3);

    char buffer[4] = {};
    DescType type = 0;
    Size size = 0;
    ASSERT_EQ(AEGetNthPtr(&list, 3, typeChar, nullptr, &type, buffer, 4, &size), noErr);
    EXPECT_EQ(std::string(buffer, 4), "thre");  // cut at the buffer, whole size told
    EXPECT_EQ(size, 5);
    EXPECT_EQ(type, typeChar);
    ASSERT_EQ(AEGetNthPtr(&list, 2, typeWildCard, nullptr, nullptr, buffer, 4, nullptr), noErr);
    EXPECT_EQ(std::string(buffer, 3), "TWO");
    EXPECT_EQ(AEGetNthPtr(&list, 0, typeChar, nullptr, nullptr, buffer, 4, nullptr),
              errAEBadListItem);
    EXPECT_EQ(AEGetNthPtr(&list, 4, typeChar, nullptr, nullptr, buffer, 4, nullptr),
              errAEBadListItem);
    // A text item is not a file.
    FSRef ref;
    EXPECT_EQ(AEGetNthPtr(&list, 1, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr),
              errAECoercionFail);

    // Nested lists are deep copies: changing the inner one later changes nothing.
    AEDescList outer;
    AECreateList(nullptr, 0, false, &outer);
    AEPutDesc(&outer, 0, &list);
    AEPutPtr(&list, 0, typeChar, "four", 4);
    AEDesc inner;
    ASSERT_EQ(AEGetNthDesc(&outer, 1, typeWildCard, nullptr, &inner), noErr);
    ASSERT_EQ(AECountItems(&inner, &count), noErr);
    EXPECT_EQ(count, 3);
    AEDisposeDesc(&inner);
    AEDisposeDesc(&outer);
    AEDisposeDesc(&list);

    AEDesc plain;
    AECreateDesc(typeChar, "x", 1, &plain);
    EXPECT_EQ(AECountItems(&plain, &count), errAEWrongDataType);
    AEDisposeDesc(&plain);
}

TEST(AppleEvents, FileItemsOfEveryKindReadAsFSRefs) {
    TempTree tree;
    const std::string spaced = tree.write("a folder/with space & 100%.txt", "x");
    const std::string latin1 = tree.write(std::string("caf\xE9"), "y");  // not UTF-8
    const std::string folder = tree.path("a folder");

    AEDescList list;
    AECreateList(nullptr, 0, false, &list);
    // A file URL, percent-encoded byte for byte.
    std::string url = "file://";
    for (unsigned char c : spaced) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        url += (isalnum(c) || c == '/') ? std::string(1, char(c)) : std::string(hex);
    }
    AEPutPtr(&list, 0, typeFileURL, url.data(), Size(url.size()));
    const std::string latinURL = "file://localhost" + tree.root() + "/caf%E9";
    AEPutPtr(&list, 0, typeFileURL, latinURL.data(), Size(latinURL.size()));
    // An FSSpec, as the drag data carries it.
    FSRef folderRef = refOf(folder);
    FSSpec spec;
    ASSERT_EQ(FSGetCatalogInfo(&folderRef, 0, nullptr, nullptr, &spec, nullptr), noErr);
    AEPutPtr(&list, 0, typeFSS, &spec, sizeof spec);
    // An alias record.
    AliasHandle alias = nullptr;
    FSRef fileRef = refOf(spaced);
    ASSERT_EQ(FSNewAlias(nullptr, &fileRef, &alias), noErr);
    AEPutPtr(&list, 0, typeAlias, *alias, GetHandleSize(reinterpret_cast<Handle>(alias)));
    DisposeHandle(reinterpret_cast<Handle>(alias));
    // An FSRef as itself.
    AEPutPtr(&list, 0, typeFSRef, &folderRef, sizeof folderRef);

    expectItemIs(list, 1, spaced);
    expectItemIs(list, 2, latin1);
    expectItemIs(list, 3, folder);
    expectItemIs(list, 4, spaced);
    expectItemIs(list, 5, folder);

    // URLs that name no local file do not convert.
    AEDescList bad;
    AECreateList(nullptr, 0, false, &bad);
    for (const char* u :
         {"http://example.org/x", "file://otherhost/tmp", "file:///tmp/%zz", "file:///tmp/a%00b"})
        AEPutPtr(&bad, 0, typeFileURL, u, Size(std::strlen(u)));
    FSRef ref;
    for (long i = 1; i <= 4; ++i)
        EXPECT_EQ(AEGetNthPtr(&bad, i, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr),
                  errAECoercionFail)
            << i;
    // A URL of a file that is gone.
    const std::string gone = "file://" + tree.root() + "/nothing";
    AEPutPtr(&bad, 0, typeFileURL, gone.data(), Size(gone.size()));
    EXPECT_EQ(AEGetNthPtr(&bad, 5, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr), fnfErr);
    AEDisposeDesc(&bad);
    AEDisposeDesc(&list);
}

TEST(AppleEvents, AnySingleDescriptorReadsAsAListOfOne) {
    AEDesc single;
    AECreateDesc(typeChar, "abc", 3, &single);
    AEDescList list;
    ASSERT_EQ(AECoerceDesc(&single, typeAEList, &list), noErr);
    long count = 0;
    ASSERT_EQ(AECountItems(&list, &count), noErr);
    EXPECT_EQ(count, 1);
    AEDisposeDesc(&list);

    AppleEvent event;
    AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, nullptr, kAutoGenerateReturnID,
                       kAnyTransactionID, &event);
    EXPECT_EQ(AEGetParamDesc(&event, keyDirectObject, typeAEList, &list), errAEDescNotFound);
    AEPutParamDesc(&event, keyDirectObject, &single);
    ASSERT_EQ(AEGetParamDesc(&event, keyDirectObject, typeAEList, &list), noErr);
    ASSERT_EQ(AECountItems(&list, &count), noErr);
    EXPECT_EQ(count, 1);
    AEDisposeDesc(&list);
    AEDisposeDesc(&event);
    AEDisposeDesc(&single);
}

namespace {
struct Received {
    int calls = 0;
    long refcon = 0;
    std::string firstItem;
    AEEventID id = 0;
};
Received gReceived;

OSErr recordingHandler(const AppleEvent* event, AppleEvent*, long refcon) {
    ++gReceived.calls;
    gReceived.refcon = refcon;
    AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &gReceived.id, sizeof gReceived.id,
                      nullptr);
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

AppleEvent eventTo(const ProcessSerialNumber& psn, AEEventID id, const char* item) {
    AEAddressDesc target;
    AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
    AppleEvent event;
    AECreateAppleEvent(kCoreEventClass, id, &target, kAutoGenerateReturnID, kAnyTransactionID,
                       &event);
    AEDisposeDesc(&target);
    AEDescList list;
    AECreateList(nullptr, 0, false, &list);
    AEPutPtr(&list, 0, typeChar, item, Size(std::strlen(item)));
    AEPutParamDesc(&event, keyDirectObject, &list);
    AEDisposeDesc(&list);
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

    // This process's own number is the current process too; waiting for the
    // reply handles it at once.
    ProcessSerialNumber own;
    GetCurrentProcess(&own);
    event = eventTo(own, kAEOpenDocuments, "second");
    ASSERT_EQ(AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr,
                     nullptr),
              noErr);
    EXPECT_EQ(gReceived.calls, 2);
    EXPECT_EQ(gReceived.firstItem, "second");
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);

    // Another process is not reachable; an event nobody handles says so.
    event = eventTo({0, own.lowLongOfPSN + 1}, kAEOpenDocuments, "x");
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), procNotFound);
    AEDisposeDesc(&event);
    event = eventTo(self, FOUR_CHAR_CODE("zzzz"), "x");
    EXPECT_EQ(AEDeliverAppleEvent(&event, nullptr), errAEEventNotHandled);
    // A wildcard handler takes any ID of its class.
    AEInstallEventHandler(kCoreEventClass, typeWildCard, recordingHandler, 0, false);
    EXPECT_EQ(AEDeliverAppleEvent(&event, nullptr), noErr);
    EXPECT_EQ(gReceived.id, FOUR_CHAR_CODE("zzzz"));
    AEDisposeDesc(&event);
    AERemoveEventHandler(kCoreEventClass, typeWildCard, recordingHandler, false);
    AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, recordingHandler, false);
}
