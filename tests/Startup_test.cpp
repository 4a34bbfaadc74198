#include "shell/Startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>

#include "platform/cf/CFBundle.h"
#include "platform/events/AppleEvents.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "shell/MainWindow.h"
#include "support/BundleResources.h"
#include "testkit/TempTree.h"

// One process, one start-up: a failed one first, then the real one.
TEST(Startup, AMissingMainWindowEndsStartUpWithItsStatusAndShowsNothing) {
    testsupport::TempTree bundle;
    std::filesystem::create_directories(bundle.path("main"));
    std::filesystem::copy_file(MainBundleResourcesDirectory() + "/main/MenuBar.ui",
                               bundle.path("main/MenuBar.ui"));
    SetMainBundleResourcesDirectory(bundle.root());
    EXPECT_EQ(StartApplication(), kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(gWindow, nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
    // No open-documents handler was installed: removing one fails.
    EXPECT_NE(AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, nullptr, false), noErr);

    // Without the description at all.
    SetMainBundleResourcesDirectory(bundle.path("nowhere"));
    EXPECT_EQ(StartApplication(), kIBCarbonRuntimeCantFindNibFile);
    SetMainBundleResourcesDirectory("");

    ASSERT_EQ(StartApplication(), noErr);
    ASSERT_NE(gWindow, nullptr);
    EXPECT_TRUE(IsWindowVisible(gWindow));
    // Its controls, its command handler (Stop, Quit) and its open-documents
    // handler are driven by the processing run's tests.
    EXPECT_NE(gAppIcon, nullptr);
    EXPECT_TRUE(IsMenuCommandEnabled(nullptr, kHICommandPreferences));
}
