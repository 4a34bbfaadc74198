#include "support/CString256.h"

#include <cstring>
#include <new>

#include "platform/base/MacMemory.h"
#include "platform/base/TextUtils.h"
#include "support/PoolPoison.h"
#include "support/StringUtils.h"

CString256* CString256::nfree = nullptr;

// ---- construction and assignment ----

CString256::CString256() noexcept : pool_next(nullptr) {
    text[0] = '\0';
}

CString256::CString256(const char* s) noexcept : pool_next(nullptr) {
    text[0] = '\0';
    *this = s;
}

CString256::CString256(const unsigned char* p) noexcept : pool_next(nullptr) {
    text[0] = '\0';
    *this = p;
}

CString256::CString256(const CString256& other) noexcept : pool_next(nullptr) {
    text[0] = '\0';
    *this = other;
}

std::size_t CString256::length() const noexcept {
    return ::strnlen(text, kCapacity);
}

// memmove: the source may lie inside this string's own text.
void CString256::assignBytes(const char* bytes, std::size_t count) noexcept {
    if (count > kCapacity) count = kCapacity;
    std::memmove(text, bytes, count);
    text[count] = '\0';
}

void CString256::appendBytes(const char* bytes, std::size_t count) noexcept {
    std::size_t len = length();
    std::size_t room = kCapacity - len;
    if (count > room) count = room;
    std::memmove(text + len, bytes, count);
    text[len + count] = '\0';
}

CString256& CString256::operator=(const char* s) noexcept {
    if (!s) {
        text[0] = '\0';
        return *this;
    }
    assignBytes(s, ::strnlen(s, kCapacity));
    return *this;
}

CString256& CString256::operator=(const CString256& other) noexcept {
    if (this != &other) assignBytes(other.text, other.length());
    return *this;
}

CString256& CString256::operator=(const unsigned char* p) noexcept {
    // A Pascal string holds at most 255 bytes, so with its terminator it
    // always fits the 256-byte text; conversion in place is allowed.
    CopyPascalStringToC(p, text);
    return *this;
}

CString256& CString256::operator=(char** h) noexcept {
    Size size = GetHandleSize(h);
    std::size_t n = size > 0 ? std::size_t(size) : 0;
    if (n > kCapacity) n = kCapacity;
    if (n > 0) std::memmove(text, *h, n);
    text[n] = '\0';
    return *this;
}

CString256& CString256::operator=(long v) noexcept {
    itoa(text, 31, v);
    return *this;
}

// ---- appending ----

CString256& CString256::operator+=(const char* s) noexcept {
    if (s) appendBytes(s, ::strnlen(s, kCapacity));
    return *this;
}

CString256& CString256::operator+=(const CString256& other) noexcept {
    // The length is taken before anything is written, so s += s works.
    appendBytes(other.text, other.length());
    return *this;
}

CString256& CString256::operator+=(const unsigned char* p) noexcept {
    if (!p) return *this;
    char buffer[kCapacity + 1];
    CopyPascalStringToC(p, buffer);
    return *this += buffer;
}

CString256& CString256::operator+=(char c) noexcept {
    std::size_t len = length();
    if (len <= kCapacity - 2) {
        text[len] = c;
        text[len + 1] = '\0';
    }
    return *this;
}

CString256& CString256::operator+=(long v) noexcept {
    char buffer[32];
    itoa(buffer, 31, v);
    return *this += buffer;
}

// ---- transformations ----

void CString256::to_lower() noexcept {
    for (char* p = text; *p != '\0'; ++p)
        *p = static_cast<char>(AsciiToLower(static_cast<unsigned char>(*p)));
}

void CString256::filter_to_alnum_or_punct() noexcept {
    char* out = text;
    for (const char* p = text; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (IsAsciiAlnum(c) || IsAsciiPunct(c)) *out++ = *p;
    }
    *out = '\0';
}

CString256& CString256::change_suffix(const char* suffix) noexcept {
    if (char* dot = std::strrchr(text, '.')) *dot = '\0';
    *this += ".";
    *this += suffix;
    return *this;
}

// ---- prefix and suffix tests ----

namespace {

bool samePrefix(const char* a, const char* b, std::size_t n, unsigned char nocase) {
    if (n == 0) return true;
    return nocase ? STRNCMP(a, b, int(n)) == 0 : std::strncmp(a, b, n) == 0;
}

}  // namespace

Boolean CString256::beginsWith(const char* prefix, unsigned char nocase) const noexcept {
    if (!prefix) return 1;
    return samePrefix(text, prefix, std::strlen(prefix), nocase) ? 1 : 0;
}

Boolean CString256::beginsWith(const CString256* prefix, unsigned char nocase) const noexcept {
    return beginsWith(prefix ? prefix->text : nullptr, nocase);
}

Boolean CString256::endsWith(const char* suffix, unsigned char nocase) const noexcept {
    if (!suffix) return 1;
    std::size_t len = length();
    std::size_t n = std::strlen(suffix);
    if (len < n) return 0;
    return samePrefix(text + len - n, suffix, n, nocase) ? 1 : 0;
}

Boolean CString256::endsWith(const CString256* suffix, unsigned char nocase) const noexcept {
    return endsWith(suffix ? suffix->text : nullptr, nocase);
}

Boolean CString256::beginsWith_nocase(const CString256& prefix) const noexcept {
    return beginsWith(&prefix, 1);
}
Boolean CString256::beginsWith_nocase(const char* prefix) const noexcept {
    return beginsWith(prefix, 1);
}
Boolean CString256::endsWith_nocase(const CString256& suffix) const noexcept {
    return endsWith(&suffix, 1);
}
Boolean CString256::endsWith_nocase(const char* suffix) const noexcept {
    return endsWith(suffix, 1);
}

// ---- output to a buffer ----

void CString256::print(char* out) const noexcept {
    if (!out) return;
    std::size_t end = std::strlen(out);
    std::size_t len = length();
    std::memmove(out + end, text, len);
    out[end + len] = '\n';
    out[end + len + 1] = '\0';
}

// ---- the pool ----

void* CString256::operator new(std::size_t) noexcept {
    if (!nfree) {
        void* raw = ::operator new[](kSlotsPerBlock * sizeof(CString256), std::nothrow);
        if (!raw) return nullptr;
        auto* block = static_cast<CString256*>(raw);
        // Slot 0 is handed out now; slots 255 down to 1 follow, in that order.
        for (std::size_t i = 1; i < kSlotsPerBlock; ++i) {
            block[i].pool_next = i > 1 ? &block[i - 1] : nullptr;
            PoisonPoolSlot(&block[i], offsetof(CString256, pool_next));
        }
        nfree = &block[kSlotsPerBlock - 1];
        return &block[0];
    }
    CString256* slot = nfree;
    nfree = slot->pool_next;
    UnpoisonPoolSlot(slot, offsetof(CString256, pool_next));
    return slot;
}

void CString256::operator delete(void* p, std::size_t) noexcept {
    if (!p) return;
    auto* slot = static_cast<CString256*>(p);
    slot->pool_next = nfree;
    nfree = slot;
    PoisonPoolSlot(slot, offsetof(CString256, pool_next));
}
