#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs one converter over the whole input in a single call.
struct Converted {
    OSStatus status;
    ByteCount consumed;
    std::string out;
};

Converted run(TextEncoding from, TextEncoding to, const void* in, size_t n, size_t room) {
    TECObjectRef tec = nullptr;
    EXPECT_EQ(TECCreateConverter(&tec, from, to), noErr);
    std::vector<UInt8> out(room + 1, 0xEE);
    ByteCount used = 0, made = 0;
    OSStatus st = TECConvertText(tec, static_cast<ConstTextPtr>(in), ByteCount(n), &used,
                                 out.data(), ByteCount(room), &made);
    EXPECT_EQ(out[room], 0xEE) << "wrote past the output buffer";
    TECDisposeConverter(tec);
    return {st, used, std::string(reinterpret_cast<char*>(out.data()), made)};
}

}  // namespace

TEST(TextEncoding, MacRomanIsAppleTableBothWays) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    std::u16string u = Utf16FromMacRoman(all);
    ASSERT_EQ(u.size(), 256u);
    EXPECT_EQ(u[0x8E], u'\u00E9');
    EXPECT_EQ(u[0xC6], u'\u2206');  // glibc says U+0394
    EXPECT_EQ(u[0xF0], u'\uF8FF');  // glibc says U+E01E
    EXPECT_EQ(u[0xDB], u'\u20AC');
    bool lossless = false;
    EXPECT_EQ(MacRomanFromUtf16(u, &lossless), all);
    EXPECT_TRUE(lossless);
    EXPECT_EQ(MacRomanFromUtf8(Utf8FromMacRoman(all)), all);

    // Characters outside the table become one '?' each, also outside the BMP,
    // including glibc's stand-ins for the two corrected bytes.
    EXPECT_EQ(MacRomanFromUtf16(u"a\u2603b\U0001F600c\u0394\uE01E", &lossless), "a?b?c??");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(MacRomanFromUtf16(std::u16string(u"x\xD800y")), "x?y");  // lone surrogate
}

