// Strings and lists of strings: splitting a CString256 into a CList of tokens
// (CString256::parse_into_list) and joining a list into one string
// (CString256::flatten_list). Both are members of CString256; this header
// brings the two classes together for their callers.
// Used by the application: nothing; kept as the library's own.
#pragma once

#include "support/CList.h"
#include "support/CString256.h"
