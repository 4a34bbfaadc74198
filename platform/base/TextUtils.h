// Text utilities of the Toolbox: conversions between zero-terminated C strings
// and length-prefixed Pascal strings (one length byte, then at most 255 bytes).
#pragma once

#include "platform/base/MacTypes.h"

// Writes the Pascal string src into dst as a C string: its L bytes, then a
// terminator (L + 1 bytes in all). src and dst may be the same buffer. A null
// src gives the empty string; a null dst is ignored.
void CopyPascalStringToC(ConstStr255Param src, char* dst);

// Writes the C string src into dst as a Pascal string, cut to its first 255
// bytes. src and dst may be the same buffer. A null src gives the empty Pascal
// string; a null dst is ignored.
void CopyCStringToPascal(const char* src, Str255 dst);
