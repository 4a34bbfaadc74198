#include "platform/cf/CoreFoundation.h"

#include <strings.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform/base/TextEncoding.h"

namespace {

enum : CFTypeID {
    kStringTypeID = 7,
    kBooleanTypeID = 21,
    kNumberTypeID = 22,
    kURLTypeID = 29,
    kFirstRegisteredTypeID = 100,
};

CFTypeID gNextTypeID = kFirstRegisteredTypeID;

CFRuntimeBase* base(CFTypeRef cf) {
    return const_cast<CFRuntimeBase*>(static_cast<const CFRuntimeBase*>(cf));
}

}  // namespace

struct OpaqueCFString : CFRuntimeBase {
    explicit OpaqueCFString(std::u16string s, bool isImmortal = false)
        : CFRuntimeBase(kStringTypeID, isImmortal), chars(std::move(s)) {}
    std::u16string chars;
};

struct OpaqueCFNumber : CFRuntimeBase {
    OpaqueCFNumber() : CFRuntimeBase(kNumberTypeID) {}
    CFNumberType type = kCFNumberSInt64Type;
    bool isFloat = false;
    SInt64 integer = 0;
    double real = 0;
};

struct OpaqueCFBoolean : CFRuntimeBase {
    constexpr explicit OpaqueCFBoolean(bool v) : CFRuntimeBase(kBooleanTypeID, true), value(v) {}
    bool value;
};

struct OpaqueCFURL : CFRuntimeBase {
    OpaqueCFURL() : CFRuntimeBase(kURLTypeID) {}
    bool isDirectory = false;
    std::string path;  // the file system's bytes
};

CFTypeID CFRuntimeRegisterType(const char*) {
    return gNextTypeID++;
}

void CFRelease(CFTypeRef cf) {
    if (!cf) return;
    CFRuntimeBase* b = base(cf);
    if (b->immortal) return;
    if (--b->retainCount == 0) delete b;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return cf ? base(cf)->typeID : 0;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (cf1 == cf2) return true;
    if (!cf1 || !cf2 || CFGetTypeID(cf1) != CFGetTypeID(cf2)) return false;
    switch (CFGetTypeID(cf1)) {
        case kStringTypeID:
            return static_cast<CFStringRef>(cf1)->chars == static_cast<CFStringRef>(cf2)->chars;
        case kNumberTypeID: {
            auto a = static_cast<CFNumberRef>(cf1), b = static_cast<CFNumberRef>(cf2);
            if (a->isFloat || b->isFloat) {
                double x = a->isFloat ? a->real : double(a->integer);
                double y = b->isFloat ? b->real : double(b->integer);
                return x == y;
            }
            return a->integer == b->integer;
        }
        case kURLTypeID: {
            auto a = static_cast<CFURLRef>(cf1), b = static_cast<CFURLRef>(cf2);
            // The root is the root whatever the flag says.
            return a->path == b->path && (a->isDirectory == b->isDirectory || a->path == "/");
        }
        default:
            return false;
    }
}

// ---- Strings ---------------------------------------------------------------

CFTypeID CFStringGetTypeID() {
    return kStringTypeID;
}

