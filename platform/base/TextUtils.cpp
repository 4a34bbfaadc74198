#include "platform/base/TextUtils.h"

#include <cstring>

void CopyPascalStringToC(ConstStr255Param src, char* dst) {
    if (!dst) return;
    if (!src) {
        dst[0] = '\0';
        return;
    }
    std::size_t length = src[0];
    // memmove: converting in place shifts the bytes one place down.
    std::memmove(dst, src + 1, length);
    dst[length] = '\0';
}

void CopyCStringToPascal(const char* src, Str255 dst) {
    if (!dst) return;
    if (!src) {
        dst[0] = 0;
        return;
    }
    std::size_t length = ::strnlen(src, 255);
    // memmove: converting in place shifts the bytes one place up.
    std::memmove(dst + 1, src, length);
    dst[0] = static_cast<unsigned char>(length);
}
