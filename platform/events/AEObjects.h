// Object specifiers of the Apple-event object model (a record of type 'obj '
// naming the class wanted, its container, a key form and key data), with the
// constants of the object model, of addressing by signature and of the suites
// that the application sends to the Finder.
#pragma once

#include "platform/events/AppleEvents.h"

enum : DescType {
    typeObjectSpecifier = FOUR_CHAR_CODE("obj "),
    typeEnumerated = FOUR_CHAR_CODE("enum"),
    typeApplSignature = FOUR_CHAR_CODE("sign"),
    typeUnicodeText = FOUR_CHAR_CODE("utxt"),
};

// Classes and properties.
enum : DescType {
    cProperty = FOUR_CHAR_CODE("prop"),
    cObject = FOUR_CHAR_CODE("cobj"),
    cFile = FOUR_CHAR_CODE("file"),
    cFolder = FOUR_CHAR_CODE("cfol"),
    cDisk = FOUR_CHAR_CODE("cdis"),
    pComment = FOUR_CHAR_CODE("comt"),
};

// Key forms. formAlias designates an item by an alias record in its key data:
// the very object the alias was made for, wherever its path leads now.
enum : DescType {
    formPropertyID = FOUR_CHAR_CODE("prop"),
    formName = FOUR_CHAR_CODE("name"),
    formAlias = FOUR_CHAR_CODE("alis"),
};

enum : AEKeyword {
    keyAEDesiredClass = FOUR_CHAR_CODE("want"),
    keyAEContainer = FOUR_CHAR_CODE("from"),
    keyAEKeyForm = FOUR_CHAR_CODE("form"),
    keyAEKeyData = FOUR_CHAR_CODE("seld"),
    keyAEData = FOUR_CHAR_CODE("data"),
    keyErrorNumber = FOUR_CHAR_CODE("errn"),
};

// Event classes and IDs.
enum : FourCharCode {
    kAECoreSuite = FOUR_CHAR_CODE("core"),
    kAESetData = FOUR_CHAR_CODE("setd"),
    kAEGetData = FOUR_CHAR_CODE("getd"),
    kAEFinderSuite = FOUR_CHAR_CODE("fndr"),
    kAESync = FOUR_CHAR_CODE("fupd"),
    kAEAnswer = FOUR_CHAR_CODE("ansr"),
};

enum : OSErr {
    errAENoSuchObject = -1728,
    errAEEventFailed = -10000,
};

// Builds {want: type(desiredClass), from: container, form: enum(keyForm),
// seld: keyData}. A null container stands for the application itself. With
// disposeInputs the container and key data are disposed (also on failure).
OSErr CreateObjSpecifier(DescType desiredClass, AEDesc* theContainer, DescType keyForm,
                         AEDesc* keyData, Boolean disposeInputs, AEDesc* objSpecifier);
