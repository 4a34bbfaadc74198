// Conversions between C strings and Pascal strings.
#include "platform/base/TextUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CopyPascalStringToC, CopiesTheCountedBytesAlsoInPlace) {
    const unsigned char p[] = {3, 'a', 'b', 'c', 'X', 'Y'}, empty[] = {0};
    char out[8];
    std::memset(out, '#', sizeof out);
    CopyPascalStringToC(p, out);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], '#');
    CopyPascalStringToC(empty, out);
    EXPECT_STREQ(out, "");
    CopyPascalStringToC(nullptr, out);
    EXPECT_STREQ(out, "");
    CopyPascalStringToC(p, nullptr);
    unsigned char buf[8] = {4, 'w', 'x', 'y', 'z', '!', '!', '!'};
    CopyPascalStringToC(buf, reinterpret_cast<char*>(buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "wxyz");
}

TEST(CopyCStringToPascal, CutsAt255BytesAlsoInPlace) {
    Str255 out;
    CopyCStringToPascal(std::string(300, 'k').c_str(), out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 256), "\xFF" + std::string(255, 'k'));
    CopyCStringToPascal(nullptr, out);
    EXPECT_EQ(out[0], 0);
    CopyCStringToPascal("x", nullptr);
    unsigned char buf[8] = {'a', 'b', 'c', 0};
    CopyCStringToPascal(reinterpret_cast<char*>(buf), buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4),
              "\x03"
              "abc");
}

}  // namespace
