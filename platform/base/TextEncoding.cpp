#include "platform/base/TextEncoding.h"

#include <iconv.h>

#include <QChar>
#include <QList>
#include <QString>
#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Apple's Mac Roman table, read once from glibc's "MACINTOSH" converter with
// the two bytes where glibc follows an older table corrected by hand. The
// reverse table answers 0 for characters Mac Roman lacks (U+0000 is byte 0).
struct MacRomanTables {
    std::array<char16_t, 256> toUnicode{};
    std::array<UInt8, 0x10000> fromUnicode{};
    bool complete = false;

    MacRomanTables() {
        for (int b = 0; b < 128; ++b) toUnicode[b] = char16_t(b);
        for (int b = 128; b < 256; ++b) toUnicode[b] = 0;
        iconv_t cd = iconv_open("UTF-16LE", "MACINTOSH");
        if (cd != iconv_t(-1)) {
            complete = true;
            for (int b = 128; b < 256; ++b) {
                char in = char(b);
                unsigned char out[4] = {};
                char* inp = &in;
                char* outp = reinterpret_cast<char*>(out);
                size_t inLeft = 1, outLeft = sizeof out;
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == size_t(-1) ||
                    sizeof out - outLeft != 2) {
                    complete = false;
                    continue;
                }
                toUnicode[b] = char16_t(out[0] | (out[1] << 8));
            }
            iconv_close(cd);
        }
        toUnicode[0xC6] = 0x2206;  // INCREMENT (glibc: GREEK CAPITAL DELTA)
        toUnicode[0xF0] = 0xF8FF;  // Apple logo (glibc: a private-use U+E01E)
        for (int b = 255; b >= 0; --b)
            if (b < 128 || toUnicode[b] != 0) fromUnicode[toUnicode[b]] = UInt8(b);
    }

    // Byte for one character, or -1 when Mac Roman has none.
    int byteFor(char32_t c) const {
        if (c == 0) return 0;
        if (c > 0xFFFF) return -1;
        UInt8 b = fromUnicode[c];
        return b == 0 ? -1 : b;
    }
};

const MacRomanTables& tables() {
    static const MacRomanTables t;
    return t;
}

enum class Enc { MacRoman, Utf16, Utf8 };

bool encFromTextEncoding(TextEncoding e, Enc& out) {
    switch (e) {
        case kTextEncodingMacRoman:
            out = Enc::MacRoman;
            return true;
        case kTextEncodingUnicodeDefault:
            out = Enc::Utf16;
            return true;
        case kTextEncodingUTF8:
            out = Enc::Utf8;
            return true;
        default:
            return false;
    }
}

struct Decoded {
    bool partial;  // the input ends inside a character
    char32_t c;
    size_t length;  // bytes taken
};

// Reads one UTF-8 sequence (Unicode's table of well-formed sequences: no
// overlong forms, no surrogates, nothing past U+10FFFF). Length 0 when the bytes
// do not start a valid sequence; `partial` when they are a valid but cut prefix.
Decoded decodeUtf8(const UInt8* p, size_t n) {
    UInt8 b = p[0];
    if (b < 0x80) return {false, b, 1};
    size_t need;
    UInt8 lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return {false, 0, 0};
    }
    char32_t c = b & (0x7F >> (need + 1));
    for (size_t i = 1; i <= need; ++i) {
        if (i >= n) return {true, 0, 0};
        UInt8 min = i == 1 ? lo : 0x80, max = i == 1 ? hi : 0xBF;
        if (p[i] < min || p[i] > max) return {false, 0, 0};
        c = (c << 6) | (p[i] & 0x3F);
    }
    return {false, c, need + 1};
}

