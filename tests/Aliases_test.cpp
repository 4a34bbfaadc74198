#include "platform/Aliases.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/MacMemory.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {

FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
}

FSSpec specOf(const std::string& path) {
    FSRef ref = refOf(path);
    FSSpec spec{};
    EXPECT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);
    return spec;
}

bool resolvesTo(AliasHandle alias, const std::string& path) {
    FSRef target, expected = refOf(path);
    return FSResolveAlias(nullptr, alias, &target, nullptr) == noErr &&
           FSCompareFSRefs(&target, &expected) == noErr;
}

}  // namespace

TEST(Aliases, OneHandleRetargetedServesSeveralItems) {
    TempTree tree;
    const std::string a = tree.write("a", "1");
    const std::string b = tree.write("deeper/b-with-a-longer-name", "2");
    const FSSpec specA = specOf(a), specB = specOf(b);
    AliasHandle alias = nullptr;
    ASSERT_EQ(NewAlias(nullptr, &specA, &alias), noErr);
    EXPECT_TRUE(resolvesTo(alias, a));
    const Size before = GetHandleSize(reinterpret_cast<Handle>(alias));

    Boolean changed = false;
    ASSERT_EQ(UpdateAlias(nullptr, &specB, alias, &changed), noErr);
    EXPECT_TRUE(changed);
    EXPECT_GT(GetHandleSize(reinterpret_cast<Handle>(alias)), before);
    EXPECT_TRUE(resolvesTo(alias, b));
    ASSERT_EQ(UpdateAlias(nullptr, &specB, alias, &changed), noErr);
    EXPECT_FALSE(changed);
    DisposeHandle(reinterpret_cast<Handle>(alias));

    // A file specification of something that does not exist makes no alias.
    FSSpec missing = specA;
    missing.name[0] = 7;
    std::memcpy(missing.name + 1, "missing", 7);
    EXPECT_EQ(NewAlias(nullptr, &missing, &alias), fnfErr);
    EXPECT_EQ(alias, nullptr);
}

TEST(Aliases, AnAliasResolvesOnlyToTheVeryObjectItWasMadeFor) {
    TempTree tree;
    const std::string path = tree.write("doc", "old");
    FSRef ref = refOf(path);
    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    FSRef target;

    // Replaced by another file under the same name: not the same object.
    const std::string other = tree.write("other", "new");
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(FSResolveAlias(nullptr, alias, &target, nullptr), fnfErr);
    // Gone altogether, and its folder too.
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(FSResolveAlias(nullptr, alias, &target, nullptr), fnfErr);
    DisposeHandle(reinterpret_cast<Handle>(alias));
}

TEST(Aliases, RecordsThatAreNotAliasesAreRefused) {
    TempTree tree;
    const std::string path = tree.write("doc", "x");
    FSRef ref = refOf(path), target;
    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    Handle h = reinterpret_cast<Handle>(alias);
    const std::string good(*h, size_t(GetHandleSize(h)));

    EXPECT_EQ(ResolveAliasBytes(good.data(), Size(good.size()), &target), noErr);
    EXPECT_EQ(ResolveAliasBytes(good.data(), Size(good.size()) - 1, &target), paramErr);  // cut
    EXPECT_EQ(ResolveAliasBytes(good.data(), 10, &target), paramErr);
    std::string bad = good;
    bad[8] = 'X';  // magic
    EXPECT_EQ(ResolveAliasBytes(bad.data(), Size(bad.size()), &target), paramErr);
    bad = good;
    bad[7] = 9;  // version
    EXPECT_EQ(ResolveAliasBytes(bad.data(), Size(bad.size()), &target), kAliasVersionErr);
    bad = good;
    bad[29] = char(bad[29] + 1);  // path length beyond the record
    EXPECT_EQ(ResolveAliasBytes(bad.data(), Size(bad.size()), &target), paramErr);
    bad = good;
    bad[30] = 'x';  // a relative path
    EXPECT_EQ(ResolveAliasBytes(bad.data(), Size(bad.size()), &target), paramErr);
    EXPECT_EQ(ResolveAliasBytes(nullptr, 40, &target), paramErr);
    DisposeHandle(h);
}
