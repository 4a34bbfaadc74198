// Start-up: the application icon, the menu bar and the main window from the
// interface description "main", the controls, the open-documents handler and
// the command handler, then the event loop.
#pragma once

#include "platform/base/MacTypes.h"

// Steps up to the running loop, without running it: non-zero is the status of
// the first interface-loading call that failed (nothing is shown then).
OSStatus StartApplication();
// StartApplication, then the event loop; 0 when the loop has ended.
int RunApplication();
