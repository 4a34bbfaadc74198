// The per-user preference store of the application: typed values (strings,
// integers and reals kept apart, booleans) in
// $XDG_CONFIG_HOME/brackwater/preferences.json (~/.config when the variable is
// unset or not absolute).
//
// Set calls change the values in memory; synchronising re-reads the file, lays
// the pending changes over it and writes the result atomically, keeping every
// entry it does not change as it was written. A file that does not parse reads
// as empty and is renamed aside before the next write, never overwritten.
#pragma once

#include "platform/cf/CoreFoundation.h"

// The current application's domain. A constant string made on first use, so it
// is valid even in other units' static initialisers.
#define kCFPreferencesCurrentApplication CFSTR("kCFPreferencesCurrentApplication")

// The value of `key` as a new object (release it), or null when the key is
// absent or holds something other than a string, number or boolean.
CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
// Sets (a string, number or boolean; a real must be finite) or, with a null
// value, removes `key`. Other values are ignored.
void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID);
// Re-reads the file and writes pending changes. False when the file could not be
// read (other than missing) or written; the changes then stay pending.
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);

// The file the store of the current application lives in.
QString PreferencesFilePath();
