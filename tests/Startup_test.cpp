#include "shell/Startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>

#include "platform/cf/CFBundle.h"
#include "platform/events/AppleEvents.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "processing/RunRequests.h"
#include "shell/MainWindow.h"
#include "support/BundleResources.h"
#include "testkit/TempTree.h"

namespace {

OSErr noHandler(const AppleEvent*, AppleEvent*, long) {
    return noErr;
}

}  // namespace

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
    // Its controls are driven by the processing run's tests.
    EXPECT_NE(gAppIcon, nullptr);
    EXPECT_TRUE(IsMenuCommandEnabled(nullptr, kHICommandPreferences));

    // The command handler sits on the application's target.
    gRunRequests.stop = false;
    EXPECT_EQ(ProcessHICommandFromWindow(HICommand{0, kHICommandCancel, {}}, gWindow), noErr);
    EXPECT_TRUE(gRunRequests.stop);
    gRunRequests.stop = false;
    // And the open-documents handler is the application's.
    EXPECT_EQ(AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, noHandler, false),
              errAEDescNotFound);  // installed, but not this one
    EXPECT_EQ(AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, nullptr, false), noErr);
}
