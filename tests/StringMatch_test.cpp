// The matching family: exact, partial, approximate and wildcard scores in
// both case forms, the generic match entry point and the eight adapters.
#include "support/StringMatch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using MemberFn = void (CString256::*)(const CString256&, float*) const noexcept;

// The approximate score as the formula computes it: 1 - (|la - m| + |lb - m|) / (la + lb).
float approx(int la, int lb, int m) {
    return static_cast<float>(1.0 - (double(std::abs(la - m)) + std::abs(lb - m)) / (la + lb));
}

CList<CString256> pieces(std::initializer_list<const char*> texts) {
    CList<CString256> list;
    for (const char* t : texts) list.append(CString256(t));
    return list;
}

float wildcard(bool nocase, const char* subject, std::initializer_list<const char*> texts) {
    auto list = pieces(texts);
    float result = -1.0f;
    CString256 s(subject);
    if (nocase)
        s.match_wildcard_nocase(list, &result);
    else
        s.match_wildcard_case(list, &result);
    return result;
}

TEST(StringMatch, MemberScores) {
    const MemberFn caseExact = &CString256::match_case_exact,
                   nocaseExact = &CString256::match_nocase_exact,
                   casePartial = &CString256::match_case_partial,
                   nocasePartial = &CString256::match_nocase_partial,
                   caseApprox = &CString256::match_case_approximate,
                   nocaseApprox = &CString256::match_nocase_approximate;
    const struct {
        MemberFn fn;
        const char* subject;
        const char* other;
        float expected;
    } cases[] = {{caseExact, "abc", "abc", 1},
                 {caseExact, "abc", "ab", 0},
                 {caseExact, "ab", "abc", 0},
                 {caseExact, "ABC", "abc", 0},
                 {nocaseExact, "ABC", "abc", 1},
                 {nocaseExact, "ABC", "abd", 0},
                 {caseExact, "", "", 0},
                 {nocaseExact, "", "", 0},
                 {caseExact, "", "abc", 0},
                 {nocaseExact, "\xC4", "\xE4", 0},  // only ASCII letters fold
                 {nocaseExact, "x\xC4", "X\xC4", 1},
                 {casePartial, "hello world", "lo w", 1},
                 {casePartial, "hello world", "world", 1},  // at the very end
                 {casePartial, "hello world", "hello", 1},  // at the start
                 {casePartial, "hello world", "", 0},
                 {casePartial, "", "a", 0},
                 {casePartial, "", "", 0},
                 {casePartial, "hello", "hello world", 0},
                 {casePartial, "hello world", "LO W", 0},
                 {nocasePartial, "hello world", "LO W", 1},
                 {casePartial, "abxxxx", "ab", 1},  // an early match survives later misses
                 {casePartial, "aab", "ab", 1},     // a partial overlap that restarts
                 {caseApprox, "hello", "help", approx(5, 4, 3)},
                 // Greedy, not a longest common subsequence: 'c' is found at the end
                 // and nothing is left for 'a' and 'b'.
                 {caseApprox, "abc", "cab", 1.0f / 3.0f},
                 {caseApprox, "abc", "abc", 1},
                 {caseApprox, "abc", "xyz", 0},
                 {caseApprox, "", "abc", 0},
                 {caseApprox, "abc", "", 0},
                 {caseApprox, "", "", 0},
                 // A character that is not found leaves the position where it was.
                 {caseApprox, "abcd", "axcd", approx(4, 4, 3)},
                 {caseApprox, "a", "aaaa", approx(1, 4, 1)},
                 {caseApprox, "HELLO", "help", 0},
                 {nocaseApprox, "HELLO", "help", approx(5, 4, 3)},
                 {nocaseApprox, "AbC", "aBc", 1},
                 {nocaseApprox, "\xC4", "\xE4", 0}};
    for (const auto& c : cases) {
        float result = -1.0f;
        (CString256(c.subject).*c.fn)(CString256(c.other), &result);
        EXPECT_FLOAT_EQ(result, c.expected) << '"' << c.subject << "\" / \"" << c.other << '"';
    }
}

