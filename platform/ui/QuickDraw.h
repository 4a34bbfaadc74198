// QuickDraw ports, rectangles and rectangular regions, as far as drawing into a
// window needs them: each window has a port, one port is current, a window's
// bounds come in global (screen) coordinates and convert to the current port's
// local coordinates, whose origin is the top-left corner of the window's
// content.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/events/CarbonEvents.h"

#pragma pack(push, 2)
struct Rect {
    SInt16 top;
    SInt16 left;
    SInt16 bottom;
    SInt16 right;
};
// A region: its size in bytes and its bounding box. Only rectangular regions
// are made, so the box is the whole region.
struct MacRegion {
    UInt16 rgnSize;
    Rect rgnBBox;
};
#pragma pack(pop)

struct OpaqueGrafPtr;
using GrafPtr = OpaqueGrafPtr*;
using CGrafPtr = GrafPtr;

using WindowRegionCode = UInt16;
enum : WindowRegionCode {
    kWindowStructureRgn = 32,  // the window with its frame and title bar
    kWindowContentRgn = 33,    // the window's own area, inside the frame
};

enum : OSStatus { errInvalidWindowRef = -5600 };

// The window's port (made on first use, gone with the window); null for null.
CGrafPtr GetWindowPort(WindowRef window);
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);
void SetPortWindowPort(WindowRef window);

// The bounds of a window region in global coordinates, clamped to 16 bits.
// errInvalidWindowRef for a null window, paramErr for another region code.
OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
// Global to local coordinates of the current port; unchanged when no port is
// current or its window is gone.
void GlobalToLocal(Point* pt);

// Moves every side inwards by dh (left and right) and dv (top and bottom); a
// rectangle that becomes empty is set to all zeros.
void InsetRect(Rect* r, SInt16 dh, SInt16 dv);
Boolean EmptyRect(const Rect* r);

// Regions: a new one is empty; null when memory runs out.
RgnHandle NewRgn();
void DisposeRgn(RgnHandle rgn);
void RectRgn(RgnHandle rgn, const Rect* r);
Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds);
