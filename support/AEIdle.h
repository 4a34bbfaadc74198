// The application's Apple-event idle routine, called while a send waits for its
// reply: it asks for a 10-tick sleep with no mouse region and lets other
// threads run.
// Used by the application: nothing; kept as the library's own (the file helper
// class's Apple-event sends wait with it).
#pragma once

#include "platform/events/AppleEvents.h"
#include "platform/events/CarbonEvents.h"

using AEIdleProcPtr = Boolean (*)(EventRecord* theEvent, long* sleepTime, RgnHandle* mouseRgn);

// Always answers false: the wait goes on.
Boolean MyAEIdleProc(EventRecord* theEvent, long* sleepTime, RgnHandle* mouseRgn);

// MyAEIdleProc as the idle routine to pass to sends.
extern const AEIdleUPP gAEIdleUPP;
