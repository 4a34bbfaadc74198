#include "platform/events/FinderStandIn.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/TextEncoding.h"
#include "platform/events/AEObjects.h"
#include "platform/files/FileErrors.h"
#include "platform/files/linux/PathNodes.h"
#include "platform/files/linux/SysIO.h"

const char* const kFinderCommentAttribute = "user.xdg.comment";

using namespace pathnodes;

namespace {

constexpr AEDesc kNullDesc = {typeNull, nullptr};

class OwnedDesc {
public:
    OwnedDesc() = default;
    ~OwnedDesc() { AEDisposeDesc(&desc_); }
    OwnedDesc(const OwnedDesc&) = delete;
    OwnedDesc& operator=(const OwnedDesc&) = delete;
    AEDesc* get() { return &desc_; }

private:
    AEDesc desc_ = kNullDesc;
};

class OwnedFd {
public:
    OwnedFd() = default;
    ~OwnedFd() {
        if (fd_ >= 0) sysio::close(fd_);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    void reset(int fd) { fd_ = fd; }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

std::string bytesOf(const AEDesc& d) {
    std::string out(std::size_t(AEGetDescDataSize(&d)), '\0');
    if (!out.empty()) AEGetDescData(&d, out.data(), Size(out.size()));
    return out;
}

// A four-character code stored under key in a record ('type' or 'enum' data).
bool codeAt(const AEDesc& record, AEKeyword key, FourCharCode* out) {
    OwnedDesc d;
    if (AEGetKeyDesc(&record, key, typeWildCard, d.get()) != noErr) return false;
    if (AEGetDescDataSize(d.get()) != Size(sizeof *out)) return false;
    AEGetDescData(d.get(), out, sizeof *out);
    return true;
}

OSErr resolveItem(const AEDesc& item, FSRef* ref) {
    const AEDesc* designation = &item;
    OwnedDesc keyData;
    if (item.descriptorType == typeObjectSpecifier) {
        FourCharCode form = 0;
        if (!codeAt(item, keyAEKeyForm, &form)) return errAENoSuchObject;
        if (form != formAlias) return errAEBadKeyForm;
        if (AEGetKeyDesc(&item, keyAEKeyData, typeWildCard, keyData.get()) != noErr)
            return errAENoSuchObject;
        designation = keyData.get();
    }
    OwnedDesc asRef;
    OSErr err = AECoerceDesc(designation, typeFSRef, asRef.get());
    if (err != noErr) return err == errAECoercionFail ? OSErr(errAENoSuchObject) : err;
    if (AEGetDescDataSize(asRef.get()) != Size(sizeof *ref)) return errAENoSuchObject;
    return AEGetDescData(asRef.get(), ref, sizeof *ref);
}

// The item whose comment the direct object {form:prop, seld:type(comt), from:item} asks for.
OSErr commentItem(const AppleEvent* event, FSRef* ref) {
    OwnedDesc direct;
    OSErr err = AEGetParamDesc(event, keyDirectObject, typeWildCard, direct.get());
    if (err != noErr) return err;
    FourCharCode form = 0, property = 0;
    if (direct.get()->descriptorType != typeObjectSpecifier ||
        !codeAt(*direct.get(), keyAEKeyForm, &form) || form != formPropertyID ||
        !codeAt(*direct.get(), keyAEKeyData, &property) || property != pComment)
        return errAEEventNotHandled;
    OwnedDesc container;
    if (AEGetKeyDesc(direct.get(), keyAEContainer, typeWildCard, container.get()) != noErr)
        return errAENoSuchObject;
    return resolveItem(*container.get(), ref);
}

OSErr attributeError(int e) {
    return (e == ENOTSUP || e == EOPNOTSUPP) ? OSErr(wrgVolTypErr) : errnoToOSErr(e);
}

// Opens a file or folder for its attributes, without following a link and
// without blocking, and checks it is the object the reference designates.
OSErr openItem(const FSRef* ref, OwnedFd* fd) {
    Located object;
    OSErr err = locate(ref, &object);
    if (err != noErr) return err;
    if (!isRegular(object.sx) && !isFolder(object.sx)) return notAFileErr;
    const int opened = sysio::openat(object.folder.get(), object.name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (opened < 0) return errnoToOSErr(errno);
    fd->reset(opened);
    struct stat st;
    if (::fstat(opened, &st) != 0) return errnoToOSErr(errno);
    if (st.st_ino != object.sx.stx_ino) return fnfErr;
    return noErr;
}

OSErr readComment(const FSRef* ref, std::string* utf8) {
    OwnedFd fd;
    OSErr err = openItem(ref, &fd);
    if (err != noErr) return err;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = sysio::fgetxattr(fd.get(), kFinderCommentAttribute, nullptr, 0);
        if (size < 0) {
            if (errno == ENODATA) {
                utf8->clear();
                return noErr;
            }
            return attributeError(errno);
        }
        utf8->assign(std::size_t(size), '\0');
        ssize_t got =
            sysio::fgetxattr(fd.get(), kFinderCommentAttribute, utf8->data(), utf8->size());
        if (got >= 0) {
            utf8->resize(std::size_t(got));
            return noErr;
        }
        if (errno != ERANGE)
            return errno == ENODATA ? (utf8->clear(), OSErr(noErr)) : attributeError(errno);
        // It grew between the two calls: ask again.
    }
    return fBsyErr;
}

OSErr writeComment(const FSRef* ref, const std::string& utf8) {
    OwnedFd fd;
    OSErr err = openItem(ref, &fd);
    if (err != noErr) return err;
    if (utf8.empty()) {
        if (sysio::fremovexattr(fd.get(), kFinderCommentAttribute) != 0 && errno != ENODATA)
            return attributeError(errno);
        return noErr;
    }
    if (sysio::fsetxattr(fd.get(), kFinderCommentAttribute, utf8.data(), utf8.size(), 0) != 0)
        return attributeError(errno);
    return noErr;
}

OSErr commentText(const AppleEvent* event, std::string* utf8) {
    OwnedDesc data;
    OSErr err = AEGetParamDesc(event, keyAEData, typeWildCard, data.get());
    if (err != noErr) return err;
    const std::string bytes = bytesOf(*data.get());
    switch (data.get()->descriptorType) {
        case typeChar:
            *utf8 = Utf8FromMacRoman(bytes);
            return noErr;
        case typeUTF8Text:
            *utf8 = bytes;
            return noErr;
        case typeUnicodeText:
            *utf8 = Utf8FromUtf16(std::u16string_view(
                reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2));
            return noErr;
        default:
            return errAEWrongDataType;
    }
}

OSErr handle(const AppleEvent* event, AEEventClass eventClass, AEEventID eventID,
             AppleEvent* reply) {
    FSRef item;
    OSErr err;
    if (eventClass == kAECoreSuite && eventID == kAEGetData) {
        if ((err = commentItem(event, &item)) != noErr) return err;
        std::string utf8;
        if ((err = readComment(&item, &utf8)) != noErr) return err;
        if (!reply) return noErr;
        const std::string text = MacRomanFromUtf8(utf8);
        return AEPutParamPtr(reply, keyDirectObject, typeChar, text.data(), Size(text.size()));
    }
    if (eventClass == kAECoreSuite && eventID == kAESetData) {
        if ((err = commentItem(event, &item)) != noErr) return err;
        std::string utf8;
        if ((err = commentText(event, &utf8)) != noErr) return err;
        return writeComment(&item, utf8);
    }
    if (eventClass == kAEFinderSuite && eventID == kAESync) {
        OwnedDesc direct;
        if ((err = AEGetParamDesc(event, keyDirectObject, typeWildCard, direct.get())) != noErr)
            return err;
        return resolveItem(*direct.get(), &item);
    }
    return errAEEventNotHandled;
}

}  // namespace

bool FinderStandInIsAddressee(const AEDesc* address) {
    if (!address || address->descriptorType != typeApplSignature ||
        AEGetDescDataSize(address) != Size(sizeof(OSType)))
        return false;
    OSType signature = 0;
    AEGetDescData(address, &signature, sizeof signature);
    return signature == kFinderSignature;
}

OSErr FinderStandInReceive(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode) {
    if (!event || event->descriptorType != typeAppleEvent) return paramErr;
    const bool wantsReply = (sendMode & 0x3) == kAEWaitReply && reply;
    if (wantsReply) {
        OSErr err = AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 0, 0, reply);
        if (err != noErr) return err;
    }
    AEEventClass eventClass = 0;
    AEEventID eventID = 0;
    AEGetAttributePtr(event, keyEventClassAttr, typeType, nullptr, &eventClass, sizeof eventClass,
                      nullptr);
    AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &eventID, sizeof eventID, nullptr);
    const OSErr err = handle(event, eventClass, eventID, wantsReply ? reply : nullptr);
    if (err != noErr && wantsReply) {
        const SInt32 number = err;
        AEPutParamPtr(reply, keyErrorNumber, typeSInt32, &number, sizeof number);
    }
    return err;
}

void InstallFinderStandIn() {
    AERegisterInProcessAddressee(FinderStandInIsAddressee, FinderStandInReceive);
}
