// Carbon event services over the Qt event loop: the application loop, one-shot
// timers, the yield, event targets (the application's and one per window) with
// handlers for {class, kind}, and command events carrying an HICommand.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

class QWidget;

struct OpaqueEventRef;
using EventRef = OpaqueEventRef*;
struct OpaqueEventTargetRef;
using EventTargetRef = OpaqueEventTargetRef*;
struct OpaqueEventHandlerRef;
using EventHandlerRef = OpaqueEventHandlerRef*;
struct OpaqueEventHandlerCallRef;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
struct OpaqueEventLoopRef;
using EventLoopRef = OpaqueEventLoopRef*;
struct OpaqueEventLoopTimerRef;
using EventLoopTimerRef = OpaqueEventLoopTimerRef*;
struct OpaqueMenuRef;
using MenuRef = OpaqueMenuRef*;
struct MacRegion;
using RgnHandle = MacRegion**;

// Windows and controls are widgets; the application only passes them around.
using WindowRef = QWidget*;
using ControlRef = QWidget*;

using EventParamName = OSType;
using EventParamType = OSType;
using EventTime = double;
using EventTimerInterval = double;
using MenuItemIndex = UInt16;
using MenuCommand = UInt32;
using EventMask = UInt16;
using EventKind = UInt16;
using EventModifiers = UInt16;

constexpr EventTime kEventDurationSecond = 1.0;
constexpr EventTime kEventDurationMillisecond = 0.001;

struct EventTypeSpec {
    UInt32 eventClass;
    UInt32 eventKind;
};

#pragma pack(push, 2)
struct HICommand {
    UInt32 attributes;
    UInt32 commandID;
    struct {
        MenuRef menuRef;
        MenuItemIndex menuItemIndex;
    } menu;
};
#pragma pack(pop)

struct EventRecord {
    EventKind what;
    UInt32 message;
    UInt32 when;
    Point where;
    EventModifiers modifiers;
};

enum : UInt32 {
    kEventClassCommand = FOUR_CHAR_CODE("cmds"),
    kEventClassWindow = FOUR_CHAR_CODE("wind"),
    kEventCommandProcess = 1,
    kEventWindowClose = 72,
};

enum : OSType {
    kEventParamDirectObject = FOUR_CHAR_CODE("----"),
    typeHICommand = FOUR_CHAR_CODE("hcmd"),
    typeWindowRef = FOUR_CHAR_CODE("wind"),
    kHICommandOK = FOUR_CHAR_CODE("ok  "),
    kHICommandCancel = FOUR_CHAR_CODE("not!"),
    kHICommandQuit = FOUR_CHAR_CODE("quit"),
    kHICommandPreferences = FOUR_CHAR_CODE("pref"),
    kHICommandOpen = FOUR_CHAR_CODE("open"),
    kHICommandShowDetails = FOUR_CHAR_CODE("dtls"),  // the last run's failures
};

enum : OSStatus { eventParameterNotFoundErr = -9870, eventInternalErr = -9868 };

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef, EventRef, void*);
using EventHandlerUPP = EventHandlerProcPtr;
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) {
    return proc;
}
using EventLoopTimerProcPtr = void (*)(EventLoopTimerRef, void*);
using EventLoopTimerUPP = EventLoopTimerProcPtr;
inline EventLoopTimerUPP NewEventLoopTimerUPP(EventLoopTimerProcPtr proc) {
    return proc;
}

// The event loop. Running it is QApplication::exec(); quitting ends it.
EventLoopRef GetCurrentEventLoop();
void RunApplicationEventLoop();
void QuitApplicationEventLoop();

// A timer on the main thread. Interval 0 fires once, no sooner than fireDelay
// seconds; a one-shot timer whose reference was not asked for frees itself.
// Nothing removes a timer: a repeating one, or one whose reference was asked
// for, lasts as long as the process.
OSStatus InstallEventLoopTimer(EventLoopRef loop, EventTimerInterval fireDelay,
                               EventTimerInterval interval, EventLoopTimerUPP proc, void* userData,
                               EventLoopTimerRef* outTimer);

// One pass of the loop: pending input, posted events, timers and paints are
// dispatched. With sleep 0 it returns at once when nothing is pending. No event
// is ever handed to the caller, so the result is always false.
Boolean WaitNextEvent(EventMask eventMask, EventRecord* theEvent, UInt32 sleep, RgnHandle mouseRgn);

// Events, their parameters (type code plus bytes) and targets.
OSStatus CreateEvent(void* allocator, UInt32 eventClass, UInt32 kind, EventTime when,
                     UInt32 attributes, EventRef* outEvent);
EventRef RetainEvent(EventRef event);
void ReleaseEvent(EventRef event);
UInt32 GetEventClass(EventRef event);
UInt32 GetEventKind(EventRef event);
OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, ByteCount size,
                           const void* data);
// Copies at most bufferSize bytes; the parameter's own type must match desiredType
// (or desiredType is typeWildCard '****').
OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize,
                           ByteCount* outActualSize, void* outData);

EventTargetRef GetApplicationEventTarget();
EventTargetRef GetWindowEventTarget(WindowRef window);
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handlerRef);
inline OSStatus InstallApplicationEventHandler(EventHandlerUPP handler, ItemCount numTypes,
                                               const EventTypeSpec* list, void* userData,
                                               EventHandlerRef* outRef) {
    return InstallEventHandler(GetApplicationEventTarget(), handler, numTypes, list, userData,
                               outRef);
}

// Sends the event to the target's handlers in the order they were installed;
// a handler's eventNotHandledErr passes it on, to the next handler, then to the
// parent target (a window's parent is the application), then to the standard
// handling. Returns the status of the handler that took it, or the standard
// handling's status.
OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target);

// Sends the command {'cmds', 1} with this HICommand as its direct parameter to
// the window's target (or the application's when window is null).
OSStatus ProcessHICommandFromWindow(const HICommand& command, WindowRef window);
