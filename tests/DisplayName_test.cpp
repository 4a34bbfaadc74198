#include "support/DisplayName.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/MacMemory.h"
#include "platform/base/TextEncoding.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::refOf;
using testsupport::TempTree;

namespace {

// The display name as bytes, checking that it is a block of exactly its size.
std::string displayName(const FSRef& ref) {
    char* name = FSGetObjectName(&ref);
    if (!name) return "<null>";
    std::string s(name);
    EXPECT_EQ(size_t(GetPtrSize(name)), s.size() + 1);
    DisposePtr(name);
    return s;
}

int gFailOnCall = -1;  // fails the allocation with this index, counting from 0
int gAllocCalls = 0;
bool failNth(Size) {
    return gAllocCalls++ == gFailOnCall;
}

}  // namespace

TEST(DisplayName, NamesOnDiskBecomeMacRomanAndUnreadableNamesGiveNull) {
    TempTree t;
    const long converters = TECLiveConverterCount();
    // Composition and the fallbacks ("?") are TextEncoding's; here the whole
    // road, with an é and an INCREMENT.
    EXPECT_EQ(displayName(refOf(t.write("Caf\xC3\xA9 \xE2\x88\x86", "x"))), "Caf\x8E \xC6");

    // The longest name a file system allows.
    std::string longName(255, 'n');
    EXPECT_EQ(displayName(refOf(t.write(longName, ""))), longName);
    EXPECT_EQ(TECLiveConverterCount(), converters) << "each name's converter is disposed of";

    // A vanished object has no name; a missing name record is refused before
    // the File Manager is asked, even for a reference that means nothing.
    std::string path = t.write("gone", "x");
    FSRef ref = refOf(path);
    std::remove(path.c_str());
    EXPECT_EQ(FSGetObjectName(&ref), nullptr);
    std::memset(&ref, 0xA5, sizeof ref);
    EXPECT_EQ(FSGetFileDirName(&ref, nullptr), paramErr);
}

// Names both ways in Mac Roman: the test above, TextEncoding's tables, and
// CFile's name tests (FSGetObjectName, FSSetName, FSCreateFile). Here the
// failures.
TEST(DisplayName, ConversionsGiveNullWithoutMemoryAndKeepNoConverter) {
    const UniChar units[] = {'R', 0x00E9};
    const long converters = TECLiveConverterCount();
    // Running out of memory gives null and leaks nothing: the work buffer, then the name.
    SetMemoryFailureHook(failNth);
    for (int n : {0, 1}) {
        gAllocCalls = 0, gFailOnCall = n;
        char* name = reinterpret_cast<char*>(1);
        SetASCII_C_CharsFromUnicodeText(&name, units, 2);
        EXPECT_EQ(name, nullptr) << n;
        gAllocCalls = 0;
        auto* text = reinterpret_cast<UniChar*>(1);
        UInt32 length = 7;
        SetUnicodeTextFromASCII_C_Chars("ab", &text, &length);
        EXPECT_EQ(text, nullptr) << n;
        EXPECT_EQ(length, 0u);
    }
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(TECLiveConverterCount(), converters);
}
