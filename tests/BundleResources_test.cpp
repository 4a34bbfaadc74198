#include "support/BundleResources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <climits>
#include <string>

#include "platform/CFBundle.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {
std::string pathOf(const FSRef& ref) {
    char path[PATH_MAX + 1];
    EXPECT_EQ(FSRefMakePath(&ref, reinterpret_cast<UInt8*>(path), sizeof path), noErr);
    return path;
}
}  // namespace

TEST(BundleResources, TheIconFamilyIsFoundByNameAndTypeAndRegistered) {
    FSRef ref;
    ASSERT_TRUE(MakeFSRefForBundleResource("Brackwater", "icns", ref));
    EXPECT_EQ(pathOf(ref), MainBundleResourcesDirectory() + "/Brackwater.icns");
    // The name is taken as it is: no other case, no other extension.
    EXPECT_FALSE(MakeFSRefForBundleResource("brackwater", "icns", ref));
    EXPECT_FALSE(MakeFSRefForBundleResource("Brackwater", "png", ref));
    EXPECT_FALSE(MakeFSRefForBundleResource("../resources/Brackwater", "icns", ref));

    IconRef icon = nullptr;
    ASSERT_EQ(GetIconRefForResource("Brackwater", kApplicationIconType, icon), noErr);
    EXPECT_EQ(FindRegisteredIcon(kBrackwaterCreator, kApplicationIconType), icon);
    EXPECT_GE(IconRefSizeCount(icon), 6);  // 16 to 512 pixels
    // Registering the application's icon gives the windows their icon.
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(QApplication::windowIcon().availableSizes().isEmpty());
}

TEST(BundleResources, ABundleWithoutTheIconRegistersNothing) {
    TempTree tree;
    tree.mkdir("main");
    tree.write("Brackwater.icns", "this is not an icon family");
    SetMainBundleResourcesDirectory(tree.root());
    UnregisterIconRef(kBrackwaterCreator, FOUR_CHAR_CODE("test"));
    IconRef icon = nullptr;
    EXPECT_EQ(GetIconRefForResource("Brackwater", FOUR_CHAR_CODE("test"), icon), noSuchIconErr);
    EXPECT_EQ(icon, nullptr);
    EXPECT_EQ(GetIconRefForResource("Missing", FOUR_CHAR_CODE("test"), icon), fnfErr);
    EXPECT_EQ(FindRegisteredIcon(kBrackwaterCreator, FOUR_CHAR_CODE("test")), nullptr);
    // No resources folder at all: no main bundle.
    SetMainBundleResourcesDirectory(tree.path("nothing"));
    FSRef ref;
    EXPECT_EQ(CFBundleGetMainBundle(), nullptr);
    EXPECT_FALSE(MakeFSRefForBundleResource("Brackwater", "icns", ref));
    SetMainBundleResourcesDirectory("");
}
