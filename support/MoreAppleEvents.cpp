#include "support/MoreAppleEvents.h"

#include <algorithm>

#include "platform/base/MacMemory.h"
#include "platform/events/AEBuild.h"
#include "platform/events/AEObjects.h"
#include "platform/events/FinderStandIn.h"
#include "platform/files/Aliases.h"

const OSType gFinderSignature = kFinderSignature;

namespace {

constexpr AEDesc kNullDesc = {typeNull, nullptr};

// The error number a handler put into the reply, if any.
OSStatus replyError(const AppleEvent* reply) {
    SInt32 number = 0;
    if (reply->descriptorType == typeAppleEvent &&
        AEGetParamPtr(reply, keyErrorNumber, typeSInt32, nullptr, &number, sizeof number,
                      nullptr) == noErr)
        return number;
    return noErr;
}

// The object's class for a specifier: a disk for "/", a folder or a file.
DescType classOf(const FSRef* ref) {
    FSCatalogInfo info{};
    if (FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoNodeID, &info, nullptr, nullptr,
                         nullptr) != noErr)
        return cObject;
    if (info.nodeID == fsRtDirID) return cDisk;
    return (info.nodeFlags & kFSNodeIsDirectoryMask) ? cFolder : cFile;
}

}  // namespace

OSErr MoreAEOCreateObjSpecifierFromFSRef(const FSRef* ref, AEDesc* objSpecifier) {
    if (!objSpecifier) return paramErr;
    *objSpecifier = kNullDesc;
    if (!ref) return paramErr;
    AliasHandle alias = nullptr;
    OSErr err = FSNewAlias(nullptr, ref, &alias);
    if (err != noErr) return err;
    Handle h = reinterpret_cast<Handle>(alias);
    AEDesc aliasDesc = kNullDesc;
    err = AECreateDesc(typeAlias, *h, GetHandleSize(h), &aliasDesc);
    DisposeHandle(h);
    if (err != noErr) return err;
    AEDesc application = kNullDesc;
    return CreateObjSpecifier(classOf(ref), &application, formAlias, &aliasDesc, true,
                              objSpecifier);
}

OSStatus MoreAESendEventNoReturnValue(AEIdleUPP idleProc, const AppleEvent* event) {
    if (!event) return paramErr;
    AppleEvent reply = kNullDesc;
    const AESendMode mode = idleProc ? kAEWaitReply : kAENoReply;
    OSStatus err =
        AESend(event, &reply, mode, kAENormalPriority, kAEDefaultTimeout, idleProc, nullptr);
    if (err == noErr) err = replyError(&reply);
    AEDisposeDesc(&reply);
    return err;
}

OSStatus MoreAESendEventReturnPString(AEIdleUPP idleProc, const AppleEvent* event, Str255 pStr) {
    if (!event || !pStr) return paramErr;
    AppleEvent reply = kNullDesc;
    OSStatus err = AESend(event, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout,
                          idleProc, nullptr);
    if (err == noErr) err = replyError(&reply);
    if (err == noErr) {
        unsigned char text[255];
        Size actual = 0;
        err = AEGetParamPtr(&reply, keyDirectObject, typeChar, nullptr, text, sizeof text, &actual);
        if (err == noErr) {
            const Size n = std::min<Size>(actual, 255);
            pStr[0] = UInt8(n);
            std::copy(text, text + n, pStr + 1);
        }
    }
    AEDisposeDesc(&reply);
    return err;
}

void MoreAEDisposeDesc(AEDesc* desc) {
    if (desc) AEDisposeDesc(desc);
}

OSErr MoreFEUpdateItemFSRef(const FSRef* ref) {
    if (!ref) return paramErr;
    AliasHandle alias = nullptr;
    OSErr err = FSNewAlias(nullptr, ref, &alias);
    if (err != noErr) return err;
    AppleEvent event = kNullDesc;
    err = OSErr(AEBuildAppleEvent(kAEFinderSuite, kAESync, typeApplSignature, &gFinderSignature,
                                  sizeof gFinderSignature, kAutoGenerateReturnID, kAnyTransactionID,
                                  &event, nullptr, "'----':alis(@@)",
                                  reinterpret_cast<Handle>(alias)));
    DisposeHandle(reinterpret_cast<Handle>(alias));
    if (err == noErr) err = OSErr(MoreAESendEventNoReturnValue(nullptr, &event));
    AEDisposeDesc(&event);
    return err;
}
