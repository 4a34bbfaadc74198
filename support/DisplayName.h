// Display names of file-system objects: the File Manager's UTF-16 names as
// NUL-terminated Mac Roman strings for status lines, and back. Every result is a
// block from NewPtr that the caller releases with DisposePtr.
// Used by the application: FSGetObjectName (the processing run's status
// line); the rest serves it or is kept as the library's own.
#pragma once

#include "platform/files/Files.h"

// The object's name in Mac Roman (characters it lacks become '?'), or null when
// the name cannot be read or memory runs out.
char* FSGetObjectName(const FSRef* ref);
// The object's name as the File Manager gives it; paramErr for a null record.
OSErr FSGetFileDirName(const FSRef* ref, HFSUniStr255* name);
// Converts `count` UTF-16 units into a new NUL-terminated Mac Roman string and
// stores its pointer through `outName` (null when an allocation fails).
void SetASCII_C_CharsFromUnicodeText(char** outName, const UniChar* text, UInt32 count);
// Converts a NUL-terminated Mac Roman string into new UTF-16 text, stores its
// pointer and its length in units. When memory runs out (or the string is null)
// the pointer is null and the length 0; DisposePtr accepts that null.
void SetUnicodeTextFromASCII_C_Chars(const char* cString, UniChar** outText, UInt32* outLength);
