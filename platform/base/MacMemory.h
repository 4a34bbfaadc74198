// Nonrelocatable blocks and handles on the C heap. A failed allocation returns
// null; nothing throws.
#pragma once

#include "platform/base/MacTypes.h"

Ptr NewPtr(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);
Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
OSErr SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
void HUnlock(Handle h);

// Test seam: when set, NewPtr/NewHandle ask it first and fail when it says so.
using MemoryFailureHook = bool (*)(Size byteCount);
void SetMemoryFailureHook(MemoryFailureHook hook);
