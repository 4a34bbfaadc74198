#include "platform/AEBuild.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/AEObjects.h"
#include "platform/MacMemory.h"

namespace {

constexpr AEDesc kNull = {typeNull, nullptr};

// The Finder's comment events, exactly as the file helper class builds them.
const char* const kSetCommentFormat =
    "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)},data:'TEXT'(@)";
const char* const kGetCommentFormat =
    "'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)}";

std::string bytes(const AEDesc& d) {
    std::string s(std::size_t(AEGetDescDataSize(&d)), '\0');
    if (!s.empty()) AEGetDescData(&d, s.data(), Size(s.size()));
    return s;
}

FourCharCode codeIn(const AEDesc& d) {
    FourCharCode c = 0;
    EXPECT_EQ(AEGetDescDataSize(&d), Size(4));
    AEGetDescData(&d, &c, sizeof c);
    return c;
}

// Type and 4-byte code stored under key in a record.
void expectCode(const AEDesc& record, AEKeyword key, DescType type, FourCharCode code) {
    AEDesc d = kNull;
    ASSERT_EQ(AEGetKeyDesc(&record, key, typeWildCard, &d), noErr);
    EXPECT_EQ(d.descriptorType, type);
    EXPECT_EQ(codeIn(d), code);
    AEDisposeDesc(&d);
}

OSStatus buildComment(const char* format, const AEDesc* item, const char* text, AppleEvent* event,
                      AEBuildError* error) {
    const OSType finder = FOUR_CHAR_CODE("MACS");
    return AEBuildAppleEvent(kAECoreSuite, kAESetData, typeApplSignature, &finder, sizeof finder,
                             kAutoGenerateReturnID, kAnyTransactionID, event, error, format, item,
                             text);
}

struct Malformed {
    const char* format;
    AEBuildErrorCode code;
    UInt32 position;
};

}  // namespace

TEST(AEBuildFormats, SetCommentEventCarriesTheSpecifierAndTheText) {
    AEDesc item = kNull;
    ASSERT_EQ(AECreateDesc(typeAlias, "alias-bytes", 11, &item), noErr);
    AppleEvent event = kNull;
    AEBuildError error{99, 99};
    ASSERT_EQ(buildComment(kSetCommentFormat, &item, "A comment \x8E", &event, &error), noErr);
    EXPECT_EQ(error.fError, aeBuildSyntaxNoErr);
    EXPECT_EQ(event.descriptorType, typeAppleEvent);

    FourCharCode eventClass = 0, eventID = 0;
    AEGetAttributePtr(&event, keyEventClassAttr, typeType, nullptr, &eventClass, 4, nullptr);
    AEGetAttributePtr(&event, keyEventIDAttr, typeType, nullptr, &eventID, 4, nullptr);
    EXPECT_EQ(eventClass, kAECoreSuite);
    EXPECT_EQ(eventID, kAESetData);
    OSType address = 0;
    DescType addressType = 0;
    ASSERT_EQ(
        AEGetAttributePtr(&event, keyAddressAttr, typeWildCard, &addressType, &address, 4, nullptr),
        noErr);
    EXPECT_EQ(addressType, typeApplSignature);
    EXPECT_EQ(address, FOUR_CHAR_CODE("MACS"));

    AEDesc direct = kNull;
    ASSERT_EQ(AEGetParamDesc(&event, keyDirectObject, typeWildCard, &direct), noErr);
    EXPECT_EQ(direct.descriptorType, typeObjectSpecifier);
    long count = 0;
    ASSERT_EQ(AECountItems(&direct, &count), noErr);
    EXPECT_EQ(count, 4);
    expectCode(direct, keyAEKeyForm, typeEnumerated, formPropertyID);
    expectCode(direct, keyAEDesiredClass, typeType, cProperty);
    expectCode(direct, keyAEKeyData, typeType, pComment);
    AEDesc from = kNull;
    ASSERT_EQ(AEGetKeyDesc(&direct, keyAEContainer, typeWildCard, &from), noErr);
    EXPECT_EQ(from.descriptorType, typeAlias);
    EXPECT_EQ(bytes(from), "alias-bytes");

    AEDesc data = kNull;
    ASSERT_EQ(AEGetParamDesc(&event, keyAEData, typeWildCard, &data), noErr);
    EXPECT_EQ(data.descriptorType, typeChar);
    EXPECT_EQ(bytes(data), "A comment \x8E");  // the C string's bytes, no terminator

    // The argument was copied: the caller's descriptor stays its own.
    AEDisposeDesc(&item);
    EXPECT_EQ(bytes(from), "alias-bytes");
    for (AEDesc* d : {&from, &data, &direct, &event}) AEDisposeDesc(d);
}

