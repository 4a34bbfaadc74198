// STRSTR, STRNCMP, reverse and the itoa family.
#include "support/StringUtils.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <string>

#include "testkit/AllocationProbe.h"
#include "testkit/Latin1Locale.h"

namespace {

// The text itoa writes into a buffer of the given size; the bytes after it
// must stay untouched.
std::string itoaText(short size, long v) {
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    itoa(buf, size, v);
    for (std::size_t i = size > 0 ? std::size_t(size) : 0; i < sizeof buf; ++i)
        EXPECT_EQ(buf[i], 'x') << "written past the buffer's " << size << " bytes";
    return size > 0 ? std::string(buf) : std::string();
}

std::string taken(char* allocated) {
    std::string s = allocated ? allocated : "<null>";
    delete[] allocated;
    return s;
}

TEST(STRSTR, FindsFirstOccurrenceIgnoringCase) {
    const char* text = "Hello World, wide world";
    EXPECT_EQ(STRSTR(text, "WORLD"), text + 6);
    EXPECT_EQ(STRSTR(text, "world"), text + 6);
    EXPECT_EQ(STRSTR(text, "D, W"), text + 10);
    EXPECT_EQ(STRSTR(text, "WIDE WORLD"), text + 13);  // ends at the terminator
    EXPECT_EQ(STRSTR(text, "worlds"), nullptr);
    EXPECT_EQ(STRSTR(text, "xyz"), nullptr);
}

TEST(STRSTR, EmptyLongerAndNullNeedles) {
    const char* text = "abc";
    EXPECT_EQ(STRSTR(text, ""), text);
    EXPECT_EQ(STRSTR("", ""), STRSTR("", ""));
    EXPECT_NE(STRSTR("", ""), nullptr);
    EXPECT_EQ(STRSTR(text, "abcd"), nullptr);
    EXPECT_EQ(STRSTR("", "a"), nullptr);
    EXPECT_EQ(STRSTR(text, nullptr), nullptr);
    EXPECT_EQ(STRSTR(static_cast<const char*>(nullptr), "a"), nullptr);
}

TEST(STRNCMP, ComparesFirstNCharactersIgnoringCase) {
    EXPECT_EQ(STRNCMP("abc", "ABD", 2), 0);
    EXPECT_NE(STRNCMP("abc", "ABD", 3), 0);
    EXPECT_NE(STRNCMP("a", "B", 1), 0);
    EXPECT_EQ(STRNCMP("anything", "else", 0), 0);
    // Equal strings shorter than n: the shared terminator ends the comparison.
    EXPECT_EQ(STRNCMP("Abc", "aBC", 100), 0);
    // One string ends before the other.
    EXPECT_NE(STRNCMP("ab", "abc", 3), 0);
    EXPECT_NE(STRNCMP("abc", "ab", 3), 0);
    // A negative n compares up to the terminator.
    EXPECT_EQ(STRNCMP("Same", "sAME", -1), 0);
    EXPECT_NE(STRNCMP("Same", "sAMe!", -1), 0);
}

TEST(STRNCMP, DifferenceIsOfTheBytesAsTheyStand) {
    EXPECT_EQ(STRNCMP("a", "B", 1), 'a' - 'B');
    EXPECT_EQ(STRNCMP("\xC4", "\xE4", 1), 0xC4 - 0xE4);
}

TEST(CaseFolding, OnlyAsciiLettersFoldWhateverTheProcessLocale) {
    testsupport::ScopedLatin1Locale latin1;
    if (!latin1.active()) GTEST_SKIP() << "localedef could not build a Latin-1 locale";
    // In Latin-1, tolower(0xC4) is 0xE4; in Mac Roman those bytes are two
    // unrelated letters, so they must not match.
    ASSERT_EQ(testsupport::libcToLower(0xC4), 0xE4);
    EXPECT_NE(STRNCMP("\xC4", "\xE4", 1), 0);
    EXPECT_EQ(STRSTR("x\xE4y", "\xC4"), nullptr);
    EXPECT_EQ(STRNCMP("Ab", "aB", 2), 0);
    EXPECT_EQ(AsciiToLower(0xC4), 0xC4);
    EXPECT_FALSE(IsAsciiAlnum(0xC4));
    EXPECT_FALSE(IsAsciiPunct(0xC4));
}

TEST(CaseFolding, ClassesMatchThePosixLocale) {
    // The POSIX locale's classes, taken from the C library while it is in force.
    std::string previous = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    for (int c = 0; c < 256; ++c) {
        auto u = static_cast<unsigned char>(c);
        EXPECT_EQ(AsciiToLower(u), std::tolower(c)) << c;
        EXPECT_EQ(AsciiToUpper(u), std::toupper(c)) << c;
        EXPECT_EQ(IsAsciiAlnum(u), std::isalnum(c) != 0) << c;
        EXPECT_EQ(IsAsciiPunct(u), std::ispunct(c) != 0) << c;
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}

TEST(Reverse, ReversesInPlace) {
    char odd[] = "abcde";
    reverse(odd);
    EXPECT_STREQ(odd, "edcba");
    char even[] = "ab";
    reverse(even);
    EXPECT_STREQ(even, "ba");
    char one[] = "x";
    reverse(one);
    EXPECT_STREQ(one, "x");
    char empty[] = "";
    reverse(empty);
    EXPECT_STREQ(empty, "");
    reverse(nullptr);
}

TEST(ItoaBuffer, WritesDecimalText) {
    EXPECT_EQ(itoaText(31, 0), "0");
    EXPECT_EQ(itoaText(31, 7), "7");
    EXPECT_EQ(itoaText(31, -7), "-7");
    EXPECT_EQ(itoaText(31, 1234567890), "1234567890");
    EXPECT_EQ(itoaText(31, INT32_MAX), "2147483647");
    EXPECT_EQ(itoaText(31, INT32_MIN), "-2147483648");
    EXPECT_EQ(itoaText(31, LONG_MIN), std::to_string(LONG_MIN));
    EXPECT_EQ(itoaText(31, LONG_MAX), std::to_string(LONG_MAX));
}

TEST(ItoaBuffer, DigitLimitKeepsLowestOrderDigits) {
    EXPECT_EQ(itoaText(4, 12345), "345");
    EXPECT_EQ(itoaText(6, 12345), "12345");
    EXPECT_EQ(itoaText(5, 12345), "2345");
    EXPECT_EQ(itoaText(2, 0), "0");
    EXPECT_EQ(itoaText(1, 7), "");
    EXPECT_EQ(itoaText(1, 0), "");
}

TEST(ItoaBuffer, NeverWritesPastTheBuffer) {
    // A negative value keeps room for its sign within size bytes.
    EXPECT_EQ(itoaText(4, -12345), "-45");
    EXPECT_EQ(itoaText(3, -7), "-7");
    EXPECT_EQ(itoaText(2, -7), "");
    EXPECT_EQ(itoaText(1, -7), "");
    // No room even for the terminator: nothing is written.
    EXPECT_EQ(itoaText(0, 5), "");
    EXPECT_EQ(itoaText(-3, 5), "");
    itoa(nullptr, 10, 5);
}

TEST(ItoaAllocating, EachFormWritesItsWholeValue) {
    EXPECT_EQ(taken(itoa(0UL)), "0");
    EXPECT_EQ(taken(itoa(ULONG_MAX)), std::to_string(ULONG_MAX));
    EXPECT_EQ(taken(itoa(0L)), "0");
    EXPECT_EQ(taken(itoa(-7L)), "-7");
    EXPECT_EQ(taken(itoa(long(INT32_MIN))), "-2147483648");
    EXPECT_EQ(taken(itoa(LONG_MIN)), std::to_string(LONG_MIN));
    EXPECT_EQ(taken(itoa(short(0))), "0");
    EXPECT_EQ(taken(itoa(short(-7))), "-7");
    EXPECT_EQ(taken(itoa(short(SHRT_MAX))), "32767");
    EXPECT_EQ(taken(itoa(short(SHRT_MIN))), "-32768");
}

TEST(ItoaAllocating, NullWhenTheArrayCannotBeAllocated) {
    testsupport::failNextNothrowArrays(3);
    EXPECT_EQ(itoa(42UL), nullptr);
    EXPECT_EQ(itoa(-42L), nullptr);
    EXPECT_EQ(itoa(short(42)), nullptr);
    EXPECT_EQ(taken(itoa(42L)), "42");
}

}  // namespace