namespace {

OpaqueCFString* newString(std::u16string chars) {
    return new (std::nothrow) OpaqueCFString(std::move(chars));
}

// Decodes bytes in one of the supported encodings; false when they are not valid
// in it.
bool decodeBytes(const char* bytes, size_t n, CFStringEncoding encoding, std::u16string& out) {
    std::string_view view(bytes, n);
    switch (encoding) {
        case kCFStringEncodingMacRoman:
            out = Utf16FromMacRoman(view);
            return true;
        case kCFStringEncodingUTF8:
            return DecodeUtf8Strict(view, out);
        case kCFStringEncodingASCII:
            out.clear();
            for (unsigned char c : view) {
                if (c > 0x7F) return false;
                out += char16_t(c);
            }
            return true;
        case kCFStringEncodingISOLatin1:
            out.clear();
            for (unsigned char c : view) out += char16_t(c);
            return true;
        case kCFStringEncodingUnicode:
            if (n % 2) return false;
            out.assign(n / 2, u'\0');
            std::memcpy(out.data(), bytes, n);
            return true;
        default:
            return false;
    }
}

// Encodes without loss; false when a character has no equivalent.
bool encodeChars(const std::u16string& chars, CFStringEncoding encoding, std::string& out) {
    switch (encoding) {
        case kCFStringEncodingMacRoman: {
            bool lossless = true;
            out = MacRomanFromUtf16(chars, &lossless);
            return lossless;
        }
        case kCFStringEncodingUTF8:
            for (size_t i = 0; i < chars.size(); ++i) {
                char16_t u = chars[i];
                bool high = u >= 0xD800 && u <= 0xDBFF;
                if (high && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 &&
                    chars[i + 1] <= 0xDFFF) {
                    ++i;
                } else if (u >= 0xD800 && u <= 0xDFFF) {
                    return false;
                }
            }
            out = Utf8FromUtf16(chars);
            return true;
        case kCFStringEncodingASCII:
        case kCFStringEncodingISOLatin1: {
            char16_t limit = encoding == kCFStringEncodingASCII ? 0x7F : 0xFF;
            out.clear();
            for (char16_t u : chars) {
                if (u > limit) return false;
                out += char(u);
            }
            return true;
        }
        default:
            return false;
    }
}

CFStringRef createFromBytes(const char* bytes, size_t n, CFStringEncoding encoding) {
    std::u16string chars;
    if (!decodeBytes(bytes, n, encoding, chars)) return nullptr;
    return newString(std::move(chars));
}

}  // namespace

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (!cStr) return nullptr;
    return createFromBytes(cStr, std::strlen(cStr), encoding);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (!bytes && numBytes)) return nullptr;
    return createFromBytes(reinterpret_cast<const char*>(bytes), size_t(numBytes), encoding);
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (!chars && numChars)) return nullptr;
    return newString(std::u16string(reinterpret_cast<const char16_t*>(chars), size_t(numChars)));
}

CFIndex CFStringGetLength(CFStringRef str) {
    return str ? CFIndex(str->chars.size()) : 0;
}

void CFStringGetCharacters(CFStringRef str, CFRange range, UniChar* buffer) {
    if (!str || !buffer || range.location < 0 || range.length <= 0) return;
    size_t from = size_t(range.location);
    if (from >= str->chars.size()) return;
    size_t count = std::min(size_t(range.length), str->chars.size() - from);
    std::memcpy(buffer, str->chars.data() + from, count * sizeof(UniChar));
}

Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    if (!str || !buffer || bufferSize <= 0) return false;
    std::string bytes;
    if (!encodeChars(str->chars, encoding, bytes) || bytes.find('\0') != std::string::npos ||
        bytes.size() + 1 > size_t(bufferSize))
        return false;
    std::memcpy(buffer, bytes.c_str(), bytes.size() + 1);
    return true;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    switch (encoding) {
        case kCFStringEncodingUTF8:
            return length * 3;
        case kCFStringEncodingUnicode:
            return length * 2;
        default:
            return length;
    }
}

CFStringRef CFStringMakeConstant(const char* utf8) {
    static std::map<std::string, std::unique_ptr<OpaqueCFString>> constants;
    std::string key = utf8 ? utf8 : "";
    auto found = constants.find(key);
    if (found != constants.end()) return found->second.get();
    std::u16string chars;
    if (!DecodeUtf8Strict(key, chars)) chars = Utf16FromFileName(key);
    auto s = std::make_unique<OpaqueCFString>(std::move(chars), true);
    return constants.emplace(key, std::move(s)).first->second.get();
}

QString QStringFromCFString(CFStringRef str) {
    if (!str) return QString();
    return QString::fromUtf16(str->chars.data(), qsizetype(str->chars.size()));
}

