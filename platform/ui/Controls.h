// Controls of windows made from interface descriptions: look-up by control ID,
// visibility, enabling, values and text. A control is a widget; its ID is the
// pair of dynamic properties controlSignature ('CNTL') and controlNumber.
#pragma once

#include "platform/events/CarbonEvents.h"

struct ControlID {
    OSType signature;
    SInt32 id;
};

using ControlPartCode = SInt16;
enum : ControlPartCode { kControlEntireControl = 0 };
enum : ResType { kControlStaticTextTextTag = FOUR_CHAR_CODE("text") };
enum : OSStatus {
    errUnknownControl = -30584,
    errDataNotSupported = -30583,
    errControlNotFound = -30592
};

OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl);

void ShowControl(ControlRef control);
void HideControl(ControlRef control);
Boolean IsControlVisible(ControlRef control);
OSStatus EnableControl(ControlRef control);
OSStatus DisableControl(ControlRef control);
Boolean IsControlEnabled(ControlRef control);

// Values, signed 16-bit: a progress bar's range and position (a bar whose
// minimum equals its maximum shows full), a checkbox 0 or 1, a popup's item
// counted from 1. A busy indicator has no value; it animates while shown.
void SetControlMinimum(ControlRef control, SInt16 value);
void SetControlMaximum(ControlRef control, SInt16 value);
void SetControlValue(ControlRef control, SInt16 value);
SInt16 GetControlMinimum(ControlRef control);
SInt16 GetControlMaximum(ControlRef control);
SInt16 GetControlValue(ControlRef control);

// Text ('text' tag) in Mac Roman, shown decoded and as plain text, never markup.
// Static texts of the descriptions show a new text within one frame.
OSErr SetControlData(ControlRef control, ControlPartCode part, ResType tagName, Size size,
                     const void* data);
OSErr GetControlData(ControlRef control, ControlPartCode part, ResType tagName, Size bufferSize,
                     void* buffer, Size* actualSize);
// Repaints the control now, so that new text shows before the caller goes on. A
// static text painted less than a frame (1/60 s) ago is painted when that frame
// is over instead: a run's messages then cost no more than the display shows.
void Draw1Control(ControlRef control);
