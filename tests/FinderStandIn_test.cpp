#include "platform/FinderStandIn.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/AEBuild.h"
#include "platform/AEObjects.h"
#include "platform/Aliases.h"
#include "platform/MacMemory.h"
#include "platform/SysIO.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {

constexpr AEDesc kNull = {typeNull, nullptr};
const char* const kPropertyFormat =
    "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)}";

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr)
        << path;
    return ref;
}

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

AppleEvent finderEvent(AEEventID id, const char* format, const AEDesc* item,
                       const char* text = nullptr) {
    const OSType finder = kFinderSignature;
    AppleEvent event = kNull;
    EXPECT_EQ(AEBuildAppleEvent(kAECoreSuite, id, typeApplSignature, &finder, sizeof finder,
                                kAutoGenerateReturnID, kAnyTransactionID, &event, nullptr, format,
                                item, text),
              noErr);
    return event;
}

OSErr setComment(const AEDesc& item, const char* macRoman) {
    AppleEvent event = finderEvent(
        kAESetData,
        "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)},data:'TEXT'(@)", &item,
        macRoman);
    OSErr err =
        AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    AEDisposeDesc(&event);
    return err;
}

// The reply's text, or the error; *replyError gets the reply's 'errn' (0 when none).
OSErr getComment(const AEDesc& item, std::string* text, SInt32* replyError = nullptr) {
    AppleEvent event = finderEvent(kAEGetData, kPropertyFormat, &item);
    AppleEvent reply = kNull;
    OSErr err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr,
                       nullptr);
    if (replyError) {
        *replyError = 0;
        AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, replyError, 4, nullptr);
    }
    if (err == noErr) {
        char buffer[1024];
        Size size = 0;
        EXPECT_EQ(
            AEGetParamPtr(&reply, keyDirectObject, typeChar, nullptr, buffer, sizeof buffer, &size),
            noErr);
        text->assign(buffer, std::size_t(size));
    }
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    return err;
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::string attribute(const std::string& path) {
    char value[1024];
    ssize_t n = ::lgetxattr(path.c_str(), "user.xdg.comment", value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, std::size_t(n));
}

int gFailWith = 0;
sysio::Call gFailCall;
int failXattr(sysio::Call call) {
    return call == gFailCall ? gFailWith : 0;
}

}  // namespace

TEST(FinderStandInComments, SetAndGetThroughTheAttributeFileManagersShow) {
    TempTree tree;
    const std::string file = tree.write("notes.txt", "data");
    AEDesc item = itemSpecifier(file);
    ASSERT_EQ(setComment(item,
                         "Draft \x8E"
                         "crit"),
              noErr);  // Mac Roman e-acute
    EXPECT_EQ(attribute(file),
              "Draft \xC3\xA9"
              "crit");
    EXPECT_EQ(run("getfattr --only-values -n user.xdg.comment '" + file + "' 2>/dev/null"),
              "Draft \xC3\xA9"
              "crit");
    std::string text;
    ASSERT_EQ(getComment(item, &text), noErr);
    EXPECT_EQ(text,
              "Draft \x8E"
              "crit");

    // A comment a file manager wrote is read the same way.
    ASSERT_EQ(::lsetxattr(file.c_str(), "user.xdg.comment", "\xE2\x82\xAC 5", 5, 0), 0);
    ASSERT_EQ(getComment(item, &text), noErr);
    EXPECT_EQ(text, "\xDB 5");  // the euro sign is 0xDB in Mac Roman

    // An empty comment removes the attribute; reading then gives empty text.
    ASSERT_EQ(setComment(item, ""), noErr);
    EXPECT_EQ(attribute(file), "<none>");
    ASSERT_EQ(getComment(item, &text), noErr);
    EXPECT_EQ(text, "");
    EXPECT_EQ(testsupport::readText(file), "data");
    AEDisposeDesc(&item);
}

TEST(FinderStandInComments, FoldersAndPlainDescriptorsDesignateItems) {
    TempTree tree;
    const std::string folder = tree.mkdir("albums");
    AEDesc item = itemSpecifier(folder);
    ASSERT_EQ(setComment(item, "photos"), noErr);
    EXPECT_EQ(attribute(folder), "photos");
    AEDisposeDesc(&item);

    // A file URL where the specifier would be.
    const std::string url = "file://" + folder;
    AEDesc byURL = kNull;
    ASSERT_EQ(AECreateDesc(typeFileURL, url.data(), Size(url.size()), &byURL), noErr);
    std::string text;
    ASSERT_EQ(getComment(byURL, &text), noErr);
    EXPECT_EQ(text, "photos");
    AEDisposeDesc(&byURL);
}

