#include "platform/Process.h"

#include <unistd.h>

#include <cstdio>

namespace {
ExitToShellHook gHook = nullptr;
}

void SetExitToShellHook(ExitToShellHook hook) { gHook = hook; }

void ExitToShell() {
    if (gHook) {
        gHook();
        return;
    }
    // At once: no static destructors run under a live application object.
    std::fflush(nullptr);
    _exit(0);
}
