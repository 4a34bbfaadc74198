// The cost of the window during a run: the same fork operation over the same
// number of small files, once as a full run (status line, counter line, bar and
// spinner, a yield per file) and once as a bare loop over ProcessFSRef.
// Usage: bench_run_window [files] [operation]; prints both times and the ratio.
#include <fcntl.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/base/MacMemory.h"
#include "platform/cf/Preferences.h"
#include "platform/events/CarbonEvents.h"
#include "platform/events/DocumentRequests.h"
#include "platform/events/Process.h"
#include "platform/ui/Controls.h"
#include "processing/FolderExpansion.h"
#include "processing/ForkOperations.h"
#include "processing/ProcessingRun.h"
#include "shell/MainWindow.h"
#include "shell/Startup.h"

namespace fs = std::filesystem;

namespace {

void makeFiles(const std::string& folder, int n) {
    fs::create_directories(folder);
    for (int i = 0; i < n; ++i) {
        const std::string path = folder + "/file" + std::to_string(i);
        int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || write(fd, "small data fork\n", 16) != 16) std::abort();
        close(fd);
    }
}

FSRef refOf(const std::string& path) {
    FSRef ref;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr) != noErr)
        std::abort();
    return ref;
}

// The bare loop's three steps, in seconds.
struct Steps {
    double count, list, change;
};

// Walks and processes the folder as the run does, without any display.
Steps bareLoop(const std::string& folder, functionType op) {
    QElapsedTimer clock;
    clock.start();
    FSRef ref = refOf(folder);
    gNbrFilesToBeProcessed = gNbrFilesProcessed = 0;
    IterateCountFolder(&ref);
    const double counted = clock.nsecsElapsed() / 1e9;
    const SInt32 n = gNbrFilesToBeProcessed;
    gFSRefArray = reinterpret_cast<FSRef*>(NewPtr(Size(n * sizeof(FSRef))));
    IterateCollectFolder(&ref);
    const double listed = clock.nsecsElapsed() / 1e9;
    for (SInt32 j = 0; j < n; ++j) ProcessFSRef(&gFSRefArray[j], op);
    DisposePtr(reinterpret_cast<Ptr>(gFSRefArray));
    gFSRefArray = nullptr;
    return {counted, listed - counted, clock.nsecsElapsed() / 1e9 - listed};
}

double windowRun(const std::string& folder) {
    // Confirms the alert as soon as it shows.
    QTimer confirm;
    confirm.setInterval(5);
    bool confirmed = false;
    QObject::connect(&confirm, &QTimer::timeout, [&confirmed] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->defaultButton()) {
            box->defaultButton()->click();
            confirmed = true;
        }
    });
    confirm.start();
    QElapsedTimer clock;
    clock.start();
    SendOpenDocumentsToSelf({folder});
    // The whole run happens inside one pass of this loop: the timer's callback.
    while (!confirmed || ProcessingRunActive()) {
        WaitNextEvent(0, nullptr, 1, nullptr);
        if (!confirmed && clock.elapsed() > 10000) std::abort();
    }
    return clock.nsecsElapsed() / 1e9;
}

// What the window costs per file by itself: the two messages, the yield and
// the bar, as a folder's pass makes them, without touching any file.
double displayOnly(int n) {
    ShowControl(gProgress);
    ShowControl(gSmallMessage);
    SetControlMaximum(gProgress, SInt16(std::min(n - 1, 32767)));
    QElapsedTimer clock;
    clock.start();
    char message[256];
    for (int j = 0; j < n; ++j) {
        std::snprintf(message, sizeof message, "File: file%d", j);
        print_message(message, 1);
        std::snprintf(message, sizeof message, "(%d of %d)", j + 1, n);
        showMessage(message, 2);
        SetControlValue(gProgress, SInt16(std::min(j, 32767)));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    HideControl(gProgress);
    HideControl(gSmallMessage);
    return seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int op = argc > 2 ? std::atoi(argv[2]) : 2;
    const std::string root =
        fs::temp_directory_path() / ("brackwater-bench-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    QApplication app(argc, argv);
    SetExitToShellHook([] {});
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &op);
    CFPreferencesSetAppValue(CFSTR("FunctionType"), number, kCFPreferencesCurrentApplication);
    CFRelease(number);
    CFPreferencesSetAppValue(CFSTR("QuitWhenDone"), kCFBooleanFalse,
                             kCFPreferencesCurrentApplication);
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
    if (StartApplication() != noErr) return 1;

    makeFiles(root + "/bare", n);
    makeFiles(root + "/window", n);
    sync();
    const double display = displayOnly(n);
    const Steps steps = bareLoop(root + "/bare", functionType(op));
    const double bare = steps.count + steps.list + steps.change;
    const double window = windowRun(root + "/window");
    std::printf("files %d, operation %d, platform %s\n", n, op,
                qPrintable(QGuiApplication::platformName()));
    std::printf("bare loop   %.3f s  (%.1f us/file)\n", bare, bare * 1e6 / n);
    std::printf("  count %.3f s, list %.3f s, change %.3f s\n", steps.count, steps.list,
                steps.change);
    std::printf("window run  %.3f s  (%.1f us/file)\n", window, window * 1e6 / n);
    std::printf("ratio       %.2f\n", window / bare);
    std::printf("display     %.3f s  (%.1f us/file: two messages, a yield, the bar)\n", display,
                display * 1e6 / n);
    fs::remove_all(root);
    return 0;
}
