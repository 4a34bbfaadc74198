// CString256: truncation on every road in, integers, transformations, prefix
// and suffix tests, printing to a buffer, and the pool of slots.
#include "support/CString256.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/MacMemory.h"
#include "testkit/AllocationProbe.h"
#include "testkit/Latin1Locale.h"

namespace {

std::string str(const CString256& s) {
    return s.text;
}

// A Pascal string of the given bytes (at most 255).
std::vector<unsigned char> pascal(const std::string& bytes) {
    std::vector<unsigned char> p(256, 0xEE);
    p[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(p.data() + 1, bytes.data(), bytes.size());
    return p;
}

Handle handleOf(const std::string& bytes) {
    Handle h = NewHandle(Size(bytes.size()));
    if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

// 300 distinct-looking characters: position i holds 'a' + i % 26.
std::string longText(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += char('a' + i % 26);
    return s;
}

TEST(CString256Truncation, CStringsKeepTheirFirst255Characters) {
    std::string t300 = longText(300);
    CString256 constructed(t300.c_str());
    EXPECT_EQ(str(constructed), t300.substr(0, 255));
    CString256 assigned;
    assigned = t300.c_str();
    EXPECT_EQ(str(assigned), t300.substr(0, 255));
    std::string t255 = longText(255);
    assigned = t255.c_str();
    EXPECT_EQ(str(assigned), t255);
    CString256 copy(assigned);
    EXPECT_EQ(str(copy), t255);
    CString256 other("short");
    other = copy;
    EXPECT_EQ(str(other), t255);
}

TEST(CString256Truncation, NullCStringGivesEmptyAndAppendsNothing) {
    CString256 s(static_cast<const char*>(nullptr));
    EXPECT_EQ(str(s), "");
    s = "kept";
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "kept");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "");
}

TEST(CString256Truncation, PascalStringsConvertWholeAndStopAtNul) {
    std::string t255 = longText(255);
    auto p = pascal(t255);
    CString256 constructed(p.data());
    EXPECT_EQ(str(constructed), t255);
    CString256 assigned("old text");
    assigned = p.data();
    EXPECT_EQ(str(assigned), t255);
    auto empty = pascal("");
    assigned = empty.data();
    EXPECT_EQ(str(assigned), "");
    auto withNul = pascal(std::string("ab\0cd", 5));
    assigned = withNul.data();
    EXPECT_EQ(str(assigned), "ab");
    // The length byte, not a terminator, ends a Pascal string.
    auto three = pascal("xyz");
    three[4] = 'Q';
    assigned = three.data();
    EXPECT_EQ(str(assigned), "xyz");
}

TEST(CString256Truncation, HandlesGiveTheirFirstBytesUpTo255) {
    CString256 s("previous");
    Handle empty = handleOf("");
    s = empty;
    EXPECT_EQ(str(s), "");
    Handle ten = handleOf("0123456789");
    s = ten;
    EXPECT_EQ(str(s), "0123456789");
    std::string t256 = longText(256);
    Handle h256 = handleOf(t256);
    s = h256;
    EXPECT_EQ(str(s), t256.substr(0, 255));
    std::string t1000 = longText(1000);
    Handle h1000 = handleOf(t1000);
    s = h1000;
    EXPECT_EQ(str(s), t1000.substr(0, 255));
    Handle withNul = handleOf(std::string("ab\0cd", 5));
    s = withNul;
    EXPECT_EQ(str(s), "ab");
    s = static_cast<Handle>(nullptr);
    EXPECT_EQ(str(s), "");
    for (Handle h : {empty, ten, h256, h1000, withNul}) DisposeHandle(h);
}

TEST(CString256Truncation, AppendingTextFillsExactlyTo255) {
    std::string t252 = longText(252);
    CString256 s(t252.c_str());
    s += "abcdef";
    EXPECT_EQ(std::strlen(s.text), 255u);
    EXPECT_EQ(str(s), t252 + "abc");
    s += "more";
    EXPECT_EQ(str(s), t252 + "abc");

    CString256 viaString(t252.c_str());
    viaString += CString256("abcdef");
    EXPECT_EQ(str(viaString), t252 + "abc");

    CString256 viaPascal(t252.c_str());
    auto p = pascal("abcdef");
    viaPascal += p.data();
    EXPECT_EQ(str(viaPascal), t252 + "abc");
    viaPascal += static_cast<const unsigned char*>(nullptr);
    EXPECT_EQ(str(viaPascal), t252 + "abc");

    CString256 viaNumber(t252.c_str());
    viaNumber += -123456L;
    EXPECT_EQ(str(viaNumber), t252 + "-12");

    CString256 fits("abc");
    fits += "def";
    EXPECT_EQ(str(fits), "abcdef");
}

TEST(CString256Truncation, AppendingACharacterStopsAt254) {
    std::string t253 = longText(253);
    CString256 s(t253.c_str());
    s += 'X';
    EXPECT_EQ(str(s), t253 + "X");
    s += 'Y';
    EXPECT_EQ(str(s), t253 + "X");
    std::string t255 = longText(255);
    CString256 full(t255.c_str());
    full += 'Z';
    EXPECT_EQ(str(full), t255);
    CString256 empty;
    empty += 'a';
    EXPECT_EQ(str(empty), "a");
}

TEST(CString256Truncation, SourcesInsideTheStringItself) {
    CString256 s("abcdef");
    s += s;
    EXPECT_EQ(str(s), "abcdefabcdef");
    s = "abcdef";
    s = s.text + 2;
    EXPECT_EQ(str(s), "cdef");
    s = s;
    EXPECT_EQ(str(s), "cdef");
    std::string t200 = longText(200);
    CString256 big(t200.c_str());
    big += big;
    EXPECT_EQ(str(big), (t200 + t200).substr(0, 255));
}

TEST(CString256Integers, AssignAndAppendDecimalText) {
    CString256 s("x");
    s = 0L;
    EXPECT_EQ(str(s), "0");
    s = -7L;
    EXPECT_EQ(str(s), "-7");
    s = long(INT32_MIN);
    EXPECT_EQ(str(s), "-2147483648");
    s = long(INT32_MAX);
    EXPECT_EQ(str(s), "2147483647");
    s = LONG_MIN;
    EXPECT_EQ(str(s), std::to_string(LONG_MIN));
    s = "n=";
    s += 42L;
    s += 'x';
    s += -1L;
    EXPECT_EQ(str(s), "n=42x-1");
}

TEST(CString256Transform, ChangeSuffix) {
    CString256 a("report.txt");
    EXPECT_EQ(str(a.change_suffix("rtf")), "report.rtf");
    CString256 b("archive.tar.gz");
    EXPECT_EQ(str(b.change_suffix("rtf")), "archive.tar.rtf");
    CString256 c("README");
    EXPECT_EQ(str(c.change_suffix("rtf")), "README.rtf");
    CString256 d(".profile");
    EXPECT_EQ(str(d.change_suffix("rtf")), ".rtf");
    // The result is cut at 255 characters like any append.
    std::string t254 = longText(254);
    CString256 e(t254.c_str());
    EXPECT_EQ(str(e.change_suffix("rtf")), t254 + ".");
}

TEST(CString256Transform, ToLowerChangesOnlyAsciiCapitals) {
    CString256 s;
    for (int c = 1; c < 256; ++c) s.text[c - 1] = char(c);
    s.text[255] = '\0';
    s.to_lower();
    for (int c = 1; c < 256; ++c) {
        int expected = (c >= 'A' && c <= 'Z') ? c + 32 : c;
        EXPECT_EQ(static_cast<unsigned char>(s.text[c - 1]), expected) << "byte " << c;
    }
    CString256 mac("\x41\xC4");
    mac.to_lower();
    EXPECT_EQ(str(mac), "\x61\xC4");
}

TEST(CString256Transform, FilterKeepsAsciiLettersDigitsAndPunctuation) {
    CString256 s("a b\tc!");
    s.filter_to_alnum_or_punct();
    EXPECT_EQ(str(s), "abc!");

    CString256 all;
    for (int c = 1; c < 256; ++c) all.text[c - 1] = char(c);
    all.text[255] = '\0';
    all.filter_to_alnum_or_punct();
    std::string expected;
    for (int c = 0x21; c < 0x7F; ++c) expected += char(c);
    EXPECT_EQ(str(all), expected);  // 94 characters: 62 alphanumerics, 32 punctuation
    EXPECT_EQ(expected.size(), 94u);
}

TEST(CString256Transform, SameResultsUnderALatin1Locale) {
    testsupport::ScopedLatin1Locale latin1;
    if (!latin1.active()) GTEST_SKIP() << "localedef could not build a Latin-1 locale";
    CString256 s("\xC4\xE9 A\xB5z");  // letters in Latin-1, not in the POSIX locale
    s.to_lower();
    EXPECT_EQ(str(s), "\xC4\xE9 a\xB5z");
    s.filter_to_alnum_or_punct();
    EXPECT_EQ(str(s), "az");
    CString256 t("\xC4rger.TXT");
    EXPECT_EQ(t.endsWith_nocase(".txt"), 1);
    EXPECT_EQ(t.beginsWith_nocase("\xE4"), 0);
}

TEST(CString256Affixes, BeginsWithAndEndsWith) {
    CString256 s("Report.TXT");
    EXPECT_EQ(s.beginsWith("Rep", 0), 1);
    EXPECT_EQ(s.beginsWith("rep", 0), 0);
    EXPECT_EQ(s.beginsWith("rep", 1), 1);
    EXPECT_EQ(s.beginsWith("Report.TXT.bak", 1), 0);
    EXPECT_EQ(s.endsWith(".TXT", 0), 1);
    EXPECT_EQ(s.endsWith(".txt", 0), 0);
    EXPECT_EQ(s.endsWith(".txt", 1), 1);
    EXPECT_EQ(s.endsWith("x.Report.TXT", 1), 0);
    EXPECT_EQ(s.endsWith("Report.TXT", 0), 1);

    CString256 a("a");
    EXPECT_EQ(a.endsWith("abc", 0), 0);
    EXPECT_EQ(a.beginsWith("abc", 0), 0);
    EXPECT_EQ(a.beginsWith("", 0), 1);
    EXPECT_EQ(a.endsWith("", 1), 1);
    CString256 empty;
    EXPECT_EQ(empty.beginsWith("", 0), 1);
    EXPECT_EQ(empty.endsWith("", 0), 1);
    EXPECT_EQ(empty.endsWith("x", 0), 0);
    EXPECT_EQ(a.beginsWith(static_cast<const char*>(nullptr), 0), 1);
}

TEST(CString256Affixes, StringFormsAndNocaseForms) {
    CString256 s("Report.TXT");
    CString256 prefix("REPORT");
    CString256 suffix("t.txt");
    EXPECT_EQ(s.beginsWith(&prefix, 0), 0);
    EXPECT_EQ(s.beginsWith(&prefix, 1), 1);
    EXPECT_EQ(s.endsWith(&suffix, 0), 0);
    EXPECT_EQ(s.endsWith(&suffix, 1), 1);
    EXPECT_EQ(s.beginsWith_nocase(prefix), 1);
    EXPECT_EQ(s.beginsWith_nocase("rEp"), 1);
    EXPECT_EQ(s.beginsWith_nocase("Rex"), 0);
    EXPECT_EQ(s.endsWith_nocase(suffix), 1);
    EXPECT_EQ(s.endsWith_nocase(".TxT"), 1);
    EXPECT_EQ(s.endsWith_nocase(".TxX"), 0);
}

TEST(CString256Access, IndexAndPrintToBuffer) {
    CString256 s("cat");
    s[0] = 'b';
    EXPECT_EQ(s[0], 'b');
    const CString256& view = s;
    EXPECT_EQ(view[2], 't');
    EXPECT_EQ(str(s), "bat");

    char out[600] = "first\n";
    s.print(out);
    CString256("").print(out);
    std::string t255 = longText(255);
    CString256(t255.c_str()).print(out);
    EXPECT_EQ(std::string(out), "first\nbat\n\n" + t255 + "\n");
    s.print(nullptr);
}

// ---- the pool ----

constexpr std::size_t kBlockBytes = CString256::kSlotsPerBlock * sizeof(CString256);

// Takes slots until the free list is empty, so the next allocation needs a
// new block; the slots taken are returned to the caller.
std::vector<CString256*> drainPool() {
    std::vector<CString256*> taken;
    while (CString256::nfree) taken.push_back(new CString256);
    return taken;
}

void release(std::vector<CString256*>& strings) {
    // Reverse order: the free list ends up as it was before.
    for (auto it = strings.rbegin(); it != strings.rend(); ++it) delete *it;
    strings.clear();
}

TEST(CString256Pool, BlocksOf256HandedOutFromTheEnd) {
    std::vector<CString256*> held = drainPool();
    std::size_t blocks = testsupport::nothrowArrayRequests(kBlockBytes);

    std::vector<CString256*> batch;
    batch.push_back(new CString256("first"));
    EXPECT_EQ(testsupport::nothrowArrayRequests(kBlockBytes), blocks + 1);
    CString256* slot0 = batch[0];
    for (std::size_t i = 1; i < 256; ++i) {
        batch.push_back(new CString256);
        // Slots 255, 254, ..., 1 of the same block.
        EXPECT_EQ(batch.back(), slot0 + (256 - i)) << "allocation " << i + 1;
    }
    EXPECT_EQ(testsupport::nothrowArrayRequests(kBlockBytes), blocks + 1);
    EXPECT_EQ(CString256::nfree, nullptr);
    EXPECT_STREQ(slot0->text, "first");

    // The 257th is the first to need another block.
    batch.push_back(new CString256);
    EXPECT_EQ(testsupport::nothrowArrayRequests(kBlockBytes), blocks + 2);
    EXPECT_TRUE(batch.back() < slot0 || batch.back() >= slot0 + 256);

    release(batch);
    release(held);
}

TEST(CString256Pool, FreedSlotsComeBackLastInFirstOut) {
    auto* a = new CString256("a");
    auto* b = new CString256("b");
    auto* c = new CString256("c");
    delete a;
    auto* again = new CString256;
    EXPECT_EQ(again, a);
    EXPECT_STREQ(again->text, "");
    delete b;
    delete c;
    auto* first = new CString256;
    auto* second = new CString256;
    EXPECT_EQ(first, c);
    EXPECT_EQ(second, b);
    delete first;
    delete second;
    delete again;
}

TEST(CString256Pool, NullWhenNoBlockCanBeObtained) {
    std::vector<CString256*> held = drainPool();
    testsupport::failNextNothrowArrays(1);
    CString256* none = new CString256("lost");
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CString256::nfree, nullptr);
    CString256* later = new CString256("kept");
    ASSERT_NE(later, nullptr);
    EXPECT_STREQ(later->text, "kept");
    delete later;
    release(held);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(CString256PoolDeathTest, UseAfterDeleteIsReportedUnderAddressSanitizer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* s = new CString256("gone");
            delete s;
            volatile char c = s->text[0];
            (void)c;
        },
        "use-after-poison");
}
#endif

}  // namespace