// One character of the input. With `atEnd`, input cut inside a character is
// decoded with the usual fallbacks instead of being reported as partial.
Decoded decodeOne(Enc enc, const UInt8* p, size_t n, bool atEnd) {
    switch (enc) {
        case Enc::MacRoman:
            return {false, tables().toUnicode[p[0]], 1};
        case Enc::Utf16: {
            if (n < 2) return atEnd ? Decoded{false, kReplacement, n} : Decoded{true, 0, 0};
            char16_t u;
            std::memcpy(&u, p, 2);
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (n < 4) return atEnd ? Decoded{false, kReplacement, 2} : Decoded{true, 0, 0};
                char16_t v;
                std::memcpy(&v, p + 2, 2);
                if (v >= 0xDC00 && v <= 0xDFFF)
                    return {false, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (v - 0xDC00), 4};
                return {false, kReplacement, 2};
            }
            if (u >= 0xDC00 && u <= 0xDFFF) return {false, kReplacement, 2};
            return {false, u, 2};
        }
        case Enc::Utf8: {
            Decoded d = decodeUtf8(p, n);
            if (d.partial && !atEnd) return d;
            if (d.partial || d.length == 0) return {false, p[0], 1};  // Latin-1
            return d;
        }
    }
    return {false, kReplacement, 1};
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

void appendUtf16Bytes(std::string& out, char32_t c) {
    char16_t units[2];
    int n = 1;
    if (c >= 0x10000) {
        units[0] = char16_t(0xD800 + ((c - 0x10000) >> 10));
        units[1] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        n = 2;
    } else {
        units[0] = char16_t(c);
    }
    out.append(reinterpret_cast<const char*>(units), n * 2);
}

// Encodes one cluster (a character and the combining marks after it). For Mac
// Roman the cluster is composed first, so decomposed accents find their byte.
void encodeCluster(Enc enc, const std::vector<char32_t>& cluster, std::string& out, bool& lossy) {
    switch (enc) {
        case Enc::MacRoman: {
            std::vector<char32_t> composed = cluster;
            if (cluster.size() > 1) {
                QList<uint> ucs4 = QString::fromUcs4(cluster.data(), qsizetype(cluster.size()))
                                       .normalized(QString::NormalizationForm_C)
                                       .toUcs4();
                composed.assign(ucs4.begin(), ucs4.end());
            }
            for (char32_t c : composed) {
                int b = tables().byteFor(c);
                if (b < 0) {
                    lossy = true;
                    b = '?';
                }
                out += char(b);
            }
            break;
        }
        case Enc::Utf16:
            for (char32_t c : cluster) appendUtf16Bytes(out, c);
            break;
        case Enc::Utf8:
            for (char32_t c : cluster) appendUtf8(out, c);
            break;
    }
}

struct ConvertResult {
    OSStatus status = noErr;
    size_t consumed = 0;
    bool lossy = false;
};

// The one conversion loop behind the converter calls and the helpers. Output
// stops before a cluster that would not fit in `room` bytes.
ConvertResult convert(Enc from, Enc to, const UInt8* in, size_t n, std::string& out, size_t room,
                      bool atEnd) {
    ConvertResult r;
    std::vector<char32_t> cluster;
    std::string piece;
    size_t pos = 0;
    while (pos < n) {
        Decoded d = decodeOne(from, in + pos, n - pos, atEnd);
        if (d.partial) {
            r.status = kTECPartialCharErr;
            break;
        }
        cluster.assign(1, d.c);
        size_t next = pos + d.length;
        if (to == Enc::MacRoman) {
            while (next < n) {
                Decoded e = decodeOne(from, in + next, n - next, atEnd);
                if (e.partial || QChar::combiningClass(e.c) == 0) break;
                cluster.push_back(e.c);
                next += e.length;
            }
        }
        piece.clear();
        encodeCluster(to, cluster, piece, r.lossy);
        if (out.size() + piece.size() > room) {
            r.status = kTECOutputBufferFullStatus;
            break;
        }
        out += piece;
        pos = next;
    }
    r.consumed = pos;
    return r;
}

