// The matching family: exact, partial, approximate and wildcard scores in
// both case forms, through the generic match entry point and its eight adapters.
#include "support/StringMatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Adapter = void (*)(void*, void*, float*);

// The approximate score as the formula computes it: 1 - (|la - m| + |lb - m|) / (la + lb).
float approx(int la, int lb, int m) {
    return static_cast<float>(1.0 - (double(std::abs(la - m)) + std::abs(lb - m)) / (la + lb));
}

CList<CString256> pieces(const std::vector<const char*>& texts) {
    CList<CString256> list;
    for (const char* t : texts) list.append(CString256(t));
    return list;
}

float score(Adapter fn, const char* subject, void* argument) {
    CString256 s(subject);
    float result = -1.0f;
    s.match(fn, argument, &result);
    return result;
}

// Only the first 255 characters of the other string count, as of a CString256.
const std::string t255(255, 'z'), t300 = t255 + std::string(45, 'y');

TEST(StringMatch, ExactPartialAndApproximateScoresInBothCaseForms) {
    const struct {
        Adapter fn;
        const char* subject;
        const char* other;
        float expected;
    } cases[] = {
        {matcher_case_exact_256, "abc", "abc", 1},
        {matcher_case_exact_256, "abc", "ab", 0},
        {matcher_case_exact_256, "ABC", "abc", 0},
        {matcher_case_exact_256, t255.c_str(), t300.c_str(), 1},
        {matcher_nocase_exact_256, "ABC", "abc", 1},
        {matcher_nocase_exact_256, "", "", 0},
        {matcher_nocase_exact_256, "\xC4", "\xE4", 0},          // only ASCII letters fold
        {matcher_case_partial_256, "hello world", "world", 1},  // at the very end
        {matcher_case_partial_256, "hello world", "", 0},
        {matcher_case_partial_256, "hello", "hello world", 0},
        {matcher_case_partial_256, "hello world", "LO W", 0},
        {matcher_nocase_partial_256, "hello world", "LO W", 1},
        {matcher_case_partial_256, "abxxxx", "ab", 1},  // an early match survives later misses
        {matcher_case_partial_256, "aab", "ab", 1},     // a partial overlap that restarts
        {matcher_case_approximate_256, "hello", "help", approx(5, 4, 3)},
        // Greedy, not a longest common subsequence: 'c' is found at the end
        // and nothing is left for 'a' and 'b'.
        {matcher_case_approximate_256, "abc", "cab", 1.0f / 3.0f},
        {matcher_case_approximate_256, "", "", 0},
        // A character that is not found leaves the position where it was.
        {matcher_case_approximate_256, "abcd", "axcd", approx(4, 4, 3)},
        {matcher_case_approximate_256, "a", "aaaa", approx(1, 4, 1)},
        {matcher_case_approximate_256, "HELLO", "help", 0},
        {matcher_nocase_approximate_256, "HELLO", "help", approx(5, 4, 3)}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(score(c.fn, c.subject, const_cast<char*>(c.other)), c.expected)
            << '"' << c.subject << "\" / \"" << c.other << '"';
}

TEST(StringMatch, WildcardPiecesInOrderWithoutOverlapWithin255CharactersAndNullArgumentsScoreZero) {
    const struct {
        bool nocase;
        const char* subject;
        std::vector<const char*> pieces;
        float expected;
    } cases[] = {{false, "report-2020.txt", {"rep", "2020", ".txt"}, 1},
                 {false, "report-2020.txt", {"txt", "rep"}, 0},
                 {false, "aaa", {"aa", "aa"}, 0},
                 {false, "aaaa", {"aa", "aa"}, 1},
                 {false, "", {}, 1},
                 {false, "ab", {"a", "", "b"}, 1},
                 {false, "REPORT", {"rep"}, 0},
                 {true, "REPORT", {"rep"}, 1}};
    for (const auto& c : cases) {
        auto list = pieces(c.pieces);
        list.current = list.tail;  // a position left by an earlier walk: matching starts at head
        EXPECT_EQ(
            score(c.nocase ? match_wildcard_nocase_256 : match_wildcard_case_256, c.subject, &list),
            c.expected)
            << c.subject;
    }
    // The wildcard subject may be a plain C string; a piece lying past its
    // 255th character is not found.
    for (auto [piece, expected] : {std::pair{"z", 1.0f}, {"y", 0.0f}}) {
        auto list = pieces({piece});
        float result = -1.0f;
        match_wildcard_case_256(const_cast<char*>(t300.c_str()), &list, &result);
        EXPECT_EQ(result, expected) << piece;
    }
    // Null arguments score zero instead of crashing.
    for (Adapter fn : {matcher_case_exact_256, match_wildcard_case_256, Adapter(nullptr)})
        EXPECT_EQ(score(fn, "abc", nullptr), 0.0f);
    CString256 subject("abc");
    matcher_case_exact_256(&subject, const_cast<char*>("abc"), nullptr);
    subject.match_case_exact(CString256("abc"), nullptr);
}

}  // namespace
