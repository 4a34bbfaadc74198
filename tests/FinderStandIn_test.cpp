// The Finder's stand-in: comment events kept in the user.xdg.comment
// attribute, the refresh event, and the errors of items and file systems
// that cannot hold a comment.
#include "platform/events/FinderStandIn.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/base/MacMemory.h"
#include "platform/events/AEBuild.h"
#include "platform/events/AEObjects.h"
#include "platform/files/Aliases.h"
#include "platform/files/linux/SysIO.h"
#include "testkit/Faults.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::InjectedFault;
using testsupport::refOf;
using testsupport::TempTree;

namespace {

constexpr AEDesc kNull = {typeNull, nullptr};
const std::string kPropertyFormat =
    "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)}";

// {want: file, from: null, form: alis, seld: alias of path}
AEDesc itemSpecifier(const std::string& path) {
    FSRef ref = refOf(path);
    AliasHandle alias = nullptr;
    EXPECT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    Handle h = reinterpret_cast<Handle>(alias);
    AEDesc aliasDesc = kNull, container = kNull, spec = kNull;
    AECreateDesc(typeAlias, *h, GetHandleSize(h), &aliasDesc);
    DisposeHandle(h);
    EXPECT_EQ(CreateObjSpecifier(cFile, &container, formAlias, &aliasDesc, true, &spec), noErr);
    return spec;
}

// Builds an event to the Finder from `format` and its arguments and sends it,
// waiting for the reply when there is one to take.
template <class... Args>
OSErr sendToFinder(AppleEvent* reply, AEEventClass cls, AEEventID id, const std::string& format,
                   Args... args) {
    const OSType finder = kFinderSignature;
    AppleEvent event = kNull;
    EXPECT_EQ(
        AEBuildAppleEvent(cls, id, typeApplSignature, &finder, sizeof finder, kAutoGenerateReturnID,
                          kAnyTransactionID, &event, nullptr, format.c_str(), args...),
        noErr);
    OSErr err = AESend(&event, reply, reply ? kAEWaitReply : kAENoReply, kAENormalPriority,
                       kAEDefaultTimeout, nullptr, nullptr);
    AEDisposeDesc(&event);
    return err;
}

OSErr setComment(const AEDesc& item, const char* macRoman) {
    return sendToFinder(nullptr, kAECoreSuite, kAESetData, kPropertyFormat + ",data:'TEXT'(@)",
                        &item, macRoman);
}

}  // namespace

TEST(FinderStandInComments, ItemsThatCannotHaveOrGiveACommentOrAreGoneAreErrors) {
    TempTree tree;
    const std::string file = tree.write("f", "x"), other = tree.write("g", "y");
    const std::string link = tree.path("link");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    AEDesc linkItem = itemSpecifier(link), gone = itemSpecifier(file), item = itemSpecifier(other),
           byName = kNull;
    EXPECT_EQ(setComment(linkItem, "no"), notAFileErr);
    // Refresh asks only that the item exists, and changes nothing.
    FSRef ref = refOf(file);
    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    const Handle h = reinterpret_cast<Handle>(alias);
    const std::string before = testsupport::snapshot(tree.root());
    EXPECT_EQ(sendToFinder(nullptr, kAEFinderSuite, kAESync, "'----':alis(@@)", h), noErr);
    EXPECT_EQ(testsupport::snapshot(tree.root()), before);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(sendToFinder(nullptr, kAEFinderSuite, kAESync, "'----':alis(@@)", h), fnfErr);
    DisposeHandle(h);
    // The reply to a get of a gone item holds its error and no comment.
    AppleEvent reply = kNull;
    EXPECT_EQ(sendToFinder(&reply, kAECoreSuite, kAEGetData, kPropertyFormat, &gone), fnfErr);
    SInt32 replyError = 0;
    AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, &replyError, 4, nullptr);
    EXPECT_EQ(replyError, fnfErr);
    EXPECT_EQ(AEGetParamDesc(&reply, keyDirectObject, typeWildCard, &byName), errAEDescNotFound);
    AEDisposeDesc(&reply);

    // Only the comment property, the alias form and the two events are answered.
    EXPECT_EQ(
        sendToFinder(nullptr, kAECoreSuite, kAEGetData,
                     "'----':obj {form:prop,want:type(prop),seld:type(ptsd),from:(@)}", &item),
        errAEEventNotHandled);
    ASSERT_EQ(
        AEBuildDesc(&byName, nullptr, "obj {want:type(file),from:'null'(),form:name,seld:“g”}"),
        noErr);
    EXPECT_EQ(setComment(byName, "no"), errAEBadKeyForm);
    EXPECT_EQ(
        sendToFinder(nullptr, FOUR_CHAR_CODE("misc"), FOUR_CHAR_CODE("dosc"), "'----':(@)", &item),
        errAEEventNotHandled);
    EXPECT_FALSE(testsupport::hasXattr(other, "user.xdg.comment"));
    for (AEDesc* d : {&linkItem, &gone, &item, &byName}) AEDisposeDesc(d);
}

// Set and read back in Mac Roman through these events, and refused without
// user attributes (what a file system such as ramfs answers): CFile's comment
// tests. Here the refusals of removing and writing, then the empty comment
// removing the attribute.
TEST(FinderStandInNoUserAttributes, InjectedRefusalIsAnErrorAndChangesNothing) {
    TempTree tree;
    AEDesc item = itemSpecifier(tree.write("f", "x"));
    ASSERT_EQ(setComment(item, "kept"), noErr);
    const std::string before = testsupport::snapshot(tree.root());
    {
        InjectedFault fault({sysio::Call::RemoveXattr}, EOPNOTSUPP);
        EXPECT_EQ(setComment(item, ""), wrgVolTypErr);
    }
    {
        InjectedFault fault({sysio::Call::SetXattr}, ENOSPC);
        EXPECT_EQ(setComment(item, "new"), dskFulErr);
    }
    EXPECT_EQ(testsupport::snapshot(tree.root()), before);
    // Once attributes can be removed, the empty comment removes the attribute.
    ASSERT_EQ(setComment(item, ""), noErr);
    EXPECT_FALSE(testsupport::hasXattr(tree.path("f"), "user.xdg.comment"));
    AEDisposeDesc(&item);
}
