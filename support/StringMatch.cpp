#include "support/StringMatch.h"

#include <cmath>
#include <cstring>

#include "support/StringUtils.h"

namespace {

inline unsigned char fold(char c, bool nocase) {
    auto u = static_cast<unsigned char>(c);
    return nocase ? AsciiToLower(u) : u;
}

// 1.0 when a and b are equal and not empty.
float exactScore(const char* a, const char* b, bool nocase) {
    const char* s = a;
    const char* o = b;
    for (;;) {
        if (*o == '\0' || *s == '\0' || fold(*s, nocase) != fold(*o, nocase)) return 0.0f;
        ++s;
        ++o;
        if (*o == '\0') return *s == '\0' ? 1.0f : 0.0f;
    }
}

// 1.0 when other is not empty and occurs in subject.
float partialScore(const char* subject, const char* other, bool nocase) {
    float score = 0.0f;
    if (*other == '\0') return score;
    // Every start position is tried; a later miss never undoes a match.
    for (const char* p = subject; *p != '\0'; ++p) {
        std::size_t k = 0;
        while (p[k] != '\0' && other[k] != '\0' && fold(p[k], nocase) == fold(other[k], nocase))
            ++k;
        if (other[k] == '\0') score = 1.0f;
    }
    return score;
}

// Greedy in-order matching: each character of other is looked for in subject
// from just past the previous find. The score is 2m / (la + lb) written as
// 1 - (|la - m| + |lb - m|) / (la + lb); two empty strings score 0.0.
float approximateScore(const char* subject, const char* other, bool nocase) {
    std::size_t la = std::strlen(subject);
    std::size_t lb = std::strlen(other);
    if (la + lb == 0) return 0.0f;
    std::size_t m = 0;
    const char* pos = subject;
    for (const char* c = other; *c != '\0' && *pos != '\0'; ++c) {
        unsigned char wanted = fold(*c, nocase);
        for (const char* p = pos; *p != '\0'; ++p) {
            if (fold(*p, nocase) == wanted) {
                ++m;
                pos = p + 1;
                break;
            }
        }
    }
    float da = std::fabs(float(la) - float(m));
    float db = std::fabs(float(lb) - float(m));
    double quotient = (double(da) + double(db)) / double(la + lb);
    return static_cast<float>(1.0 - quotient);
}

// 1.0 when every piece occurs in subject, in list order, without overlap.
float wildcardScore(const char* subject, CList<CString256>& pieces, bool nocase) {
    const char* s = subject;
    pieces.current = pieces.head;
    while (elem<CString256>* node = pieces.current) {
        pieces.current = node->next;
        const char* piece = node->value.text;
        const char* found = nocase ? STRSTR(s, piece) : std::strstr(s, piece);
        if (!found) return 0.0f;
        s = found + std::strlen(piece);
    }
    return 1.0f;
}

}  // namespace

void CString256::match_case_exact(const CString256& other, float* score) const noexcept {
    if (score) *score = exactScore(text, other.text, false);
}
void CString256::match_nocase_exact(const CString256& other, float* score) const noexcept {
    if (score) *score = exactScore(text, other.text, true);
}
void CString256::match_case_partial(const CString256& other, float* score) const noexcept {
    if (score) *score = partialScore(text, other.text, false);
}
void CString256::match_nocase_partial(const CString256& other, float* score) const noexcept {
    if (score) *score = partialScore(text, other.text, true);
}
void CString256::match_case_approximate(const CString256& other, float* score) const noexcept {
    if (score) *score = approximateScore(text, other.text, false);
}
void CString256::match_nocase_approximate(const CString256& other, float* score) const noexcept {
    if (score) *score = approximateScore(text, other.text, true);
}
void CString256::match_wildcard_case(CList<CString256>& pieces, float* score) const noexcept {
    if (score) *score = wildcardScore(text, pieces, false);
}
void CString256::match_wildcard_nocase(CList<CString256>& pieces, float* score) const noexcept {
    if (score) *score = wildcardScore(text, pieces, true);
}

void CString256::match(void (*fn)(void*, void*, float*), void* argument, float* score) noexcept {
    if (fn)
        fn(this, argument, score);
    else if (score)
        *score = 0.0f;
}

// ---- adapters ----

namespace {

using Member = void (CString256::*)(const CString256&, float*) const noexcept;
using WildcardMember = void (CString256::*)(CList<CString256>&, float*) const noexcept;

void plainAdapter(Member member, void* subject, void* other, float* score) {
    if (!score) return;
    if (!subject || !other) {
        *score = 0.0f;
        return;
    }
    // Only the first 255 characters of the other text take part.
    CString256 argument(static_cast<const char*>(other));
    (static_cast<CString256*>(subject)->*member)(argument, score);
}

void wildcardAdapter(WildcardMember member, void* subject, void* pieces, float* score) {
    if (!score) return;
    if (!subject || !pieces) {
        *score = 0.0f;
        return;
    }
    CString256 text(static_cast<const char*>(subject));
    (text.*member)(*static_cast<CList<CString256>*>(pieces), score);
}

}  // namespace

void matcher_case_exact_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_case_exact, subject, other, score);
}
void matcher_nocase_exact_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_nocase_exact, subject, other, score);
}
void matcher_case_partial_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_case_partial, subject, other, score);
}
void matcher_nocase_partial_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_nocase_partial, subject, other, score);
}
void matcher_case_approximate_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_case_approximate, subject, other, score);
}
void matcher_nocase_approximate_256(void* subject, void* other, float* score) {
    plainAdapter(&CString256::match_nocase_approximate, subject, other, score);
}
void match_wildcard_case_256(void* subject, void* pieces, float* score) {
    wildcardAdapter(&CString256::match_wildcard_case, subject, pieces, score);
}
void match_wildcard_nocase_256(void* subject, void* pieces, float* score) {
    wildcardAdapter(&CString256::match_wildcard_nocase, subject, pieces, score);
}
