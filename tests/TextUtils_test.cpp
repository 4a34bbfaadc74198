// Conversions between C strings and Pascal strings.
#include "platform/base/TextUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(PascalStrings, CopiesBothWaysCutAt255AndAlsoWorkInPlace) {
    const unsigned char p[] = {3, 'a', 'b', 'c', 'X', 'Y'};
    char out[8];
    std::memset(out, '#', sizeof out);
    CopyPascalStringToC(p, out);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], '#');
    CopyPascalStringToC(nullptr, out);
    EXPECT_STREQ(out, "");
    CopyPascalStringToC(p, nullptr);
    unsigned char buf[8] = {4, 'w', 'x', 'y', 'z', '!', '!', '!'};
    CopyPascalStringToC(buf, reinterpret_cast<char*>(buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "wxyz");

    Str255 pascal;
    CopyCStringToPascal(std::string(300, 'k').c_str(), pascal);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pascal), 256), "\xFF" + std::string(255, 'k'));
    CopyCStringToPascal(nullptr, pascal);
    EXPECT_EQ(pascal[0], 0);
    CopyCStringToPascal("x", nullptr);
    CopyCStringToPascal(reinterpret_cast<char*>(buf), buf);  // back to where it began
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "\x04wxyz");
}

}  // namespace
