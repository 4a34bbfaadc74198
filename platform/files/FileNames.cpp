#include "platform/files/FileNames.h"

namespace filenames {

namespace {

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the
// bytes there are not one (overlong forms and surrogates are not valid).
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t* cp) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    std::size_t n;
    char32_t v;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
        (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return n;
}

void appendUtf8(std::string& out, char32_t v) {
    if (v < 0x80) {
        out += char(v);
    } else if (v < 0x800) {
        out += char(0xC0 | (v >> 6));
        out += char(0x80 | (v & 0x3F));
    } else if (v < 0x10000) {
        out += char(0xE0 | (v >> 12));
        out += char(0x80 | ((v >> 6) & 0x3F));
        out += char(0x80 | (v & 0x3F));
    } else {
        out += char(0xF0 | (v >> 18));
        out += char(0x80 | ((v >> 12) & 0x3F));
        out += char(0x80 | ((v >> 6) & 0x3F));
        out += char(0x80 | (v & 0x3F));
    }
}

bool validUtf8(std::string_view s) {
    char32_t cp;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = decodeUtf8(s, i, &cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace

void toUnicode(std::string_view name, HFSUniStr255* out) {
    UInt16 len = 0;
    auto put = [&](UniChar u) {
        if (len < 255) out->unicode[len++] = u;
    };
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp;
        std::size_t n = decodeUtf8(name, i, &cp);
        if (n == 0) {
            cp = static_cast<unsigned char>(name[i]);
            n = 1;
        }
        i += n;
        if (cp >= 0x10000) {
            if (len > 253) break;  // a pair is never cut in half
            put(UniChar(0xD800 + ((cp - 0x10000) >> 10)));
            put(UniChar(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            put(UniChar(cp));
        }
    }
    out->length = len;
}

std::vector<std::string> fromUnicode(const UniChar* units, UniCharCount length) {
    std::string utf8;
    std::string latin;
    for (UniCharCount i = 0; i < length; ++i) {
        char32_t v = units[i];
        if (v >= 0xD800 && v <= 0xDBFF) {
            if (i + 1 >= length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return {};
            v = 0x10000 + ((v - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (v >= 0xDC00 && v <= 0xDFFF) {
            return {};
        }
        appendUtf8(utf8, v);
        // Up to U+00FF a character may stand for one raw byte; above it, it
        // came from valid UTF-8 inside the name.
        if (v <= 0xFF)
            latin += char(v);
        else
            appendUtf8(latin, v);
    }
    std::vector<std::string> names{utf8};
    if (latin != utf8 && !validUtf8(latin)) names.push_back(latin);
    return names;
}

bool isComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= 255 &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace filenames