// ---- Numbers ---------------------------------------------------------------

CFTypeID CFNumberGetTypeID() {
    return kNumberTypeID;
}

namespace {

template <typename T>
bool readInteger(const void* p, SInt64& out) {
    T v;
    std::memcpy(&v, p, sizeof v);
    out = SInt64(v);
    return true;
}

template <typename T>
bool storeFromInteger(SInt64 v, void* p) {
    T t = T(v);
    std::memcpy(p, &t, sizeof t);
    return SInt64(t) == v;
}

template <typename T>
bool storeFromReal(double v, void* p) {
    T t;
    bool exact = true;
    if (std::isnan(v)) {
        t = 0;
        exact = false;
    } else if (v <= double(std::numeric_limits<T>::min())) {
        t = std::numeric_limits<T>::min();
        exact = v == double(t);
    } else if (v >= double(std::numeric_limits<T>::max())) {
        t = std::numeric_limits<T>::max();
        exact = sizeof(T) < 8 && v == double(t);  // 2^63 is past SInt64's maximum
    } else {
        t = T(v);  // toward zero, in range
        exact = double(t) == v;
    }
    std::memcpy(p, &t, sizeof t);
    return exact;
}

// Normalises the C-named types to the sized ones they stand for on this ABI.
CFNumberType sizedType(CFNumberType t) {
    switch (t) {
        case kCFNumberCharType:
            return kCFNumberSInt8Type;
        case kCFNumberShortType:
            return kCFNumberSInt16Type;
        case kCFNumberIntType:
            return kCFNumberSInt32Type;
        case kCFNumberLongType:
        case kCFNumberCFIndexType:
            return sizeof(long) == 8 ? kCFNumberSInt64Type : kCFNumberSInt32Type;
        case kCFNumberLongLongType:
            return kCFNumberSInt64Type;
        case kCFNumberFloatType:
            return kCFNumberFloat32Type;
        case kCFNumberDoubleType:
            return kCFNumberFloat64Type;
        default:
            return t;
    }
}

}  // namespace

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    if (!valuePtr) return nullptr;
    auto n = std::unique_ptr<OpaqueCFNumber>(new (std::nothrow) OpaqueCFNumber);
    if (!n) return nullptr;
    n->type = theType;
    switch (sizedType(theType)) {
        case kCFNumberSInt8Type:
            readInteger<SInt8>(valuePtr, n->integer);
            break;
        case kCFNumberSInt16Type:
            readInteger<SInt16>(valuePtr, n->integer);
            break;
        case kCFNumberSInt32Type:
            readInteger<SInt32>(valuePtr, n->integer);
            break;
        case kCFNumberSInt64Type:
            readInteger<SInt64>(valuePtr, n->integer);
            break;
        case kCFNumberFloat32Type: {
            float f;
            std::memcpy(&f, valuePtr, sizeof f);
            n->isFloat = true;
            n->real = f;
            break;
        }
        case kCFNumberFloat64Type:
            std::memcpy(&n->real, valuePtr, sizeof n->real);
            n->isFloat = true;
            break;
        default:
            return nullptr;
    }
    return n.release();
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    return number && number->isFloat;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    if (!number || !valuePtr) return false;
    CFNumberType t = sizedType(theType);
    if (t == kCFNumberFloat32Type || t == kCFNumberFloat64Type) {
        double v = number->isFloat ? number->real : double(number->integer);
        // A 64-bit integer survives only if it converts back to itself; 2^63 and
        // above would not even convert back.
        bool exact = number->isFloat || (v < 9223372036854775808.0 && SInt64(v) == number->integer);
        if (t == kCFNumberFloat32Type) {
            float f = float(v);
            std::memcpy(valuePtr, &f, sizeof f);
            return exact && (std::isnan(v) || double(f) == v);
        }
        std::memcpy(valuePtr, &v, sizeof v);
        return exact;
    }
    if (number->isFloat) {
        switch (t) {
            case kCFNumberSInt8Type:
                return storeFromReal<SInt8>(number->real, valuePtr);
            case kCFNumberSInt16Type:
                return storeFromReal<SInt16>(number->real, valuePtr);
            case kCFNumberSInt32Type:
                return storeFromReal<SInt32>(number->real, valuePtr);
            case kCFNumberSInt64Type:
                return storeFromReal<SInt64>(number->real, valuePtr);
            default:
                return false;
        }
    }
    switch (t) {
        case kCFNumberSInt8Type:
            return storeFromInteger<SInt8>(number->integer, valuePtr);
        case kCFNumberSInt16Type:
            return storeFromInteger<SInt16>(number->integer, valuePtr);
        case kCFNumberSInt32Type:
            return storeFromInteger<SInt32>(number->integer, valuePtr);
        case kCFNumberSInt64Type:
            return storeFromInteger<SInt64>(number->integer, valuePtr);
        default:
            return false;
    }
}

