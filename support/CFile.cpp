#include "support/CFile.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/base/BigEndian.h"
#include "platform/base/MacMemory.h"
#include "platform/base/TextEncoding.h"
#include "platform/base/TextUtils.h"
#include "platform/events/AEBuild.h"
#include "platform/events/AEObjects.h"
#include "platform/files/FilesExtra.h"
#include "support/AEIdle.h"
#include "support/DisplayName.h"
#include "support/MoreAppleEvents.h"

namespace {

constexpr TextEncoding kTextEncodingUnknown = 0xFFFF;
constexpr UInt16 kNoCacheMask = 0x20;
constexpr AEDesc kNullDesc = {typeNull, nullptr};

// A Mac Roman name as UTF-16 text from NewPtr, released when this goes.
class UnicodeName {
public:
    explicit UnicodeName(const char* macRoman) {
        SetUnicodeTextFromASCII_C_Chars(macRoman, &units_, &length_);
    }
    ~UnicodeName() { DisposePtr(reinterpret_cast<Ptr>(units_)); }
    UnicodeName(const UnicodeName&) = delete;
    UnicodeName& operator=(const UnicodeName&) = delete;
    const UniChar* units() const { return units_; }
    UInt32 length() const { return length_; }

private:
    UniChar* units_ = nullptr;
    UInt32 length_ = 0;
};

// Reads the 4 bytes of Finder info at `offset` (0 type, 4 creator).
OSErr getFinderCode(const FSRef& ref, std::size_t offset, unsigned long& code) {
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr);
    code = err == noErr ? bigendian::readU32(info.finderInfo + offset) : 0;
    return err;
}

OSErr setFinderCode(const FSRef& ref, std::size_t offset, unsigned long code) {
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr);
    if (err != noErr) return err;
    bigendian::writeU32(info.finderInfo + offset, UInt32(code));
    return FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info);
}

// The whole data fork in a new array, and its length; null unless every byte
// was read.
char* readDataFork(const FSRef& ref, unsigned long* count) {
    *count = 0;
    FSIORefNum refNum;
    if (FSOpenFork(&ref, 0, nullptr, fsRdPerm, &refNum) != noErr) return nullptr;
    SInt64 size = 0;
    if (FSGetForkSize(refNum, &size) != noErr || size < 0 || UInt64(size) > 0xFFFFFFFFu) {
        FSClose(refNum);
        return nullptr;
    }
    char* array = new (std::nothrow) char[std::size_t(size)];
    if (!array) {
        FSClose(refNum);
        return nullptr;
    }
    // One read; the kernel hands out at most about 2 GiB per call, so a
    // larger fork takes more than one.
    UInt64 total = 0;
    OSErr err = FSSetForkPosition(refNum, fsFromStart, 0);
    while (err == noErr && total < UInt64(size)) {
        ByteCount actual = 0;
        err = FSReadFork(refNum, fsAtMark | kNoCacheMask, 0, ByteCount(UInt64(size) - total),
                         array + total, &actual);
        total += actual;
        if (err == eofErr && actual > 0 && total < UInt64(size)) err = noErr;
        if (err == noErr && actual == 0) break;
    }
    FSClose(refNum);
    if (total != UInt64(size)) {
        delete[] array;
        return nullptr;
    }
    *count = static_cast<unsigned long>(size);
    return array;
}

// The name cut from a path, as UTF-16 that stands for the same bytes on disk
// as the path itself does.
std::u16string nameOfPath(const std::string& name) {
    return Utf16FromFileName(name);
}

}  // namespace

// ---- Tests and queries ----------------------------------------------------

Boolean CFile::IsADirectory(const FSRef& ref) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr) != noErr)
        return false;  // whatever it is, the fork operation or the walk will meet its error
    return (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
}

Boolean CFile::IsAFile(const FSRef& ref) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr) != noErr)
        return 0;
    return (info.nodeFlags & kFSNodeIsDirectoryMask) ? 0 : 1;
}

Boolean CFile::FileIsAliasedDirectory(const FSRef* ref) {
    Boolean isAlias = false, isFolder = false;
    FSIsAliasFile(ref, &isAlias, &isFolder);
    return isAlias && isFolder;
}

