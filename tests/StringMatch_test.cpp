// The matching family: exact, partial, approximate and wildcard scores in
// both case forms, the generic match entry point and the eight adapters.
#include "support/StringMatch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using MemberFn = void (CString256::*)(const CString256&, float*) const noexcept;

float score(MemberFn fn, const char* subject, const char* other) {
    float result = -1.0f;
    (CString256(subject).*fn)(CString256(other), &result);
    return result;
}

float caseExact(const char* a, const char* b) {
    return score(&CString256::match_case_exact, a, b);
}
float nocaseExact(const char* a, const char* b) {
    return score(&CString256::match_nocase_exact, a, b);
}
float casePartial(const char* a, const char* b) {
    return score(&CString256::match_case_partial, a, b);
}
float nocasePartial(const char* a, const char* b) {
    return score(&CString256::match_nocase_partial, a, b);
}
float caseApprox(const char* a, const char* b) {
    return score(&CString256::match_case_approximate, a, b);
}
float nocaseApprox(const char* a, const char* b) {
    return score(&CString256::match_nocase_approximate, a, b);
}

// The score as the formula computes it: 1 - (|la - m| + |lb - m|) / (la + lb).
float approx(int la, int lb, int m) {
    return static_cast<float>(1.0 - (double(std::abs(la - m)) + std::abs(lb - m)) / (la + lb));
}

CList<CString256> pieces(std::initializer_list<const char*> texts) {
    CList<CString256> list;
    for (const char* t : texts) list.append(CString256(t));
    return list;
}

float wildcard(bool nocase, const char* subject, CList<CString256>& list) {
    float result = -1.0f;
    CString256 s(subject);
    if (nocase)
        s.match_wildcard_nocase(list, &result);
    else
        s.match_wildcard_case(list, &result);
    return result;
}

TEST(ExactMatch, Scores) {
    EXPECT_EQ(caseExact("abc", "abc"), 1.0f);
    EXPECT_EQ(caseExact("abc", "ab"), 0.0f);
    EXPECT_EQ(caseExact("ab", "abc"), 0.0f);
    EXPECT_EQ(caseExact("ABC", "abc"), 0.0f);
    EXPECT_EQ(nocaseExact("ABC", "abc"), 1.0f);
    EXPECT_EQ(nocaseExact("ABC", "abd"), 0.0f);
    EXPECT_EQ(caseExact("", ""), 0.0f);
    EXPECT_EQ(nocaseExact("", ""), 0.0f);
    EXPECT_EQ(caseExact("abc", ""), 0.0f);
    EXPECT_EQ(caseExact("", "abc"), 0.0f);
    // Only ASCII letters fold.
    EXPECT_EQ(nocaseExact("\xC4", "\xE4"), 0.0f);
    EXPECT_EQ(nocaseExact("x\xC4", "X\xC4"), 1.0f);
}

TEST(PartialMatch, Scores) {
    EXPECT_EQ(casePartial("hello world", "lo w"), 1.0f);
    EXPECT_EQ(casePartial("hello world", "world"), 1.0f);  // at the very end
    EXPECT_EQ(casePartial("hello world", "hello"), 1.0f);  // at the start
    EXPECT_EQ(casePartial("hello world", ""), 0.0f);
    EXPECT_EQ(casePartial("", "a"), 0.0f);
    EXPECT_EQ(casePartial("", ""), 0.0f);
    EXPECT_EQ(casePartial("hello", "hello world"), 0.0f);
    EXPECT_EQ(casePartial("hello world", "LO W"), 0.0f);
    EXPECT_EQ(nocasePartial("hello world", "LO W"), 1.0f);
    // A match early in the scan survives the misses after it.
    EXPECT_EQ(casePartial("abxxxx", "ab"), 1.0f);
    // A partial overlap that restarts: "aab" contains "ab" from position 1.
    EXPECT_EQ(casePartial("aab", "ab"), 1.0f);
}

TEST(ApproximateMatch, GreedyInOrderScores) {
    EXPECT_FLOAT_EQ(caseApprox("hello", "help"), approx(5, 4, 3));
    EXPECT_NEAR(caseApprox("hello", "help"), 0.6667f, 1e-4f);
    // Greedy, not a longest common subsequence: 'c' is found at the end and
    // nothing is left for 'a' and 'b'.
    EXPECT_FLOAT_EQ(caseApprox("abc", "cab"), approx(3, 3, 1));
    EXPECT_NEAR(caseApprox("abc", "cab"), 1.0f / 3.0f, 1e-6f);
    EXPECT_EQ(caseApprox("abc", "abc"), 1.0f);
    EXPECT_EQ(caseApprox("abc", "xyz"), 0.0f);
    EXPECT_EQ(caseApprox("", "abc"), 0.0f);
    EXPECT_EQ(caseApprox("abc", ""), 0.0f);
    EXPECT_EQ(caseApprox("", ""), 0.0f);
    // A character that is not found leaves the position where it was.
    EXPECT_FLOAT_EQ(caseApprox("abcd", "axcd"), approx(4, 4, 3));
    EXPECT_FLOAT_EQ(caseApprox("a", "aaaa"), approx(1, 4, 1));
}

