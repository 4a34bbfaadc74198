#include "platform/events/AEBuild.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/events/AEObjects.h"

namespace {

constexpr AEDesc kNullDesc = {typeNull, nullptr};
// Nesting deeper than this is refused rather than risking the stack.
constexpr int kMaxDepth = 64;

// A descriptor released when it goes out of scope unless taken.
class OwnedDesc {
public:
    OwnedDesc() = default;
    ~OwnedDesc() { AEDisposeDesc(&desc_); }
    OwnedDesc(const OwnedDesc&) = delete;
    OwnedDesc& operator=(const OwnedDesc&) = delete;
    OwnedDesc(OwnedDesc&& other) noexcept : desc_(other.take()) {}
    AEDesc* get() { return &desc_; }
    AEDesc take() {
        AEDesc d = desc_;
        desc_ = kNullDesc;
        return d;
    }

private:
    AEDesc desc_ = kNullDesc;
};

struct KeyedDesc {
    AEKeyword key;
    OwnedDesc desc;
};

bool isTextType(DescType type) {
    return type == typeChar || type == typeUTF8Text;
}

class Parser {
public:
    Parser(const char* text, va_list args) : s_(text) { va_copy(args_, args); }
    ~Parser() { va_end(args_); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // One descriptor and then the end of the text.
    bool wholeDescriptor(AEDesc* out) {
        OwnedDesc d;
        if (!descriptor(d.get(), 0)) return false;
        skipSpace();
        if (!atEnd()) return fail(aeBuildSyntaxNoEOF);
        *out = d.take();
        return true;
    }

    // "key:descriptor, ..." up to the end of the text (event parameters).
    bool wholeParameters(std::vector<KeyedDesc>* out) {
        skipSpace();
        if (atEnd()) return true;
        if (!pairs(out, 0)) return false;
        skipSpace();
        if (!atEnd()) return fail(aeBuildSyntaxNoEOF);
        return true;
    }

    OSStatus status() const { return status_; }
    void report(AEBuildError* error) const {
        if (!error) return;
        error->fError = code_;
        error->fErrorPos = code_ == aeBuildSyntaxNoErr ? 0 : UInt32(errorPos_);
    }

private:
    const char* s_;
    std::size_t pos_ = 0;
    va_list args_;
    OSStatus status_ = noErr;
    AEBuildErrorCode code_ = aeBuildSyntaxNoErr;
    std::size_t errorPos_ = 0;

    bool atEnd() const { return s_[pos_] == '\0'; }
    unsigned char peek(std::size_t ahead = 0) const {
        // Never looks past the terminator.
        for (std::size_t i = 0; i < ahead; ++i)
            if (s_[pos_ + i] == '\0') return 0;
        return static_cast<unsigned char>(s_[pos_ + ahead]);
    }

    bool fail(AEBuildErrorCode code) {
        if (status_ == noErr) {
            status_ = errAEBuildSyntaxError;
            code_ = code;
            errorPos_ = pos_;
        }
        return false;
    }
    bool failWith(OSStatus err) {
        if (status_ == noErr) {
            status_ = err;
            errorPos_ = pos_;
        }
        return false;
    }
    // At the end of the text a missing token is an early end, else a bad token.
    bool failHere(AEBuildErrorCode code) { return fail(atEnd() ? aeBuildSyntaxBadEOF : code); }

    void skipSpace() {
        while (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n') ++pos_;
    }

    // Takes the closing character of a group opened at `open`. A missing one
    // is reported at the opening when the text ended, else where it stands.
    bool close(char closing, std::size_t open, AEBuildErrorCode missing) {
        skipSpace();
        if (peek() != static_cast<unsigned char>(closing)) {
            if (atEnd()) pos_ = open;
            return fail(missing);
        }
        ++pos_;
        return true;
    }

    // Curly quotes and guillemets, in Mac Roman (one byte) or UTF-8 (2 or 3).
    std::size_t matchOpenQuote() const {
        if (peek() == 0xD2) return 1;
        if (peek() == 0xE2 && peek(1) == 0x80 && peek(2) == 0x9C) return 3;
        return 0;
    }
    std::size_t matchCloseQuote() const {
        if (peek() == 0xD3) return 1;
        if (peek() == 0xE2 && peek(1) == 0x80 && peek(2) == 0x9D) return 3;
        return 0;
    }
    std::size_t matchOpenHex() const {
        if (peek() == 0xC7) return 1;
        if (peek() == 0xC2 && peek(1) == 0xAB) return 2;
        return 0;
    }
    std::size_t matchCloseHex() const {
        if (peek() == 0xC8) return 1;
        if (peek() == 0xC2 && peek(1) == 0xBB) return 2;
        return 0;
    }

    static bool identChar(unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    }
    static bool identStart(unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '\'';
    }

    // A four-character code, bare or between straight quotes, padded with spaces.
    bool code(FourCharCode* out) {
        char chars[4] = {' ', ' ', ' ', ' '};
        std::size_t n = 0;
        if (peek() == '\'') {
            const std::size_t start = pos_;
            ++pos_;
            while (!atEnd() && peek() != '\'') {
                if (n == 4) return fail(aeBuildSyntaxBadToken);
                chars[n++] = char(peek());
                ++pos_;
            }
            if (atEnd()) {
                pos_ = start;
                return fail(aeBuildSyntaxMissingQuote);
            }
            ++pos_;
            if (n == 0) return fail(aeBuildSyntaxBadToken);
        } else {
            if (!identChar(peek()) || (peek() >= '0' && peek() <= '9'))
                return failHere(aeBuildSyntaxBadToken);
            while (identChar(peek())) {
                if (n == 4) return fail(aeBuildSyntaxBadToken);
                chars[n++] = char(peek());
                ++pos_;
            }
        }
        *out = (FourCharCode(UInt8(chars[0])) << 24) | (FourCharCode(UInt8(chars[1])) << 16) |
               (FourCharCode(UInt8(chars[2])) << 8) | FourCharCode(UInt8(chars[3]));
        return true;
    }

    bool integer(SInt64* out) {
        bool negative = false;
        if (peek() == '-') {
            negative = true;
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) return fail(aeBuildSyntaxBadNegative);
        }
        UInt64 value = 0;
        while (peek() >= '0' && peek() <= '9') {
            value = value * 10 + UInt64(peek() - '0');
            if (value > (UInt64(1) << 32)) return fail(aeBuildSyntaxBadToken);
            ++pos_;
        }
        if (identChar(peek())) return fail(aeBuildSyntaxBadToken);
        *out = negative ? -SInt64(value) : SInt64(value);
        return true;
    }

    bool text(std::string* out) {
        const std::size_t start = pos_;
        pos_ += matchOpenQuote();
        std::size_t close = 0;
        while (!atEnd() && (close = matchCloseQuote()) == 0) out->push_back(char(s_[pos_++]));
        if (atEnd()) {
            pos_ = start;
            return fail(aeBuildSyntaxNoCloseString);
        }
        pos_ += close;
        return true;
    }

    bool hex(std::string* out) {
        const std::size_t start = pos_;
        pos_ += matchOpenHex();
        int pending = -1;
        for (;;) {
            skipSpace();
            if (atEnd()) {
                pos_ = start;
                return fail(aeBuildSyntaxNoCloseHex);
            }
            if (std::size_t close = matchCloseHex()) {
                if (pending >= 0) return fail(aeBuildSyntaxOddHex);
                pos_ += close;
                return true;
            }
            const unsigned char c = peek();
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
            if (digit < 0) return fail(aeBuildSyntaxBadHex);
            ++pos_;
            if (pending < 0) {
                pending = digit;
            } else {
                out->push_back(char((pending << 4) | digit));
                pending = -1;
            }
        }
    }

    bool makeBytes(DescType type, const void* data, std::size_t size, AEDesc* out) {
        if (size > 0x7FFFFFFF) return failWith(paramErr);
        OSErr err = AECreateDesc(type, data, Size(size), out);
        return err == noErr || failWith(err);
    }

    // An integer as data of the given type.
    bool integerData(DescType type, SInt64 v, AEDesc* out) {
        switch (type) {
            case typeSInt16:
                if (v < -32768 || v > 32767) return failWith(errAECoercionFail);
                {
                    SInt16 x = SInt16(v);
                    return makeBytes(type, &x, sizeof x, out);
                }
            case typeSInt32:
                if (v < INT32_MIN || v > INT32_MAX) return failWith(errAECoercionFail);
                {
                    SInt32 x = SInt32(v);
                    return makeBytes(type, &x, sizeof x, out);
                }
            case FOUR_CHAR_CODE("magn"):
                if (v < 0 || v > SInt64(UINT32_MAX)) return failWith(errAECoercionFail);
                {
                    UInt32 x = UInt32(v);
                    return makeBytes(type, &x, sizeof x, out);
                }
            case FOUR_CHAR_CODE("comp"):
                return makeBytes(type, &v, sizeof v, out);
            case typeBoolean:
                if (v != 0 && v != 1) return failWith(errAECoercionFail);
                {
                    UInt8 x = UInt8(v);
                    return makeBytes(type, &x, sizeof x, out);
                }
            default:
                return failWith(errAECoercionFail);
        }
    }

    // '@' inside "type(...)": the bytes come from the arguments.
    bool argumentData(DescType type, AEDesc* out) {
        ++pos_;
        if (peek() == '@') {
            ++pos_;
            Handle h = va_arg(args_, Handle);
            if (!h || !*h) return failWith(paramErr);
            return makeBytes(type, *h, std::size_t(GetHandleSize(h)), out);
        }
        if (isTextType(type)) {
            const char* str = va_arg(args_, const char*);
            if (!str) return failWith(paramErr);
            return makeBytes(type, str, std::strlen(str), out);
        }
        const Size size = Size(va_arg(args_, int));
        const void* data = va_arg(args_, const void*);
        if (size < 0 || (size > 0 && !data)) return failWith(paramErr);
        return makeBytes(type, data, std::size_t(size), out);
    }

    // "type(data)", the opening parenthesis being next.
    bool typedData(DescType type, AEDesc* out) {
        const std::size_t open = pos_;
        ++pos_;
        skipSpace();
        const unsigned char c = peek();
        bool ok;
        if (c == ')') {
            ok = type == typeNull ? true : makeBytes(type, nullptr, 0, out);
        } else if (c == '@') {
            ok = argumentData(type, out);
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            SInt64 v;
            ok = integer(&v) && integerData(type, v, out);
        } else if (matchOpenQuote()) {
            std::string bytes;
            ok = text(&bytes) && makeBytes(type, bytes.data(), bytes.size(), out);
        } else if (matchOpenHex()) {
            std::string bytes;
            ok = hex(&bytes) && makeBytes(type, bytes.data(), bytes.size(), out);
        } else if (identStart(c)) {
            FourCharCode value;
            ok = code(&value) && makeBytes(type, &value, sizeof value, out);
        } else {
            return failHere(aeBuildSyntaxBadData);
        }
        if (!ok) return false;
        return close(')', open, aeBuildSyntaxNoCloseParen);
    }

    // "key:descriptor {, key:descriptor}" until a character that is not ','.
    bool pairs(std::vector<KeyedDesc>* out, int depth) {
        for (;;) {
            skipSpace();
            if (!identStart(peek())) return failHere(aeBuildSyntaxNoKey);
            FourCharCode key;
            if (!code(&key)) return false;
            skipSpace();
            if (peek() != ':') return failHere(aeBuildSyntaxNoColon);
            ++pos_;
            KeyedDesc item{key, OwnedDesc()};
            if (!descriptor(item.desc.get(), depth + 1)) return false;
            out->push_back(std::move(item));
            skipSpace();
            if (peek() != ',') return true;
            ++pos_;
        }
    }

    // "{pairs}", the brace being next; the record gets the given type.
    bool record(DescType type, AEDesc* out, int depth) {
        const std::size_t open = pos_;
        ++pos_;
        std::vector<KeyedDesc> items;
        skipSpace();
        if (peek() != '}' && !pairs(&items, depth)) return false;
        if (!close('}', open, aeBuildSyntaxNoCloseBrace)) return false;
        OwnedDesc rec;
        OSErr err = AECreateList(nullptr, 0, true, rec.get());
        for (auto& item : items)
            if (err == noErr) err = AEPutKeyDesc(rec.get(), item.key, item.desc.get());
        if (err != noErr) return failWith(err);
        *out = rec.take();
        out->descriptorType = type;
        return true;
    }

    bool list(AEDesc* out, int depth) {
        const std::size_t open = pos_;
        ++pos_;
        OwnedDesc result;
        OSErr err = AECreateList(nullptr, 0, false, result.get());
        if (err != noErr) return failWith(err);
        skipSpace();
        if (peek() != ']') {
            for (;;) {
                OwnedDesc item;
                if (!descriptor(item.get(), depth + 1)) return false;
                if ((err = AEPutDesc(result.get(), 0, item.get())) != noErr) return failWith(err);
                skipSpace();
                if (peek() != ',') break;
                ++pos_;
            }
        }
        if (!close(']', open, aeBuildSyntaxNoCloseBracket)) return false;
        *out = result.take();
        return true;
    }

    bool descriptorArgument(AEDesc* out) {
        const AEDesc* given = va_arg(args_, const AEDesc*);
        if (!given) return failWith(paramErr);
        OSErr err = AEDuplicateDesc(given, out);
        return err == noErr || failWith(err);
    }

    bool descriptor(AEDesc* out, int depth) {
        if (depth > kMaxDepth) return fail(aeBuildSyntaxBadDesc);
        skipSpace();
        const unsigned char c = peek();
        if (c == '@') {
            ++pos_;
            if (peek() == '@') return fail(aeBuildSyntaxUncoercedDoubleAt);
            return descriptorArgument(out);
        }
        if (c == '(') {
            // "(@)": a descriptor argument; "(descriptor)": that descriptor.
            const std::size_t open = pos_;
            ++pos_;
            skipSpace();
            bool ok;
            if (peek() == '@') {
                ++pos_;
                if (peek() == '@') return fail(aeBuildSyntaxUncoercedDoubleAt);
                ok = descriptorArgument(out);
            } else {
                ok = descriptor(out, depth + 1);
            }
            if (!ok) return false;
            return close(')', open, aeBuildSyntaxNoCloseParen);
        }
        if (c == '[') return list(out, depth);
        if (c == '{') return record(typeAERecord, out, depth);
        if (c == '-' || (c >= '0' && c <= '9')) {
            SInt64 v;
            if (!integer(&v)) return false;
            if (v >= -32768 && v <= 32767) return integerData(typeSInt16, v, out);
            return integerData(typeSInt32, v, out);
        }
        if (matchOpenQuote()) {
            std::string bytes;
            return text(&bytes) && makeBytes(typeChar, bytes.data(), bytes.size(), out);
        }
        if (matchOpenHex()) return fail(aeBuildSyntaxUncoercedHex);
        if (identStart(c)) {
            FourCharCode type;
            if (!code(&type)) return false;
            skipSpace();
            if (peek() == '(') return typedData(type, out);
            if (peek() == '{') return record(type, out, depth);
            if (peek() == '[') return fail(aeBuildSyntaxCoercedList);
            return makeBytes(typeEnumerated, &type, sizeof type, out);
        }
        return failHere(aeBuildSyntaxBadDesc);
    }
};

OSStatus finish(const Parser& parser, AEBuildError* error) {
    parser.report(error);
    return parser.status();
}

}  // namespace

OSStatus vAEBuildDesc(AEDesc* dst, AEBuildError* error, const char* src, va_list args) {
    if (error) *error = {aeBuildSyntaxNoErr, 0};
    if (!dst || !src) return paramErr;
    *dst = kNullDesc;
    Parser parser(src, args);
    parser.wholeDescriptor(dst);
    return finish(parser, error);
}

OSStatus AEBuildDesc(AEDesc* dst, AEBuildError* error, const char* src, ...) {
    va_list args;
    va_start(args, src);
    OSStatus err = vAEBuildDesc(dst, error, src, args);
    va_end(args);
    return err;
}

OSStatus vAEBuildParameters(AppleEvent* event, AEBuildError* error, const char* format,
                            va_list args) {
    if (error) *error = {aeBuildSyntaxNoErr, 0};
    if (!event || !format) return paramErr;
    if (event->descriptorType != typeAppleEvent) return errAEWrongDataType;
    Parser parser(format, args);
    std::vector<KeyedDesc> params;
    if (!parser.wholeParameters(&params)) return finish(parser, error);
    // All or nothing: a copy takes the parameters, then replaces the event.
    OwnedDesc copy;
    OSErr err = AEDuplicateDesc(event, copy.get());
    for (auto& p : params)
        if (err == noErr) err = AEPutParamDesc(copy.get(), p.key, p.desc.get());
    if (err != noErr) return err;
    AEDisposeDesc(event);
    *event = copy.take();
    return noErr;
}

OSStatus vAEBuildAppleEvent(AEEventClass theClass, AEEventID theID, DescType addressType,
                            const void* addressData, Size addressLength, SInt16 returnID,
                            SInt32 transactionID, AppleEvent* result, AEBuildError* error,
                            const char* paramsFmt, va_list args) {
    if (error) *error = {aeBuildSyntaxNoErr, 0};
    if (!result || !paramsFmt) return paramErr;
    *result = kNullDesc;
    OwnedDesc address;
    OSErr err = AECreateDesc(addressType, addressData, addressLength, address.get());
    if (err != noErr) return err;
    OwnedDesc event;
    err = AECreateAppleEvent(theClass, theID, address.get(), returnID, transactionID, event.get());
    if (err != noErr) return err;
    OSStatus status = vAEBuildParameters(event.get(), error, paramsFmt, args);
    if (status != noErr) return status;
    *result = event.take();
    return noErr;
}

OSStatus AEBuildAppleEvent(AEEventClass theClass, AEEventID theID, DescType addressType,
                           const void* addressData, Size addressLength, SInt16 returnID,
                           SInt32 transactionID, AppleEvent* result, AEBuildError* error,
                           const char* paramsFmt, ...) {
    va_list args;
    va_start(args, paramsFmt);
    OSStatus err = vAEBuildAppleEvent(theClass, theID, addressType, addressData, addressLength,
                                      returnID, transactionID, result, error, paramsFmt, args);
    va_end(args);
    return err;
}
