// Descriptors and Apple events built from a format string and its arguments,
// and the error a format that cannot be built gives.
#include "platform/events/AEBuild.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/MacMemory.h"
#include "platform/events/AEObjects.h"

namespace {

constexpr AEDesc kNull = {typeNull, nullptr};

std::string bytes(const AEDesc& d) {
    std::string s(std::size_t(AEGetDescDataSize(&d)), '\0');
    if (!s.empty()) AEGetDescData(&d, s.data(), Size(s.size()));
    return s;
}

}  // namespace

TEST(AEBuildLiterals, NumbersTextHexCodesNullAndLists) {
    const struct {
        const char* format;
        DescType type;
        std::string data;
    } cases[] = {
        {"-70000", typeSInt32, "\x90\xEE\xFE\xFF"},  // in memory, on a little-endian host
        // Curly quotes in UTF-8 and in Mac Roman.
        {"\xE2\x80\x9Chi there\xE2\x80\x9D", typeChar, "hi there"},
        {"'bin '(\xC2\25301 fF 80\xC2\xBB)", FOUR_CHAR_CODE("bin "), "\x01\xFF\x80"},
        {"'null'()", typeNull, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        AEDesc d = kNull;
        ASSERT_EQ(AEBuildDesc(&d, nullptr, c.format), noErr);
        EXPECT_EQ(d.descriptorType, c.type);
        EXPECT_EQ(bytes(d), c.data);
        EXPECT_EQ(d.dataHandle == nullptr, c.type == typeNull);
        AEDisposeDesc(&d);
    }
    AEDesc d = kNull, inner = kNull;
    // A list holds no keyed items; lists nest.
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "[1, [2, 3], 'ab c':x]"), errAEBuildSyntaxError);
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "[1, [2, 3], {}]"), noErr);
    long n = 0;
    ASSERT_EQ(AEGetNthDesc(&d, 2, typeWildCard, nullptr, &inner), noErr);
    ASSERT_EQ(AECountItems(&inner, &n), noErr);
    EXPECT_EQ(n, 2);
    for (AEDesc* x : {&inner, &d}) AEDisposeDesc(x);
}

// One format per kind of fault (an end, a closing mark, a token, a value):
// each gives the syntax error, its own code and no event.
TEST(AEBuildErrors, MalformedFormatsGiveTheirCodeAndNoEvent) {
    const std::pair<const char*, AEBuildErrorCode> cases[] = {
        {"'----':", aeBuildSyntaxBadEOF},
        {"'---", aeBuildSyntaxMissingQuote},
        {"'----':[1,2", aeBuildSyntaxNoCloseBracket},
        {"'----':{a:1", aeBuildSyntaxNoCloseBrace},
        {"'----':'TEXT'(\xC2\2530A1\xC2\xBB)", aeBuildSyntaxOddHex},
        {"'----':\xE2\x80\234abc", aeBuildSyntaxNoCloseString},
        {"'----':1 junk", aeBuildSyntaxNoEOF},
        {"'----':'TEXT'(!)", aeBuildSyntaxBadData},
    };
    AEDesc item = kNull;
    ASSERT_EQ(AECreateDesc(typeAlias, "x", 1, &item), noErr);
    for (const auto& [format, code] : cases) {
        SCOPED_TRACE(format);
        AppleEvent event = {FOUR_CHAR_CODE("junk"), nullptr};
        AEBuildError error{0, 0};
        EXPECT_EQ(AEBuildAppleEvent(kAECoreSuite, kAESetData, typeApplSignature, "MACS", 4,
                                    kAutoGenerateReturnID, kAnyTransactionID, &event, &error,
                                    format, &item, "text"),
                  errAEBuildSyntaxError);
        EXPECT_EQ(error.fError, code);
        EXPECT_EQ(event.descriptorType, typeNull);
        EXPECT_EQ(event.dataHandle, nullptr);
    }
    AEDisposeDesc(&item);
}

TEST(AEBuildErrors, ArgumentsAndNestingThatCannotBeUsed) {
    AEDesc d = kNull;
    AEBuildError error{0, 0};
    // Deep nesting is refused, not recursed into without end.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(AEBuildDesc(&d, &error, deep.c_str()), errAEBuildSyntaxError);
    EXPECT_EQ(error.fError, aeBuildSyntaxBadDesc);
    EXPECT_EQ(d.dataHandle, nullptr);
    // Null arguments and values a type cannot hold.
    EXPECT_EQ(AEBuildDesc(&d, nullptr, "@", static_cast<const AEDesc*>(nullptr)), paramErr);
    EXPECT_EQ(AEBuildDesc(&d, nullptr, "'TEXT'(@)", static_cast<const char*>(nullptr)), paramErr);
    for (const char* f : {"shor(70000)", "bool(2)", "'TEXT'(5)"})
        EXPECT_EQ(AEBuildDesc(&d, nullptr, f), errAECoercionFail) << f;
    EXPECT_EQ(d.dataHandle, nullptr);
    EXPECT_EQ(AEBuildDesc(nullptr, nullptr, "1"), paramErr);
    EXPECT_EQ(AEBuildDesc(&d, nullptr, nullptr), paramErr);
}
