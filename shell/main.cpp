// Entry point: creates the application object and runs Brackwater.
#include <QApplication>
#include <cstdio>

#include "shell/BatchMode.h"

int main(int argc, char* argv[]) {
    // Batch mode runs without a display: decided before any application object.
    if (IsBatchInvocation(argc, argv)) return RunBatchMode(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Brackwater");
    QApplication::setApplicationVersion(BRACKWATER_VERSION);
    std::printf("Brackwater %s\n", BRACKWATER_VERSION);
    return 0;
}
