#include "processing/ProcessingRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/DocumentRequests.h"
#include "platform/MacMemory.h"
#include "platform/Preferences.h"
#include "platform/Process.h"
#include "platform/Windows.h"
#include "processing/FolderExpansion.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "testkit/AlertAnswer.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;

namespace {

int gExits = 0;
qint64 gExitAt = 0;
void recordExit() {
    ++gExits;
    gExitAt = QDateTime::currentMSecsSinceEpoch();
}

// What the main window showed at one yield of a busy run.
struct Snapshot {
    std::string status, counter;
    bool counterVisible, barVisible, spinVisible, stopVisible, stopEnabled, editVisible;
    SInt16 barValue, barMinimum, barMaximum;
};

std::string textOf(ControlRef c) {
    char buffer[256];
    Size size = 0;
    GetControlData(c, 0, kControlStaticTextTextTag, sizeof buffer, buffer, &size);
    return std::string(buffer, size_t(std::min<Size>(size, sizeof buffer)));
}

Snapshot snapshot() {
    Snapshot s;
    s.status = textOf(gMessage);
    s.counter = textOf(gSmallMessage);
    s.counterVisible = IsControlVisible(gSmallMessage);
    s.barVisible = IsControlVisible(gProgress);
    s.spinVisible = IsControlVisible(gSpin);
    s.stopVisible = IsControlVisible(gStopButton);
    s.stopEnabled = IsControlEnabled(gStopButton);
    s.editVisible = IsControlVisible(gEditButton);
    s.barValue = GetControlValue(gProgress);
    s.barMinimum = GetControlMinimum(gProgress);
    s.barMaximum = GetControlMaximum(gProgress);
    return s;
}

void setPreferences(int function, bool quitWhenDone) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &function);
    CFPreferencesSetAppValue(CFSTR("FunctionType"), number, kCFPreferencesCurrentApplication);
    CFRelease(number);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), quitWhenDone ? kCFBooleanTrue : kCFBooleanFalse,
                             kCFPreferencesCurrentApplication);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication));
}

class ProcessingRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static TempTree config;
        setenv("XDG_CONFIG_HOME", config.root().c_str(), 1);
        ASSERT_EQ(StartApplication(), noErr);
        SetExitToShellHook(recordExit);
    }

    void SetUp() override {
        gExits = 0;
        gStopping = false;
        gQuitting = false;
        ShowWindow(gWindow);
        setPreferences(2, false);
    }

    // Drops the paths as a launch would and runs the event loop until the run
    // (and any drop that came during it) is over. `atYield` sees every yield of
    // a busy run, with what the window showed then.
    void drop(const std::vector<std::string>& paths, int key = Qt::Key_Return,
              std::function<void(const Snapshot&)> atYield = {}) {
        AlertAnswer answer(key);
        QTimer watcher;
        watcher.setInterval(0);
        QObject::connect(&watcher, &QTimer::timeout, [&]() {
            if (!ProcessingRunActive() || !IsControlVisible(gSpin)) return;
            Snapshot s = snapshot();
            if (shots.empty() || shots.back().status != s.status ||
                shots.back().counter != s.counter || shots.back().barValue != s.barValue ||
                shots.back().barVisible != s.barVisible) {
                shots.push_back(s);
                if (atYield) atYield(s);
            }
        });
        watcher.start();
        ASSERT_EQ(SendOpenDocumentsToSelf(paths), noErr);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000) {
            WaitNextEvent(0, nullptr, 1, nullptr);
            if (answer.alertsShown() > 0 && !ProcessingRunActive() && WaitingDropCount() == 0)
                break;
        }
        alerts = answer.alertsShown();
        ASSERT_FALSE(ProcessingRunActive());
    }

    // Runs the loop for a while, as the idle application would.
    static void idle(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) WaitNextEvent(0, nullptr, 1, nullptr);
    }

    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const auto& s : shots)
            if (out.empty() || out.back() != s.status) out.push_back(s.status);
        return out;
    }
    std::vector<std::string> counters() const {
        std::vector<std::string> out;
        for (const auto& s : shots)
            if (s.counterVisible && (out.empty() || out.back() != s.counter))
                out.push_back(s.counter);
        return out;
    }

    void expectIdleState() {
        EXPECT_EQ(textOf(gMessage), kIdleMessage);
        EXPECT_FALSE(IsControlVisible(gSpin));
        EXPECT_TRUE(IsControlVisible(gEditButton));
        EXPECT_FALSE(IsControlVisible(gStopButton));
        EXPECT_FALSE(IsControlEnabled(gStopButton));
        EXPECT_FALSE(IsControlVisible(gProgress));
        EXPECT_FALSE(IsControlVisible(gSmallMessage));
    }

    static off_t sizeOf(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
    }

    TempTree tree;
    std::vector<Snapshot> shots;
    int alerts = 0;
};

}  // namespace

