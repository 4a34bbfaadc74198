// The two stored settings (the fork operation of a run, whether to quit after
// it) and the confirmation alert before every run.
#pragma once

#include "platform/cf/CoreFoundation.h"
#include "processing/ForkOperations.h"

// Preference keys of the current application.
#define kFunctionTypeKey CFSTR("FunctionType")
#define kQuitWhenDoneKey CFSTR("QuitWhenDone")

// The stored operation, read afresh from the store. 1 ("flip/delete") when the
// key is absent or holds something other than a number; 0, which no run
// accepts, for a number that is not exactly a 16-bit integer.
functionType FunctionType();
// Whether to quit after a run: the stored boolean, true when the key is absent
// or holds anything but a boolean.
bool QuitWhenDone();
// The stop alert's texts for operation 1, 2 or 3 (null for any other value),
// shared with the batch mode's question on a terminal.
const char* ConfirmationMessage(functionType type);
const char* ConfirmationExplanation();
// Beeps and asks for confirmation of operation 1, 2 or 3; true when the user
// chose OK. Any other value answers false at once, without beep or alert.
bool AskProcessFile(functionType type);
// Beeps, then shows a stop alert with the message, the explanation, OK and, when
// withCancel is non-zero, Cancel. With Cancel, true only when the user chose
// OK; without it, always true.
bool ShowAlertMessage(CFStringRef message, CFStringRef explanation, unsigned char withCancel);
