#include "platform/cf/CoreFoundation.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstring>
#include <string>

namespace {

std::string cString(CFStringRef s, CFStringEncoding enc) {
    char buf[512];
    return CFStringGetCString(s, buf, sizeof buf, enc) ? buf : "<failed>";
}

template <class T>
CFNumberRef number(CFNumberType type, T value) {
    return CFNumberCreate(nullptr, type, &value);
}

void releaseAll(std::initializer_list<CFTypeRef> objects) {
    for (CFTypeRef o : objects) CFRelease(o);
}

}  // namespace

TEST(CoreFoundation, StringsAndFileURLsConvertNeverLossilyAndConstantsAreShared) {
    // Constants are shared per text and survive any number of releases.
    CFStringRef c1 = CFSTR("FunctionType");
    EXPECT_EQ(c1, CFSTR("FunctionType"));
    CFRelease(c1);
    CFRelease(c1);
    CFRelease(kCFBooleanTrue);  // a static object: freeing it would abort
    CFRelease(nullptr);         // harmless
    EXPECT_EQ(CFStringGetLength(c1), 12);
    // "Café ∆" in Mac Roman: é is 0x8E, INCREMENT is 0xC6.
    const char macRoman[] = "Caf\x8E \xC6";
    CFStringRef s = CFStringCreateWithCString(nullptr, macRoman, kCFStringEncodingMacRoman);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cString(s, kCFStringEncodingUTF8), "Caf\xC3\xA9 \xE2\x88\x86");
    EXPECT_EQ(cString(s, kCFStringEncodingMacRoman), macRoman);

    // A character Mac Roman lacks makes the Mac Roman copy fail, not degrade.
    const UniChar snowman[] = {'a', 0x2603};
    CFStringRef t = CFStringCreateWithCharacters(nullptr, snowman, 2);
    EXPECT_EQ(cString(t, kCFStringEncodingMacRoman), "<failed>");

    // The buffer must hold the bytes and the NUL.
    char exact[5];
    EXPECT_TRUE(CFStringGetCString(CFSTR("abcd"), exact, 5, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFStringGetCString(CFSTR("abcd"), exact, 4, kCFStringEncodingUTF8));

    // Malformed UTF-8 (a lone continuation byte, an overlong slash) makes no string.
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "a\x80", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC0\xAF", kCFStringEncodingUTF8), nullptr);
    releaseAll({t, s});

    // A file URL of a path that is not UTF-8 keeps its bytes.
    const char raw[] = "/tmp/a b/caf\xE9%.txt";
    CFURLRef u = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(raw), CFIndex(std::strlen(raw)), false);
    ASSERT_NE(u, nullptr);
    UInt8 buf[sizeof raw];  // the bytes and the NUL; one less does not do
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), raw);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf - 1));
    releaseAll({u});
}

TEST(CoreFoundation, NumbersReportLossyConversionsAndLeaveDefinedValues) {
    CFNumberRef x = number(kCFNumberSInt64Type, SInt64(INT64_MAX));
    CFNumberRef n = number(kCFNumberDoubleType, std::nan(""));
    CFNumberRef t = number(kCFNumberFloat64Type, 1e30);
    SInt32 v32 = -1;
    SInt64 v64 = 0;
    double d = -1;
    // Exact and lossy reals and a too wide integer into SInt16: the Settings
    // test (FunctionType of 2.0, 2.5 and 65537). What the conversions that
    // cannot be exact leave is defined, never a C cast's undefined value:
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, &v32));
    EXPECT_EQ(v32, 0);
    EXPECT_FALSE(CFNumberGetValue(x, kCFNumberFloat64Type, &d));  // 2^63 - 1 is not a double
    EXPECT_FALSE(CFNumberGetValue(t, kCFNumberSInt64Type, &v64));
    EXPECT_EQ(v64, INT64_MAX);  // saturated
    EXPECT_EQ(number(99, SInt64(1)), nullptr);
    releaseAll({x, n, t});
}
