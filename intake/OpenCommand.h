// The File menu's Open… command: a chooser for files and folders whose choice
// enters the application exactly as a drop on the window does, so that the
// window can be used without drag and drop (keyboard, Wayland, assistive
// technology).
#pragma once

#include "platform/base/MacTypes.h"

// Shows the chooser; when the user chooses, sends the open-documents event of
// a drop with the chosen items. noErr when cancelled.
OSErr HandleOpenCommand();