TEST(AEBuildFormats, GetCommentEventHasOnlyTheDirectObject) {
    AEDesc item = kNull;
    ASSERT_EQ(AECreateDesc(typeFileURL, "file:///tmp", 11, &item), noErr);
    AppleEvent event = kNull;
    ASSERT_EQ(buildComment(kGetCommentFormat, &item, nullptr, &event, nullptr), noErr);
    AEDesc data = kNull;
    EXPECT_EQ(AEGetParamDesc(&event, keyAEData, typeWildCard, &data), errAEDescNotFound);
    AEDesc direct = kNull;
    ASSERT_EQ(AEGetParamDesc(&event, keyDirectObject, typeWildCard, &direct), noErr);
    expectCode(direct, keyAEKeyData, typeType, pComment);
    AEDisposeDesc(&direct);
    AEDisposeDesc(&event);
    AEDisposeDesc(&item);
}

TEST(AEBuildFormats, HandleDataForTheRefreshEvent) {
    Handle h = NewHandle(5);
    std::memcpy(*h, "\x00\x01\x02\x03\x04", 5);
    AppleEvent event = kNull;
    const OSType finder = FOUR_CHAR_CODE("MACS");
    ASSERT_EQ(AEBuildAppleEvent(kAEFinderSuite, kAESync, typeApplSignature, &finder, 4, -1, 0,
                                &event, nullptr, "'----':alis(@@)", h),
              noErr);
    AEDesc direct = kNull;
    ASSERT_EQ(AEGetParamDesc(&event, keyDirectObject, typeWildCard, &direct), noErr);
    EXPECT_EQ(direct.descriptorType, typeAlias);
    EXPECT_EQ(bytes(direct), std::string("\x00\x01\x02\x03\x04", 5));
    AEDisposeDesc(&direct);
    AEDisposeDesc(&event);
    DisposeHandle(h);
}

TEST(AEBuildLiterals, NumbersTextHexCodesListsAndRecords) {
    AEDesc d = kNull;
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "  12 "), noErr);
    EXPECT_EQ(d.descriptorType, typeSInt16);
    EXPECT_EQ(bytes(d), std::string("\x0C\x00", 2));
    AEDisposeDesc(&d);

    ASSERT_EQ(AEBuildDesc(&d, nullptr, "-70000"), noErr);
    EXPECT_EQ(d.descriptorType, typeSInt32);
    SInt32 v = 0;
    AEGetDescData(&d, &v, 4);
    EXPECT_EQ(v, -70000);
    AEDisposeDesc(&d);

    ASSERT_EQ(AEBuildDesc(&d, nullptr, "long(5)"), noErr);
    EXPECT_EQ(d.descriptorType, typeSInt32);
    AEDisposeDesc(&d);

    // Curly quotes in UTF-8 and in Mac Roman.
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "\xE2\x80\x9Chi there\xE2\x80\x9D"), noErr);
    EXPECT_EQ(d.descriptorType, typeChar);
    EXPECT_EQ(bytes(d), "hi there");
    AEDisposeDesc(&d);
    ASSERT_EQ(AEBuildDesc(&d, nullptr,
                          "utf8(\xD2"
                          "caf\xC3\xA9\xD3)"),
              noErr);
    EXPECT_EQ(d.descriptorType, typeUTF8Text);
    EXPECT_EQ(bytes(d), "caf\xC3\xA9");
    AEDisposeDesc(&d);

    ASSERT_EQ(AEBuildDesc(&d, nullptr,
                          "'bin '(\xC2\xAB"
                          "01 fF 80\xC2\xBB)"),
              noErr);
    EXPECT_EQ(d.descriptorType, FOUR_CHAR_CODE("bin "));
    EXPECT_EQ(bytes(d), "\x01\xFF\x80");
    AEDisposeDesc(&d);

    // A bare identifier is an enumeration; short codes are padded with spaces.
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "ab"), noErr);
    EXPECT_EQ(d.descriptorType, typeEnumerated);
    EXPECT_EQ(codeIn(d), FOUR_CHAR_CODE("ab  "));
    AEDisposeDesc(&d);

    ASSERT_EQ(AEBuildDesc(&d, nullptr, "'null'()"), noErr);
    EXPECT_EQ(d.descriptorType, typeNull);
    EXPECT_EQ(d.dataHandle, nullptr);

    ASSERT_EQ(AEBuildDesc(&d, nullptr, "[1, [2, 3], {}, 'ab c':x]"), errAEBuildSyntaxError);
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "[1, [2, 3], {}, {'ab c':x, k2:[]}]"), noErr);
    long n = 0;
    ASSERT_EQ(AECountItems(&d, &n), noErr);
    EXPECT_EQ(n, 4);
    AEDesc inner = kNull;
    ASSERT_EQ(AEGetNthDesc(&d, 2, typeWildCard, nullptr, &inner), noErr);
    ASSERT_EQ(AECountItems(&inner, &n), noErr);
    EXPECT_EQ(n, 2);
    AEDisposeDesc(&inner);
    ASSERT_EQ(AEGetNthDesc(&d, 4, typeWildCard, nullptr, &inner), noErr);
    EXPECT_EQ(inner.descriptorType, typeAERecord);
    expectCode(inner, FOUR_CHAR_CODE("ab c"), typeEnumerated, FOUR_CHAR_CODE("x   "));
    AEDisposeDesc(&inner);
    AEDisposeDesc(&d);

    // type(@) for a non-text type takes a size and a pointer.
    const UInt8 raw[3] = {7, 8, 9};
    ASSERT_EQ(AEBuildDesc(&d, nullptr, "'raw '(@)", 3, raw), noErr);
    EXPECT_EQ(bytes(d), "\x07\x08\x09");
    AEDisposeDesc(&d);
}

