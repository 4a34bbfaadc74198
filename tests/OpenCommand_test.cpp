// The File menu's Open… command: what the chooser offers, and that a choice
// of files and folders reaches the application as the event of a drop.
#include "intake/OpenCommand.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/events/AppleEvents.h"
#include "processing/ProcessingRun.h"
#include "shell/Startup.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;
using Paths = std::vector<std::string>;

namespace {

std::vector<std::pair<std::vector<DescType>, Paths>> gReceived;

OSErr recordOpenDocuments(const AppleEvent* event, AppleEvent*, long) {
    std::vector<DescType> types;
    Paths paths;
    testsupport::directObjectItems(event, &types, &paths);
    gReceived.emplace_back(types, paths);
    return noErr;
}

// Runs the Open command while `answer` works the chooser once it shows.
void openWith(std::function<void(QFileDialog*)> answer) {
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser) return;
        timer.stop();
        answer(chooser);
    });
    timer.start();
    EXPECT_EQ(HandleOpenCommand(), noErr);
    QCoreApplication::processEvents();  // the event to self is delivered by the loop
}

class OpenCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static TempTree config;
        setenv("XDG_CONFIG_HOME", config.root().c_str(), 1);
        ASSERT_EQ(StartApplication(), noErr);
    }
    void SetUp() override {
        gReceived.clear();
        AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, recordOpenDocuments, 0, false);
    }
    void TearDown() override {
        AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, OpenDocsAppleEventHandler, 0,
                              false);
    }
    TempTree tree;
};

}  // namespace

TEST_F(OpenCommand, FilesAndFoldersChosenTogetherArriveAsADrop) {
    tree.write("a file", "x");
    tree.write("folder/inside", "y");
    openWith([&](QFileDialog* chooser) {
        EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Open Files and Folders"));
        chooser->setDirectory(QString::fromStdString(tree.root()));
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        // A folder named here is chosen, not entered.
        name->setText(QStringLiteral("\"a file\" \"folder\""));
        QTest::keyClick(name, Qt::Key_Return);
    });
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].first, (std::vector<DescType>{typeAlias, typeAlias}));  // as a drop
    EXPECT_EQ(gReceived[0].second, (Paths{tree.path("a file"), tree.path("folder")}));
}

TEST_F(OpenCommand, CancellingOrChoosingNothingSendsNothing) {
    openWith([](QFileDialog* chooser) { QTest::keyClick(chooser, Qt::Key_Escape); });
    tree.mkdir("empty");
    openWith([&](QFileDialog* chooser) {
        chooser->setDirectory(QString::fromStdString(tree.root()));
        // Open with an empty name field and nothing selected does not choose
        // the folder on show: the chooser stays, and is then cancelled.
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QTest::keyClick(name, Qt::Key_Return);
        EXPECT_TRUE(chooser->isVisible());
        chooser->reject();
    });
    EXPECT_TRUE(gReceived.empty());
}
