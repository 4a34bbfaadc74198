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
#include <memory>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/cf/Preferences.h"
#include "platform/events/DocumentRequests.h"
#include "platform/events/Process.h"
#include "platform/files/linux/SysIO.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "processing/FolderExpansion.h"
#include "processing/ResultCodes.h"
#include "processing/RunReport.h"
#include "processing/RunRequests.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"
#include "shell/batch/BatchMode.h"
#include "testkit/AlertAnswer.h"
#include "testkit/BatchRun.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

using testsupport::AlertAnswer;
using testsupport::TempTree;
using Texts = std::vector<std::string>;

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
    Boolean counterVisible, barVisible, stopVisible, stopEnabled, editVisible;
    SInt16 barValue, barMinimum, barMaximum;
};

std::string textOf(ControlRef c) {
    char buffer[256];
    Size size = 0;
    GetControlData(c, 0, kControlStaticTextTextTag, sizeof buffer, buffer, &size);
    return std::string(buffer, size_t(std::min<Size>(size, sizeof buffer)));
}

void setPreferences(int function, bool quitWhenDone) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &function);
    CFPreferencesSetAppValue(CFSTR("FunctionType"), number, kCFPreferencesCurrentApplication);
    CFRelease(number);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), quitWhenDone ? kCFBooleanTrue : kCFBooleanFalse,
                             kCFPreferencesCurrentApplication);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication));
}

void clickStop() {
    QTest::mouseClick(qobject_cast<QPushButton*>(gStopButton), Qt::LeftButton);
}

// A timer that calls `f` at every turn of the loop while it lives.
std::unique_ptr<QTimer> every(std::function<void()> f) {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(0);
    QObject::connect(timer.get(), &QTimer::timeout, f);
    timer->start();
    return timer;
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
        gRunRequests = {};
        ShowWindow(gWindow);
        setPreferences(2, false);
    }

    // Drops the paths as a launch would and runs the event loop until the run
    // (and any drop that came during it) is over. `atYield` sees every yield of
    // a busy run where the window changed, with what it showed then.
    void drop(const Texts& paths, int key = Qt::Key_Return,
              std::function<void(const Snapshot&)> atYield = {}) {
        AlertAnswer answer(key);
        shots.clear();
        const auto watcher = every([&] {
            if (!ProcessingRunActive() || !IsControlVisible(gSpin)) return;
            const Snapshot s = {textOf(gMessage),
                                textOf(gSmallMessage),
                                IsControlVisible(gSmallMessage),
                                IsControlVisible(gProgress),
                                IsControlVisible(gStopButton),
                                IsControlEnabled(gStopButton),
                                IsControlVisible(gEditButton),
                                GetControlValue(gProgress),
                                GetControlMinimum(gProgress),
                                GetControlMaximum(gProgress)};
            const Snapshot* last = shots.empty() ? nullptr : &shots.back();
            if (!last || last->status != s.status || last->counter != s.counter ||
                last->barValue != s.barValue || last->barVisible != s.barVisible) {
                shots.push_back(s);
                if (atYield) atYield(s);
            }
        });
        ASSERT_EQ(SendOpenDocumentsToSelf(paths), noErr);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000 &&
               (answer.alertsShown() == 0 || ProcessingRunActive() || WaitingDropCount() > 0))
            WaitNextEvent(0, nullptr, 1, nullptr);
        alerts = answer.alertsShown();
        ASSERT_FALSE(ProcessingRunActive());
    }

    // Runs the loop for a while, as the idle application would.
    static void idle(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) WaitNextEvent(0, nullptr, 1, nullptr);
    }

    // The distinct texts the status line (or the visible counter) showed, in order.
    Texts statuses() const { return distinct(&Snapshot::status, false); }
    Texts counters() const { return distinct(&Snapshot::counter, true); }
    Texts distinct(std::string Snapshot::*field, bool onlyCounterVisible) const {
        Texts out;
        for (const auto& s : shots)
            if ((!onlyCounterVisible || s.counterVisible) &&
                (out.empty() || out.back() != s.*field))
                out.push_back(s.*field);
        return out;
    }

    void expectIdleState() {
        EXPECT_EQ(textOf(gMessage), kIdleMessage);
        EXPECT_TRUE(IsControlVisible(gEditButton));
        for (ControlRef hidden : {gSpin, gStopButton, gProgress, gSmallMessage})
            EXPECT_FALSE(IsControlVisible(hidden));
        EXPECT_FALSE(IsControlEnabled(gStopButton));
    }

    static off_t sizeOf(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
    }

    // folder/f1 .. folder/fn, four bytes each, and their sizes after a run.
    void writeFolder(int n) {
        for (int i = 1; i <= n; ++i) tree.write("folder/f" + std::to_string(i), "data");
    }
    void expectFolderSizes(const std::vector<off_t>& sizes) {
        for (size_t i = 0; i < sizes.size(); ++i)
            EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i + 1))), sizes[i]) << i + 1;
    }

    TempTree tree;
    std::vector<Snapshot> shots;
    int alerts = 0;
};

}  // namespace

