// Byte-string routines that go with CString256: case-insensitive search and
// comparison, in-place reversal, and decimal text of integers.
//
// Case folding and character classes here are those of the POSIX locale
// whatever locale the process runs in: only 'A' to 'Z' and 'a' to 'z' fold,
// and bytes 128 to 255 (Mac Roman letters and symbols) are neither letters
// nor punctuation. Qt switches the C library to the user's locale at start-up,
// where tolower() would change Latin-1 bytes that mean something else in Mac
// Roman, so these routines never consult the C library's locale.
// Used by the application: nothing; kept as the library's own (the string
// class is built on it).
#pragma once

constexpr unsigned char AsciiToUpper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
constexpr unsigned char AsciiToLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
constexpr bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// The 32 printable ASCII characters that are neither letters, digits nor space.
constexpr bool IsAsciiPunct(unsigned char c) {
    return c > ' ' && c < 0x7F && !IsAsciiAlnum(c);
}

// First place in text where needle occurs, ignoring case; text itself for an
// empty needle; null when there is none or either argument is null.
const char* STRSTR(const char* text, const char* needle);
char* STRSTR(char* text, const char* needle);

// 0 when the first n characters of a and b agree ignoring case (comparison
// stops at a terminator both share); otherwise the difference of the first
// differing bytes as they stand. A negative n compares up to the terminator.
int STRNCMP(const char* a, const char* b, int n);

// Reverses the characters of s in place; a null s is ignored.
void reverse(char* s);

// Decimal text of v in buf, a buffer of size bytes: the lowest-order digits
// that fit, with the sign first for a negative v and the terminator last.
// Nothing beyond buf[size - 1] is ever written; a size of 0 or less (or a null
// buf) writes nothing. Sizes of 21 and more never cut a value.
void itoa(char* buf, short size, long v);

// The decimal text of v in a new array from new[], released by the caller
// with delete[]; null when the array cannot be allocated.
char* itoa(unsigned long v);
char* itoa(long v);
char* itoa(short v);
