// Text encoding conversion between Mac Roman, UTF-16 and UTF-8: the Text
// Encoding Converter calls over glibc iconv, and plain C++ helpers for the rest
// of the platform layer.
//
// Mac Roman here is Apple's table: glibc's "MACINTOSH" differs at 0xC6 (U+2206
// INCREMENT) and 0xF0 (U+F8FF, the Apple logo), which are mapped by hand.
// Characters that Mac Roman lacks come out as '?'. Decomposed accents (as macOS
// writes file names) are composed first, so "e" + U+0301 becomes 0x8E.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/MacTypes.h"

// ---- Text Encoding Converter -----------------------------------------------

enum : TextEncoding {
    kTextEncodingMacRoman = 0,
    kTextEncodingUnicodeDefault = 0x0100,  // UTF-16 in host order
    kTextEncodingUTF8 = 0x08000100,
};

enum : OSStatus {
    kTextMalformedInputErr = -8739,
    kTECNoConversionPathErr = -8749,
    kTECPartialCharErr = -8753,
    kTECOutputBufferFullStatus = -8785,
};

struct OpaqueTECObjectRef;
using TECObjectRef = OpaqueTECObjectRef*;
using ConstTextPtr = const UInt8*;
using TextPtr = UInt8*;

// Converters between Mac Roman, UTF-16 (host order) and UTF-8, in either
// direction; kTECNoConversionPathErr for anything else.
OSStatus TECCreateConverter(TECObjectRef* newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding);
// Converts as much of the input as fits. Reports the bytes consumed and
// produced; kTECOutputBufferFullStatus when the output ran out of room (the
// remaining input can be passed again), kTECPartialCharErr when the input ends
// inside a character (the partial bytes are not consumed). Unmappable and
// malformed input never stops a conversion: it becomes '?' (or U+FFFD in
// Unicode output, Latin-1 for bytes that are not UTF-8).
OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer,
                        ByteCount inputBufferLength, ByteCount* actualInputLength,
                        TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount* actualOutputLength);
OSStatus TECDisposeConverter(TECObjectRef encodingConverter);
// Number of converters alive, for tests that look for leaks.
long TECLiveConverterCount();

// ---- Helpers ---------------------------------------------------------------

// UTF-8 to Mac Roman. Bytes that are not valid UTF-8 count as Latin-1
// characters; characters Mac Roman lacks become '?'.
std::string MacRomanFromUtf8(std::string_view utf8);
// Mac Roman to UTF-8; every byte has a character.
std::string Utf8FromMacRoman(std::string_view macRoman);

std::u16string Utf16FromMacRoman(std::string_view macRoman);
// UTF-16 to Mac Roman; when `lossless` is given it is set to false if any
// character had to become '?'.
std::string MacRomanFromUtf16(std::u16string_view utf16, bool* lossless = nullptr);

// A Linux file name (bytes) as UTF-16: valid UTF-8 decoded, every other byte
// taken as its Latin-1 character, so every name has a display form.
std::u16string Utf16FromFileName(std::string_view name);
// Strict UTF-8 decoding; false (and `out` unspecified) on malformed input.
bool DecodeUtf8Strict(std::string_view utf8, std::u16string& out);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view utf16);
