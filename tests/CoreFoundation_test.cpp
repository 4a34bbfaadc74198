#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstring>
#include <string>

namespace {

std::string cString(CFStringRef s, CFStringEncoding enc) {
    char buf[512];
    if (!CFStringGetCString(s, buf, sizeof buf, enc)) return "<failed>";
    return buf;
}

}  // namespace

TEST(CoreFoundation, ReferenceCountsFollowCreateRetainRelease) {
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "abc", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
    CFRelease(nullptr);  // harmless

    // Constants are shared per text and survive any number of releases.
    CFStringRef c1 = CFSTR("FunctionType");
    EXPECT_EQ(c1, CFSTR("FunctionType"));
    CFRelease(c1);
    CFRelease(c1);
    EXPECT_EQ(CFStringGetLength(c1), 12);
    CFRelease(kCFBooleanTrue);
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
}

TEST(CoreFoundation, TypesAreToldApart) {
    SInt32 one = 1;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFStringRef s = CFSTR("1");
    EXPECT_EQ(CFGetTypeID(n), CFNumberGetTypeID());
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
    EXPECT_NE(CFNumberGetTypeID(), CFBooleanGetTypeID());
    EXPECT_FALSE(CFEqual(n, s));
    EXPECT_FALSE(CFEqual(n, kCFBooleanTrue));

    // A type registered by another unit gets its own id and the same counting.
    static const CFTypeID kMine = CFRuntimeRegisterType("Mine");
    struct Mine : CFRuntimeBase {
        explicit Mine(bool* gone) : CFRuntimeBase(kMine), flag(gone) {}
        ~Mine() override { *flag = true; }
        bool* flag;
    };
    bool gone = false;
    CFTypeRef m = new Mine(&gone);
    EXPECT_EQ(CFGetTypeID(m), kMine);
    EXPECT_NE(kMine, CFStringGetTypeID());
    CFRetain(m);
    CFRelease(m);
    EXPECT_FALSE(gone);
    CFRelease(m);
    EXPECT_TRUE(gone);
    CFRelease(n);
}

TEST(CoreFoundation, StringsConvertBetweenEncodings) {
    // "Café ∆" in Mac Roman: é is 0x8E, INCREMENT is 0xC6.
    const char macRoman[] = "Caf\x8E \xC6";
    CFStringRef s = CFStringCreateWithCString(nullptr, macRoman, kCFStringEncodingMacRoman);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 6);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 3), 0x00E9);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 5), 0x2206);
    EXPECT_EQ(cString(s, kCFStringEncodingUTF8), "Caf\xC3\xA9 \xE2\x88\x86");
    EXPECT_EQ(cString(s, kCFStringEncodingMacRoman), macRoman);
    EXPECT_EQ(cString(s, kCFStringEncodingASCII), "<failed>");  // never lossy
    EXPECT_STREQ(CFStringGetCStringPtr(s, kCFStringEncodingMacRoman), macRoman);
    EXPECT_EQ(CFStringGetCStringPtr(s, kCFStringEncodingUTF8), nullptr);

    UniChar units[6] = {};
    CFStringGetCharacters(s, CFRangeMake(2, 3), units);
    EXPECT_EQ(units[0], 'f');
    EXPECT_EQ(units[1], 0x00E9);
    EXPECT_EQ(units[2], ' ');
    EXPECT_EQ(units[3], 0);  // nothing past the range

    // A character Mac Roman lacks makes the Mac Roman copy fail, not degrade.
    const UniChar snowman[] = {'a', 0x2603};
    CFStringRef t = CFStringCreateWithCharacters(nullptr, snowman, 2);
    EXPECT_EQ(cString(t, kCFStringEncodingMacRoman), "<failed>");
    EXPECT_EQ(cString(t, kCFStringEncodingUTF8), "a\xE2\x98\x83");

    // The buffer must hold the bytes and the NUL.
    char small[3];
    EXPECT_FALSE(CFStringGetCString(s, small, sizeof small, kCFStringEncodingUTF8));
    char exact[5];
    CFStringRef abcd = CFSTR("abcd");
    EXPECT_TRUE(CFStringGetCString(abcd, exact, 5, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFStringGetCString(abcd, exact, 4, kCFStringEncodingUTF8));

    // Malformed UTF-8 (a lone continuation byte, an overlong slash) makes no string.
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "a\x80", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC0\xAF", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingASCII), nullptr);

    EXPECT_EQ(QStringFromCFString(s), QString::fromUtf8("Caf\xC3\xA9 \xE2\x88\x86"));
    CFStringRef q = CFStringCreateWithQString(QStringLiteral("x\u00fc"));
    EXPECT_EQ(cString(q, kCFStringEncodingMacRoman), "x\x9F");
    EXPECT_TRUE(CFEqual(q, CFSTR("x\xC3\xBC")));
    CFRelease(q);
    CFRelease(t);
    CFRelease(s);
}

