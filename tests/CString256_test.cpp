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

// A Pascal string of the given bytes (at most 255), padded with 0xEE.
std::vector<unsigned char> pascal(const std::string& bytes) {
    std::vector<unsigned char> p(256, 0xEE);
    p[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(p.data() + 1, bytes.data(), bytes.size());
    return p;
}

// n characters: position i holds 'a' + i % 26.
std::string longText(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += char('a' + i % 26);
    return s;
}

// Every byte 1..255 in order.
CString256 allBytes() {
    CString256 s;
    for (int c = 1; c < 256; ++c) s.text[c - 1] = char(c);
    s.text[255] = '\0';
    return s;
}

TEST(CString256Truncation, CStringsAndNullKeepTheirFirst255Characters) {
    const std::string t300 = longText(300), t255 = longText(255);
    EXPECT_EQ(str(CString256(t300.c_str())), t300.substr(0, 255));
    CString256 s;
    s = t300.c_str();
    EXPECT_EQ(str(s), t300.substr(0, 255));
    s = t255.c_str();
    CString256 other("short");
    other = CString256(s);
    EXPECT_EQ(str(other), t255);
    EXPECT_EQ(str(CString256(static_cast<const char*>(nullptr))), "");
    s = "kept";
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "kept");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "");
}

TEST(CString256Truncation, PascalStringsEndAtTheirLengthByteOrANul) {
    const std::string t255 = longText(255);
    EXPECT_EQ(str(CString256(pascal(t255).data())), t255);
    auto three = pascal("xyz");
    three[4] = 'Q';  // the length byte, not a terminator, ends it
    for (auto [p, expected] : {std::pair{pascal(t255), t255},
                               {pascal(""), std::string()},
                               {pascal(std::string("ab\0cd", 5)), std::string("ab")},
                               {three, std::string("xyz")}}) {
        CString256 s("old text");
        s = p.data();
        EXPECT_EQ(str(s), expected);
    }
}

TEST(CString256Truncation, HandlesGiveTheirFirstBytesUpTo255) {
    const std::string t256 = longText(256), t1000 = longText(1000);
    for (const std::string& bytes :
         {std::string(), std::string("0123456789"), t256, t1000, std::string("ab\0cd", 5)}) {
        Handle h = NewHandle(Size(bytes.size()));
        ASSERT_NE(h, nullptr);
        if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
        CString256 s("previous");
        s = h;
        EXPECT_EQ(str(s), std::string(bytes.substr(0, 255).c_str()));
        DisposeHandle(h);
    }
    CString256 s("previous");
    s = static_cast<Handle>(nullptr);
    EXPECT_EQ(str(s), "");
}

TEST(CString256Truncation, AppendingFillsExactlyTo255AndACharacterStopsAt254) {
    const std::string t252 = longText(252);
    CString256 s(t252.c_str());
    s += "abcdef";
    EXPECT_EQ(str(s), t252 + "abc");
    s += "more";
    EXPECT_EQ(str(s), t252 + "abc");
    CString256 viaString(t252.c_str()), viaPascal(t252.c_str()), viaNumber(t252.c_str());
    viaString += CString256("abcdef");
    EXPECT_EQ(str(viaString), t252 + "abc");
    viaPascal += pascal("abcdef").data();
    viaPascal += static_cast<const unsigned char*>(nullptr);
    EXPECT_EQ(str(viaPascal), t252 + "abc");
    viaNumber += -123456L;
    EXPECT_EQ(str(viaNumber), t252 + "-12");

    const std::string t253 = longText(253), t255 = longText(255);
    CString256 c(t253.c_str()), full(t255.c_str());
    c += 'X';
    c += 'Y';
    EXPECT_EQ(str(c), t253 + "X");
    full += 'Z';
    EXPECT_EQ(str(full), t255);
}

TEST(CString256Truncation, SourcesInsideTheStringItself) {
    CString256 s("abcdef");
    s += s;
    EXPECT_EQ(str(s), "abcdefabcdef");
    s = "abcdef";
    s = s.text + 2;
    s = s;
    EXPECT_EQ(str(s), "cdef");
    const std::string t200 = longText(200);
    CString256 big(t200.c_str());
    big += big;
    EXPECT_EQ(str(big), (t200 + t200).substr(0, 255));
}

TEST(CString256Integers, AssignAndAppendDecimalText) {
    for (long v : {0L, -7L, long(INT32_MIN), long(INT32_MAX), LONG_MIN}) {
        CString256 s("x");
        s = v;
        EXPECT_EQ(str(s), std::to_string(v));
    }
    CString256 s("n=");
    s += 42L;
    s += 'x';
    s += -1L;
    EXPECT_EQ(str(s), "n=42x-1");
}