TEST(FinderStandInComments, ItemsThatCannotHaveOrGiveACommentAreErrors) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    const std::string link = tree.path("link");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    AEDesc linkItem = itemSpecifier(link);
    EXPECT_EQ(setComment(linkItem, "no"), notAFileErr);
    AEDisposeDesc(&linkItem);

    AEDesc gone = itemSpecifier(file);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(setComment(gone, "no"), fnfErr);
    std::string text = "unchanged";
    SInt32 replyError = 0;
    EXPECT_EQ(getComment(gone, &text, &replyError), fnfErr);
    EXPECT_EQ(replyError, fnfErr);
    EXPECT_EQ(text, "unchanged");
    AEDisposeDesc(&gone);

    // Only the comment property and the alias form are answered.
    const std::string other = tree.write("g", "y");
    AEDesc item = itemSpecifier(other);
    const OSType finder = kFinderSignature;
    AppleEvent event = kNull;
    ASSERT_EQ(AEBuildAppleEvent(
                  kAECoreSuite, kAEGetData, typeApplSignature, &finder, 4, -1, 0, &event, nullptr,
                  "'----':obj {form:prop,want:type(prop),seld:type(ptsd),from:(@)}", &item),
              noErr);
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), errAEEventNotHandled);
    AEDisposeDesc(&event);
    AEDesc byName = kNull;
    ASSERT_EQ(
        AEBuildDesc(&byName, nullptr, "obj {want:type(file),from:'null'(),form:name,seld:“g”}"),
        noErr);
    EXPECT_EQ(setComment(byName, "no"), errAEBadKeyForm);
    AEDisposeDesc(&byName);
    ASSERT_EQ(AEBuildAppleEvent(FOUR_CHAR_CODE("misc"), FOUR_CHAR_CODE("dosc"), typeApplSignature,
                                &finder, 4, -1, 0, &event, nullptr, "'----':(@)", &item),
              noErr);
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), errAEEventNotHandled);
    AEDisposeDesc(&event);
    AEDisposeDesc(&item);
    EXPECT_EQ(attribute(other), "<none>");
}

TEST(FinderStandInComments, RefreshAsksOnlyThatTheItemExists) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    FSRef ref = refOf(file);
    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    const OSType finder = kFinderSignature;
    AppleEvent event = kNull;
    ASSERT_EQ(
        AEBuildAppleEvent(kAEFinderSuite, kAESync, typeApplSignature, &finder, 4, -1, 0, &event,
                          nullptr, "'----':alis(@@)", reinterpret_cast<Handle>(alias)),
        noErr);
    const std::string before = testsupport::snapshot(tree.root());
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), noErr);
    EXPECT_EQ(testsupport::snapshot(tree.root()), before);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(AESend(&event, nullptr, kAENoReply, 0, -1, nullptr, nullptr), fnfErr);
    AEDisposeDesc(&event);
    DisposeHandle(reinterpret_cast<Handle>(alias));
}

TEST(FinderStandInNoUserAttributes, InjectedRefusalIsAnErrorAndChangesNothing) {
    TempTree tree;
    const std::string file = tree.write("f", "x");
    AEDesc item = itemSpecifier(file);
    ASSERT_EQ(setComment(item, "kept"), noErr);
    const std::string before = testsupport::snapshot(tree.root());
    gFailWith = EOPNOTSUPP;
    gFailCall = sysio::Call::SetXattr;
    sysio::setFaultHook(failXattr);
    EXPECT_EQ(setComment(item, "new"), wrgVolTypErr);
    gFailCall = sysio::Call::RemoveXattr;
    EXPECT_EQ(setComment(item, ""), wrgVolTypErr);
    gFailCall = sysio::Call::GetXattr;
    std::string text = "as it was";
    EXPECT_EQ(getComment(item, &text), wrgVolTypErr);
    EXPECT_EQ(text, "as it was");
    gFailWith = ENOSPC;
    gFailCall = sysio::Call::SetXattr;
    EXPECT_EQ(setComment(item, "new"), dskFulErr);
    sysio::setFaultHook(nullptr);
    EXPECT_EQ(testsupport::snapshot(tree.root()), before);
    AEDisposeDesc(&item);
}

// ramfs keeps no extended attributes at all: the kernel refuses user.* there.
TEST(FinderStandInNoUserAttributes, RamfsRefusesAndTheSenderIsTold) {
    TempTree tree;
    const std::string mountPoint = tree.mkdir("ramfs");
    if (::mount("none", mountPoint.c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount ramfs here";
    {
        const std::string file = mountPoint + "/f";
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("data", f);
        std::fclose(f);
        AEDesc item = itemSpecifier(file);
        EXPECT_EQ(setComment(item, "comment"), wrgVolTypErr);
        std::string text = "as it was";
        EXPECT_EQ(getComment(item, &text), wrgVolTypErr);
        EXPECT_EQ(text, "as it was");
        EXPECT_EQ(testsupport::readText(file), "data");
        AEDisposeDesc(&item);
    }
    ::umount2(mountPoint.c_str(), MNT_DETACH);
}
