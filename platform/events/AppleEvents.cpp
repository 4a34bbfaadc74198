#include "platform/events/AppleEvents.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/cf/CoreFoundation.h"
#include "platform/files/Aliases.h"

struct OpaqueAEDataStorageType {
    enum class Kind { Bytes, List, Record } kind = Kind::Bytes;
    std::vector<UInt8> bytes;
    struct Item {
        AEKeyword key;
        AEDesc desc;
    };
    std::vector<Item> items;       // list items, or a record's (an event's) parameters
    std::vector<Item> attributes;  // an Apple event's class, ID, address, return ID
};

namespace {

using Storage = OpaqueAEDataStorageType;
using Kind = Storage::Kind;

struct HandlerEntry {
    AEEventHandlerUPP proc;
    long refcon;
};
std::map<std::pair<AEEventClass, AEEventID>, HandlerEntry> gHandlers;

const AEDesc kNullDesc = {typeNull, nullptr};

Storage* storageOf(const AEDesc* d) {
    return d ? d->dataHandle : nullptr;
}
bool isList(const AEDesc* d) {
    return storageOf(d) && d->dataHandle->kind == Kind::List;
}
bool isRecord(const AEDesc* d) {
    return storageOf(d) && d->dataHandle->kind == Kind::Record;
}

void disposeItems(std::vector<Storage::Item>& items) {
    for (auto& item : items) AEDisposeDesc(&item.desc);
    items.clear();
}

AEDesc deepCopy(const AEDesc& d);

std::vector<Storage::Item> copyItems(const std::vector<Storage::Item>& items) {
    std::vector<Storage::Item> out;
    out.reserve(items.size());
    for (const auto& item : items) out.push_back({item.key, deepCopy(item.desc)});
    return out;
}

AEDesc deepCopy(const AEDesc& d) {
    if (!d.dataHandle) return {d.descriptorType, nullptr};
    auto* s = new Storage;
    s->kind = d.dataHandle->kind;
    s->bytes = d.dataHandle->bytes;
    s->items = copyItems(d.dataHandle->items);
    s->attributes = copyItems(d.dataHandle->attributes);
    return {d.descriptorType, s};
}

AEDesc bytesDesc(DescType type, const void* data, size_t size) {
    auto* s = new Storage;
    auto* p = static_cast<const UInt8*>(data);
    if (size) s->bytes.assign(p, p + size);
    return {type, s};
}

OSErr coerceToFSRef(const AEDesc& d, FSRef* ref) {
    const auto& bytes = d.dataHandle ? d.dataHandle->bytes : std::vector<UInt8>();
    switch (d.descriptorType) {
        case typeAlias:
            return ResolveAliasBytes(bytes.data(), Size(bytes.size()), ref);
        case typeFileURL: {
            // The decoded path is never longer than the URL.
            std::vector<UInt8> path(bytes.size() + 1);
            CFURLRef url = CFURLCreateWithBytes(nullptr, bytes.data(), CFIndex(bytes.size()),
                                                kCFStringEncodingUTF8, nullptr);
            const bool isFile = url && CFURLGetFileSystemRepresentation(url, true, path.data(),
                                                                        CFIndex(path.size()));
            if (url) CFRelease(url);
            if (!isFile) return errAECoercionFail;
            return OSErr(FSPathMakeRef(path.data(), ref, nullptr));
        }
        case typeFSS: {
            if (bytes.size() != sizeof(FSSpec)) return errAECoercionFail;
            FSSpec spec;
            std::memcpy(&spec, bytes.data(), sizeof spec);
            return FSpMakeFSRef(&spec, ref);
        }
        default:
            return errAECoercionFail;
    }
}

const Storage::Item* findKey(const std::vector<Storage::Item>& items, AEKeyword key) {
    for (const auto& item : items)
        if (item.key == key) return &item;
    return nullptr;
}

OSErr putKeyed(std::vector<Storage::Item>& items, AEKeyword key, const AEDesc& d) {
    AEDesc copy = deepCopy(d);
    for (auto& item : items) {
        if (item.key == key) {
            AEDisposeDesc(&item.desc);
            item.desc = copy;
            return noErr;
        }
    }
    items.push_back({key, copy});
    return noErr;
}

OSErr copyOut(const AEDesc& d, DescType desiredType, DescType* typeCode, void* dataPtr,
              Size maximumSize, Size* actualSize) {
    AEDesc coerced = kNullDesc;
    OSErr err = AECoerceDesc(&d, desiredType, &coerced);
    if (err != noErr) return err;
    static const std::vector<UInt8> kNoBytes;  // a null descriptor has no storage
    const auto& bytes = coerced.dataHandle ? coerced.dataHandle->bytes : kNoBytes;
    if (typeCode) *typeCode = coerced.descriptorType;
    if (actualSize) *actualSize = Size(bytes.size());
    if (dataPtr && maximumSize > 0 && !bytes.empty())
        std::memcpy(dataPtr, bytes.data(), std::min<size_t>(size_t(maximumSize), bytes.size()));
    AEDisposeDesc(&coerced);
    return noErr;
}

bool isSelf(const AEDesc* address) {
    if (!address || address->descriptorType != typeProcessSerialNumber || !address->dataHandle ||
        address->dataHandle->bytes.size() != sizeof(ProcessSerialNumber))
        return false;
    ProcessSerialNumber psn, self;
    std::memcpy(&psn, address->dataHandle->bytes.data(), sizeof psn);
    GetCurrentProcess(&self);
    return psn.highLongOfPSN == 0 &&
           (psn.lowLongOfPSN == UInt32(kCurrentProcess) || psn.lowLongOfPSN == self.lowLongOfPSN);
}

}  // namespace

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) {
    if (!result || dataSize < 0 || (dataSize > 0 && !dataPtr)) return paramErr;
    *result = kNullDesc;
    if (typeCode == typeAEList || typeCode == typeAERecord || typeCode == typeAppleEvent)
        return errAEWrongDataType;
    if (typeCode == typeNull && dataSize == 0) return noErr;
    *result = bytesDesc(typeCode, dataPtr, size_t(dataSize));
    return noErr;
}