TEST_F(ProcessingRun, ADroppedFileIsProcessedWithoutMessages) {
    const std::string file = tree.write("solo", "data fork bytes");
    gStopping = true;  // Stop while idle: the next run clears it first
    drop({file});
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(sizeOf(file), 0);
    for (const auto& s : shots) {
        EXPECT_EQ(s.status.rfind("File: ", 0), std::string::npos);
        EXPECT_FALSE(s.counterVisible);
        EXPECT_FALSE(s.barVisible);
        EXPECT_TRUE(s.stopVisible && s.stopEnabled && !s.editVisible);
    }
    expectIdleState();
    idle(1300);
    EXPECT_EQ(gExits, 0);  // QuitWhenDone off: the application stays
    EXPECT_TRUE(IsWindowVisible(gWindow));
}

TEST_F(ProcessingRun, ThreeFilesShowNameCounterAndBarInWalkOrder) {
    setPreferences(1, false);  // flip/delete
    tree.write("folder/three", "3333");
    tree.write("folder/one", "1");
    tree.write("folder/two", "22");
    drop({tree.path("folder")});
    EXPECT_EQ(statuses(), (std::vector<std::string>{"File: one", "File: three", "File: two"}));
    EXPECT_EQ(counters(),
              (std::vector<std::string>{"(0 of 3)", "(1 of 3)", "(2 of 3)", "(3 of 3)"}));
    for (const auto& s : shots) {
        if (!s.barVisible) continue;
        EXPECT_EQ(s.barMinimum, 0);
        EXPECT_EQ(s.barMaximum, 2);
        // The bar stands at j once file j + 1 has been counted: 0 while the
        // second file is in hand, 1 while the third is.
        if (s.status == "File: three" && s.counter == "(1 of 3)") {
            EXPECT_EQ(s.barValue, 0);
        }
        if (s.status == "File: two" && s.counter == "(2 of 3)") {
            EXPECT_EQ(s.barValue, 1);
        }
    }
    EXPECT_EQ(GetControlValue(gProgress), 2);  // full after the last file, then hidden
    expectIdleState();
    // Flipped: each data fork now lives in the sidecar after its 82-byte header.
    for (const char* name : {"one", "two", "three"}) {
        EXPECT_EQ(sizeOf(tree.path(std::string("folder/") + name)), 0) << name;
        const auto sidecar = testsupport::readBytes(tree.path(std::string("folder/._") + name));
        ASSERT_GT(sidecar.size(), 82u);
        EXPECT_EQ(sidecar.size() - 82, std::string(name == std::string("one")   ? "1"
                                                   : name == std::string("two") ? "22"
                                                                                : "3333")
                                           .size());
    }
}

TEST_F(ProcessingRun, AFolderOfOneFileHasABarWithoutRange) {
    tree.write("folder/only", "x");
    drop({tree.path("folder")});
    bool sawBar = false;
    for (const auto& s : shots) {
        if (!s.barVisible) continue;
        sawBar = true;
        EXPECT_EQ(s.barMinimum, 0);
        EXPECT_EQ(s.barMaximum, 0);
    }
    EXPECT_TRUE(sawBar);
    EXPECT_EQ(counters(), (std::vector<std::string>{"(0 of 1)", "(1 of 1)"}));
}

