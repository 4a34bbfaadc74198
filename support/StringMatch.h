// String matching: adapters that make each kind of match of CString256
// (exact, partial, approximate, wildcard; case-sensitive or not) available to
// CString256::match as a function of one common shape,
// void (void* subject, void* argument, float* score).
//
// The six plain adapters take the subject as a CString256* and the other text
// as a C string, of which only the first 255 characters count. The two
// wildcard adapters take the subject as a C string (a CString256's address
// is one, so CString256::match can pass its own) and the pieces as a
// CList<CString256>*. Scores: exact, partial and wildcard write 1.0 or 0.0;
// approximate writes a similarity from 0 to 1. A null subject or argument
// scores 0.0; a null score pointer is ignored.
// Used by the application: nothing; kept as the library's own.
#pragma once

#include "support/CList.h"
#include "support/CString256.h"

void matcher_case_exact_256(void* subject, void* other, float* score);
void matcher_nocase_exact_256(void* subject, void* other, float* score);
void matcher_case_partial_256(void* subject, void* other, float* score);
void matcher_nocase_partial_256(void* subject, void* other, float* score);
void matcher_case_approximate_256(void* subject, void* other, float* score);
void matcher_nocase_approximate_256(void* subject, void* other, float* score);
void match_wildcard_case_256(void* subject, void* pieces, float* score);
void match_wildcard_nocase_256(void* subject, void* pieces, float* score);
