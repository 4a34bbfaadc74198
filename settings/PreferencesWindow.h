// The Preferences window: one modeless window in which the user picks the fork
// operation of later runs and whether the application quits after a run. Each
// change is stored at once; OK, Cancel and closing the window only close it.
#pragma once

#include "platform/events/CarbonEvents.h"

extern WindowRef gPreferencesWindow;      // null while the window is closed
extern ControlRef gFunctionPopupButton;   // 'CNTL' 3, items 1 to 3 are the operations
extern ControlRef gQuitWhenDoneCheckbox;  // 'CNTL' 4

// Opens the window, or refreshes its controls from the store and brings it to
// the front when it is open; shows the drop hint on the status line either way.
void HandlePreferencesCommand();
// The window's handler: stores the popup ('FcnT') and the checkbox ('Qwdo') and
// passes those commands on; 'ok  ', 'not!' and closing the window dispose of it.
OSStatus WindowEventHandlerProc(EventHandlerCallRef handlerRef, EventRef event, void* userData);
