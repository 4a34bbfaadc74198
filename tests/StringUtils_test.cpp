// STRSTR, STRNCMP, reverse and the itoa family.
#include "support/StringUtils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "testkit/AllocationProbe.h"

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

TEST(STRSTRAndSTRNCMP, FindTheFirstOccurrenceAndCompareTheFirstNCharactersIgnoringAsciiCase) {
    const char* text = "Hello World, wide world";
    EXPECT_EQ(STRSTR(text, "world"), text + 6);
    EXPECT_EQ(STRSTR(text, "WIDE WORLD"), text + 13);  // ends at the terminator
    EXPECT_EQ(STRSTR(text, ""), text);
    for (const char* missing : {"worlds", static_cast<const char*>(nullptr)})
        EXPECT_EQ(STRSTR(text, missing), nullptr);
    EXPECT_EQ(STRSTR("x\xE4y", "\xC4"), nullptr);  // Latin-1 letters, unrelated in Mac Roman
    EXPECT_EQ(STRSTR(static_cast<const char*>(nullptr), "a"), nullptr);
    EXPECT_EQ(STRNCMP("abc", "ABD", 2), 0);
    EXPECT_EQ(STRNCMP("anything", "else", 0), 0);
    EXPECT_EQ(STRNCMP("Abc", "aBC", 100), 0);  // the shared terminator ends it
    EXPECT_NE(STRNCMP("ab", "abc", 3), 0);
    EXPECT_EQ(STRNCMP("Same", "sAME", -1), 0);  // a negative n: up to the terminator
    EXPECT_NE(STRNCMP("`", "@", 1), 0);         // the neighbours of the letters do not fold
    // The difference is of the bytes as they stand.
    EXPECT_EQ(STRNCMP("abc", "ABD", 3), 'c' - 'D');
    EXPECT_EQ(STRNCMP("\xC4", "\xE4", 1), 0xC4 - 0xE4);
}

TEST(ItoaBuffer, DecimalTextWithinTheDigitLimitNeverPastTheBuffer) {
    const struct {
        short size;
        long value;
        std::string expected;
    } cases[] = {{31, LONG_MIN, std::to_string(LONG_MIN)},
                 {31, LONG_MAX, std::to_string(LONG_MAX)},
                 // The lowest-order digits that fit are kept.
                 {4, 12345, "345"},
                 {2, 0, "0"},
                 // A negative value keeps room for its sign.
                 {4, -12345, "-45"},
                 {3, -7, "-7"},
                 {2, -7, ""},
                 // No room even for the terminator: nothing is written.
                 {0, 5, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(itoaText(c.size, c.value), c.expected) << c.size << ", " << c.value;
    // itoa reverses its digits in place: odd and even lengths above.
    itoa(nullptr, 10, 5);
    reverse(nullptr);
}

TEST(ItoaAllocating, EachFormWritesItsWholeValueOrNullWithoutMemory) {
    EXPECT_EQ(taken(itoa(0UL)), "0");
    EXPECT_EQ(taken(itoa(ULONG_MAX)), std::to_string(ULONG_MAX));
    EXPECT_EQ(taken(itoa(LONG_MIN)), std::to_string(LONG_MIN));
    EXPECT_EQ(taken(itoa(short(SHRT_MIN))), std::to_string(SHRT_MIN));
    // The three share one allocating helper (two instantiations of it).
    testsupport::failNextNothrowArrays(2);
    EXPECT_EQ(itoa(-42L), nullptr);
    EXPECT_EQ(itoa(short(42)), nullptr);
    EXPECT_EQ(taken(itoa(42L)), "42");
}

}  // namespace
