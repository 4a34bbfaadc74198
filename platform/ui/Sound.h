// The system beep: rings the display's bell once the application has a display
// and counts every beep so tests can see them.
#pragma once

#include "platform/base/MacTypes.h"

void SysBeep(short duration);
long SysBeepCount();
void ResetSysBeepCount();