TEST(ApproximateMatch, CaseForms) {
    EXPECT_FLOAT_EQ(caseApprox("HELLO", "help"), 0.0f);
    EXPECT_FLOAT_EQ(nocaseApprox("HELLO", "help"), approx(5, 4, 3));
    EXPECT_FLOAT_EQ(nocaseApprox("AbC", "aBc"), 1.0f);
    EXPECT_FLOAT_EQ(nocaseApprox("\xC4", "\xE4"), 0.0f);
}

TEST(WildcardMatch, PiecesInOrderWithoutOverlap) {
    auto list = pieces({"rep", "2020", ".txt"});
    EXPECT_EQ(wildcard(false, "report-2020.txt", list), 1.0f);
    auto reversed = pieces({"txt", "rep"});
    EXPECT_EQ(wildcard(false, "report-2020.txt", reversed), 0.0f);
    auto overlap = pieces({"aa", "aa"});
    EXPECT_EQ(wildcard(false, "aaa", overlap), 0.0f);
    EXPECT_EQ(wildcard(false, "aaaa", overlap), 1.0f);
    auto empty = pieces({});
    EXPECT_EQ(wildcard(false, "anything", empty), 1.0f);
    EXPECT_EQ(wildcard(false, "", empty), 1.0f);
    auto withEmptyPiece = pieces({"a", "", "b"});
    EXPECT_EQ(wildcard(false, "ab", withEmptyPiece), 1.0f);
    auto missing = pieces({"rep", "2021"});
    EXPECT_EQ(wildcard(false, "report-2020.txt", missing), 0.0f);
}

TEST(WildcardMatch, CaseForms) {
    auto list = pieces({"rep"});
    EXPECT_EQ(wildcard(false, "REPORT", list), 0.0f);
    EXPECT_EQ(wildcard(true, "REPORT", list), 1.0f);
    auto ordered = pieces({"R", "T"});
    EXPECT_EQ(wildcard(true, "report", ordered), 1.0f);
    auto misordered = pieces({"T", "R"});
    EXPECT_EQ(wildcard(true, "report", misordered), 0.0f);
}

TEST(WildcardMatch, UsesAndMovesTheListsTraversalPosition) {
    auto list = pieces({"a", "b", "c"});
    // A stale position from an earlier walk does not matter: matching starts
    // from head.
    list.current = list.tail;
    EXPECT_EQ(wildcard(false, "xaybzc", list), 1.0f);
    EXPECT_EQ(list.current, nullptr);
    // A failed match stops early, leaving current just past the failing piece.
    EXPECT_EQ(wildcard(false, "xaz", list), 0.0f);
    EXPECT_EQ(list.current, list.tail);
    EXPECT_EQ(wildcard(false, "abc", list), 1.0f);
}

TEST(MatchEntryPoint, PlainAdaptersThroughMatch) {
    CString256 subject("Hello World");
    char world[] = "World";
    char lower[] = "hello world";
    char help[] = "Help";
    struct Case {
        void (*fn)(void*, void*, float*);
        char* other;
        float expected;
    } cases[] = {
        {matcher_case_exact_256, lower, 0.0f},
        {matcher_nocase_exact_256, lower, 1.0f},
        {matcher_case_partial_256, world, 1.0f},
        {matcher_nocase_partial_256, lower, 1.0f},
        {matcher_case_partial_256, lower, 0.0f},
        {matcher_case_approximate_256, help, approx(11, 4, 3)},
        {matcher_nocase_approximate_256, lower, 1.0f},
    };
    for (const Case& c : cases) {
        float result = -1.0f;
        subject.match(c.fn, c.other, &result);
        EXPECT_FLOAT_EQ(result, c.expected) << c.other;
    }
}

TEST(MatchEntryPoint, WildcardAdaptersTakeTheSubjectsOwnAddress) {
    CString256 subject("Report-2020.TXT");
    auto list = pieces({"rep", "2020", "txt"});
    float result = -1.0f;
    subject.match(match_wildcard_case_256, &list, &result);
    EXPECT_EQ(result, 0.0f);
    subject.match(match_wildcard_nocase_256, &list, &result);
    EXPECT_EQ(result, 1.0f);
    // Called directly with a plain C string as the subject.
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

    // A wildcard subject beyond 255 characters: a piece lying past the cut
    // is not found.
    auto tail = pieces({"y"});
    match_wildcard_case_256(t300.data(), &tail, &result);
    EXPECT_EQ(result, 0.0f);
}

TEST(MatchEntryPoint, NullArgumentsScoreZeroInsteadOfCrashing) {
    CString256 subject("abc");
    float result = -1.0f;
    subject.match(matcher_case_exact_256, nullptr, &result);
    EXPECT_EQ(result, 0.0f);
    result = -1.0f;
    subject.match(match_wildcard_case_256, nullptr, &result);
    EXPECT_EQ(result, 0.0f);
    result = -1.0f;
    subject.match(nullptr, nullptr, &result);
    EXPECT_EQ(result, 0.0f);
    matcher_case_exact_256(&subject, const_cast<char*>("abc"), nullptr);
    subject.match_case_exact(CString256("abc"), nullptr);
}

}  // namespace
