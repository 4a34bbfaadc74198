// CString256 from a Core Foundation string: the text in Mac Roman, cut after
// the last whole character that fits in 255 bytes.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "platform/base/TextEncoding.h"
#include "platform/cf/CoreFoundation.h"
#include "support/CString256.h"

CString256& CString256::operator=(CFStringRef s) noexcept {
    text[0] = '\0';
    if (!s) return *this;
    const CFIndex total = CFStringGetLength(s);
    if (total <= 0) return *this;
    try {
        std::vector<UniChar> units(static_cast<std::size_t>(total));
        CFStringGetCharacters(s, CFRangeMake(0, total), units.data());
        // Mac Roman gives one byte per character (decomposed accents are
        // composed first, a character it lacks becomes one '?'), so the first
        // 255 bytes of the whole conversion are the longest prefix of whole
        // characters that fits. The whole string is converted because where a
        // character ends can depend on the combining marks that follow it.
        std::string macRoman = MacRomanFromUtf16(
            std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()));
        // A U+0000 in the string ends the text there, as in any C string.
        assignBytes(macRoman.data(), std::min(macRoman.size(), kCapacity));
    } catch (const std::bad_alloc&) {
        // No memory for the conversion: the string stays empty.
    }
    return *this;
}
