// CString256: truncation on every road in, integers, transformations, prefix
// and suffix tests, printing to a buffer or an open fork, assignment from a
// CFString, and the pool of slots.
#include "support/CString256.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/cf/CoreFoundation.h"
#include "platform/files/Files.h"
#include "testkit/AllocationProbe.h"
#include "testkit/Latin1Locale.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

namespace {

using Checks = std::vector<std::pair<std::string, std::string>>;  // got, expected

// A Pascal string of the given bytes (at most 255), padded with 0xEE.
std::vector<unsigned char> pascal(const std::string& bytes) {
    std::vector<unsigned char> p(256, 0xEE);
    p[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(p.data() + 1, bytes.data(), bytes.size());
    return p;
}

// n characters: position i holds 'a' + i % 26.
std::string text(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += char('a' + i % 26);
    return s;
}

// The text left after assigning `source` to a string that held other text.
template <class Source>
std::string assigned(Source source) {
    CString256 s("previous");
    s = source;
    return s.text;
}

std::string fromHandle(const std::string& bytes) {
    Handle h = NewHandle(Size(bytes.size()));
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    std::string out = assigned(h);
    DisposeHandle(h);
    return out;
}

template <class Tail>
std::string appended(const std::string& head, Tail tail) {
    CString256 s(head.c_str());
    s += tail;
    return s.text;
}

void expectAll(const Checks& checks) {
    for (std::size_t i = 0; i < checks.size(); ++i)
        EXPECT_EQ(checks[i].first, checks[i].second) << "check " << i;
}

// Every byte 1..255 in order.
CString256 allBytes() {
    CString256 s;
    for (int c = 1; c < 256; ++c) s.text[c - 1] = char(c);
    s.text[255] = '\0';
    return s;
}

TEST(CString256Truncation, EveryRoadInKeepsTheFirst255Characters) {
    const std::string t252 = text(252), t253 = text(253), t255 = text(255), t300 = text(300);
    auto three = pascal("xyz");
    three[4] = 'Q';  // the length byte, not a terminator, ends it
    CString256 copy(t255.c_str()), c(t253.c_str()), full(t255.c_str());
    c += 'X';
    c += 'Y';
    full += 'Z';
    expectAll({
        // C strings, copies and null
        {CString256(t300.c_str()).text, t255},
        {assigned(t300.c_str()), t255},
        {assigned(copy), t255},
        {CString256(static_cast<const char*>(nullptr)).text, ""},
        {assigned(static_cast<const char*>(nullptr)), ""},
        {appended("kept", static_cast<const char*>(nullptr)), "kept"},
        // Pascal strings end at their length byte or a NUL
        {assigned(pascal(t255).data()), t255},
        {assigned(pascal("").data()), ""},
        {assigned(pascal(std::string("ab\0cd", 5)).data()), "ab"},
        {assigned(three.data()), "xyz"},
        // Handles give their first bytes up to 255 or a NUL
        {fromHandle(""), ""},
        {fromHandle("0123456789"), "0123456789"},
        {fromHandle(text(256)), t255},
        {fromHandle(text(1000)), t255},
        {fromHandle(std::string("ab\0cd", 5)), "ab"},
        {assigned(static_cast<Handle>(nullptr)), ""},
        // Appending fills exactly to 255; a character stops at 254
        {appended(t252, "abcdef"), t252 + "abc"},
        {appended(t252 + "abc", "more"), t252 + "abc"},
        {appended(t252, CString256("abcdef")), t252 + "abc"},
        {appended(t252, pascal("abcdef").data()), t252 + "abc"},
        {appended("kept", static_cast<const unsigned char*>(nullptr)), "kept"},
        {appended(t252, -123456L), t252 + "-12"},
        {c.text, t253 + "X"},
        {full.text, t255},
    });
}

TEST(CString256Truncation, SourcesInsideTheStringItself) {
    CString256 s("abcdef"), big(text(200).c_str());
    s += s;
    EXPECT_STREQ(s.text, "abcdefabcdef");
    s = "abcdef";
    s = s.text + 2;
    s = s;
    EXPECT_STREQ(s.text, "cdef");
    big += big;
    EXPECT_EQ(std::string(big.text), (text(200) + text(200)).substr(0, 255));
}

TEST(CString256Transform, IntegersAndChangeSuffix) {
    for (long v : {0L, -7L, long(INT32_MIN), long(INT32_MAX), LONG_MIN})
        EXPECT_EQ(assigned(v), std::to_string(v));
    CString256 n("n=");
    n += 42L;
    n += 'x';
    n += -1L;
    EXPECT_STREQ(n.text, "n=42x-1");
    const std::string t254 = text(254);
    for (const auto& [in, out] : Checks{{"report.txt", "report.rtf"},
                                        {"archive.tar.gz", "archive.tar.rtf"},
                                        {"README", "README.rtf"},
                                        {".profile", ".rtf"},
                                        {t254, t254 + "."}}) {  // cut at 255 like any append
        CString256 s(in.c_str());
        EXPECT_EQ(std::string(s.change_suffix("rtf").text), out) << in;
    }
}

TEST(CString256Transform, ToLowerAndFilterFollowThePosixLocale) {
    CString256 s = allBytes(), all = allBytes();
    s.to_lower();
    for (int c = 1; c < 256; ++c)
        EXPECT_EQ(static_cast<unsigned char>(s.text[c - 1]), (c >= 'A' && c <= 'Z') ? c + 32 : c)
            << "byte " << c;
    all.filter_to_alnum_or_punct();
    std::string expected;  // 62 alphanumerics and 32 punctuation characters
    for (int c = 0x21; c < 0x7F; ++c) expected += char(c);
    EXPECT_EQ(std::string(all.text), expected);
}

TEST(CString256Transform, SameResultsUnderALatin1Locale) {
    testsupport::ScopedLatin1Locale latin1;
    if (!latin1.active()) GTEST_SKIP() << "localedef could not build a Latin-1 locale";
    CString256 s("\xC4\xE9 A\xB5z"), t("\xC4rger.TXT");  // letters in Latin-1, not in POSIX
    s.to_lower();
    EXPECT_STREQ(s.text, "\xC4\xE9 a\xB5z");
    s.filter_to_alnum_or_punct();
    EXPECT_STREQ(s.text, "az");
    EXPECT_EQ(t.endsWith_nocase(".txt"), 1);
    EXPECT_EQ(t.beginsWith_nocase("\xE4"), 0);
}

TEST(CString256Affixes, CaseFormsPointerFormsAndAffixesLongerThanTheString) {
    CString256 s("Report.TXT"), a("a"), empty, prefix("REPORT"), suffix("t.txt");
    const int matches[] = {s.beginsWith("rep", 1),
                           s.endsWith("Report.TXT", 0),
                           a.beginsWith("", 0),
                           empty.endsWith("", 0),
                           a.beginsWith(static_cast<const char*>(nullptr), 0),
                           s.endsWith(&suffix, 1),
                           s.beginsWith_nocase(prefix)};
    const int misses[] = {s.beginsWith("rep", 0),        s.beginsWith("Report.TXT.bak", 1),
                          s.endsWith("x.Report.TXT", 1), a.endsWith("abc", 0),
                          empty.endsWith("x", 0),        s.beginsWith(&prefix, 0),
                          s.endsWith_nocase(".TxX")};
    for (std::size_t i = 0; i < std::size(matches); ++i) EXPECT_EQ(matches[i], 1) << "match " << i;
    for (std::size_t i = 0; i < std::size(misses); ++i) EXPECT_EQ(misses[i], 0) << "miss " << i;
}

TEST(CString256Access, PrintToABufferAppendsALine) {
    char out[600] = "first\n";
    CString256("bat").print(out);
    CString256("").print(out);
    CString256(text(255).c_str()).print(out);
    EXPECT_EQ(std::string(out), "first\nbat\n\n" + text(255) + "\n");
    CString256("x").print(nullptr);
}

// ---- the pool ----

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

TEST(CString256Pool, BlocksOf256HandedOutFromTheEndAndFreedSlotsReusedFirst) {
    constexpr std::size_t kBlockBytes = CString256::kSlotsPerBlock * sizeof(CString256);
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
    // Freed slots come back last in first out, cleared.
    CString256 *b = batch[10], *c = batch[20];
    delete b;
    delete c;
    batch[10] = new CString256;
    batch[20] = new CString256;
    EXPECT_EQ(batch[10], c);
    EXPECT_EQ(batch[20], b);
    EXPECT_STREQ(batch[20]->text, "");
    release(batch);
    release(held);
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

// ---- From a CFString: Mac Roman, cut after the last whole character ----
// The CString256 text of a CFString made from UTF-16 units.
std::string fromCF(const std::u16string& units) {
    CFStringRef s = CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()), CFIndex(units.size()));
    EXPECT_NE(s, nullptr);
    CString256 out("previous");
    out = s;
    CFRelease(s);
    return out.text;
}

TEST(CString256FromCFString, MacRomanBytesWithOneQuestionMarkForEachMissingCharacter) {
    // Decomposed accents, as macOS stores file names, are composed first.
    EXPECT_EQ(fromCF(u"caf\u00E9 cafe\u0301 \u2206"), "caf\x8E caf\x8E \xC6");
    // Characters Mac Roman lacks become one '?' each, a surrogate pair too.
    EXPECT_EQ(fromCF(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(fromCF(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(fromCF(u"q\u0301"), "q?");
}

TEST(CString256FromCFString, CutAfterTheLastWholeCharacterThatFitsEmptyAndNull) {
    const std::u16string a254(254, u'a'), a255 = a254 + u"a";
    const std::string s254(254, 'a'), s255(255, 'a');
    EXPECT_EQ(fromCF(std::u16string(300, u'a')), s255);
    EXPECT_EQ(fromCF(a254 + u"\u00E9zz"), s254 + "\x8E");
    EXPECT_EQ(fromCF(a254 + u"e\u0301zz"), s254 + "\x8E");
    EXPECT_EQ(fromCF(a254 + u"\U0001F600zz"), s254 + "?");
    EXPECT_EQ(fromCF(a255 + u"\u00E9"), s255);
    EXPECT_EQ(fromCF(a255 + u"\U0001F600"), s255);
    // Far longer strings are cut the same way.
    EXPECT_EQ(fromCF(std::u16string(100000, u'\u00E9')), std::string(255, '\x8E'));
    EXPECT_EQ(fromCF(u""), "");
    EXPECT_EQ(fromCF(std::u16string(u"ab\0cd", 5)), "ab");
    CString256 s("previous");
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_STREQ(s.text, "");
    s = CFSTR("constant");
    EXPECT_STREQ(s.text, "constant");
}

// ---- Printed to an open fork: one line per call at the fork's mark ----
// Opens the data fork of the file at path.
FSIORefNum openDataFork(const std::string& path, SInt8 permission) {
    const FSRef ref = testsupport::refOf(path);
    HFSUniStr255 name;
    FSGetDataForkName(&name);
    FSIORefNum refNum = 0;
    EXPECT_EQ(FSOpenFork(&ref, name.length, name.unicode, permission, &refNum), noErr);
    return refNum;
}

TEST(CString256PrintToFork, WritesLinesAtTheMarkAndReportsTheFileManagersResult) {
    testsupport::TempTree tree;
    const std::string path = tree.write("text", "0123456789"), t255(255, 'w');
    FSIORefNum refNum = openDataFork(path, fsRdWrPerm);
    // Over the bytes at the mark, keeping those after the line.
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromStart, 3), noErr);
    EXPECT_EQ(CString256("ab").print(refNum), noErr);
    SInt64 mark = -1;
    EXPECT_EQ(FSGetForkPosition(refNum, &mark), noErr);
    EXPECT_EQ(mark, 6);
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromLEOF, 0), noErr);
    EXPECT_EQ(CString256("").print(refNum), noErr);
    EXPECT_EQ(CString256(t255.c_str()).print(refNum), noErr);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    const std::string written = "012ab\n6789\n" + t255 + "\n";
    EXPECT_EQ(testsupport::readText(path), written);
    // A closed fork, and one open for reading only: nothing is written.
    EXPECT_EQ(CString256("lost").print(refNum), rfNumErr);
    refNum = openDataFork(path, fsRdPerm);
    EXPECT_EQ(CString256("lost").print(refNum), wrPermErr);
    FSCloseFork(refNum);
    EXPECT_EQ(testsupport::readText(path), written);
}

}  // namespace
