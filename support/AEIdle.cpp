#include "support/AEIdle.h"

#include <thread>

Boolean MyAEIdleProc(EventRecord*, long* sleepTime, RgnHandle* mouseRgn) {
    if (sleepTime) *sleepTime = 10;
    if (mouseRgn) *mouseRgn = nullptr;
    std::this_thread::yield();
    return false;
}

const AEIdleUPP gAEIdleUPP = reinterpret_cast<AEIdleUPP>(&MyAEIdleProc);
