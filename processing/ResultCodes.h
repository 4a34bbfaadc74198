// Result codes in words, as the batch mode's reports and the window's list of
// failures give them: the code's name and number, and what it means on Linux.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

// "ioErr (-36): I/O error, or a malformed AppleDouble file (sidecar or
// .AppleDouble header)"; unknown codes give "result code -N".
std::string DescribeResultCode(OSErr code);