TEST_F(ProcessingRun, ALongNameIsCutWithItsMessageAt255Bytes) {
    const std::string name(250, 'n');
    tree.write("folder/" + name, "x");
    drop({tree.path("folder")});
    EXPECT_EQ(statuses(), (std::vector<std::string>{("File: " + name).substr(0, 255)}));
}

TEST_F(ProcessingRun, EmptyFoldersAreSkippedAndTheRunGoesOn) {
    tree.mkdir("empty");
    tree.mkdir("nested/a/b");
    const std::string file = tree.write("after", "abc");
    drop({tree.path("empty"), tree.path("nested"), file});
    EXPECT_EQ(sizeOf(file), 0);
    EXPECT_TRUE(counters().empty());
    expectIdleState();
}

TEST_F(ProcessingRun, AFileWithoutAReadableNameIsSkippedButCounted) {
    // The display name of the second file cannot be made: its work buffer (two
    // bytes per character of a 37-character name) is refused.
    const std::string nameless = "b-nameless-" + std::string(26, 'x');
    ASSERT_EQ(nameless.size(), 37u);
    tree.write("folder/a-one", "1");
    tree.write("folder/" + nameless, "2");
    tree.write("folder/c-three", "3");
    SetMemoryFailureHook([](Size n) { return n == 74; });
    drop({tree.path("folder")});
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(statuses(), (std::vector<std::string>{"File: a-one", "File: c-three"}));
    EXPECT_EQ(counters(),
              (std::vector<std::string>{"(0 of 3)", "(1 of 3)", "(2 of 3)", "(3 of 3)"}));
    for (const auto& s : shots) {
        if (s.counter == "(2 of 3)" && s.status != "File: c-three") {
            EXPECT_EQ(s.status, "File: a-one");
        }
    }
    EXPECT_EQ(sizeOf(tree.path("folder/a-one")), 0);
    EXPECT_EQ(testsupport::readText(tree.path("folder/" + nameless)), "2");  // untouched
    EXPECT_EQ(sizeOf(tree.path("folder/c-three")), 0);
}

TEST_F(ProcessingRun, MixedItemsAreHandledInDropOrder) {
    const std::string first = tree.write("first", "1");
    tree.write("folder/x", "x");
    tree.write("folder/y", "y");
    const std::string last = tree.write("last", "2");
    bool checked = false;
    drop({first, tree.path("folder"), last}, Qt::Key_Return, [&](const Snapshot& s) {
        if (s.status != "File: x") return;
        checked = true;
        EXPECT_EQ(sizeOf(first), 0);  // before the folder
        EXPECT_EQ(sizeOf(last), 1);   // after it
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(sizeOf(tree.path("folder/y")), 0);
    EXPECT_EQ(sizeOf(last), 0);
}

TEST_F(ProcessingRun, StopCompletesTheFileInHandAndStillQuitsWhenAsked) {
    setPreferences(2, true);
    for (int i = 1; i <= 5; ++i) tree.write("folder/f" + std::to_string(i), "data");
    drop({tree.path("folder")}, Qt::Key_Return, [](const Snapshot& s) {
        if (s.status == "File: f2" && s.counter == "(1 of 5)")
            QTest::mouseClick(qobject_cast<QPushButton*>(gStopButton), Qt::LeftButton);
    });
    const qint64 runEnded = QDateTime::currentMSecsSinceEpoch();
    EXPECT_TRUE(gStopping);
    EXPECT_EQ(sizeOf(tree.path("folder/f1")), 0);
    EXPECT_EQ(sizeOf(tree.path("folder/f2")), 0);  // in hand when Stop came
    for (int i = 3; i <= 5; ++i) EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i))), 4);
    expectIdleState();
    idle(2500);
    EXPECT_EQ(gExits, 1);
    EXPECT_GE(gExitAt - runEnded, 1000);
    EXPECT_EQ(textOf(gMessage), kFarewellMessage);
    EXPECT_FALSE(IsWindowVisible(gWindow));  // faded out
}

