// Basic Mac types, four-character codes and the result codes every platform
// call returns. Sizes match the 32-bit Mac ABI the application was written for.
#pragma once

#include <cstddef>
#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;
using Boolean = unsigned char;
using OSErr = SInt16;
using OSStatus = SInt32;
using OSType = UInt32;
using FourCharCode = UInt32;
using ResType = UInt32;
using DescType = UInt32;
using UniChar = UInt16;
using UniCharCount = UInt32;
using ByteCount = UInt32;
using ItemCount = UInt32;
using Size = SInt32;
using Ptr = char*;
using Handle = char**;
using ConstStringPtr = const unsigned char*;
using StringPtr = unsigned char*;
using Str255 = unsigned char[256];
using Str63 = unsigned char[64];
using Str31 = unsigned char[32];
using StrFileName = Str63;
using ConstStr255Param = const unsigned char*;
using ConstStr63Param = const unsigned char*;
using TextEncoding = UInt32;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Builds a four-character code at compile time: FOUR_CHAR_CODE("odoc").
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5]) {
    return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
           (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

enum : OSErr {
    noErr = 0,
    dskFulErr = -34,
    ioErr = -36,
    bdNamErr = -37,
    eofErr = -39,
    posErr = -40,
    tmfoErr = -42,
    fnfErr = -43,
    wPrErr = -44,
    fLckdErr = -45,
    fBsyErr = -47,
    dupFNErr = -48,
    opWrErr = -49,
    paramErr = -50,
    rfNumErr = -51,
    wrPermErr = -61,
    memFullErr = -108,
    nilHandleErr = -109,
    dirNFErr = -120,
    wrgVolTypErr = -123,  // the volume's file system cannot do it (no user attributes)
    errAECoercionFail = -1700,
    errAEDescNotFound = -1701,
    errAEWrongDataType = -1703,
    errAENotAEDesc = -1704,
    errAEBadListItem = -1705,
    errAEEventNotHandled = -1708,
    errAEUnknownSendMode = -1710,
    errAEBuildSyntaxError = -1740,
    errFSNoMoreItems = -1417,
    errFSBadItemCount = -1418,
    errFSBadIteratorFlags = -1422,
    errFSIteratorNotFound = -1423,
    errFSForkNotFound = -1409,
    notAFileErr = -1302,
    diffVolErr = -1303,       // on another volume: a file system mounted below the one in hand
    fsDataTooBigErr = -1310,  // a resource fork too large for the attribute that holds it
    afpAccessDenied = -5000,
    afpObjectTypeErr = -5025,
    errAEBadKeyForm = -10002,
    eventNotHandledErr = -9874,
    userCanceledErr = -128,
};