TEST(CString256Transform, ChangeSuffix) {
    const std::string t254 = longText(254);
    const std::pair<std::string, std::string> cases[] = {
        {"report.txt", "report.rtf"}, {"archive.tar.gz", "archive.tar.rtf"},
        {"README", "README.rtf"},     {".profile", ".rtf"},
        {t254, t254 + "."},  // cut at 255 like any append
    };
    for (const auto& [in, out] : cases) {
        CString256 s(in.c_str());
        EXPECT_EQ(str(s.change_suffix("rtf")), out) << in;
    }
}

TEST(CString256Transform, ToLowerAndFilterFollowThePosixLocale) {
    CString256 s = allBytes();
    s.to_lower();
    for (int c = 1; c < 256; ++c)
        EXPECT_EQ(static_cast<unsigned char>(s.text[c - 1]), (c >= 'A' && c <= 'Z') ? c + 32 : c)
            << "byte " << c;
    CString256 all = allBytes();
    all.filter_to_alnum_or_punct();
    std::string expected;  // 62 alphanumerics and 32 punctuation characters
    for (int c = 0x21; c < 0x7F; ++c) expected += char(c);
    EXPECT_EQ(str(all), expected);
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

TEST(CString256Affixes, AllEightForms) {
    CString256 s("Report.TXT"), a("a"), empty, prefix("REPORT"), suffix("t.txt");
    const int matches[] = {
        s.beginsWith("Rep", 0),      s.beginsWith("rep", 1),
        s.endsWith(".TXT", 0),       s.endsWith(".txt", 1),
        s.endsWith("Report.TXT", 0), a.beginsWith("", 0),
        empty.endsWith("", 0),       a.beginsWith(static_cast<const char*>(nullptr), 0),
        s.beginsWith(&prefix, 1),    s.endsWith(&suffix, 1),
        s.beginsWith_nocase(prefix), s.endsWith_nocase(suffix)};
    const int misses[] = {s.beginsWith("rep", 0),   s.beginsWith("Report.TXT.bak", 1),
                          s.endsWith(".txt", 0),    s.endsWith("x.Report.TXT", 1),
                          a.endsWith("abc", 0),     a.beginsWith("abc", 0),
                          empty.endsWith("x", 0),   s.beginsWith(&prefix, 0),
                          s.endsWith(&suffix, 0),   s.beginsWith_nocase("Rex"),
                          s.endsWith_nocase(".TxX")};
    for (std::size_t i = 0; i < std::size(matches); ++i) EXPECT_EQ(matches[i], 1) << "match " << i;
    for (std::size_t i = 0; i < std::size(misses); ++i) EXPECT_EQ(misses[i], 0) << "miss " << i;
}

TEST(CString256Access, IndexAndPrintToBuffer) {
    CString256 s("cat");
    s[0] = 'b';
    EXPECT_EQ(static_cast<const CString256&>(s)[2], 't');
    char out[600] = "first\n";
    s.print(out);
    CString256("").print(out);
    const std::string t255 = longText(255);
    CString256(t255.c_str()).print(out);
    EXPECT_EQ(std::string(out), "first\nbat\n\n" + t255 + "\n");
    s.print(nullptr);
}

// ---- the pool ----

constexpr std::size_t kBlockBytes = CString256::kSlotsPerBlock * sizeof(CString256);

// Takes slots until the free list is empty, so the next allocation needs a
// new block; release() gives them back in reverse, restoring the free list.
std::vector<CString256*> drainPool() {
    std::vector<CString256*> taken;
    while (CString256::nfree) taken.push_back(new CString256);
    return taken;
}

void release(std::vector<CString256*>& strings) {
    for (auto it = strings.rbegin(); it != strings.rend(); ++it) delete *it;
}

TEST(CString256Pool, BlocksOf256HandedOutFromTheEnd) {
    std::vector<CString256*> held = drainPool();
    const std::size_t blocks = testsupport::nothrowArrayRequests(kBlockBytes);
    std::vector<CString256*> batch{new CString256("first")};
    CString256* slot0 = batch[0];
    for (std::size_t i = 1; i < 256; ++i) {
        batch.push_back(new CString256);
        EXPECT_EQ(batch.back(), slot0 + (256 - i)) << "allocation " << i + 1;  // 255, 254, ...
    }
    EXPECT_EQ(testsupport::nothrowArrayRequests(kBlockBytes), blocks + 1);
    EXPECT_EQ(CString256::nfree, nullptr);
    EXPECT_STREQ(slot0->text, "first");
    batch.push_back(new CString256);  // the 257th is the first to need another block
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
    for (auto* p : {first, second, again}) delete p;
}

TEST(CString256Pool, NullWhenNoBlockCanBeObtained) {
    std::vector<CString256*> held = drainPool();
    testsupport::failNextNothrowArrays(1);
    EXPECT_EQ(new CString256("lost"), nullptr);
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
