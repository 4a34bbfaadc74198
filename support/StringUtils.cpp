#include "support/StringUtils.h"

#include <cstring>
#include <new>

const char* STRSTR(const char* text, const char* needle) {
    if (!text || !needle) return nullptr;
    if (*needle == '\0') return text;
    for (const char* p = text; *p != '\0'; ++p) {
        std::size_t k = 0;
        // A terminator of text differs from any character of needle, so the
        // comparison never runs past the end of text.
        while (needle[k] != '\0' && AsciiToUpper(static_cast<unsigned char>(p[k])) ==
                                        AsciiToUpper(static_cast<unsigned char>(needle[k])))
            ++k;
        if (needle[k] == '\0') return p;
    }
    return nullptr;
}

char* STRSTR(char* text, const char* needle) {
    return const_cast<char*>(STRSTR(static_cast<const char*>(text), needle));
}

int STRNCMP(const char* a, const char* b, int n) {
    for (int i = 0; i != n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (AsciiToUpper(x) != AsciiToUpper(y)) return int(x) - int(y);
        if (x == '\0') return 0;
    }
    return 0;
}

void reverse(char* s) {
    if (!s) return;
    std::size_t len = std::strlen(s);
    for (std::size_t i = 0; i + 1 < len - i; ++i) {
        char t = s[i];
        s[i] = s[len - 1 - i];
        s[len - 1 - i] = t;
    }
}

namespace {

// Writes the digits of magnitude (at most maxDigits of them, lowest first),
// the sign, the terminator, and reverses the text into reading order.
template <typename Unsigned>
void writeDecimal(char* buf, Unsigned magnitude, bool negative, long maxDigits) {
    long digits = 0;
    char* out = buf;
    while (digits < maxDigits) {
        *out++ = static_cast<char>('0' + magnitude % 10);
        ++digits;
        magnitude = static_cast<Unsigned>(magnitude / 10);
        if (magnitude == 0) break;
    }
    if (negative && digits > 0) *out++ = '-';
    *out = '\0';
    reverse(buf);
}

template <typename Unsigned>
int countDigits(Unsigned magnitude) {
    int digits = 1;
    while ((magnitude = static_cast<Unsigned>(magnitude / 10)) != 0) ++digits;
    return digits;
}

template <typename Unsigned>
char* allocateDecimal(Unsigned magnitude, bool negative) {
    int digits = countDigits(magnitude);
    char* buf = new (std::nothrow) char[std::size_t(digits) + 2];
    if (!buf) return nullptr;
    writeDecimal(buf, magnitude, negative, digits);
    return buf;
}

}  // namespace

void itoa(char* buf, short size, long v) {
    if (!buf || size <= 0) return;
    bool negative = v < 0;
    // The magnitude as an unsigned quantity: well defined for the most
    // negative value too.
    unsigned long magnitude =
        negative ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    // Room for the terminator, and for the sign of a negative value, so the
    // text never overflows a buffer of size bytes.
    long maxDigits = long(size) - 1 - (negative ? 1 : 0);
    writeDecimal(buf, magnitude, negative, maxDigits);
}

char* itoa(unsigned long v) {
    return allocateDecimal(v, false);
}

char* itoa(long v) {
    bool negative = v < 0;
    unsigned long magnitude =
        negative ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    return allocateDecimal(magnitude, negative);
}

char* itoa(short v) {
    bool negative = v < 0;
    // 16-bit arithmetic on the magnitude: -32768 gives 32768.
    auto magnitude = static_cast<unsigned short>(negative ? 0U - static_cast<unsigned>(v)
                                                          : static_cast<unsigned>(v));
    return allocateDecimal(magnitude, negative);
}
