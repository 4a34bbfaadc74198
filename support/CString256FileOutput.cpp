// CString256::print(short): one line of text written to an open fork. Kept
// apart from the rest of CString256 so that only its users need the File
// Manager.
#include <cstring>

#include "platform/files/Files.h"
#include "support/CString256.h"

OSErr CString256::print(short refNum) const noexcept {
    char line[kCapacity + 2];
    std::size_t len = length();
    std::memcpy(line, text, len);
    line[len] = '\n';
    SInt32 count = SInt32(len + 1);
    return FSWrite(refNum, &count, line);
}