OSErr CFile::FSGetType(const FSRef& ref, unsigned long& type) {
    return getFinderCode(ref, 0, type);
}

OSErr CFile::FSGetCreator(const FSRef& ref, unsigned long& creator) {
    return getFinderCode(ref, 4, creator);
}

OSErr CFile::FSGetSize(const FSRef& ref, unsigned long long& size) {
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info, nullptr,
                                 nullptr, nullptr);
    size = err == noErr ? info.dataLogicalSize + info.rsrcLogicalSize : 0;
    return err;
}

OSErr CFile::FSGetModDateAsUInt32(const FSRef& ref, unsigned long& date) {
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoContentMod, &info, nullptr, nullptr, nullptr);
    date = err == noErr ? info.contentModDate.lowSeconds : 0;
    return err;
}

Boolean CFile::FSObjectExists(const FSRef& ref, FSRef& parent) {
    return FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, nullptr, &parent) == noErr;
}

Boolean CFile::FSObjectExists(const FSRef& parent, const CString256& name, FSRef& ref) {
    UnicodeName unicode(name.text);
    // Only a name that is certainly absent counts as free: callers create
    // under it, so a look-up that failed for any other reason (no access, a
    // parent that is no folder, a passing I/O error) must not invite them to.
    return FSMakeFSRefUnicode(&parent, unicode.length(), unicode.units(), kTextEncodingUnknown,
                              &ref) != fnfErr;
}

OSErr CFile::FSMakeFSSpec(const FSRef* ref, FSSpec* spec) {
    return FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr);
}

OSErr CFile::FSGetPascalPath(const FSRef& ref, unsigned char* path) {
    UInt8 buffer[255];
    OSStatus err = FSRefMakePath(&ref, buffer, sizeof buffer);
    if (err == noErr) CopyCStringToPascal(reinterpret_cast<const char*>(buffer), path);
    return OSErr(err);
}

OSErr CFile::FSGetObjectName(const FSRef& ref, CString256& name) {
    HFSUniStr255 unicode;
    OSErr err = FSGetFileDirName(&ref, &unicode);
    if (err != noErr) return err;
    char* text = nullptr;
    SetASCII_C_CharsFromUnicodeText(&text, unicode.unicode, unicode.length);
    name = text;  // null gives the empty string
    DisposePtr(text);
    return noErr;
}

// ---- Setters ---------------------------------------------------------------

OSErr CFile::FSSetType(const FSRef& ref, const unsigned long& type) {
    return setFinderCode(ref, 0, type);
}

OSErr CFile::FSSetCreator(const FSRef& ref, const unsigned long& creator) {
    return setFinderCode(ref, 4, creator);
}

OSErr CFile::FSSetName(FSRef& ref, const CString256& name) {
    UnicodeName unicode(name.text);
    return FSRenameUnicode(&ref, unicode.length(), unicode.units(), kTextEncodingUnknown, &ref);
}

OSErr CFile::FSSetModCreateDate(const FSRef& ref, const UTCDateTime* modDate,
                                const UTCDateTime* createDate) {
    if (!modDate || !createDate) return paramErr;
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoCreateDate | kFSCatInfoContentMod, &info, nullptr,
                                 nullptr, nullptr);
    if (err != noErr) return err;
    info.contentModDate = *modDate;
    info.createDate = *createDate;
    err = FSSetCatalogInfo(&ref, kFSCatInfoCreateDate | kFSCatInfoContentMod, &info);
    MoreFEUpdateItemFSRef(&ref);
    return err;
}

