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

TEST(CString256FromCFString, MacRomanBytes) {
    EXPECT_EQ(assigned(u"plain ASCII"), "plain ASCII");
    EXPECT_EQ(assigned(u"caf\u00E9"), "caf\x8E");
    // Decomposed accents, as macOS stores file names, are composed first.
    EXPECT_EQ(assigned(u"cafe\u0301"), "caf\x8E");
    // Apple's table where other Mac Roman tables differ.
    EXPECT_EQ(assigned(u"\u2206\uF8FF"), "\xC6\xF0");
    EXPECT_EQ(assigned(u"\u20AC 5"), "\xDB 5");
}

TEST(CString256FromCFString, MissingCharactersBecomeOneQuestionMarkEach) {
    EXPECT_EQ(assigned(u"a\u4E2Db"), "a?b");
    // A character outside the 16-bit range (a surrogate pair) is one '?'.
    EXPECT_EQ(assigned(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(assigned(u"q\u0301"), "q?");
}

TEST(CString256FromCFString, CutAfterTheLastWholeCharacterThatFits) {
    std::u16string a300(300, u'a');
    EXPECT_EQ(assigned(a300), std::string(255, 'a'));
    std::u16string a254(254, u'a');
    EXPECT_EQ(assigned(a254 + u"\u00E9zz"), std::string(254, 'a') + "\x8E");
    EXPECT_EQ(assigned(a254 + u"e\u0301zz"), std::string(254, 'a') + "\x8E");
    EXPECT_EQ(assigned(a254 + u"\U0001F600zz"), std::string(254, 'a') + "?");
    std::u16string a255(255, u'a');
    EXPECT_EQ(assigned(a255 + u"\u00E9"), std::string(255, 'a'));
    EXPECT_EQ(assigned(a255 + u"\U0001F600"), std::string(255, 'a'));
    // Far longer strings are cut the same way.
    std::u16string big(100000, u'\u00E9');
    EXPECT_EQ(assigned(big), std::string(255, '\x8E'));
}

TEST(CString256FromCFString, EmptyNullAndEmbeddedNul) {
    EXPECT_EQ(assigned(u""), "");
    EXPECT_EQ(assigned(std::u16string(u"ab\0cd", 5)), "ab");
    CString256 s("previous");
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_STREQ(s.text, "");
    CString256 fromConstant;
    fromConstant = CFSTR("constant");
    EXPECT_STREQ(fromConstant.text, "constant");
}

}  // namespace
