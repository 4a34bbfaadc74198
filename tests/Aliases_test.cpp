#include "platform/files/Aliases.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/MacMemory.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using namespace testsupport;

namespace {

FSSpec specOf(const std::string& path) {
    FSRef ref = refOf(path);
    FSSpec spec{};
    EXPECT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, nullptr), noErr);
    return spec;
}

// Resolves the alias: fnfErr and the like, else whether it leads to `path`.
OSErr resolve(AliasHandle alias, const std::string& path) {
    Handle h = reinterpret_cast<Handle>(alias);
    FSRef target, expected;
    OSErr err = ResolveAliasBytes(*h, GetHandleSize(h), &target);
    if (err == noErr)
        err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &expected, nullptr);
    return err != noErr ? err : FSCompareFSRefs(&target, &expected);
}

}  // namespace

TEST(Aliases, ServeSeveralItemsLeadOnlyToTheVeryObjectAndRefuseRecordsThatAreNone) {
    TempTree tree;
    const std::string a = tree.write("a", "1");
    const std::string b = tree.write("deeper/b-with-a-longer-name", "2");
    const FSSpec specA = specOf(a), specB = specOf(b);
    AliasHandle alias = nullptr;
    ASSERT_EQ(NewAlias(nullptr, &specA, &alias), noErr);
    EXPECT_EQ(resolve(alias, a), noErr);
    Boolean changed = false;
    ASSERT_EQ(UpdateAlias(nullptr, &specB, alias, &changed), noErr);
    EXPECT_TRUE(changed);
    EXPECT_EQ(resolve(alias, b), noErr);

    // Replaced by another file under the same name, then gone: not found.
    ASSERT_EQ(std::rename(tree.write("other", "new").c_str(), b.c_str()), 0);
    EXPECT_EQ(resolve(alias, b), fnfErr);
    ASSERT_EQ(unlink(b.c_str()), 0);
    EXPECT_EQ(resolve(alias, b), fnfErr);
    DisposeHandle(reinterpret_cast<Handle>(alias));

    // An FSSpec of something that does not exist makes no alias.
    FSSpec missing = specA;
    missing.name[0] = 7;
    std::memcpy(missing.name + 1, "missing", 7);
    EXPECT_EQ(NewAlias(nullptr, &missing, &alias), fnfErr);
    EXPECT_EQ(alias, nullptr);

    // A record made from a reference, whole and damaged.
    FSRef ref = refOf(a), target;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), noErr);
    Handle h = reinterpret_cast<Handle>(alias);
    const std::string good(*h, size_t(GetHandleSize(h)));
    DisposeHandle(h);
    EXPECT_EQ(ResolveAliasBytes(good.data(), Size(good.size()), &target), noErr);
    EXPECT_EQ(ResolveAliasBytes(good.data(), Size(good.size()) - 1, &target), paramErr);  // cut
    EXPECT_EQ(ResolveAliasBytes(nullptr, 40, &target), paramErr);
    // The magic, the version, a path length beyond the record, a relative path.
    const struct {
        size_t at;
        char value;
        OSErr err;
    } damage[] = {{8, 'X', paramErr},
                  {7, 9, kAliasVersionErr},
                  {29, char(good[29] + 1), paramErr},
                  {30, 'x', paramErr}};
    for (const auto& d : damage) {
        std::string bad = good;
        bad[d.at] = d.value;
        EXPECT_EQ(ResolveAliasBytes(bad.data(), Size(bad.size()), &target), d.err) << d.at;
    }
}