OSErr CFile::FSSetModCreateAccessDate(const FSRef& ref, const UTCDateTime* date) {
    if (!date) return paramErr;
    constexpr FSCatalogInfoBitmap kDates =
        kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoAttrMod;
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(&ref, kDates, &info, nullptr, nullptr, nullptr);
    if (err != noErr) return err;
    info.createDate = info.contentModDate = info.attributeModDate = *date;
    err = FSSetCatalogInfo(&ref, kDates, &info);
    // Reading a byte is what moves the access date.
    FSIORefNum refNum;
    if (FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &refNum) == noErr) {
        char scratch;
        if (FSSetForkPosition(refNum, fsFromStart, 0) == noErr)
            FSReadFork(refNum, fsAtMark | kNoCacheMask, 0, 1, &scratch, nullptr);
        FSClose(refNum);
    }
    MoreFEUpdateItemFSRef(&ref);
    return err;
}

// The Finder event that sets (`text` given) or gets the comment of `ref`.
static OSErr commentEvent(const FSRef& ref, AEEventID id, const char* text, AppleEvent* event) {
    AEDesc objSpec = kNullDesc;
    OSErr err = MoreAEOCreateObjSpecifierFromFSRef(&ref, &objSpec);
    if (err != noErr) return err;
    AEBuildError buildError;
    err = OSErr(AEBuildAppleEvent(
        kAECoreSuite, id, typeApplSignature, &gFinderSignature, sizeof gFinderSignature,
        kAutoGenerateReturnID, kAnyTransactionID, event, &buildError,
        text ? "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)},data:'TEXT'(@)"
             : "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)}",
        &objSpec, text));
    MoreAEDisposeDesc(&objSpec);
    return err;
}

OSErr CFile::FSSetComment(const FSRef& ref, const CString256& comment) {
    AppleEvent event = kNullDesc;
    OSErr err = commentEvent(ref, kAESetData, comment.text, &event);
    if (err == noErr) err = OSErr(MoreAESendEventNoReturnValue(nullptr, &event));
    MoreAEDisposeDesc(&event);
    return err;
}

OSErr CFile::FSGetComment(const FSRef& ref, CString256& comment) {
    AppleEvent event = kNullDesc;
    OSErr err = commentEvent(ref, kAEGetData, nullptr, &event);
    if (err != noErr) return err;
    Str255 text;
    text[0] = 0;
    err = OSErr(MoreAESendEventReturnPString(gAEIdleUPP, &event, text));
    if (err == noErr && text[0] > 0) comment = text;
    MoreAEDisposeDesc(&event);
    return err;
}

// ---- Creation --------------------------------------------------------------

OSErr CFile::FSCreateFile(const FSRef& parent, const CString256& name, FSRef& newRef) {
    UnicodeName unicode(name.text);
    OSErr err = FSMakeFSRefUnicode(&parent, unicode.length(), unicode.units(), kTextEncodingUnknown,
                                   &newRef);
    if (err != fnfErr) return err;  // there already (0), or the look-up failed
    err = FSCreateFileUnicode(&parent, unicode.length(), unicode.units(), kFSCatInfoNone, nullptr,
                              &newRef, nullptr);
    if (err == noErr) MoreFEUpdateItemFSRef(&newRef);
    return err;
}

OSErr CFile::FSCreateFile(const FSRef& parent, const CString256& name, unsigned long creator,
                          unsigned long type, FSRef& newRef) {
    OSErr err = FSCreateFile(parent, name, newRef);
    if (err == noErr) {
        FSSetType(newRef, type);
        FSSetCreator(newRef, creator);
    }
    return err;
}

OSErr CFile::FSCreateDirectory(const FSRef& parent, const CString256& name, FSRef& newRef) {
    UnicodeName unicode(name.text);
    OSErr err = FSMakeFSRefUnicode(&parent, unicode.length(), unicode.units(), kTextEncodingUnknown,
                                   &newRef);
    if (err != fnfErr) return err;
    return FSCreateDirectoryUnicode(&parent, unicode.length(), unicode.units(), kFSCatInfoNone,
                                    nullptr, &newRef, nullptr, nullptr);
}