TEST(AEBuildErrors, MalformedFormatsGiveTheCodeAndPositionAndNoEvent) {
    const Malformed cases[] = {
        {"'----'", aeBuildSyntaxBadEOF, 6},
        {"'----':", aeBuildSyntaxBadEOF, 7},
        {"'---", aeBuildSyntaxMissingQuote, 0},
        {"abcde:1", aeBuildSyntaxBadToken, 4},
        {"'----':[1,2", aeBuildSyntaxNoCloseBracket, 7},
        {"'----':{a:1", aeBuildSyntaxNoCloseBrace, 7},
        {"'----':{:1}", aeBuildSyntaxNoKey, 8},
        {"'----':{a 1}", aeBuildSyntaxNoColon, 10},
        {"'----':long(5", aeBuildSyntaxNoCloseParen, 11},
        {"'----':long(5 x)", aeBuildSyntaxNoCloseParen, 14},
        {"'----':\xC2\xAB"
         "0A\xC2\xBB",
         aeBuildSyntaxUncoercedHex, 7},
        {"'----':'TEXT'(\xC2\xAB"
         "0A1\xC2\xBB)",
         aeBuildSyntaxOddHex, 19},
        {"'----':'TEXT'(\xC2\xAB"
         "0G\xC2\xBB)",
         aeBuildSyntaxBadHex, 17},
        {"'----':'TEXT'(\xC2\xAB"
         "0A",
         aeBuildSyntaxNoCloseHex, 14},
        {"'----':\xE2\x80\x9C"
         "abc",
         aeBuildSyntaxNoCloseString, 7},
        {"'----':-x", aeBuildSyntaxBadNegative, 8},
        {"'----':@@", aeBuildSyntaxUncoercedDoubleAt, 8},
        {"'----':list[1]", aeBuildSyntaxCoercedList, 11},
        {"'----':1 junk", aeBuildSyntaxNoEOF, 9},
        {"'----':)", aeBuildSyntaxBadDesc, 7},
        {"'----':'TEXT'(!)", aeBuildSyntaxBadData, 14},
        {"'----':''", aeBuildSyntaxBadToken, 9},
        {"'----':12ab", aeBuildSyntaxBadToken, 9},
        {"'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)",
         aeBuildSyntaxNoCloseBrace, 11},
        {"'----':obj {form:prop,want:type(prop) seld:type(comt)}", aeBuildSyntaxNoCloseBrace, 38},
        {"'----':obj {form:prop,want:type(prop),seld:type(comt),from:(@)},data:'TEXT'(@",
         aeBuildSyntaxNoCloseParen, 75},
    };
    AEDesc item = kNull;
    ASSERT_EQ(AECreateDesc(typeAlias, "x", 1, &item), noErr);
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.format);
        AppleEvent event = {FOUR_CHAR_CODE("junk"), nullptr};
        AEBuildError error{0, 0};
        EXPECT_EQ(buildComment(c.format, &item, "text", &event, &error), errAEBuildSyntaxError);
        EXPECT_EQ(error.fError, c.code);
        EXPECT_EQ(error.fErrorPos, c.position);
        EXPECT_EQ(event.descriptorType, typeNull);
        EXPECT_EQ(event.dataHandle, nullptr);
    }
    AEDisposeDesc(&item);
}