TEST_F(ProcessingRun, StopAlsoComesBetweenDroppedFiles) {
    const std::string a = tree.write("a", "1"), b = tree.write("b", "2"), c = tree.write("c", "3");
    QTimer stopper;
    stopper.setInterval(0);
    QObject::connect(&stopper, &QTimer::timeout, [&]() {
        if (ProcessingRunActive() && sizeOf(a) == 0 && IsControlEnabled(gStopButton))
            QTest::mouseClick(qobject_cast<QPushButton*>(gStopButton), Qt::LeftButton);
    });
    stopper.start();
    drop({a, b, c});
    EXPECT_EQ(sizeOf(a), 0);
    EXPECT_EQ(sizeOf(b), 1);
    EXPECT_EQ(sizeOf(c), 1);
    expectIdleState();
}

TEST_F(ProcessingRun, QuitInMidRunEndsTheRunAndTheLoop) {
    setPreferences(2, true);
    for (int i = 1; i <= 5; ++i) tree.write("folder/f" + std::to_string(i), "data");
    AlertAnswer answer(Qt::Key_Return);
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&]() {
        if (ProcessingRunActive() && textOf(gMessage) == "File: f3") {
            HICommand quit{};
            quit.commandID = kHICommandQuit;
            ProcessHICommandFromWindow(quit, gWindow);  // as the menu item does
        }
    });
    watcher.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(20000);
    ASSERT_EQ(SendOpenDocumentsToSelf({tree.path("folder")}), noErr);
    RunApplicationEventLoop();
    EXPECT_TRUE(guard.isActive());  // ended by the quit, not by the guard
    EXPECT_TRUE(gQuitting);
    EXPECT_FALSE(ProcessingRunActive());
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i))), 0);
    for (int i = 4; i <= 5; ++i) EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i))), 4);
    expectIdleState();
    EXPECT_EQ(gExits, 0);  // the loop ended first; main returns
    gQuitting = false;
    QApplication::setQuitOnLastWindowClosed(true);
    idle(1300);  // the quit timer of that run is left to fire here
    gExits = 0;
}

TEST_F(ProcessingRun, ADropInTheSecondBeforeTheEndRunsBeforeTheEnd) {
    setPreferences(2, true);
    const std::string first = tree.write("first", "1"), second = tree.write("second", "2");
    drop({first});
    // The second drop's alert is still open when the end was due.
    SendOpenDocumentsToSelf({second});
    QTimer::singleShot(1500, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->defaultButton()) box->defaultButton()->click();
    });
    QElapsedTimer clock;
    clock.start();
    while (sizeOf(second) != 0 && clock.elapsed() < 5000) WaitNextEvent(0, nullptr, 1, nullptr);
    const qint64 secondDone = QDateTime::currentMSecsSinceEpoch();
    EXPECT_EQ(sizeOf(second), 0);
    EXPECT_EQ(gExits, 0);
    EXPECT_TRUE(IsWindowVisible(gWindow));
    idle(2500);
    EXPECT_EQ(gExits, 1);
    EXPECT_GE(gExitAt - secondDone, 1000);
}

TEST_F(ProcessingRun, DecliningChangesNothingEvenWithQuitWhenDone) {
    setPreferences(2, true);
    const std::string file = tree.write("keep", "keep me");
    print_message("marker", 1);
    drop({file}, Qt::Key_Escape);
    EXPECT_EQ(alerts, 1);
    EXPECT_TRUE(shots.empty());
    EXPECT_EQ(testsupport::readText(file), "keep me");
    EXPECT_EQ(textOf(gMessage), "marker");
    idle(1300);
    EXPECT_EQ(gExits, 0);
    EXPECT_TRUE(IsWindowVisible(gWindow));
}

