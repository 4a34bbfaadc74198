#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "platform/cf/Preferences.h"
#include "platform/ui/Sound.h"
#include "testkit/AlertAnswer.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;

namespace {

// Every test gets its own configuration folder.
class Settings : public ::testing::Test {
protected:
    Settings() { setenv("XDG_CONFIG_HOME", tree_.root().c_str(), 1); }
    ~Settings() override { unsetenv("XDG_CONFIG_HOME"); }
    // Writes the store as someone else would: straight into the file.
    void store(const std::string& json) { tree_.write("brackwater/preferences.json", json); }

    TempTree tree_;
    const std::string file_ = tree_.path("brackwater/preferences.json");
};

}  // namespace

TEST_F(Settings, QuitWhenDoneCountsOnlyABooleanAndFunctionTypeAnyExactNumber) {
    // An empty store means flip/delete and quit, and writes nothing.
    EXPECT_EQ(FunctionType(), kFlipDeleteDataFork);
    EXPECT_TRUE(QuitWhenDone());
    EXPECT_FALSE(testsupport::exists(file_));
    // The number 0, however false it looks, is no boolean.
    // (A value the store cannot type, null or a list, and a file that does not
    // parse read as absent: the Preferences tests; absent is the empty store above.)
    const std::pair<const char*, bool> quit[] = {
        {"false", false}, {"true", true}, {"0", true}, {"\"false\"", true}};
    for (auto [value, expected] : quit) {
        store(std::string("{\"QuitWhenDone\": ") + value + "}");
        EXPECT_EQ(QuitWhenDone(), expected) << value;
    }
    // Not a number: 1. A number that is no 16-bit integer is no operation
    // (narrowing 65537 would make it 1).
    const std::pair<const char*, int> function[] = {
        {"2", 2}, {"2.0", 2}, {"-1", -1}, {"\"2\"", 1}, {"2.5", 0}, {"65537", 0}, {"1e300", 0}};
    for (auto [value, expected] : function) {
        store(std::string("{\"FunctionType\": ") + value + "}");
        EXPECT_EQ(int(FunctionType()), expected) << value;
    }
}

TEST_F(Settings, ConfirmationShowsTheOperationsTextAfterABeepAndOnlyOKIsYes) {
    // The texts are those the batch mode prints (checked word for word by the
    // file manager actions end-to-end test). Outside 1 to 3 the answer would be
    // yes if anything asked.
    for (auto [type, key, asked] : {std::tuple{3, Qt::Key_Return, true},
                                    {1, Qt::Key_Escape, true},
                                    {0, Qt::Key_Return, false},
                                    {4, Qt::Key_Return, false}}) {
        ResetSysBeepCount();
        AlertAnswer answer(key);
        EXPECT_EQ(AskProcessFile(functionType(type)), asked && key == Qt::Key_Return) << type;
        if (!asked) QTest::qWait(50);
        EXPECT_EQ(answer.alertsShown(), int(asked)) << type;
        EXPECT_EQ(SysBeepCount(), int(asked)) << type;  // the beep comes first, and only one
        if (!asked) continue;
        EXPECT_EQ(answer.seen().beepsWhenShown, 1);
        EXPECT_EQ(answer.seen().text, QString::fromUtf8(ConfirmationMessage(functionType(type))));
        EXPECT_EQ(answer.seen().informativeText, QString::fromUtf8(ConfirmationExplanation()));
    }
    // The application told to quit while the alert is up: the alert's loop
    // ends with no button pressed. An operation that cannot be undone must
    // not start on that.
    bool sawAlert = false;
    QTimer quit;
    quit.setInterval(20);
    QObject::connect(&quit, &QTimer::timeout, [&] {
        if (!QApplication::activeModalWidget()) return;
        sawAlert = true;
        quit.stop();
        QCoreApplication::exit(0);
    });
    quit.start();
    EXPECT_FALSE(AskProcessFile(kDeleteDataFork));
    EXPECT_TRUE(sawAlert);
}