TEST(AEBuildErrors, EveryCutOfTheCommentFormatsFailsCleanlyOrBuilds) {
    AEDesc item = kNull;
    ASSERT_EQ(AECreateDesc(typeAlias, "x", 1, &item), noErr);
    for (const char* format : {kSetCommentFormat, kGetCommentFormat}) {
        const std::string whole(format);
        for (std::size_t n = 0; n <= whole.size(); ++n) {
            const std::string cut = whole.substr(0, n);
            SCOPED_TRACE(cut);
            AppleEvent event = kNull;
            AEBuildError error{0, 0};
            OSStatus err = buildComment(cut.c_str(), &item, "text", &event, &error);
            if (err == noErr) {
                EXPECT_EQ(event.descriptorType, typeAppleEvent);
                AEDisposeDesc(&event);
            } else {
                EXPECT_EQ(err, errAEBuildSyntaxError);
                EXPECT_NE(error.fError, aeBuildSyntaxNoErr);
                EXPECT_LE(error.fErrorPos, n);
                EXPECT_EQ(event.dataHandle, nullptr);
            }
        }
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
    EXPECT_EQ(AEBuildDesc(&d, nullptr, "shor(70000)"), errAECoercionFail);
    EXPECT_EQ(AEBuildDesc(&d, nullptr, "bool(2)"), errAECoercionFail);
    EXPECT_EQ(AEBuildDesc(&d, nullptr, "'TEXT'(5)"), errAECoercionFail);
    EXPECT_EQ(d.dataHandle, nullptr);
    EXPECT_EQ(AEBuildDesc(nullptr, nullptr, "1"), paramErr);
    EXPECT_EQ(AEBuildDesc(&d, nullptr, nullptr), paramErr);
}

TEST(AEBuildParameters, AFailedAdditionLeavesTheEventAsItWas) {
    AppleEvent event = kNull;
    ASSERT_EQ(AECreateAppleEvent(kAECoreSuite, kAEGetData, nullptr, 0, 0, &event), noErr);
    ASSERT_EQ(AEBuildParameters(&event, nullptr, "aaaa:1, bbbb:\xE2\x80\x9Cx\xE2\x80\x9D"), noErr);
    EXPECT_EQ(AEBuildParameters(&event, nullptr, "cccc:2, dddd:[1"), errAEBuildSyntaxError);
    long count = 0;
    ASSERT_EQ(AECountItems(&event, &count), noErr);
    EXPECT_EQ(count, 2);
    AEDesc d = kNull;
    EXPECT_EQ(AEGetParamDesc(&event, FOUR_CHAR_CODE("cccc"), typeWildCard, &d), errAEDescNotFound);

    // Null and empty parameters copy out as nothing.
    ASSERT_EQ(AEBuildParameters(&event, nullptr, "nul1:'null'(), emp1:'TEXT'()"), noErr);
    char out[4] = "abc";
    Size size = -1;
    EXPECT_EQ(AEGetParamPtr(&event, FOUR_CHAR_CODE("nul1"), typeWildCard, nullptr, out, 4, &size),
              noErr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(AEGetParamPtr(&event, FOUR_CHAR_CODE("emp1"), typeChar, nullptr, out, 4, &size),
              noErr);
    EXPECT_EQ(size, 0);
    EXPECT_STREQ(out, "abc");
    AEDisposeDesc(&event);

    AEDesc notAnEvent = kNull;
    ASSERT_EQ(AECreateDesc(typeChar, "x", 1, &notAnEvent), noErr);
    EXPECT_EQ(AEBuildParameters(&notAnEvent, nullptr, "aaaa:1"), errAEWrongDataType);
    AEDisposeDesc(&notAnEvent);
}