OSErr AEDisposeDesc(AEDesc* d) {
    if (!d) return paramErr;
    if (Storage* s = d->dataHandle) {
        disposeItems(s->items);
        disposeItems(s->attributes);
        delete s;
    }
    *d = kNullDesc;
    return noErr;
}

OSErr AEDuplicateDesc(const AEDesc* d, AEDesc* result) {
    if (!d || !result) return paramErr;
    *result = deepCopy(*d);
    return noErr;
}

Size AEGetDescDataSize(const AEDesc* d) {
    return d && d->dataHandle && d->dataHandle->kind == Kind::Bytes
               ? Size(d->dataHandle->bytes.size())
               : 0;
}

OSErr AEGetDescData(const AEDesc* d, void* dataPtr, Size maximumSize) {
    if (!d || !dataPtr || maximumSize < 0) return paramErr;
    if (!d->dataHandle) return noErr;
    const auto& bytes = d->dataHandle->bytes;
    if (!bytes.empty())
        std::memcpy(dataPtr, bytes.data(), std::min<size_t>(size_t(maximumSize), bytes.size()));
    return noErr;
}

OSErr AECoerceDesc(const AEDesc* d, DescType toType, AEDesc* result) {
    if (!d || !result) return paramErr;
    *result = kNullDesc;
    if (toType == typeWildCard || toType == d->descriptorType) return AEDuplicateDesc(d, result);
    if (toType == typeAEList) {
        if (isRecord(d) || d->descriptorType == typeNull) return errAECoercionFail;
        AECreateList(nullptr, 0, false, result);
        return AEPutDesc(result, 0, d);
    }
    if (toType == typeFSRef && d->dataHandle && d->dataHandle->kind == Kind::Bytes) {
        FSRef ref;
        OSErr err = coerceToFSRef(*d, &ref);
        if (err != noErr) return err;
        return AECreateDesc(typeFSRef, &ref, sizeof ref, result);
    }
    return errAECoercionFail;
}

OSErr AECreateList(const void*, Size, Boolean isRecord, AEDescList* resultList) {
    if (!resultList) return paramErr;
    auto* s = new Storage;
    s->kind = isRecord ? Kind::Record : Kind::List;
    *resultList = {isRecord ? typeAERecord : typeAEList, s};
    return noErr;
}

OSErr AECountItems(const AEDescList* list, long* count) {
    if (!list || !count) return paramErr;
    if (!isList(list) && !isRecord(list)) return errAEWrongDataType;
    *count = long(list->dataHandle->items.size());
    return noErr;
}

