#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QTest>
#include <memory>

#include "platform/Preferences.h"
#include "platform/Sound.h"
#include "testkit/AlertAnswer.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;

namespace {

const QString kInformative = QStringLiteral(
    "This operation can not be undone by this program and may render the files unusable.");

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        tree_ = std::make_unique<TempTree>();
        setenv("XDG_CONFIG_HOME", tree_->root().c_str(), 1);
        file_ = tree_->path("brackwater/preferences.json");
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    // Writes the store as someone else would: straight into the file.
    void store(const std::string& json) { tree_->write("brackwater/preferences.json", json); }

    std::unique_ptr<TempTree> tree_;
    std::string file_;
};

}  // namespace

TEST_F(Settings, AnEmptyStoreMeansFlipDeleteAndQuitAndWritesNothing) {
    EXPECT_EQ(FunctionType(), kFlipDeleteDataFork);
    EXPECT_TRUE(QuitWhenDone());
    EXPECT_FALSE(testsupport::exists(file_));
}

TEST_F(Settings, QuitWhenDoneCountsOnlyABoolean) {
    struct Case {
        const char* json;
        bool expected;
    } cases[] = {
        {R"({"QuitWhenDone": false})", false}, {R"({"QuitWhenDone": true})", true},
        {R"({"QuitWhenDone": 0})", true},  // a number, however false it looks
        {R"({"QuitWhenDone": 0.0})", true},    {R"({"QuitWhenDone": "false"})", true},
        {R"({"QuitWhenDone": null})", true},   {"{broken", true},
    };
    for (const Case& c : cases) {
        store(c.json);
        EXPECT_EQ(QuitWhenDone(), c.expected) << c.json;
    }
}

TEST_F(Settings, FunctionTypeReadsAnyExactNumber) {
    struct Case {
        const char* json;
        int expected;
    } cases[] = {
        {R"({"FunctionType": 2})", 2},
        {R"({"FunctionType": 2.0})", 2},
        {R"({"FunctionType": 3e0})", 3},
        {R"({"FunctionType": -1})", -1},
        {R"({"FunctionType": "2"})", 1},  // not a number
        {R"({"FunctionType": true})", 1},
        {R"({"FunctionType": [2]})", 1},
        // Numbers that are no 16-bit integer are no operation; narrowing 65537
        // would make it 1.
        {R"({"FunctionType": 2.5})", 0},
        {R"({"FunctionType": 65537})", 0},
        {R"({"FunctionType": 1e300})", 0},
    };
    for (const Case& c : cases) {
        store(c.json);
        EXPECT_EQ(int(FunctionType()), c.expected) << c.json;
    }
}

TEST_F(Settings, AValueWrittenThroughTheStoreIsSeenByTheNextRead) {
    SInt16 three = 3;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt16Type, &three);
    CFPreferencesSetAppValue(kFunctionTypeKey, n, kCFPreferencesCurrentApplication);
    CFPreferencesSetAppValue(kQuitWhenDoneKey, kCFBooleanFalse, kCFPreferencesCurrentApplication);
    CFRelease(n);
    EXPECT_EQ(FunctionType(), kDeleteResourceFork);
    EXPECT_FALSE(QuitWhenDone());
    // The reads synchronised the store, so the values are on disk now.
    EXPECT_EQ(testsupport::readText(file_),
              "{\n    \"FunctionType\": 3,\n    \"QuitWhenDone\": false\n}\n");
}

TEST_F(Settings, ConfirmationShowsTheOperationsTextAfterABeep) {
    struct Case {
        functionType type;
        int key;
        bool answer;
        const char* message;
    } cases[] = {
        {kDeleteResourceFork, Qt::Key_Return, true,
         "You are about to delete the resource forks of the selected files."},
        {kFlipDeleteDataFork, Qt::Key_Escape, false,
         "You are about to \"flip/delete\" the data forks of the selected files."},
        {kDeleteDataFork, Qt::Key_Return, true,
         "You are about to delete the data forks of the selected files."},
    };
    for (const Case& c : cases) {
        ResetSysBeepCount();
        AlertAnswer answer(c.key);
        EXPECT_EQ(AskProcessFile(c.type), c.answer) << c.message;
        const auto& seen = answer.seen();
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.beepsWhenShown, 1);  // the beep comes first
        EXPECT_EQ(SysBeepCount(), 1);
        EXPECT_EQ(seen.text, QString::fromUtf8(c.message));
        EXPECT_EQ(seen.informativeText, kInformative);
        EXPECT_EQ(seen.icon, QMessageBox::Critical);
        EXPECT_EQ(seen.buttons.size(), 2);
        EXPECT_EQ(seen.escapeButton, QStringLiteral("Cancel"));
        EXPECT_NE(seen.defaultButton, QStringLiteral("Cancel"));
    }
}

TEST_F(Settings, OperationsOutsideOneToThreeDeclineWithoutBeepOrAlert) {
    AlertAnswer answer(Qt::Key_Return);  // would say yes if anything asked
    ResetSysBeepCount();
    for (int type : {0, 4, -1}) EXPECT_FALSE(AskProcessFile(functionType(type))) << type;
    QTest::qWait(50);
    EXPECT_EQ(answer.alertsShown(), 0);
    EXPECT_EQ(SysBeepCount(), 0);
}

TEST_F(Settings, AnAlertWithoutCancelAlwaysAnswersYes) {
    ResetSysBeepCount();
    AlertAnswer answer(Qt::Key_Escape);
    EXPECT_TRUE(ShowAlertMessage(CFSTR("Done."), CFSTR("All of it."), 0));
    ASSERT_TRUE(answer.seen().shown);
    EXPECT_EQ(answer.seen().buttons.size(), 1);
    EXPECT_EQ(answer.seen().text, QStringLiteral("Done."));
    EXPECT_EQ(SysBeepCount(), 1);
}