TEST(TextEncoding, NamesFromLinuxAreComposedAndNeverUnreadable) {
    // A decomposed é, as macOS stores names, finds its Mac Roman byte.
    EXPECT_EQ(MacRomanFromUtf8("Cafe\xCC\x81"), "Caf\x8E");
    // A combining mark with no composed form still shows the letter.
    EXPECT_EQ(MacRomanFromUtf8("q\xCC\x81"), "q?");
    // Bytes that are not UTF-8 are Latin-1 characters: 0xE9 is é.
    EXPECT_EQ(Utf16FromFileName("caf\xE9"), u"caf\u00E9");
    EXPECT_EQ(MacRomanFromUtf8("caf\xE9"), "caf\x8E");
    // Overlong, surrogate and cut sequences fall back byte by byte.
    EXPECT_EQ(Utf16FromFileName("\xC0\xAF"), u"\u00C0\u00AF");
    EXPECT_EQ(Utf16FromFileName("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");
    EXPECT_EQ(Utf16FromFileName("ab\xE2\x82"), u"ab\u00E2\u0082");
    EXPECT_EQ(Utf16FromFileName("\xF0\x9F\x98\x80"), u"\U0001F600");
    std::u16string strict;
    EXPECT_FALSE(DecodeUtf8Strict("caf\xE9", strict));
    EXPECT_TRUE(DecodeUtf8Strict("\xE2\x88\x86", strict));
    EXPECT_EQ(strict, u"\u2206");
    EXPECT_EQ(Utf8FromUtf16(u"\u2206\U0001F600"), "\xE2\x88\x86\xF0\x9F\x98\x80");
}

TEST(TextEncoding, ConverterStopsAtFullOutputAndResumes) {
    const std::u16string name = u"R\u00E9sum\u00E9 \u2206";
    const size_t bytes = name.size() * 2;
    Converted whole =
        run(kTextEncodingUnicodeDefault, kTextEncodingMacRoman, name.data(), bytes, 64);
    EXPECT_EQ(whole.status, noErr);
    EXPECT_EQ(whole.consumed, bytes);
    EXPECT_EQ(whole.out, "R\x8Esum\x8E \xC6");

    Converted part = run(kTextEncodingUnicodeDefault, kTextEncodingMacRoman, name.data(), bytes, 3);
    EXPECT_EQ(part.status, kTECOutputBufferFullStatus);
    EXPECT_EQ(part.out, "R\x8Es");
    EXPECT_EQ(part.consumed, 6u);
    Converted rest = run(kTextEncodingUnicodeDefault, kTextEncodingMacRoman,
                         name.data() + part.consumed / 2, bytes - part.consumed, 64);
    EXPECT_EQ(part.out + rest.out, whole.out);

    // UTF-8 output never splits a character.
    Converted utf8 = run(kTextEncodingMacRoman, kTextEncodingUTF8, "a\xC6", 2, 3);
    EXPECT_EQ(utf8.status, kTECOutputBufferFullStatus);
    EXPECT_EQ(utf8.out, "a");
    EXPECT_EQ(utf8.consumed, 1u);

    // Mac Roman to UTF-16 in host order, two bytes per character.
    Converted back = run(kTextEncodingMacRoman, kTextEncodingUnicodeDefault, "\xF0z", 2, 4);
    EXPECT_EQ(back.status, noErr);
    EXPECT_EQ(back.out, std::string(reinterpret_cast<const char*>(u"\uF8FFz"), 4));
}

TEST(TextEncoding, ConverterLeavesCutCharactersForTheNextCall) {
    const char16_t units[] = {u'a', 0xD83D};  // ends inside a surrogate pair
    Converted cut = run(kTextEncodingUnicodeDefault, kTextEncodingUTF8, units, 4, 16);
    EXPECT_EQ(cut.status, kTECPartialCharErr);
    EXPECT_EQ(cut.consumed, 2u);
    EXPECT_EQ(cut.out, "a");
    Converted odd = run(kTextEncodingUnicodeDefault, kTextEncodingMacRoman, units, 3, 16);
    EXPECT_EQ(odd.status, kTECPartialCharErr);
    EXPECT_EQ(odd.consumed, 2u);
    Converted utf8 = run(kTextEncodingUTF8, kTextEncodingMacRoman, "e\xCC", 2, 16);
    EXPECT_EQ(utf8.status, kTECPartialCharErr);
    EXPECT_EQ(utf8.out, "e");
    // Bytes that can never become UTF-8 are not "partial": they are Latin-1.
    Converted bad = run(kTextEncodingUTF8, kTextEncodingMacRoman, "e\xFF", 2, 16);
    EXPECT_EQ(bad.status, noErr);
    EXPECT_EQ(bad.out, "e\xD8");  // ÿ

    Converted empty = run(kTextEncodingUnicodeDefault, kTextEncodingMacRoman, "", 0, 0);
    EXPECT_EQ(empty.status, noErr);
    EXPECT_EQ(empty.consumed, 0u);
}

TEST(TextEncoding, ConvertersAreCountedAndUnknownPathsRefused) {
    long before = TECLiveConverterCount();
    TECObjectRef a = nullptr, b = nullptr;
    ASSERT_EQ(TECCreateConverter(&a, kTextEncodingMacRoman, kTextEncodingUnicodeDefault), noErr);
    ASSERT_EQ(TECCreateConverter(&b, kTextEncodingUnicodeDefault, kTextEncodingMacRoman), noErr);
    EXPECT_EQ(TECLiveConverterCount(), before + 2);
    TECDisposeConverter(a);
    TECDisposeConverter(b);
    EXPECT_EQ(TECLiveConverterCount(), before);
    TECObjectRef c = reinterpret_cast<TECObjectRef>(1);
    EXPECT_EQ(TECCreateConverter(&c, 0x0A01, kTextEncodingMacRoman), kTECNoConversionPathErr);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(TECLiveConverterCount(), before);
}