OSErr AEPutDesc(AEDescList* list, long index, const AEDesc* d) {
    if (!list || !d) return paramErr;
    if (!isList(list)) return errAEWrongDataType;
    auto& items = list->dataHandle->items;
    if (index < 0 || index > long(items.size()) + 1) return errAEBadListItem;
    if (index == 0 || index == long(items.size()) + 1) {
        items.push_back({typeWildCard, deepCopy(*d)});
    } else {
        AEDisposeDesc(&items[size_t(index - 1)].desc);
        items[size_t(index - 1)].desc = deepCopy(*d);
    }
    return noErr;
}

OSErr AEPutPtr(AEDescList* list, long index, DescType typeCode, const void* dataPtr,
               Size dataSize) {
    AEDesc d = kNullDesc;
    OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &d);
    if (err != noErr) return err;
    err = AEPutDesc(list, index, &d);
    AEDisposeDesc(&d);
    return err;
}

OSErr AEGetNthDesc(const AEDescList* list, long index, DescType desiredType, AEKeyword* keyword,
                   AEDesc* result) {
    if (!list || !result) return paramErr;
    *result = kNullDesc;
    if (!isList(list) && !isRecord(list)) return errAEWrongDataType;
    const auto& items = list->dataHandle->items;
    if (index < 1 || index > long(items.size())) return errAEBadListItem;
    const auto& item = items[size_t(index - 1)];
    if (keyword) *keyword = item.key;
    return AECoerceDesc(&item.desc, desiredType, result);
}

