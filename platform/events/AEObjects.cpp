#include "platform/events/AEObjects.h"

OSErr CreateObjSpecifier(DescType desiredClass, AEDesc* theContainer, DescType keyForm,
                         AEDesc* keyData, Boolean disposeInputs, AEDesc* objSpecifier) {
    OSErr err = paramErr;
    if (objSpecifier) *objSpecifier = {typeNull, nullptr};
    if (objSpecifier && theContainer && keyData) {
        AERecord record;
        err = AECreateList(nullptr, 0, true, &record);
        if (err == noErr) {
            err = AEPutKeyPtr(&record, keyAEDesiredClass, typeType, &desiredClass,
                              sizeof desiredClass);
            if (err == noErr) err = AEPutKeyDesc(&record, keyAEContainer, theContainer);
            if (err == noErr)
                err = AEPutKeyPtr(&record, keyAEKeyForm, typeEnumerated, &keyForm, sizeof keyForm);
            if (err == noErr) err = AEPutKeyDesc(&record, keyAEKeyData, keyData);
            if (err == noErr) {
                record.descriptorType = typeObjectSpecifier;
                *objSpecifier = record;
            } else {
                AEDisposeDesc(&record);
            }
        }
    }
    if (disposeInputs) {
        if (theContainer) AEDisposeDesc(theContainer);
        if (keyData) AEDisposeDesc(keyData);
    }
    return err;
}
