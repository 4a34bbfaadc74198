// Building descriptors and Apple events from format strings: a recursive-descent
// parser of the descriptor language of AEBuildDesc and AEBuildAppleEvent.
//
//   descriptor := integer                  'shor' when it fits 16 bits, else 'long'
//               | identifier               'enum' holding the code
//               | “text”                   'TEXT' (curly quotes, Mac Roman or UTF-8)
//               | type '(' data ')'        data given the type
//               | type '{' pairs '}'       a record given the type (obj {…})
//               | '{' pairs '}'            a record 'reco'
//               | '[' descriptors ']'      a list
//               | '@' | '(' '@' ')'        the next argument, a const AEDesc*
//   data       := integer | identifier | “text” | «hex digits» | nothing
//               | '@'   text types ('TEXT', 'utf8'): a C string; others: a Size
//                       then a pointer to that many bytes
//               | '@@'  a Handle whose whole block is the data
//   pairs      := [keyword ':' descriptor {',' keyword ':' descriptor}]
//   identifier := 1 to 4 letters, digits or '_', or 1 to 4 characters between
//                 straight single quotes; padded with spaces to 4
//
// Integers given a type become 'shor', 'long', 'magn', 'comp' or 'bool' data;
// identifiers given a type become the 4-byte code ('type(prop)'); text and hex
// are taken as bytes of the type. A syntax error gives errAEBuildSyntaxError
// with the error's code and byte position; nothing is left allocated.
#pragma once

#include <cstdarg>

#include "platform/events/AppleEvents.h"

using AEBuildErrorCode = UInt32;
enum : AEBuildErrorCode {
    aeBuildSyntaxNoErr = 0,
    aeBuildSyntaxBadToken = 1,
    aeBuildSyntaxBadEOF = 2,
    aeBuildSyntaxNoEOF = 3,
    aeBuildSyntaxBadNegative = 4,
    aeBuildSyntaxMissingQuote = 5,
    aeBuildSyntaxBadHex = 6,
    aeBuildSyntaxOddHex = 7,
    aeBuildSyntaxNoCloseHex = 8,
    aeBuildSyntaxUncoercedHex = 9,
    aeBuildSyntaxNoCloseString = 10,
    aeBuildSyntaxBadDesc = 11,
    aeBuildSyntaxBadData = 12,
    aeBuildSyntaxNoCloseParen = 13,
    aeBuildSyntaxNoCloseBracket = 14,
    aeBuildSyntaxNoCloseBrace = 15,
    aeBuildSyntaxNoKey = 16,
    aeBuildSyntaxNoColon = 17,
    aeBuildSyntaxCoercedList = 18,
    aeBuildSyntaxUncoercedDoubleAt = 19,
};

struct AEBuildError {
    AEBuildErrorCode fError;
    UInt32 fErrorPos;
};

// One descriptor from src; dst is the null descriptor on failure.
OSStatus AEBuildDesc(AEDesc* dst, AEBuildError* error, const char* src, ...);
OSStatus vAEBuildDesc(AEDesc* dst, AEBuildError* error, const char* src, va_list args);

OSStatus vAEBuildParameters(AppleEvent* event, AEBuildError* error, const char* format,
                            va_list args);

// Creates an event addressed by addressType and the address bytes, then adds
// the parameters of paramsFmt. result is the null descriptor on failure.
OSStatus AEBuildAppleEvent(AEEventClass theClass, AEEventID theID, DescType addressType,
                           const void* addressData, Size addressLength, SInt16 returnID,
                           SInt32 transactionID, AppleEvent* result, AEBuildError* error,
                           const char* paramsFmt, ...);
OSStatus vAEBuildAppleEvent(AEEventClass theClass, AEEventID theID, DescType addressType,
                            const void* addressData, Size addressLength, SInt16 returnID,
                            SInt32 transactionID, AppleEvent* result, AEBuildError* error,
                            const char* paramsFmt, va_list args);