OSErr AEGetNthPtr(const AEDescList* list, long index, DescType desiredType, AEKeyword* keyword,
                  DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize) {
    if (!list) return paramErr;
    if (!isList(list) && !isRecord(list)) return errAEWrongDataType;
    const auto& items = list->dataHandle->items;
    if (index < 1 || index > long(items.size())) return errAEBadListItem;
    const auto& item = items[size_t(index - 1)];
    if (keyword) *keyword = item.key;
    return copyOut(item.desc, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEPutKeyDesc(AERecord* record, AEKeyword keyword, const AEDesc* d) {
    if (!record || !d) return paramErr;
    if (!isRecord(record)) return errAEWrongDataType;
    return putKeyed(record->dataHandle->items, keyword, *d);
}

OSErr AEPutKeyPtr(AERecord* record, AEKeyword keyword, DescType typeCode, const void* dataPtr,
                  Size dataSize) {
    AEDesc d = kNullDesc;
    OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &d);
    if (err != noErr) return err;
    err = AEPutKeyDesc(record, keyword, &d);
    AEDisposeDesc(&d);
    return err;
}

OSErr AEGetKeyDesc(const AERecord* record, AEKeyword keyword, DescType desiredType,
                   AEDesc* result) {
    if (!record || !result) return paramErr;
    *result = kNullDesc;
    if (!isRecord(record)) return errAEWrongDataType;
    const auto* item = findKey(record->dataHandle->items, keyword);
    if (!item) return errAEDescNotFound;
    return AECoerceDesc(&item->desc, desiredType, result);
}

OSErr AECreateAppleEvent(AEEventClass eventClass, AEEventID eventID, const AEAddressDesc* target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent* result) {
    if (!result) return paramErr;
    *result = kNullDesc;
    auto* s = new Storage;
    s->kind = Kind::Record;
    AEDesc d = bytesDesc(typeType, &eventClass, sizeof eventClass);
    s->attributes.push_back({keyEventClassAttr, d});
    s->attributes.push_back({keyEventIDAttr, bytesDesc(typeType, &eventID, sizeof eventID)});
    s->attributes.push_back({keyReturnIDAttr, bytesDesc(typeSInt16, &returnID, sizeof returnID)});
    s->attributes.push_back(
        {keyTransactionIDAttr, bytesDesc(typeSInt32, &transactionID, sizeof transactionID)});
    if (target) s->attributes.push_back({keyAddressAttr, deepCopy(*target)});
    *result = {typeAppleEvent, s};
    return noErr;
}

OSErr AEPutParamDesc(AppleEvent* event, AEKeyword keyword, const AEDesc* d) {
    return AEPutKeyDesc(event, keyword, d);
}

OSErr AEPutParamPtr(AppleEvent* event, AEKeyword keyword, DescType typeCode, const void* dataPtr,
                    Size dataSize) {
    return AEPutKeyPtr(event, keyword, typeCode, dataPtr, dataSize);
}

OSErr AEGetParamDesc(const AppleEvent* event, AEKeyword keyword, DescType desiredType,
                     AEDesc* result) {
    return AEGetKeyDesc(event, keyword, desiredType, result);
}

OSErr AEGetParamPtr(const AppleEvent* event, AEKeyword keyword, DescType desiredType,
                    DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize) {
    if (!event) return paramErr;
    if (!isRecord(event)) return errAEWrongDataType;
    const auto* item = findKey(event->dataHandle->items, keyword);
    if (!item) return errAEDescNotFound;
    return copyOut(item->desc, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEGetAttributePtr(const AppleEvent* event, AEKeyword keyword, DescType desiredType,
                        DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize) {
    if (!event) return paramErr;
    if (!isRecord(event)) return errAEWrongDataType;
    const auto* item = findKey(event->dataHandle->attributes, keyword);
    if (!item) return errAEDescNotFound;
    return copyOut(item->desc, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEInstallEventHandler(AEEventClass eventClass, AEEventID eventID, AEEventHandlerUPP handler,
                            long refcon, Boolean) {
    if (!handler) return paramErr;
    gHandlers[{eventClass, eventID}] = {handler, refcon};
    return noErr;
}

OSErr AERemoveEventHandler(AEEventClass eventClass, AEEventID eventID, AEEventHandlerUPP handler,
                           Boolean) {
    auto it = gHandlers.find({eventClass, eventID});
    if (it == gHandlers.end() || (handler && it->second.proc != handler)) return errAEDescNotFound;
    gHandlers.erase(it);
    return noErr;
}

OSErr AEDeliverAppleEvent(const AppleEvent* event, AppleEvent* reply) {
    if (!event || event->descriptorType != typeAppleEvent || !isRecord(event)) return paramErr;
    AEEventClass eventClass = 0;
    AEEventID eventID = 0;
    AEGetAttributePtr(event, keyEventClassAttr, typeType, nullptr, &eventClass, sizeof eventClass,
                      nullptr);
    AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &eventID, sizeof eventID, nullptr);
    const std::pair<AEEventClass, AEEventID> keys[] = {{eventClass, eventID},
                                                       {eventClass, typeWildCard},
                                                       {typeWildCard, eventID},
                                                       {typeWildCard, typeWildCard}};
    for (const auto& key : keys) {
        auto it = gHandlers.find(key);
        if (it == gHandlers.end()) continue;
        AppleEvent scratch = kNullDesc;
        AppleEvent* r = reply ? reply : &scratch;
        OSErr err = it->second.proc(event, r, it->second.refcon);
        AEDisposeDesc(&scratch);
        return err;
    }
    return errAEEventNotHandled;
}

namespace {

struct InProcessAddressee {
    AEAddresseeMatchProc matches;
    AEAddresseeReceiveProc receive;
};

std::vector<InProcessAddressee>& inProcessAddressees() {
    static std::vector<InProcessAddressee> addressees;
    return addressees;
}

}  // namespace

void AERegisterInProcessAddressee(AEAddresseeMatchProc matches, AEAddresseeReceiveProc receive) {
    if (!matches || !receive) return;
    auto& addressees = inProcessAddressees();
    for (const auto& a : addressees)
        if (a.matches == matches && a.receive == receive) return;
    addressees.push_back({matches, receive});
}

OSErr AESend(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode, AESendPriority,
             SInt32, AEIdleUPP, AEFilterUPP) {
    if (!event || event->descriptorType != typeAppleEvent || !isRecord(event)) return paramErr;
    if (reply) *reply = kNullDesc;
    const auto* address = findKey(event->dataHandle->attributes, keyAddressAttr);
    // A program served in this process (the Finder's stand-in) answers at once.
    if (address)
        for (const auto& a : inProcessAddressees())
            if (a.matches(&address->desc)) return a.receive(event, reply, sendMode);
    if (!address || !isSelf(&address->desc)) return procNotFound;
    const AESendMode replyMode = sendMode & 0x3;
    if (replyMode == kAEWaitReply) {
        if (reply)
            AECreateAppleEvent(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("ansr"), nullptr, 0, 0,
                               reply);
        return AEDeliverAppleEvent(event, reply);
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return procNotFound;
    // The queued copy belongs to the delivery; the caller may dispose its own.
    auto* copy = new AppleEvent(deepCopy(*event));
    QMetaObject::invokeMethod(
        app,
        [copy]() {
            AEDeliverAppleEvent(copy, nullptr);
            AEDisposeDesc(copy);
            delete copy;
        },
        Qt::QueuedConnection);
    return noErr;
}

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    *psn = {0, UInt32(getpid())};
    return noErr;
}