TEST(CoreFoundation, NumbersKeepIntegersAndRealsApartAndReportLoss) {
    SInt16 two16 = 2;
    double twoReal = 2.0, twoAndHalf = 2.5, nan = std::nan("");
    SInt64 big = 65537, huge = INT64_MAX;
    CFNumberRef i = CFNumberCreate(nullptr, kCFNumberSInt16Type, &two16);
    CFNumberRef r = CFNumberCreate(nullptr, kCFNumberFloat64Type, &twoReal);
    CFNumberRef h = CFNumberCreate(nullptr, kCFNumberFloat64Type, &twoAndHalf);
    CFNumberRef b = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
    CFNumberRef x = CFNumberCreate(nullptr, kCFNumberSInt64Type, &huge);
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberDoubleType, &nan);
    EXPECT_FALSE(CFNumberIsFloatType(i));
    EXPECT_TRUE(CFNumberIsFloatType(r));
    EXPECT_TRUE(CFNumberIsFloatType(n));
    EXPECT_EQ(CFNumberGetType(i), kCFNumberSInt16Type);

    SInt16 v16 = -1;
    SInt32 v32 = -1;
    double d = -1;
    EXPECT_TRUE(CFNumberGetValue(i, kCFNumberSInt32Type, &v32));
    EXPECT_EQ(v32, 2);
    EXPECT_TRUE(CFNumberGetValue(r, kCFNumberSInt16Type, &v16));
    EXPECT_EQ(v16, 2);
    EXPECT_FALSE(CFNumberGetValue(h, kCFNumberSInt16Type, &v16));
    EXPECT_EQ(v16, 2);  // toward zero
    EXPECT_FALSE(CFNumberGetValue(b, kCFNumberShortType, &v16));
    EXPECT_EQ(v16, 1);  // narrowed as a C cast does
    EXPECT_TRUE(CFNumberGetValue(b, kCFNumberIntType, &v32));
    EXPECT_EQ(v32, 65537);
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, &v32));
    EXPECT_EQ(v32, 0);
    EXPECT_FALSE(CFNumberGetValue(x, kCFNumberFloat64Type, &d));  // 2^63 - 1 is not a double
    double tooBig = 1e30;
    CFNumberRef t = CFNumberCreate(nullptr, kCFNumberFloat64Type, &tooBig);
    SInt64 v64 = 0;
    EXPECT_FALSE(CFNumberGetValue(t, kCFNumberSInt64Type, &v64));
    EXPECT_EQ(v64, INT64_MAX);  // saturated, not undefined
    EXPECT_TRUE(CFEqual(i, r));
    EXPECT_FALSE(CFEqual(i, h));
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &big), nullptr);
    for (CFNumberRef o : {i, r, h, b, x, n, t}) CFRelease(o);
}

TEST(CoreFoundation, FileURLsRoundTripPathsBytewise) {
    // A path that is not UTF-8 keeps its bytes; the URL text percent-encodes them.
    const char raw[] = "/tmp/a b/caf\xE9%.txt";
    CFURLRef u = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(raw), CFIndex(std::strlen(raw)), false);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(QStringFromCFString(CFURLGetString(u)),
              QStringLiteral("file:///tmp/a%20b/caf%E9%25.txt"));
    UInt8 buf[256];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), raw);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, buf, CFIndex(std::strlen(raw))));

    CFURLRef back = CFURLCreateWithString(nullptr, CFURLGetString(u), nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(CFEqual(u, back));
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(back, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), raw);

    CFURLRef dir =
        CFURLCreateWithFileSystemPath(nullptr, CFSTR("/srv/share/"), kCFURLPOSIXPathStyle, true);
    EXPECT_TRUE(CFURLHasDirectoryPath(dir));
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(dir, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "/srv/share");
    CFURLRef child = CFURLCreateCopyAppendingPathComponent(nullptr, dir, CFSTR("x"), false);
    CFStringRef childPath = CFURLCopyFileSystemPath(child, kCFURLPOSIXPathStyle);
    EXPECT_TRUE(CFEqual(childPath, CFSTR("/srv/share/x")));

    CFURLRef local = CFURLCreateWithString(nullptr, CFSTR("file://localhost/etc/hosts"), nullptr);
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(local, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "/etc/hosts");
    // Other hosts, other schemes, bad escapes and NULs give no file path.
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file://server/x"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///a%2"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///a%00b"), nullptr), nullptr);
    CFURLRef web = CFURLCreateWithString(nullptr, CFSTR("https://example.org/x"), nullptr);
    ASSERT_NE(web, nullptr);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(web, true, buf, sizeof buf));
    for (CFTypeRef o : {(CFTypeRef)u, (CFTypeRef)back, (CFTypeRef)dir, (CFTypeRef)child,
                        (CFTypeRef)childPath, (CFTypeRef)local, (CFTypeRef)web})
        CFRelease(o);
}
