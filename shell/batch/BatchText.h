// Text of the batch mode's reports: paths made safe for a terminal, and JSON
// strings (result codes are described by processing/ResultCodes.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/base/MacTypes.h"
#include "processing/ResultCodes.h"

// The path with control characters as \n, \t, \r or \xNN and a backslash as
// "\\", so one path is always one line; other bytes are kept.
std::string TerminalPath(std::string_view path);

// A JSON string literal (with the quotes) of bytes that are meant as UTF-8:
// valid sequences are kept, each byte of an invalid one is taken as the Latin-1
// character of that value, as file names are shown elsewhere.
std::string JsonString(std::string_view bytes);

// A four-character code as text: TEXT when all four bytes are printable
// ASCII, else 0x%08X.
std::string FourCharText(UInt32 code);