OSErr CFile::FSCreateFile(const CString256& path, FSRef& newRef) {
    Boolean isDirectory;
    OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.text), &newRef, &isDirectory);
    if (err != fnfErr) return OSErr(err);  // there already (0), or unreachable
    const std::string whole(path.text);
    const std::size_t slash = whole.rfind('/');
    const std::string name = slash == std::string::npos ? whole : whole.substr(slash + 1);
    const std::string parentPath = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : whole.substr(0, slash);
    const std::u16string unicode = nameOfPath(name);
    FSRef parentRef;
    err =
        FSPathMakeRef(reinterpret_cast<const UInt8*>(parentPath.c_str()), &parentRef, &isDirectory);
    if (err != noErr) return OSErr(err);
    err = FSCreateFileUnicode(&parentRef, UniCharCount(unicode.size()),
                              reinterpret_cast<const UniChar*>(unicode.data()), kFSCatInfoNone,
                              nullptr, &newRef, nullptr);
    if (err != noErr) return OSErr(err);
    MoreFEUpdateItemFSRef(&newRef);
    return noErr;
}

OSErr CFile::FSCreateFile(const CString256& path, unsigned long creator, unsigned long type,
                          FSRef& newRef) {
    OSErr err = FSCreateFile(path, newRef);
    if (err == noErr) {
        FSSetType(newRef, type);
        FSSetCreator(newRef, creator);
    }
    return err;
}

// ---- Whole data fork -------------------------------------------------------

char* CFile::ReadFile(const FSRef& ref) {
    unsigned long count;
    return readDataFork(ref, &count);
}

char* CFile::ReadFile(const CString256& path, long* size) {
    if (size) *size = 0;
    FSRef ref;
    Boolean isDirectory;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.text), &ref, &isDirectory) != noErr)
        return nullptr;
    unsigned long count;
    char* array = readDataFork(ref, &count);
    if (array && size) *size = long(count);
    return array;
}

char* CFile::ReadFile(short vRefNum, long dirID, const unsigned char* name) {
    FSRef ref;
    if (FSMakeFSRef(vRefNum, SInt32(dirID), name, &ref) != noErr) return nullptr;
    return ReadFile(ref);
}

OSErr CFile::WriteFile(const FSRef& ref, const char* data, unsigned long count) {
    if (count > 0xFFFFFFFFul) return paramErr;
    FSIORefNum refNum;
    OSErr err = FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &refNum);
    if (err != noErr) return err;
    err = FSSetForkPosition(refNum, fsFromStart, 0);
    if (err == noErr)
        err = FSWriteFork(refNum, fsAtMark | kNoCacheMask, 0, ByteCount(count), data, nullptr);
    FSClose(refNum);
    return err;
}

OSErr CFile::WriteFile(const char* path, const char* data, unsigned long count) {
    if (!path) return paramErr;
    if (std::strlen(path) > CString256::kCapacity) return pathTooLongErr;
    CString256 text(path);
    FSRef ref;
    OSErr err = FSCreateFile(text, ref);
    if (err != noErr) return err;
    return WriteFile(ref, data, count);
}

// ---- Conversion ------------------------------------------------------------

OSErr CFile::GetFSRefFromAEDesc(FSRef* ref, const AEDesc* desc) {
    if (!ref || !desc) return paramErr;
    OSErr err;
    AEDesc temporary = kNullDesc;
    const AEDesc* source = desc;
    if (desc->descriptorType != typeFSRef) {
        err = AECoerceDesc(desc, typeFSRef, &temporary);
        source = &temporary;
    } else {
        err = noErr;
    }
    if (err == noErr)
        err = AEGetDescDataSize(source) == Size(sizeof *ref)
                  ? AEGetDescData(source, ref, sizeof *ref)
                  : OSErr(errAECoercionFail);
    AEDisposeDesc(&temporary);
    if (err == noErr) return noErr;

    FSSpec spec;
    AEDesc second = kNullDesc;
    source = desc;
    if (desc->descriptorType != typeFSS) {
        err = AECoerceDesc(desc, typeFSS, &second);
        source = &second;
    } else {
        err = noErr;
    }
    if (err == noErr)
        err = AEGetDescDataSize(source) == Size(sizeof spec)
                  ? AEGetDescData(source, &spec, sizeof spec)
                  : OSErr(errAECoercionFail);
    AEDisposeDesc(&second);
    if (err != noErr) return err;
    return FSpMakeFSRef(&spec, ref);
}