// What the window shows while it flips each kind of drop, in walk order, and
// the sizes the files have after it (-1: none). A file whose display name
// cannot be made (the 74-byte buffer for its 37 characters is refused) is
// skipped but counted. A declined drop changes nothing, even with
// QuitWhenDone on.
TEST_F(ProcessingRun, EachDropShowsNameCounterAndBarInWalkOrderAndDecliningChangesNothing) {
    setPreferences(1, false);  // flip/delete
    const std::string longName(250, 'n'), nameless = "b-nameless-" + std::string(26, 'x');
    const struct {
        Texts make, statuses, counters;
        std::vector<std::pair<std::string, off_t>> after;
        const char* end = nullptr;  // the status line after the run; none: idle
    } rows[] = {
        // One file: no name, counter or bar.
        {{"solo=data fork bytes"}, {kIdleMessage}, {}, {{"solo", 0}, {"._solo", 82 + 15}}},
        {{"d3/three=3333", "d3/one=1", "d3/two=22"},
         {"File: one", "File: three", "File: two"},
         {"(0 of 3)", "(1 of 3)", "(2 of 3)", "(3 of 3)"},
         {{"d3/one", 0}, {"d3/._one", 83}, {"d3/._two", 84}, {"d3/._three", 86}}},
        // One file has a bar without range, and a long name is cut at 255 bytes.
        {{"d1/" + longName + "=x"},
         {("File: " + longName).substr(0, 255)},
         {"(0 of 1)", "(1 of 1)"},
         {{"d1/" + longName, 0}, {"d1/._" + longName, 83}}},
        {{"dn/a-one=1", "dn/" + nameless + "=2", "dn/c-three=3"},
         {"File: a-one", "File: c-three"},
         {"(0 of 3)", "(1 of 3)", "(2 of 3)", "(3 of 3)"},
         {{"dn/a-one", 0}, {"dn/" + nameless, 1}, {"dn/._" + nameless, -1}, {"dn/c-three", 0}},
         "1 file could not be changed."},
    };
    SetMemoryFailureHook([](Size n) { return n == 74; });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.make[0]);
        testsupport::makeTree(tree, row.make);
        gRunRequests.stop = true;  // Stop while idle: the next run clears it first
        drop({tree.path(row.make[0].substr(0, row.make[0].find_first_of("/=")))});
        EXPECT_EQ(alerts, 1);
        EXPECT_EQ(statuses(), row.statuses);
        EXPECT_EQ(counters(), row.counters);
        // The bar runs 0..n-1 and stands at j once file j + 1 has been counted.
        const SInt16 last = SInt16(row.counters.size() - 2);
        bool sawBar = false;
        for (const auto& s : shots) {
            EXPECT_TRUE(s.stopVisible && s.stopEnabled && !s.editVisible);
            if (!s.barVisible) continue;
            sawBar = true;
            EXPECT_EQ(s.barMinimum, 0);
            EXPECT_EQ(s.barMaximum, last);
            EXPECT_TRUE(s.counter != "(1 of 3)" || s.status != "File: three" || s.barValue == 0);
            EXPECT_TRUE(s.counter != "(2 of 3)" || s.status != "File: two" || s.barValue == 1);
        }
        EXPECT_EQ(sawBar, !row.counters.empty());
        EXPECT_TRUE(!sawBar || GetControlValue(gProgress) == last);  // full, then hidden
        if (row.end) {
            EXPECT_EQ(textOf(gMessage), row.end);
        } else {
            expectIdleState();
        }
        for (const auto& [path, size] : row.after) EXPECT_EQ(sizeOf(tree.path(path)), size) << path;
    }
    SetMemoryFailureHook(nullptr);
    idle(1300);
    EXPECT_EQ(gExits, 0);  // QuitWhenDone off: the application stays

    setPreferences(2, true);
    const std::string keep = tree.write("keep", "keep me");
    print_message("marker", 1);
    drop({keep}, Qt::Key_Escape);
    EXPECT_EQ(alerts, 1);
    EXPECT_TRUE(shots.empty());
    EXPECT_EQ(testsupport::readText(keep), "keep me");
    EXPECT_EQ(textOf(gMessage), "marker");
    idle(1300);
    EXPECT_EQ(gExits, 0);
    EXPECT_TRUE(IsWindowVisible(gWindow));
}

