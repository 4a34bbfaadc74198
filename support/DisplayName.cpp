#include "support/DisplayName.h"

#include <cstring>

#include "platform/base/MacMemory.h"
#include "platform/base/TextEncoding.h"

namespace {
// Work buffers hold two bytes per character and must fit a block size.
constexpr UInt32 kMaxUnits = 0x3FFFFFFF;
}  // namespace

char* FSGetObjectName(const FSRef* ref) {
    char* name = nullptr;
    HFSUniStr255 unicodeName;
    if (FSGetFileDirName(ref, &unicodeName) != noErr) return nullptr;
    SetASCII_C_CharsFromUnicodeText(&name, unicodeName.unicode, unicodeName.length);
    return name;
}

OSErr FSGetFileDirName(const FSRef* ref, HFSUniStr255* name) {
    if (!name) return paramErr;
    return FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, name, nullptr, nullptr);
}

void SetASCII_C_CharsFromUnicodeText(char** outName, const UniChar* text, UInt32 count) {
    if (!outName) return;
    *outName = nullptr;
    if (!text) count = 0;
    if (count > kMaxUnits) return;  // its buffer would not fit a block size
    const ByteCount room = 2 * count;
    Ptr work = NewPtr(Size(room));
    if (!work) return;
    // The converter's status is not needed: the name is built from the bytes it
    // reports as produced, and unmappable characters already came out as '?'.
    ByteCount produced = 0, consumed = 0;
    TECObjectRef converter = nullptr;
    if (TECCreateConverter(&converter, kTextEncodingUnicodeDefault, kTextEncodingMacRoman) ==
        noErr) {
        TECConvertText(converter, reinterpret_cast<ConstTextPtr>(text), room, &consumed,
                       reinterpret_cast<TextPtr>(work), room, &produced);
        TECDisposeConverter(converter);
    }
    Ptr name = NewPtr(Size(produced + 1));
    if (name) {
        std::memcpy(name, work, produced);
        name[produced] = '\0';
    }
    DisposePtr(work);
    *outName = name;
}

void SetUnicodeTextFromASCII_C_Chars(const char* cString, UniChar** outText, UInt32* outLength) {
    if (outText) *outText = nullptr;
    if (outLength) *outLength = 0;
    if (!cString || !outText) return;
    const size_t length = std::strlen(cString);
    if (length > kMaxUnits) return;
    const ByteCount n = ByteCount(length);
    TECObjectRef converter = nullptr;
    if (TECCreateConverter(&converter, kTextEncodingMacRoman, kTextEncodingUnicodeDefault) != noErr)
        converter = nullptr;
    Ptr work = NewPtr(Size(2 * n));
    ByteCount produced = 0, consumed = 0;
    if (work && converter)
        TECConvertText(converter, reinterpret_cast<ConstTextPtr>(cString), n, &consumed,
                       reinterpret_cast<TextPtr>(work), 2 * n, &produced);
    if (converter) TECDisposeConverter(converter);
    if (!work) return;
    Ptr text = NewPtr(Size(produced));
    if (text) std::memcpy(text, work, produced);
    DisposePtr(work);
    *outText = reinterpret_cast<UniChar*>(text);
    if (outLength && text) *outLength = UInt32(produced / 2);
}
