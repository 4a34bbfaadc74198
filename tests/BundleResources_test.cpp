#include "support/BundleResources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <climits>
#include <string>

#include "platform/cf/CFBundle.h"
#include "testkit/TempTree.h"

TEST(BundleResources, TheIconFamilyIsFoundByNameAndTypeAndRegistered) {
    FSRef ref;
    ASSERT_TRUE(MakeFSRefForBundleResource("Brackwater", "icns", ref));
    char path[PATH_MAX + 1];
    ASSERT_EQ(FSRefMakePath(&ref, reinterpret_cast<UInt8*>(path), sizeof path), noErr);
    EXPECT_EQ(path, MainBundleResourcesDirectory() + "/Brackwater.icns");
    // The name is taken as it is (no other case), and leads nowhere outside.
    EXPECT_FALSE(MakeFSRefForBundleResource("brackwater", "icns", ref));
    EXPECT_FALSE(MakeFSRefForBundleResource("../resources/Brackwater", "icns", ref));

    IconRef icon = nullptr;
    ASSERT_EQ(GetIconRefForResource("Brackwater", kApplicationIconType, icon), noErr);
    EXPECT_EQ(FindRegisteredIcon(kBrackwaterCreator, kApplicationIconType), icon);
    EXPECT_GE(IconRefSizeCount(icon), 6);  // 16 to 512 pixels
    // Registering the application's icon gives the windows their icon.
    EXPECT_FALSE(QApplication::windowIcon().availableSizes().isEmpty());
}

TEST(BundleResources, ABundleWithoutTheIconRegistersNothing) {
    testsupport::TempTree tree;
    tree.mkdir("main");
    tree.write("Brackwater.icns", "this is not an icon family");
    SetMainBundleResourcesDirectory(tree.root());
    const OSType test = FOUR_CHAR_CODE("test");
    IconRef icon = nullptr;
    EXPECT_EQ(GetIconRefForResource("Brackwater", test, icon), noSuchIconErr);
    EXPECT_EQ(icon, nullptr);
    EXPECT_EQ(GetIconRefForResource("Missing", test, icon), fnfErr);
    EXPECT_EQ(FindRegisteredIcon(kBrackwaterCreator, test), nullptr);
    // No resources folder at all: no main bundle.
    SetMainBundleResourcesDirectory(tree.path("nothing"));
    FSRef ref;
    EXPECT_EQ(CFBundleGetMainBundle(), nullptr);
    EXPECT_FALSE(MakeFSRefForBundleResource("Brackwater", "icns", ref));
    SetMainBundleResourcesDirectory("");
}

// Installed on Linux there is no .icns: the icon is the one installed into
// the hicolor theme beside the data folder, under any prefix.
TEST(BundleResources, AnInstalledCopyTakesTheThemesIconBesideItsDataFolder) {
    testsupport::TempTree prefix;
    prefix.mkdir("share/brackwater/main");
    for (const char* size : {"16x16", "32x32", "256x256"}) {
        const std::string from =
            std::string(BRACKWATER_SOURCE_RESOURCES) + "/icons/" + size + "/brackwater.png";
        prefix.write(std::string("share/icons/hicolor/") + size + "/apps/brackwater.png",
                     testsupport::readBytes(from));
    }
    SetMainBundleResourcesDirectory(prefix.path("share/brackwater"));
    const OSType test = FOUR_CHAR_CODE("tst2");
    IconRef icon = nullptr;
    ASSERT_EQ(GetIconRefForResource("Brackwater", test, icon), noErr);
    EXPECT_EQ(FindRegisteredIcon(kBrackwaterCreator, test), icon);
    EXPECT_EQ(IconRefSizeCount(icon), 3);
    SetMainBundleResourcesDirectory("");
}