TEST_F(ProcessingRun, ADropDuringABusyRunWaitsForItsOwnConfirmation) {
    for (int i = 1; i <= 3; ++i) tree.write("folder/f" + std::to_string(i), "data");
    const std::string later = tree.write("later", "later");
    bool sent = false, checked = false;
    drop({tree.path("folder")}, Qt::Key_Return, [&](const Snapshot& s) {
        if (s.status == "File: f1" && !sent) {
            sent = true;
            SendOpenDocumentsToSelf({later});
        }
        if (s.status == "File: f3") {
            checked = true;
            EXPECT_EQ(WaitingDropCount(), 1);
            EXPECT_EQ(sizeOf(later), 5);  // not part of the confirmed run
        }
    });
    EXPECT_TRUE(checked);
    EXPECT_GE(alerts, 2);
    EXPECT_EQ(sizeOf(later), 0);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i))), 0);
}

TEST_F(ProcessingRun, FailuresOfDroppedItemsEndTheRunButNotTheFolderPass) {
    // Inside a folder a file that cannot be processed (a FIFO) is passed over.
    tree.write("folder/a", "a");
    ASSERT_EQ(mkfifo(tree.path("folder/b-fifo").c_str(), 0600), 0);
    tree.write("folder/c", "c");
    const std::string next = tree.write("next", "n");
    drop({tree.path("folder"), next});
    EXPECT_EQ(sizeOf(tree.path("folder/a")), 0);
    EXPECT_EQ(sizeOf(tree.path("folder/c")), 0);
    EXPECT_EQ(sizeOf(next), 0);  // the run went on after the folder

    // A dropped FIFO ends the run; the item after it is not touched.
    const std::string fifo = tree.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string first = tree.write("first", "1"), untouched = tree.write("untouched", "u");
    shots.clear();
    drop({first, fifo, untouched});
    EXPECT_EQ(sizeOf(first), 0);
    EXPECT_EQ(sizeOf(untouched), 1);
    expectIdleState();

    // An item that vanished after the drop ends the run before it.
    const std::string gone = tree.write("gone", "g"), after = tree.write("after", "a");
    const std::string before = tree.write("before", "b");
    AlertAnswer answer(Qt::Key_Return);
    ASSERT_EQ(SendOpenDocumentsToSelf({before, gone, after}), noErr);
    ASSERT_EQ(unlink(gone.c_str()), 0);
    idle(300);
    EXPECT_EQ(answer.alertsShown(), 1);
    EXPECT_EQ(sizeOf(before), 0);
    EXPECT_EQ(sizeOf(after), 1);
    expectIdleState();
}

TEST_F(ProcessingRun, AnEventWithoutItemsSchedulesNothing) {
    AppleEvent event;
    AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, nullptr, kAutoGenerateReturnID,
                       kAnyTransactionID, &event);
    EXPECT_EQ(OpenDocsAppleEventHandler(&event, nullptr, 0), errAEDescNotFound);
    EXPECT_EQ(WaitingDropCount(), 0);
    AEDisposeDesc(&event);
}

TEST_F(ProcessingRun, ALargeFolderStillRunsTheBarFromEmptyToFull) {
    setPreferences(3, false);  // nothing to remove: cheap per file
    const int n = 32770;
    // In memory when the machine has a tmpfs: the test is about the bar.
    char shm[] = "/dev/shm/brackwater-big-XXXXXX";
    const bool inMemory = mkdtemp(shm) != nullptr;
    const std::string big = inMemory ? std::string(shm) : tree.mkdir("big");
    for (int i = 0; i < n; ++i) {
        const std::string p = big + "/f" + std::to_string(i);
        close(creat(p.c_str(), 0644));
    }
    SInt16 firstValue = -1;
    drop({big}, Qt::Key_Return, [&](const Snapshot& s) {
        if (s.barVisible && firstValue < 0) firstValue = s.barValue;
    });
    if (inMemory) std::filesystem::remove_all(big);
    EXPECT_EQ(firstValue, 0);
    EXPECT_EQ(GetControlMinimum(gProgress), 0);
    EXPECT_GT(GetControlMaximum(gProgress), 0);
    EXPECT_EQ(GetControlValue(gProgress), GetControlMaximum(gProgress));
    EXPECT_EQ(counters().back(), "(32770 of 32770)");
}
