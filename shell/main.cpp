// Entry point: creates the application object, hands the documents given at
// launch to an instance that already runs, or starts Brackwater with them.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/events/CarbonEvents.h"
#include "platform/events/DocumentRequests.h"
#include "platform/events/Process.h"
#include "shell/Startup.h"
#include "shell/batch/BatchMode.h"
#include "shell/batch/BatchOptions.h"

int main(int argc, char* argv[]) {
    // Batch mode runs without a display: decided before any application object.
    if (IsBatchInvocation(argc, argv)) return RunBatchMode(argc, argv);
    // Qt takes "-platform NAME" over QT_QPA_PLATFORM.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    if (!WindowPlatformAvailable(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                 platform)) {
        std::fprintf(stderr, "%s\n", NoDisplayMessage());
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Brackwater");
    QApplication::setApplicationVersion(BRACKWATER_VERSION);
    QApplication::setDesktopFileName("brackwater");

    const std::vector<std::string> documents = DocumentPathsFromArguments(argc, argv);
    switch (ClaimDocumentServer(documents)) {
        case LaunchRole::HandedOver:
            return 0;
        case LaunchRole::Unreachable:
            std::fprintf(stderr, "brackwater: the running instance did not take the documents\n");
            return 1;
        case LaunchRole::Primary:
            break;
    }
    const OSStatus err = StartApplication();
    if (err != noErr) {
        CloseDocumentServer();
        return int(err);
    }
    // The end after a run leaves no socket behind either.
    RunAtExitToShell(CloseDocumentServer);
    // Delivered by the loop, once start-up is done.
    SendOpenDocumentsToSelf(documents);
    RunApplicationEventLoop();
    CloseDocumentServer();
    return 0;
}
