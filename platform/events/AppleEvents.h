// Apple-event descriptors (a type code plus bytes), descriptor lists and
// records, Apple events with their handlers, sending to the application itself
// through the Qt event loop, and the coercions the application reads items
// with ('alis', 'furl' and 'fss ' to 'fsrf'; any single descriptor to 'list').
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

struct OpaqueAEDataStorageType;
using AEDataStorage = OpaqueAEDataStorageType*;

struct AEDesc {
    DescType descriptorType;
    AEDataStorage dataHandle;
};
using AEDescList = AEDesc;
using AERecord = AEDescList;
using AppleEvent = AERecord;
using AEAddressDesc = AEDesc;

using AEKeyword = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEReturnID = SInt16;
using AETransactionID = SInt32;
using AESendMode = SInt32;
using AESendPriority = SInt16;

struct ProcessSerialNumber {
    UInt32 highLongOfPSN;
    UInt32 lowLongOfPSN;
};

enum : DescType {
    typeNull = FOUR_CHAR_CODE("null"),
    typeWildCard = FOUR_CHAR_CODE("****"),
    typeAEList = FOUR_CHAR_CODE("list"),
    typeAERecord = FOUR_CHAR_CODE("reco"),
    typeAppleEvent = FOUR_CHAR_CODE("aevt"),
    typeAlias = FOUR_CHAR_CODE("alis"),
    typeFileURL = FOUR_CHAR_CODE("furl"),
    typeFSS = FOUR_CHAR_CODE("fss "),
    typeFSRef = FOUR_CHAR_CODE("fsrf"),
    typeProcessSerialNumber = FOUR_CHAR_CODE("psn "),
    typeChar = FOUR_CHAR_CODE("TEXT"),
    typeUTF8Text = FOUR_CHAR_CODE("utf8"),
    typeSInt16 = FOUR_CHAR_CODE("shor"),
    typeSInt32 = FOUR_CHAR_CODE("long"),
    typeBoolean = FOUR_CHAR_CODE("bool"),
    typeType = FOUR_CHAR_CODE("type"),
};

enum : AEKeyword {
    keyDirectObject = FOUR_CHAR_CODE("----"),
    keyEventClassAttr = FOUR_CHAR_CODE("evcl"),
    keyEventIDAttr = FOUR_CHAR_CODE("evid"),
    keyAddressAttr = FOUR_CHAR_CODE("addr"),
    keyReturnIDAttr = FOUR_CHAR_CODE("rtid"),
    keyTransactionIDAttr = FOUR_CHAR_CODE("tran"),
};

enum : FourCharCode {
    kCoreEventClass = FOUR_CHAR_CODE("aevt"),
    kAEOpenApplication = FOUR_CHAR_CODE("oapp"),
    kAEOpenDocuments = FOUR_CHAR_CODE("odoc"),
    kAEQuitApplication = FOUR_CHAR_CODE("quit"),
};

enum : SInt32 {
    kAutoGenerateReturnID = -1,
    kAnyTransactionID = 0,
    kAENoReply = 0x00000001,
    kAEQueueReply = 0x00000002,
    kAEWaitReply = 0x00000003,
    kAENormalPriority = 0,
    kAEDefaultTimeout = -1,
    kNoProcess = 0,
    kCurrentProcess = 2,
};

enum : OSErr { procNotFound = -600 };

using AEEventHandlerProcPtr = OSErr (*)(const AppleEvent* theAppleEvent, AppleEvent* reply,
                                        long handlerRefcon);
using AEEventHandlerUPP = AEEventHandlerProcPtr;
inline AEEventHandlerUPP NewAEEventHandlerUPP(AEEventHandlerProcPtr proc) {
    return proc;
}
using AEIdleUPP = void*;
using AEFilterUPP = void*;

// Descriptors. A disposed descriptor becomes the null descriptor.
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
OSErr AEDisposeDesc(AEDesc* theAEDesc);
OSErr AEDuplicateDesc(const AEDesc* theAEDesc, AEDesc* result);
Size AEGetDescDataSize(const AEDesc* theAEDesc);
OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize);
// Converts to toType: same type copies; 'list' from any single descriptor;
// 'alis', 'furl' and 'fss ' to 'fsrf'.
OSErr AECoerceDesc(const AEDesc* theAEDesc, DescType toType, AEDesc* result);

// Lists and records. Indexes count from 1; index 0 (or count + 1) appends.
OSErr AECreateList(const void* factoringPtr, Size factoredSize, Boolean isRecord,
                   AEDescList* resultList);
OSErr AECountItems(const AEDescList* theAEDescList, long* theCount);
OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr,
               Size dataSize);
OSErr AEPutDesc(AEDescList* theAEDescList, long index, const AEDesc* theAEDesc);
OSErr AEGetNthDesc(const AEDescList* theAEDescList, long index, DescType desiredType,
                   AEKeyword* theAEKeyword, AEDesc* result);
// Copies at most maximumSize bytes of item index converted to desiredType;
// actualSize is the item's whole size.
OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType,
                  AEKeyword* theAEKeyword, DescType* typeCode, void* dataPtr, Size maximumSize,
                  Size* actualSize);
OSErr AEPutKeyDesc(AERecord* theAERecord, AEKeyword theAEKeyword, const AEDesc* theAEDesc);
OSErr AEPutKeyPtr(AERecord* theAERecord, AEKeyword theAEKeyword, DescType typeCode,
                  const void* dataPtr, Size dataSize);
OSErr AEGetKeyDesc(const AERecord* theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                   AEDesc* result);

// Apple events: a record of parameters plus the attributes class, ID, target.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result);
OSErr AEPutParamDesc(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, const AEDesc* theAEDesc);
OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void* dataPtr, Size dataSize);
OSErr AEGetParamDesc(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc* result);
OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize);
OSErr AEGetAttributePtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword,
                        DescType desiredType, DescType* typeCode, void* dataPtr, Size maximumSize,
                        Size* actualSize);

// Handlers for {class, ID}; typeWildCard matches any. One handler per pair:
// installing again replaces it.
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, long handlerRefcon, Boolean isSysHandler);
OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                           AEEventHandlerUPP handler, Boolean isSysHandler);

// A program answered inside this process (the Finder's stand-in): `matches`
// says whether an event's address is its own; `receive` then gets the event at
// once, whatever the send mode, and AESend returns its result. Registering the
// same pair again changes nothing.
using AEAddresseeMatchProc = bool (*)(const AEDesc* address);
using AEAddresseeReceiveProc = OSErr (*)(const AppleEvent* event, AppleEvent* reply,
                                         AESendMode sendMode);
void AERegisterInProcessAddressee(AEAddresseeMatchProc matches, AEAddresseeReceiveProc receive);

// Sends an event. The addresses served are the current process ('psn ' with
// kCurrentProcess, or this process's own number): without a reply requested a
// copy is queued and the loop delivers it to the installed handler; with
// kAEWaitReply it is handled at once and the reply filled; and the addressees
// registered above, which answer at once. Anything else is procNotFound.
OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode,
             AESendPriority sendPriority, SInt32 timeOutInTicks, AEIdleUPP idleProc,
             AEFilterUPP filterProc);

// Hands an event to its installed handler now; errAEEventNotHandled without one.
OSErr AEDeliverAppleEvent(const AppleEvent* theAppleEvent, AppleEvent* reply);

OSErr GetCurrentProcess(ProcessSerialNumber* psn);
