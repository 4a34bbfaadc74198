#include "platform/events/Process.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {
ExitToShellHook gHook = nullptr;
std::vector<void (*)()> gCleanups;
}  // namespace

void RunAtExitToShell(void (*cleanup)()) {
    if (cleanup) gCleanups.push_back(cleanup);
}

void SetExitToShellHook(ExitToShellHook hook) {
    gHook = hook;
}

void ExitToShell() {
    if (gHook) {
        gHook();
        return;
    }
    for (auto cleanup : gCleanups) cleanup();
    // At once: no static destructors run under a live application object.
    std::fflush(nullptr);
    _exit(0);
}
