// Conversions between C strings and Pascal strings.
#include "platform/TextUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CopyPascalStringToC, CopiesTheCountedBytes) {
    const unsigned char p[] = {3, 'a', 'b', 'c', 'X', 'Y'};
    char out[8];
    std::memset(out, '#', sizeof out);
    CopyPascalStringToC(p, out);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], '#');

    Str255 full;
    full[0] = 255;
    std::memset(full + 1, 'm', 255);
    char big[256];
    CopyPascalStringToC(full, big);
    EXPECT_EQ(std::string(big), std::string(255, 'm'));

    const unsigned char empty[] = {0};
    CopyPascalStringToC(empty, out);
    EXPECT_STREQ(out, "");
    CopyPascalStringToC(nullptr, out);
    EXPECT_STREQ(out, "");
    CopyPascalStringToC(p, nullptr);
}

TEST(CopyPascalStringToC, ConvertsInPlace) {
    unsigned char buf[8] = {4, 'w', 'x', 'y', 'z', '!', '!', '!'};
    CopyPascalStringToC(buf, reinterpret_cast<char*>(buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "wxyz");
}

TEST(CopyCStringToPascal, CutsAt255Bytes) {
    Str255 out;
    CopyCStringToPascal("hello", out);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(std::memcmp(out + 1, "hello", 5), 0);

    std::string t300(300, 'k');
    CopyCStringToPascal(t300.c_str(), out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 1), 255), std::string(255, 'k'));

    CopyCStringToPascal(nullptr, out);
    EXPECT_EQ(out[0], 0);
    CopyCStringToPascal("x", nullptr);
}

TEST(CopyCStringToPascal, ConvertsInPlace) {
    unsigned char buf[8] = {'a', 'b', 'c', 0};
    CopyCStringToPascal(reinterpret_cast<char*>(buf), buf);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(std::memcmp(buf + 1, "abc", 3), 0);
}

}  // namespace
