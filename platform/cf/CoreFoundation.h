// Core Foundation values: small reference-counted strings, numbers, booleans and
// file URLs with the usual rules (what a Create or Copy call returns is released
// with CFRelease by whoever received it; Get calls hand out borrowed values).
#pragma once

#include "platform/base/MacTypes.h"

class QString;

using CFIndex = long;
using CFTypeID = unsigned long;
using CFOptionFlags = unsigned long;
using CFTypeRef = const void*;
using CFPropertyListRef = CFTypeRef;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
    return CFRange{location, length};
}

// Allocators are accepted for the calls' sake; every object lives on the C++ heap.
struct OpaqueCFAllocator;
using CFAllocatorRef = const OpaqueCFAllocator*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

// Base of every Core Foundation object: its type and its reference count. A unit
// that adds a type derives from it, registers the type once with
// CFRuntimeRegisterType, and gets CFRelease and CFGetTypeID for free.
// Constant objects (CFSTR strings, the two booleans) are immortal: releasing
// them does nothing.
struct CFRuntimeBase {
    constexpr explicit CFRuntimeBase(CFTypeID type, bool isImmortal = false)
        : typeID(type), immortal(isImmortal) {}
    virtual ~CFRuntimeBase() = default;
    CFRuntimeBase(const CFRuntimeBase&) = delete;
    CFRuntimeBase& operator=(const CFRuntimeBase&) = delete;

    CFTypeID typeID;
    CFIndex retainCount = 1;
    bool immortal;
};
CFTypeID CFRuntimeRegisterType(const char* name);

void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
// Same type and same value (strings by their characters, numbers by value,
// URLs by their path); any other pair of distinct objects is unequal.
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);

// ---- Strings ---------------------------------------------------------------

struct OpaqueCFString;
using CFStringRef = const OpaqueCFString*;

using CFStringEncoding = UInt32;
enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingUnicode = 0x0100,  // UTF-16 in host order
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};
enum : CFIndex { kCFNotFound = -1 };

CFTypeID CFStringGetTypeID();
// Null when the bytes are not valid in the encoding (malformed UTF-8, a byte
// above 0x7F in ASCII) or the encoding is not one of the above.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars,
                                         CFIndex numChars);
// Length in UTF-16 units.
CFIndex CFStringGetLength(CFStringRef str);
void CFStringGetCharacters(CFStringRef str, CFRange range, UniChar* buffer);
// Writes the string and a NUL; false when the buffer is too small or a character
// has no equivalent in the encoding (nothing lossy is ever written).
Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);

// Constant strings: CFSTR("text") gives one immortal string per distinct UTF-8
// text, which needs no release.
CFStringRef CFStringMakeConstant(const char* utf8);
#define CFSTR(cStr) CFStringMakeConstant("" cStr "")

// Bridges for the platform's Qt side.
QString QStringFromCFString(CFStringRef str);

// ---- Numbers ---------------------------------------------------------------

struct OpaqueCFNumber;
using CFNumberRef = const OpaqueCFNumber*;

using CFNumberType = CFIndex;
enum : CFNumberType {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberMaxType = 14,
};

CFTypeID CFNumberGetTypeID();
// Integers are kept as 64-bit integers and reals as doubles; the two never mix.
// Null for an unknown type or a null value pointer.
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType theType, const void* valuePtr);
Boolean CFNumberIsFloatType(CFNumberRef number);
// Converts to the asked type. Integers narrow as a C cast does; reals go toward
// zero and saturate at the type's limits. Answers false when the value did not
// survive the conversion exactly (out of range, a fraction, NaN).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

// ---- Booleans --------------------------------------------------------------

struct OpaqueCFBoolean;
using CFBooleanRef = const OpaqueCFBoolean*;

CFTypeID CFBooleanGetTypeID();
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef boolean);

// ---- URLs ------------------------------------------------------------------

struct OpaqueCFURL;
using CFURLRef = const OpaqueCFURL*;

// A file URL from a path's bytes: a relative path is taken against the current
// folder; trailing slashes are dropped (the directory flag says what it names).
// Null for a path holding a NUL.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef alloc, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// A URL from its bytes. Only file URLs are made: "file://" with an empty host
// or "localhost", then the percent-encoded path (a query or fragment is cut
// off). Any byte may be encoded, so names that are not UTF-8 travel unchanged,
// and the encoding is not looked at. Null for any other URL, a malformed
// escape, or a path holding a NUL; baseURL is not used.
CFURLRef CFURLCreateWithBytes(CFAllocatorRef alloc, const UInt8* URLBytes, CFIndex length,
                              CFStringEncoding encoding, CFURLRef baseURL);
// The path's bytes as the file system takes them, NUL-terminated; false for a
// URL that is not a file URL or a buffer that is too small.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);
