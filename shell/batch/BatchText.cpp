#include "shell/batch/BatchText.h"

#include <cstdio>

namespace {

// A control character written as an escape: "\n", "\t" and "\r" as both the
// terminal and JSON read them, any other in `format` ("\\x%02X" or "\\u%04x").
void appendControlEscape(std::string* out, unsigned char c, const char* format) {
    switch (c) {
        case '\n':
            *out += "\\n";
            break;
        case '\t':
            *out += "\\t";
            break;
        case '\r':
            *out += "\\r";
            break;
        default: {
            char esc[8];
            std::snprintf(esc, sizeof esc, format, c);
            *out += esc;
        }
    }
}

}  // namespace

std::string TerminalPath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c == 0x7F)
            appendControlEscape(&out, c, "\\x%02X");
        else
            out += char(c);
    }
    return out;
}

namespace {

// Length of the valid UTF-8 sequence at p (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    std::size_t n;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    unsigned value = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

void appendCodePoint(std::string* out, unsigned value) {
    if (value < 0x80) {
        *out += char(value);
    } else {
        *out += char(0xC0 | (value >> 6));
        *out += char(0x80 | (value & 0x3F));
    }
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            appendControlEscape(&out, c, "\\u%04x");
            ++i;
        } else if (std::size_t n = utf8Length(p + i, bytes.size() - i)) {
            out.append(bytes.data() + i, n);
            i += n;
        } else {
            appendCodePoint(&out, c);  // a stray byte, as its Latin-1 character
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string FourCharText(UInt32 code) {
    char chars[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    bool printable = true;
    for (char c : chars) printable = printable && c >= 0x20 && c <= 0x7E;
    if (printable) return std::string(chars, 4);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", unsigned(code));
    return hex;
}
