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

template <class Tail>
std::string appended(const std::string& head, Tail tail) {
    CString256 s(head.c_str());
    s += tail;
    return s.text;
}

// The CString256 text of a CFString made from UTF-16 units.
std::string fromCF(const std::u16string& units) {
    CFStringRef s = CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()), CFIndex(units.size()));
    std::string out = assigned(s);
    CFRelease(s);
    return out;
}

TEST(CString256Truncation, EveryRoadInKeepsTheFirst255Characters) {
    const std::string t252 = text(252), t253 = text(253), t255 = text(255), t300 = text(300);
    auto three = pascal("xyz");
    three[4] = 'Q';  // the length byte, not a terminator, ends it
    CString256 copy(t255.c_str()), c(t253.c_str()), big(text(200).c_str());
    c += 'X';
    c += 'Y';
    big += big;  // a source inside the string itself
    Handle h256 = NewHandle(256);
    std::memcpy(*h256, text(256).data(), 256);
    for (const auto& [got, expected] : Checks{
             // C strings, copies and null
             {CString256(t300.c_str()).text, t255},
             {assigned(copy), t255},
             {assigned(static_cast<const char*>(nullptr)), ""},
             {appended("kept", static_cast<const char*>(nullptr)), "kept"},
             {big.text, (text(200) + text(200)).substr(0, 255)},
             // Pascal strings end at their length byte
             {assigned(pascal(t255).data()), t255},
             {assigned(three.data()), "xyz"},
             // Handles give their first bytes up to 255
             {assigned(h256), t255},
             {assigned(static_cast<Handle>(nullptr)), ""},
             // Appending fills exactly to 255; a character stops at 254
             {appended(t252, pascal("abcdef").data()), t252 + "abc"},  // through the C form
             {appended("kept", static_cast<const unsigned char*>(nullptr)), "kept"},
             {appended(t252, -123456L), t252 + "-12"},
             {assigned(LONG_MIN), std::to_string(LONG_MIN)},
             {c.text, t253 + "X"},
             // From a CFString: Mac Roman, cut after the last whole character that fits.
             {fromCF(std::u16string(254, u'a') + u"e\u0301zz"), std::string(254, 'a') + "\x8E"},
             {fromCF(std::u16string(254, u'a') + u"\U0001F600zz"), std::string(254, 'a') + "?"},
             {fromCF(std::u16string(255, u'a') + u"\U0001F600"), std::string(255, 'a')},
             {fromCF(std::u16string(100000, u'\u00E9')), std::string(255, '\x8E')},
             {assigned(static_cast<CFStringRef>(nullptr)), ""},
         })
        EXPECT_EQ(got, expected);
    DisposeHandle(h256);
}

TEST(CString256Transform, ChangeSuffixToLowerFilterAndAffixesInBothCaseFormsTakeOnlyAsciiLetters) {
    const std::string t254 = text(254);
    for (const auto& [in, out] : Checks{{"archive.tar.gz", "archive.tar.rtf"},
                                        {"README", "README.rtf"},
                                        {".profile", ".rtf"},
                                        {t254, t254 + "."}})  // cut at 255 like any append
        EXPECT_EQ(std::string(CString256(in.c_str()).change_suffix("rtf").text), out) << in;
    std::string all, lower, kept;  // kept: 62 alphanumerics and 32 punctuation characters
    for (int c = 1; c < 256; ++c) {
        all += char(c);
        lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (c > 0x20 && c < 0x7F) kept += char(c);
    }
    CString256 s(all.c_str()), t(all.c_str()), name("\xC4rger.TXT");
    s.to_lower();
    EXPECT_EQ(std::string(s.text), lower);
    t.filter_to_alnum_or_punct();
    EXPECT_EQ(std::string(t.text), kept);
    EXPECT_EQ(name.endsWith_nocase(".txt"), 1);
    EXPECT_EQ(name.beginsWith_nocase("\xE4"), 0);  // letters in Latin-1, not in Mac Roman
    // Case forms, pointer forms and affixes longer than the string.
    CString256 r("Report.TXT"), a("a"), empty, prefix("REPORT"), suffix("t.txt");
    const int matches[] = {
        r.beginsWith("rep", 1), r.endsWith("Report.TXT", 0),
        empty.endsWith("", 0),  a.beginsWith(static_cast<const char*>(nullptr), 0),
        r.endsWith(&suffix, 1), r.beginsWith_nocase(prefix)};
    const int misses[] = {r.beginsWith("rep", 0),        r.beginsWith("Report.TXT.bak", 1),
                          r.endsWith("x.Report.TXT", 1), empty.endsWith("x", 0),
                          r.beginsWith(&prefix, 0),      r.endsWith_nocase(".TxX")};
    for (std::size_t i = 0; i < std::size(matches); ++i) EXPECT_EQ(matches[i], 1) << "match " << i;
    for (std::size_t i = 0; i < std::size(misses); ++i) EXPECT_EQ(misses[i], 0) << "miss " << i;
}

TEST(CString256Print, ToABufferAndToAnOpenForkAtItsMark) {
    char out[600] = "first\n";
    CString256("").print(out);
    CString256(text(255).c_str()).print(out);
    EXPECT_EQ(std::string(out), "first\n\n" + text(255) + "\n");
    CString256("x").print(nullptr);

    testsupport::TempTree tree;
    const std::string path = tree.write("text", "0123456789");
    const FSRef ref = testsupport::refOf(path);
    FSIORefNum refNum = 0;
    ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &refNum), noErr);  // the data fork
    // At the mark (writing over the bytes there: Forks.ReadWriteSizeAndPositionOnBothForks).
    ASSERT_EQ(FSSetForkPosition(refNum, fsFromLEOF, 0), noErr);
    EXPECT_EQ(CString256(text(255).c_str()).print(refNum), noErr);
    EXPECT_EQ(FSCloseFork(refNum), noErr);
    const std::string written = "0123456789" + text(255) + "\n";
    EXPECT_EQ(testsupport::readText(path), written);
    // A closed fork: the write's code and nothing written (a fork open for
    // reading only: Forks.ReadWriteSizeAndPositionOnBothForks).
    EXPECT_EQ(CString256("lost").print(refNum), rfNumErr);
    EXPECT_EQ(testsupport::readText(path), written);
}

TEST(CString256Pool, BlocksOf256FreedSlotsReusedFirstAndNullWithoutABlock) {
    std::vector<CString256*> batch;
    while (CString256::nfree) batch.push_back(new CString256);  // the next needs a new block
    testsupport::failNextNothrowArrays(1);
    EXPECT_EQ(new CString256("lost"), nullptr);
    EXPECT_EQ(CString256::nfree, nullptr);
    // One new block: the slot handed out and 255 free ones.
    const std::size_t before = batch.size();
    for (batch.push_back(new CString256("x")); CString256::nfree;) batch.push_back(new CString256);
    EXPECT_EQ(batch.size() - before, 256u);
    // A freed slot is the next one handed out, cleared.
    CString256* freed = batch[before];  // the one that held "x"
    delete freed;
    batch[before] = new CString256;
    EXPECT_EQ(batch[before], freed);
    EXPECT_STREQ(freed->text, "");
    for (auto it = batch.rbegin(); it != batch.rend(); ++it) delete *it;
}

}  // namespace