// ---- Booleans --------------------------------------------------------------

namespace {
constinit OpaqueCFBoolean gTrue(true);
constinit OpaqueCFBoolean gFalse(false);
}  // namespace

const CFBooleanRef kCFBooleanTrue = &gTrue;
const CFBooleanRef kCFBooleanFalse = &gFalse;

CFTypeID CFBooleanGetTypeID() {
    return kBooleanTypeID;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return boolean && boolean->value;
}

// ---- URLs ------------------------------------------------------------------

namespace {

// A file URL for a path: absolute (relative paths are taken against the current
// folder), without trailing slashes except for the root.
CFURLRef makeFileURL(std::string path, bool isDirectory) {
    if (path.empty()) return nullptr;
    if (path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return nullptr;
        std::string prefix = cwd;
        if (prefix.back() != '/') prefix += '/';
        path = prefix + path;
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto url = std::unique_ptr<OpaqueCFURL>(new (std::nothrow) OpaqueCFURL);
    if (!url) return nullptr;
    url->isDirectory = isDirectory;
    url->path = std::move(path);
    return url.release();
}

}  // namespace

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
    if (!buffer || bufLen <= 0) return nullptr;
    std::string path(reinterpret_cast<const char*>(buffer), size_t(bufLen));
    if (path.find('\0') != std::string::npos) return nullptr;
    return makeFileURL(std::move(path), isDirectory);
}

CFURLRef CFURLCreateWithBytes(CFAllocatorRef, const UInt8* URLBytes, CFIndex length,
                              CFStringEncoding, CFURLRef) {
    if (!URLBytes || length <= 0) return nullptr;
    std::string s(reinterpret_cast<const char*>(URLBytes), size_t(length));
    const std::string scheme = "file://";
    if (s.size() < scheme.size() || strncasecmp(s.c_str(), scheme.c_str(), scheme.size()) != 0)
        return nullptr;
    s.erase(0, scheme.size());
    if (strncasecmp(s.c_str(), "localhost/", 10) == 0) s.erase(0, 9);
    if (s.empty() || s[0] != '/') return nullptr;
    const size_t cut = s.find_first_of("?#");
    if (cut != std::string::npos) s.resize(cut);
    std::string path;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            path += s[i];
            continue;
        }
        if (i + 2 >= s.size() || !isxdigit(UInt8(s[i + 1])) || !isxdigit(UInt8(s[i + 2])))
            return nullptr;
        path += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    if (path.find('\0') != std::string::npos) return nullptr;
    const bool isDirectory = path.size() > 1 && path.back() == '/';
    return makeFileURL(std::move(path), isDirectory);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
    if (!url || !buffer || maxBufLen <= 0 || url->path.size() + 1 > size_t(maxBufLen)) return false;
    std::memcpy(buffer, url->path.c_str(), url->path.size() + 1);
    return true;
}