TEST_F(ProcessingRun, StopCompletesTheFileInHandAndStillQuitsWhenAsked) {
    setPreferences(2, true);
    writeFolder(5);
    drop({tree.path("folder")}, Qt::Key_Return, [](const Snapshot& s) {
        if (s.status == "File: f2" && s.counter == "(1 of 5)") clickStop();
    });
    const qint64 runEnded = QDateTime::currentMSecsSinceEpoch();
    EXPECT_TRUE(gRunRequests.stop);
    expectFolderSizes({0, 0, 4, 4, 4});  // f2 was in hand when Stop came
    expectIdleState();
    idle(2500);
    EXPECT_EQ(gExits, 1);
    EXPECT_GE(gExitAt - runEnded, 1000);
    EXPECT_EQ(textOf(gMessage), kFarewellMessage);
    EXPECT_FALSE(IsWindowVisible(gWindow));  // faded out
}

TEST_F(ProcessingRun, StopAlsoComesBetweenDroppedFiles) {
    const std::string a = tree.write("a", "1"), b = tree.write("b", "2"), c = tree.write("c", "3");
    const auto stopper = every([&] {
        if (ProcessingRunActive() && sizeOf(a) == 0 && IsControlEnabled(gStopButton)) clickStop();
    });
    drop({a, b, c});
    EXPECT_EQ(sizeOf(a), 0);
    EXPECT_EQ(sizeOf(b), 1);
    EXPECT_EQ(sizeOf(c), 1);
    expectIdleState();
}