TEST(WildcardMatch, PiecesInOrderWithoutOverlapInBothCaseForms) {
    EXPECT_EQ(wildcard(false, "report-2020.txt", {"rep", "2020", ".txt"}), 1.0f);
    EXPECT_EQ(wildcard(false, "report-2020.txt", {"txt", "rep"}), 0.0f);
    EXPECT_EQ(wildcard(false, "report-2020.txt", {"rep", "2021"}), 0.0f);
    EXPECT_EQ(wildcard(false, "aaa", {"aa", "aa"}), 0.0f);
    EXPECT_EQ(wildcard(false, "aaaa", {"aa", "aa"}), 1.0f);
    EXPECT_EQ(wildcard(false, "anything", {}), 1.0f);
    EXPECT_EQ(wildcard(false, "", {}), 1.0f);
    EXPECT_EQ(wildcard(false, "ab", {"a", "", "b"}), 1.0f);
    EXPECT_EQ(wildcard(false, "REPORT", {"rep"}), 0.0f);
    EXPECT_EQ(wildcard(true, "REPORT", {"rep"}), 1.0f);
    EXPECT_EQ(wildcard(true, "report", {"R", "T"}), 1.0f);
    EXPECT_EQ(wildcard(true, "report", {"T", "R"}), 0.0f);
}

TEST(WildcardMatch, UsesAndMovesTheListsTraversalPosition) {
    auto list = pieces({"a", "b", "c"});
    float result = -1.0f;
    // A stale position from an earlier walk does not matter: matching starts from head.
    list.current = list.tail;
    CString256("xaybzc").match_wildcard_case(list, &result);
    EXPECT_EQ(result, 1.0f);
    EXPECT_EQ(list.current, nullptr);
    // A failed match stops early, leaving current just past the failing piece.
    CString256("xaz").match_wildcard_case(list, &result);
    EXPECT_EQ(result, 0.0f);
    EXPECT_EQ(list.current, list.tail);
    CString256("abc").match_wildcard_case(list, &result);
    EXPECT_EQ(result, 1.0f);
}

TEST(MatchEntryPoint, TheEightAdaptersThroughMatch) {
    CString256 subject("Hello World");
    char world[] = "World", lower[] = "hello world", help[] = "Help";
    const struct {
        void (*fn)(void*, void*, float*);
        char* other;
        float expected;
    } cases[] = {{matcher_case_exact_256, lower, 0.0f},
                 {matcher_nocase_exact_256, lower, 1.0f},
                 {matcher_case_partial_256, world, 1.0f},
                 {matcher_nocase_partial_256, lower, 1.0f},
                 {matcher_case_partial_256, lower, 0.0f},
                 {matcher_case_approximate_256, help, approx(11, 4, 3)},
                 {matcher_nocase_approximate_256, lower, 1.0f}};
    for (const auto& c : cases) {
        float result = -1.0f;
        subject.match(c.fn, c.other, &result);
        EXPECT_FLOAT_EQ(result, c.expected) << c.other;
    }
    // The wildcard adapters take the subject's own address, or a plain C string.
    CString256 name("Report-2020.TXT");
    auto list = pieces({"rep", "2020", "txt"});
    float result = -1.0f;
    name.match(match_wildcard_case_256, &list, &result);
    EXPECT_EQ(result, 0.0f);
    name.match(match_wildcard_nocase_256, &list, &result);
    EXPECT_EQ(result, 1.0f);
    char text[] = "prefix-rep-2020-txt";
    match_wildcard_case_256(text, &list, &result);
    EXPECT_EQ(result, 1.0f);
}

TEST(MatchEntryPoint, AdaptersCountOnlyThe255FirstCharacters) {
    std::string t255(255, 'z');
    std::string t300 = t255 + std::string(45, 'y');
    CString256 subject(t255.c_str());
    float result = -1.0f;
    matcher_case_exact_256(&subject, t300.data(), &result);
    EXPECT_EQ(result, 1.0f);
    matcher_case_partial_256(&subject, t300.data(), &result);
    EXPECT_EQ(result, 1.0f);
    // A wildcard piece lying past the subject's 255th character is not found.
    auto tail = pieces({"y"});
    match_wildcard_case_256(t300.data(), &tail, &result);
    EXPECT_EQ(result, 0.0f);
}

TEST(MatchEntryPoint, NullArgumentsScoreZeroInsteadOfCrashing) {
    CString256 subject("abc");
    for (auto fn : {matcher_case_exact_256, match_wildcard_case_256,
                    static_cast<void (*)(void*, void*, float*)>(nullptr)}) {
        float result = -1.0f;
        subject.match(fn, nullptr, &result);
        EXPECT_EQ(result, 0.0f);
    }
    matcher_case_exact_256(&subject, const_cast<char*>("abc"), nullptr);
    subject.match_case_exact(CString256("abc"), nullptr);
}

}  // namespace
