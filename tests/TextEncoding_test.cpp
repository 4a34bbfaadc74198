#include "platform/base/TextEncoding.h"

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

TEST(TextEncoding, MacRomanIsAppleTableBothWaysAndNamesAreComposedAndNeverUnreadable) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    std::u16string u = Utf16FromMacRoman(all);
    ASSERT_EQ(u.size(), 256u);
    bool lossless = false;
    EXPECT_EQ(MacRomanFromUtf16(u, &lossless), all);
    EXPECT_TRUE(lossless);
    EXPECT_EQ(MacRomanFromUtf8(Utf8FromMacRoman(all)), all);

    // Characters outside the table become one '?' each, also outside the BMP,
    // including U+0394 and U+E01E, which glibc gives for 0xC6 and 0xF0 where
    // Apple's table has U+2206 and U+F8FF (the converter cases below).
    EXPECT_EQ(MacRomanFromUtf16(u"a\u2603b\U0001F600c\u0394\uE01E", &lossless), "a?b?c??");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(MacRomanFromUtf16(std::u16string(u"x\xD800y")), "x?y");  // lone surrogate

    // Names from Linux are composed and never unreadable. A decomposed é, as macOS stores names,
    // finds its Mac Roman byte.
    EXPECT_EQ(MacRomanFromUtf8("Cafe\xCC\x81"), "Caf\x8E");
    // A combining mark with no composed form still shows the letter.
    EXPECT_EQ(MacRomanFromUtf8("q\xCC\x81"), "q?");
    // Bytes that are not UTF-8 are Latin-1 characters: 0xE9 is é (into Mac
    // Roman: the converter case of 0xFF below).
    EXPECT_EQ(Utf16FromFileName("caf\xE9"), u"caf\u00E9");
    // Surrogate and cut sequences fall back byte by byte (an overlong one is
    // refused by the same decoder: CoreFoundation.StringsAndFileURLsConvert...).
    EXPECT_EQ(Utf16FromFileName("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");
    EXPECT_EQ(Utf16FromFileName("ab\xE2\x82"), u"ab\u00E2\u0082");
    EXPECT_EQ(Utf16FromFileName("\xF0\x9F\x98\x80"), u"\U0001F600");
    std::u16string strict;
    EXPECT_FALSE(DecodeUtf8Strict("caf\xE9", strict));
    EXPECT_TRUE(DecodeUtf8Strict("\xE2\x88\x86", strict));
    EXPECT_EQ(strict, u"\u2206");
    EXPECT_EQ(Utf8FromUtf16(u"\u2206\U0001F600"), "\xE2\x88\x86\xF0\x9F\x98\x80");
}

TEST(TextEncoding, ConverterStopsAtFullOutputOrACutCharacterAndRefusesUnknownEncodings) {
    constexpr TextEncoding kU16 = kTextEncodingUnicodeDefault, kMac = kTextEncodingMacRoman,
                           kU8 = kTextEncodingUTF8;
    const std::u16string name = u"R\u00E9sum\u00E9 \u2206";
    const char16_t cutPair[] = {u'a', 0xD83D};  // ends inside a surrogate pair
    const std::string macBack(reinterpret_cast<const char*>(u"\uF8FFz"), 4);  // host order
    const struct {
        TextEncoding from, to;
        const void* in;
        size_t n, room;
        OSStatus status;
        ByteCount consumed;
        std::string out;
    } cases[] = {
        {kU16, kMac, name.data(), 16, 64, noErr, 16, "R\x8Esum\x8E \xC6"},
        {kU16, kMac, name.data(), 16, 3, kTECOutputBufferFullStatus, 6, "R\x8Es"},
        {kMac, kU8, "a\xC6", 2, 3, kTECOutputBufferFullStatus, 1, "a"},  // never split in UTF-8
        {kMac, kU16, "\xF0z", 2, 4, noErr, 2, macBack},  // Apple's table, not glibc's
        {kU16, kU8, cutPair, 4, 16, kTECPartialCharErr, 2, "a"},
        {kU16, kMac, cutPair, 3, 16, kTECPartialCharErr, 2, "a"},
        {kU8, kMac, "e\xCC", 2, 16, kTECPartialCharErr, 1, "e"},
        // Bytes that can never become UTF-8 are not "partial": they are Latin-1.
        {kU8, kMac, "e\xFF", 2, 16, noErr, 2, "e\xD8"},
        {kU16, kMac, "", 0, 0, noErr, 0, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.out));
        Converted r = run(c.from, c.to, c.in, c.n, c.room);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.consumed, c.consumed);
        EXPECT_EQ(r.out, c.out);
    }
    // The next call resumes where a full output stopped.
    Converted rest = run(kU16, kMac, name.data() + 3, 10, 64);
    EXPECT_EQ("R\x8Es" + rest.out, "R\x8Esum\x8E \xC6");
    // An encoding without a converter is refused and gives a null converter.
    TECObjectRef none = reinterpret_cast<TECObjectRef>(1);
    EXPECT_EQ(TECCreateConverter(&none, 0x0A01, kMac), kTECNoConversionPathErr);
    EXPECT_EQ(none, nullptr);
}
