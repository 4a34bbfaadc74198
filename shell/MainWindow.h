// The main window's state shared with a processing run: the window, its
// controls, and the status display, which writes a
// message into the window and yields once to the event loop (or leaves the
// yield to its caller).
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/events/CarbonEvents.h"

extern WindowRef gWindow;
extern ControlRef gMessage;        // 'CNTL' 1, the status line
extern ControlRef gSpin;           // 'CNTL' 2, the busy indicator
extern ControlRef gEditButton;     // 'CNTL' 4, shown while idle
extern ControlRef gProgress;       // 'CNTL' 5, the progress bar of a folder's pass
extern ControlRef gSmallMessage;   // 'CNTL' 6, the counter line
extern ControlRef gStopButton;     // 'CNTL' 7, sends 'not!'
extern ControlRef gDetailsButton;  // 'CNTL' 8, sends 'dtls': shown after a run with failures

// Puts the length-prefixed text into a static text; with draw, repaints it now.
// paramErr for a null control.
OSErr SetStaticTextText(ControlRef control, const unsigned char* text, Boolean draw);

// Line 1 writes text (cut to 255 bytes) to the status line, line 2 to the
// counter line, any other line writes nothing; then yields once to the loop.
void print_message(const char* text, int line);
// The same without the yield, for a caller that yields once for several
// messages.
void showMessage(const char* text, int line);
