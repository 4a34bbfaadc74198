// CString256 assigned from a CFString: Mac Roman text, cut after the last whole
// character that fits in 255 bytes, '?' for characters Mac Roman lacks.
#include <gtest/gtest.h>

#include <string>

#include "platform/CoreFoundation.h"
#include "support/CString256.h"

namespace {

// The CString256 text of a CFString made from UTF-16 units.
std::string assigned(const std::u16string& units) {
    CFStringRef s = CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()), CFIndex(units.size()));
    EXPECT_NE(s, nullptr);
    CString256 out("previous");
    out = s;
    CFRelease(s);
    return out.text;
}

TEST(CString256FromCFString, MacRomanBytesWithOneQuestionMarkForEachMissingCharacter) {
    EXPECT_EQ(assigned(u"plain ASCII"), "plain ASCII");
    EXPECT_EQ(assigned(u"caf\u00E9"), "caf\x8E");
    // Decomposed accents, as macOS stores file names, are composed first.
    EXPECT_EQ(assigned(u"cafe\u0301"), "caf\x8E");
    // Apple's table where other Mac Roman tables differ.
    EXPECT_EQ(assigned(u"\u2206\uF8FF"), "\xC6\xF0");
    EXPECT_EQ(assigned(u"\u20AC 5"), "\xDB 5");
    // Characters Mac Roman lacks become one '?' each, a surrogate pair too.
    EXPECT_EQ(assigned(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(assigned(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(assigned(u"q\u0301"), "q?");
}

TEST(CString256FromCFString, CutAfterTheLastWholeCharacterThatFitsEmptyAndNull) {
    const std::u16string a254(254, u'a'), a255 = a254 + u"a";
    const std::string s254(254, 'a'), s255(255, 'a');
    EXPECT_EQ(assigned(std::u16string(300, u'a')), s255);
    EXPECT_EQ(assigned(a254 + u"\u00E9zz"), s254 + "\x8E");
    EXPECT_EQ(assigned(a254 + u"e\u0301zz"), s254 + "\x8E");
    EXPECT_EQ(assigned(a254 + u"\U0001F600zz"), s254 + "?");
    EXPECT_EQ(assigned(a255 + u"\u00E9"), s255);
    EXPECT_EQ(assigned(a255 + u"\U0001F600"), s255);
    // Far longer strings are cut the same way.
    EXPECT_EQ(assigned(std::u16string(100000, u'\u00E9')), std::string(255, '\x8E'));
    EXPECT_EQ(assigned(u""), "");
    EXPECT_EQ(assigned(std::u16string(u"ab\0cd", 5)), "ab");
    CString256 s("previous");
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_STREQ(s.text, "");
    s = CFSTR("constant");
    EXPECT_STREQ(s.text, "constant");
}

}  // namespace