TEST_F(ProcessingRun, QuitInMidRunEndsTheRunAndTheLoop) {
    setPreferences(2, true);
    writeFolder(5);
    AlertAnswer answer(Qt::Key_Return);
    const auto watcher = every([] {
        if (ProcessingRunActive() && textOf(gMessage) == "File: f3") {
            HICommand quit{};
            quit.commandID = kHICommandQuit;
            ProcessHICommandFromWindow(quit, gWindow);  // as the menu item does
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(20000);
    ASSERT_EQ(SendOpenDocumentsToSelf({tree.path("folder")}), noErr);
    RunApplicationEventLoop();
    EXPECT_TRUE(guard.isActive());  // ended by the quit, not by the guard
    EXPECT_TRUE(gRunRequests.quit);
    EXPECT_FALSE(ProcessingRunActive());
    expectFolderSizes({0, 0, 0, 4, 4});
    expectIdleState();
    EXPECT_EQ(gExits, 0);  // the loop ended first; main returns
    gRunRequests.quit = false;
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

TEST_F(ProcessingRun, ADropDuringABusyRunWaitsForItsOwnConfirmation) {
    writeFolder(3);
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
    expectFolderSizes({0, 0, 0});
}

int gTruncations = 0;
int countTruncations(sysio::Call call) {
    if (call == sysio::Call::Truncate) ++gTruncations;
    return 0;
}

// The window's run of each set of items, each on its own copy: its failure
// list and status line, and the data forks after it (the batch mode's lines
// for the same kinds of items: BatchMode_test). A failure never ends a run; an
// empty folder is no failure; a sidecar named beside its file is part of it;
// every file is handled once however often it is named. Failures keep the
// window open even with QuitWhenDone on.
TEST_F(ProcessingRun, FailuresAreListedAndEachFileIsHandledOnce) {
    const struct {
        const char* what;
        int function;  // 1: flip, 2: delete the data fork
        Texts make, items;
        std::vector<std::pair<std::string, OSErr>> failures;
        int changed;                                             // files the run changed
        std::vector<std::pair<std::string, std::string>> after;  // data forks
    } rows[] = {
        {"FIFOs in a folder and dropped, empty folders dropped",
         2,
         {"folder/a=a", "folder/b-fifo|", "folder/c=c", "fifo|", "next=n", "empty", "nested/a/b"},
         {"empty", "folder", "fifo", "nested", "next"},
         {{"folder/b-fifo", notAFileErr}, {"fifo", notAFileErr}},
         3,
         {{"folder/a", ""}, {"folder/c", ""}, {"next", ""}}},
        {"a missing item and a file with other names",
         2,
         {"before=b", "outside/backup=IMPORTANT", "file>outside/backup"},
         {"before", "gone", "file"},
         {{"gone", fnfErr}, {"file", fileHasLinksErr}},
         1,
         {{"before", ""}, {"outside/backup", "IMPORTANT"}}},
        {"a malformed sidecar",
         1,
         {"bad=bad data", "._bad@malformed/duplicate-id.ad", "ok=ok"},
         {"bad", "ok"},
         {{"bad", ioErr}},
         1,
         {{"bad", "bad data"}, {"ok", ""}}},
        {"a sidecar beside its file, files named twice",
         2,
         {"foo=foo data", "._foo@peers/macos-4096.ad", "folder/f1=1", "folder/f2=2"},
         {"._foo", "foo", "folder/f1", "folder", "folder/../folder"},
         {},
         3,
         {{"foo", ""}, {"folder/f1", ""}, {"folder/f2", ""}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempTree t;
        testsupport::makeTree(t, row.make);
        const std::string sidecarBefore = testsupport::readText(t.path("._foo"));
        Texts items;
        for (const std::string& item : row.items) items.push_back(t.path(item));
        setPreferences(row.function, !row.failures.empty());  // failures keep the window even so
        gTruncations = 0;
        sysio::setFaultHook(countTruncations);
        drop(items);
        sysio::setFaultHook(nullptr);
        std::vector<std::pair<std::string, OSErr>> failures;
        for (const auto& f : RunFailures())
            failures.emplace_back(f.path.substr(std::min(f.path.size(), t.root().size() + 1)),
                                  f.code);
        EXPECT_EQ(failures, row.failures);
        EXPECT_EQ(textOf(gMessage),
                  row.failures.empty() ? std::string(kIdleMessage) : RunFailureSummary());
        EXPECT_EQ(bool(IsControlVisible(gDetailsButton)), !row.failures.empty());
        if (row.function == 2) {
            EXPECT_EQ(gTruncations, row.changed);  // once each
        }
        for (const auto& [path, data] : row.after)
            EXPECT_EQ(testsupport::readText(t.path(path)), data) << path;
        EXPECT_TRUE(testsupport::readText(t.path("._foo")) == sidecarBefore) << "._foo changed";
        if (row.failures.empty()) continue;
        // The list behind the Details button names each one with the reason.
        AlertAnswer details(Qt::Key_Return);
        QTest::mouseClick(qobject_cast<QPushButton*>(gDetailsButton), Qt::LeftButton);
        idle(1500);  // past the end a run without failures would quit at
        ASSERT_TRUE(details.seen().shown);
        EXPECT_EQ(details.seen().text, QString::fromStdString(RunFailureSummary()));
        for (const auto& [path, code] : row.failures)
            EXPECT_TRUE(details.seen().detailedText.contains(
                QString::fromStdString(t.path(path) + "\n    " + DescribeResultCode(code))))
                << path;
        EXPECT_EQ(gExits, 0);
        EXPECT_TRUE(IsWindowVisible(gWindow));
    }
}

TEST_F(ProcessingRun, CountingAFolderShowsHowFarItGotAndStopEndsIt) {
    writeFolder(2000);
    gWalkProgressMs = 0;  // every 256 objects, however fast the disk
    bool stopped = false;
    drop({tree.path("folder")}, Qt::Key_Return, [&](const Snapshot& s) {
        if (!stopped && s.status.rfind("Counting files: ", 0) == 0 && s.stopVisible) {
            stopped = true;
            clickStop();
        }
    });
    gWalkProgressMs = 100;
    EXPECT_TRUE(stopped);
    ASSERT_FALSE(statuses().empty());
    EXPECT_EQ(statuses()[0], "Counting files: 255 so far");
    // Stopped while counting: no file was touched, and the run ended cleanly.
    for (int i = 1; i <= 2000; i += 199)
        EXPECT_EQ(sizeOf(tree.path("folder/f" + std::to_string(i))), 4) << i;
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
    for (int i = 0; i < n; ++i) close(creat((big + "/f" + std::to_string(i)).c_str(), 0644));
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
