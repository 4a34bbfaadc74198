// CString256: an 8-bit, NUL-terminated text of at most 255 characters held in
// the object itself. Converts from C strings, Pascal strings, handles,
// CFStrings and integers, truncating silently at 255 characters; heap
// instances come from a pool of blocks of 256 slots. The matching members live
// in StringMatch.cpp, the list members in ListText.cpp, print to a file in
// CString256FileOutput.cpp and the CFString assignment in CString256CF.cpp.
// Used by the application: nothing (it comes in with CFile.h, whose other
// members take it); kept as the library's own.
#pragma once

#include <cstddef>

#include "platform/base/MacTypes.h"
#include "platform/cf/CoreFoundation.h"

template <typename T>
class CList;

class CString256 {
public:
    static constexpr std::size_t kCapacity = 255;  // characters before the terminator
    static constexpr std::size_t kSlotsPerBlock = 256;

    // Always terminated within the array.
    char text[kCapacity + 1];
    // Link to the next free slot while this object's storage is in the pool.
    CString256* pool_next;

    // First free slot of the pool; null until the first block is made.
    static CString256* nfree;

    CString256() noexcept;
    // At most the first 255 characters of s; a null s gives the empty string.
    CString256(const char* s) noexcept;
    // The Pascal string p (a null p gives the empty string).
    CString256(const unsigned char* p) noexcept;
    CString256(const CString256& other) noexcept;
    ~CString256() = default;

    // Assignment. Each source may point into this string's own text.
    CString256& operator=(const char* s) noexcept;
    CString256& operator=(const CString256& other) noexcept;
    CString256& operator=(const unsigned char* p) noexcept;
    // The longest prefix of whole characters of s that fits in 255 bytes of
    // Mac Roman; characters Mac Roman lacks become '?'. A null s gives the
    // empty string.
    CString256& operator=(CFStringRef s) noexcept;
    // The first min(GetHandleSize(h), 255) bytes of the handle's block as they
    // stand (a NUL among them ends the string there).
    CString256& operator=(char** h) noexcept;
    // The decimal text of v.
    CString256& operator=(long v) noexcept;

    // Appending. Text that does not fit is cut so the result holds exactly 255
    // characters; a null s changes nothing.
    CString256& operator+=(const char* s) noexcept;
    CString256& operator+=(const CString256& other) noexcept;
    CString256& operator+=(const unsigned char* p) noexcept;
    // Appends c only while the length is at most 253: a string is never
    // extended to 255 characters one character at a time.
    CString256& operator+=(char c) noexcept;
    CString256& operator+=(long v) noexcept;

    // The character at index i (0 to 255); not bound-checked.
    char& operator[](int i) noexcept { return text[i]; }
    const char& operator[](int i) const noexcept { return text[i]; }

    // Folds 'A' to 'Z' to lower case; other bytes stay.
    void to_lower() noexcept;
    // Keeps only ASCII letters, digits and punctuation, closing up the rest.
    void filter_to_alnum_or_punct() noexcept;
    // Cuts the text at its last '.', then appends '.' and suffix (given
    // without its dot); a text without a dot simply gains the suffix.
    CString256& change_suffix(const char* suffix) noexcept;

    // Prefix and suffix tests: case-insensitive when nocase is non-zero. An
    // empty (or null) prefix or suffix always matches. 1 for true, 0 for false.
    Boolean beginsWith(const CString256* prefix, unsigned char nocase) const noexcept;
    Boolean beginsWith(const char* prefix, unsigned char nocase) const noexcept;
    Boolean endsWith(const CString256* suffix, unsigned char nocase) const noexcept;
    Boolean endsWith(const char* suffix, unsigned char nocase) const noexcept;
    Boolean beginsWith_nocase(const CString256& prefix) const noexcept;
    Boolean beginsWith_nocase(const char* prefix) const noexcept;
    Boolean endsWith_nocase(const CString256& suffix) const noexcept;
    Boolean endsWith_nocase(const char* suffix) const noexcept;

    // Appends the text and a line feed to the NUL-terminated buffer out, which
    // must have the room; a null out is ignored.
    void print(char* out) const noexcept;
    // Writes the text and a line feed at the current mark of the open fork
    // refNum; the File Manager's result code.
    OSErr print(short refNum) const noexcept;

    // Matching (StringMatch.cpp): each writes its score through score.
    void match_case_exact(const CString256& other, float* score) const noexcept;
    void match_nocase_exact(const CString256& other, float* score) const noexcept;
    void match_case_partial(const CString256& other, float* score) const noexcept;
    void match_nocase_partial(const CString256& other, float* score) const noexcept;
    void match_case_approximate(const CString256& other, float* score) const noexcept;
    void match_nocase_approximate(const CString256& other, float* score) const noexcept;
    void match_wildcard_case(CList<CString256>& pieces, float* score) const noexcept;
    void match_wildcard_nocase(CList<CString256>& pieces, float* score) const noexcept;
    // Calls fn(this, argument, score).
    void match(void (*fn)(void*, void*, float*), void* argument, float* score) noexcept;

    // Lists (ListText.cpp). Replaces list's contents with the tokens of this
    // string, split at any run of the characters of delimiters.
    void parse_into_list(const char* delimiters, CList<CString256>& list) const noexcept;
    // Replaces this string with list's values joined by separator.
    void flatten_list(char separator, CList<CString256>& list) noexcept;

    // The pool: one slot per object whatever size is asked; null when a new
    // block cannot be obtained. Freed slots are reused last-in first-out.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* slot, std::size_t size) noexcept;

private:
    std::size_t length() const noexcept;
    void assignBytes(const char* bytes, std::size_t count) noexcept;
    void appendBytes(const char* bytes, std::size_t count) noexcept;
};