std::string convertWhole(Enc from, Enc to, const void* in, size_t n, bool* lossless = nullptr) {
    std::string out;
    ConvertResult r =
        convert(from, to, static_cast<const UInt8*>(in), n, out, std::string::npos, true);
    if (lossless) *lossless = !r.lossy;
    return out;
}

std::u16string toU16(const std::string& bytes) {
    std::u16string s(bytes.size() / 2, u'\0');
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

long gLiveConverters = 0;

}  // namespace

struct OpaqueTECObjectRef {
    Enc from;
    Enc to;
};

OSStatus TECCreateConverter(TECObjectRef* newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding) {
    if (!newEncodingConverter) return paramErr;
    *newEncodingConverter = nullptr;
    Enc from, to;
    if (!encFromTextEncoding(inputEncoding, from) || !encFromTextEncoding(outputEncoding, to))
        return kTECNoConversionPathErr;
    if ((from == Enc::MacRoman || to == Enc::MacRoman) && !tables().complete)
        return kTECNoConversionPathErr;
    *newEncodingConverter = new (std::nothrow) OpaqueTECObjectRef{from, to};
    if (!*newEncodingConverter) return memFullErr;
    ++gLiveConverters;
    return noErr;
}

OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer,
                        ByteCount inputBufferLength, ByteCount* actualInputLength,
                        TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount* actualOutputLength) {
    if (actualInputLength) *actualInputLength = 0;
    if (actualOutputLength) *actualOutputLength = 0;
    if (!encodingConverter || (!inputBuffer && inputBufferLength) ||
        (!outputBuffer && outputBufferLength))
        return paramErr;
    std::string out;
    ConvertResult r = convert(encodingConverter->from, encodingConverter->to, inputBuffer,
                              inputBufferLength, out, outputBufferLength, false);
    if (!out.empty()) std::memcpy(outputBuffer, out.data(), out.size());
    if (actualInputLength) *actualInputLength = ByteCount(r.consumed);
    if (actualOutputLength) *actualOutputLength = ByteCount(out.size());
    return r.status;
}

OSStatus TECDisposeConverter(TECObjectRef encodingConverter) {
    if (!encodingConverter) return paramErr;
    delete encodingConverter;
    --gLiveConverters;
    return noErr;
}

long TECLiveConverterCount() {
    return gLiveConverters;
}

std::string MacRomanFromUtf8(std::string_view utf8) {
    return convertWhole(Enc::Utf8, Enc::MacRoman, utf8.data(), utf8.size());
}

std::string Utf8FromMacRoman(std::string_view macRoman) {
    return convertWhole(Enc::MacRoman, Enc::Utf8, macRoman.data(), macRoman.size());
}

std::u16string Utf16FromMacRoman(std::string_view macRoman) {
    return toU16(convertWhole(Enc::MacRoman, Enc::Utf16, macRoman.data(), macRoman.size()));
}

std::string MacRomanFromUtf16(std::u16string_view utf16, bool* lossless) {
    return convertWhole(Enc::Utf16, Enc::MacRoman, utf16.data(), utf16.size() * 2, lossless);
}

std::u16string Utf16FromFileName(std::string_view name) {
    return toU16(convertWhole(Enc::Utf8, Enc::Utf16, name.data(), name.size()));
}

bool DecodeUtf8Strict(std::string_view utf8, std::u16string& out) {
    std::string bytes;
    const UInt8* p = reinterpret_cast<const UInt8*>(utf8.data());
    size_t pos = 0;
    while (pos < utf8.size()) {
        Decoded d = decodeUtf8(p + pos, utf8.size() - pos);
        if (d.partial || d.length == 0) return false;
        appendUtf16Bytes(bytes, d.c);
        pos += d.length;
    }
    out = toU16(bytes);
    return true;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
    return convertWhole(Enc::Utf16, Enc::Utf8, utf16.data(), utf16.size() * 2);
}
