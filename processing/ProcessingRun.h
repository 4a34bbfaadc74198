// The processing run: an open-documents event stores its items and schedules a
// run; the run asks for confirmation, then applies the chosen fork operation to
// every dropped file and to every file inside every dropped folder, showing
// progress in the main window; with quit-when-done the application says "Bye."
// and ends one second later.
#pragma once

#include "platform/events/AppleEvents.h"
#include "platform/events/CarbonEvents.h"

// The items of the drop in hand (of the run that is busy, or of the last one).
extern AEDescList gDescList;

extern const char* const kIdleMessage;
extern const char* const kFarewellMessage;

// Keeps the event's direct object (a list of items, each readable as an FSRef)
// and schedules a run 0.001 s later. A drop that arrives while another is being
// confirmed or processed waits its turn and gets its own confirmation.
OSErr OpenDocsAppleEventHandler(const AppleEvent* event, AppleEvent* reply, long refcon);
// The run over the oldest waiting drop.
void ProcessTimerProc(EventLoopTimerRef timer, void* userData);
// "Bye.", the fade, and the end of the process; put off while a run is busy.
void PauseTimerProc(EventLoopTimerRef timer, void* userData);

// Number of drops that wait for a run, and whether one is being confirmed or
// processed now.
long WaitingDropCount();
bool ProcessingRunActive();
