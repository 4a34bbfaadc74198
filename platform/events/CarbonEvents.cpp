#include "platform/events/CarbonEvents.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/files/linux/PathNodes.h"
#include "platform/ui/WindowRecords.h"

struct OpaqueEventRef {
    UInt32 eventClass;
    UInt32 kind;
    int refCount = 1;
    struct Param {
        EventParamType type;
        std::vector<UInt8> bytes;
    };
    std::map<EventParamName, Param> params;
};

struct OpaqueEventHandlerRef {
    EventTargetRef target;
    EventHandlerUPP proc;
    std::vector<EventTypeSpec> types;
    void* userData;
};

struct OpaqueEventTargetRef {
    EventTargetRef parent = nullptr;
    // Shared owners, so that a handler removed while an event is being
    // dispatched stays valid until the dispatch is done with it.
    std::vector<std::shared_ptr<OpaqueEventHandlerRef>> handlers;
};

struct OpaqueEventLoopTimerRef {
    QPointer<QTimer> timer;
    EventLoopTimerUPP proc;
    void* userData;
    bool repeating;
    bool owned;  // the caller holds the reference
};

namespace {

OpaqueEventTargetRef gApplicationTarget;
// Handler references in force: removing one twice, or one of a window that is
// gone, is refused instead of touching freed memory.
std::set<EventHandlerRef> gLiveHandlers;
CWindowRecords<OpaqueEventTargetRef> gWindowTargets;
OpaqueEventLoopRef* const kMainLoop = reinterpret_cast<OpaqueEventLoopRef*>(&gApplicationTarget);

bool handles(const OpaqueEventHandlerRef& h, UInt32 eventClass, UInt32 kind) {
    for (const EventTypeSpec& t : h.types)
        if (t.eventClass == eventClass && t.eventKind == kind) return true;
    return false;
}

// What the platform does with an event nobody took: 'quit' ends the loop.
OSStatus standardHandling(EventRef event) {
    if (event->eventClass == kEventClassCommand && event->kind == kEventCommandProcess) {
        HICommand command;
        if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr,
                              sizeof command, nullptr, &command) == noErr &&
            command.commandID == kHICommandQuit) {
            QuitApplicationEventLoop();
            return noErr;
        }
    }
    return eventNotHandledErr;
}

}  // namespace

EventLoopRef GetCurrentEventLoop() {
    return kMainLoop;
}

void RunApplicationEventLoop() {
    // Windows are hidden and closed by the application itself; the loop ends
    // only by the quit handling.
    QApplication::setQuitOnLastWindowClosed(false);
    // While the program waits, the File Manager keeps no folder open: a
    // volume a run went through can be unmounted once the run is over.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] { pathnodes::releaseKeptFolder(); });
    QApplication::exec();
}

void QuitApplicationEventLoop() {
    QCoreApplication::quit();
}

OSStatus InstallEventLoopTimer(EventLoopRef loop, EventTimerInterval fireDelay,
                               EventTimerInterval interval, EventLoopTimerUPP proc, void* userData,
                               EventLoopTimerRef* outTimer) {
    if (!loop || !proc || fireDelay < 0 || interval < 0) return paramErr;
    auto* ref =
        new OpaqueEventLoopTimerRef{nullptr, proc, userData, interval > 0, outTimer != nullptr};
    auto* timer = new QTimer(QCoreApplication::instance());
    ref->timer = timer;
    // A precise timer: a coarse one may fire up to 5% early.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    auto toMs = [](EventTimerInterval s) { return int(std::min(s * 1000.0 + 0.5, 2.0e9)); };
    timer->setInterval(toMs(fireDelay));
    const int repeatMs = toMs(interval);
    QObject::connect(timer, &QTimer::timeout, timer, [ref, timer, repeatMs]() {
        if (ref->repeating) {
            timer->setSingleShot(false);
            timer->start(repeatMs);
        }
        const bool selfOwned = !ref->repeating && !ref->owned;
        EventLoopTimerUPP proc = ref->proc;
        void* data = ref->userData;
        if (selfOwned) {
            // Gone before the callback runs: the callback may run a long
            // nested loop or never return.
            timer->deleteLater();
            delete ref;
            proc(nullptr, data);
        } else {
            proc(ref, data);
        }
    });
    timer->start();
    if (outTimer) *outTimer = ref;
    return noErr;
}

Boolean WaitNextEvent(EventMask, EventRecord* theEvent, UInt32 sleep, RgnHandle) {
    if (theEvent) std::memset(theEvent, 0, sizeof *theEvent);
    if (sleep == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        // Sleep is in ticks of 1/60 s: wait for something to happen, no longer.
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(int(std::min<UInt64>(UInt64(sleep) * 1000 / 60, 1u << 30)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return false;
}

OSStatus CreateEvent(void*, UInt32 eventClass, UInt32 kind, EventTime, UInt32, EventRef* outEvent) {
    if (!outEvent) return paramErr;
    *outEvent = new OpaqueEventRef{eventClass, kind, 1, {}};
    return noErr;
}

EventRef RetainEvent(EventRef event) {
    if (event) ++event->refCount;
    return event;
}

void ReleaseEvent(EventRef event) {
    if (event && --event->refCount == 0) delete event;
}

UInt32 GetEventClass(EventRef event) {
    return event ? event->eventClass : 0;
}
UInt32 GetEventKind(EventRef event) {
    return event ? event->kind : 0;
}

OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, ByteCount size,
                           const void* data) {
    if (!event || (size && !data)) return paramErr;
    auto bytes = static_cast<const UInt8*>(data);
    event->params[name] = {type, std::vector<UInt8>(bytes, bytes + size)};
    return noErr;
}

OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize,
                           ByteCount* outActualSize, void* outData) {
    if (!event) return paramErr;
    auto it = event->params.find(name);
    if (it == event->params.end()) return eventParameterNotFoundErr;
    const auto& param = it->second;
    if (desiredType != FOUR_CHAR_CODE("****") && desiredType != param.type)
        return errAECoercionFail;
    if (outActualType) *outActualType = param.type;
    if (outActualSize) *outActualSize = ByteCount(param.bytes.size());
    if (outData)
        std::memcpy(outData, param.bytes.data(), std::min<size_t>(bufferSize, param.bytes.size()));
    return noErr;
}

EventTargetRef GetApplicationEventTarget() {
    return &gApplicationTarget;
}

EventTargetRef GetWindowEventTarget(WindowRef window) {
    if (!window) return nullptr;
    auto it = gWindowTargets.find(window);
    if (it != gWindowTargets.end()) return it.value();
    auto* target = new OpaqueEventTargetRef;
    target->parent = &gApplicationTarget;
    gWindowTargets.insert(window, target);
    QObject::connect(window, &QObject::destroyed, [window]() {
        // Handler references of a destroyed window are released with it.
        if (decltype(gWindowTargets)::gone()) return;
        EventTargetRef target = gWindowTargets.take(window);
        for (const auto& h : target->handlers) gLiveHandlers.erase(h.get());
        delete target;
    });
    return target;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!target || !handler || (numTypes && !list)) return paramErr;
    auto ref = std::make_shared<OpaqueEventHandlerRef>(OpaqueEventHandlerRef{
        target, handler, std::vector<EventTypeSpec>(list, list + numTypes), userData});
    target->handlers.push_back(ref);
    gLiveHandlers.insert(ref.get());
    if (outRef) *outRef = ref.get();
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handlerRef) {
    if (!handlerRef || !gLiveHandlers.erase(handlerRef)) return paramErr;
    auto& handlers = handlerRef->target->handlers;
    for (auto it = handlers.begin(); it != handlers.end(); ++it) {
        if (it->get() == handlerRef) {
            handlers.erase(it);
            return noErr;
        }
    }
    return paramErr;
}

OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target) {
    if (!event || !target) return paramErr;
    RetainEvent(event);
    OSStatus status = eventNotHandledErr;
    for (EventTargetRef t = target, next = nullptr; t && status == eventNotHandledErr; t = next) {
        // Copies: handlers may install or remove handlers, or close their
        // window, while they run.
        next = t->parent;
        const auto handlers = t->handlers;
        for (const auto& h : handlers) {
            if (!handles(*h, event->eventClass, event->kind)) continue;
            status = h->proc(nullptr, event, h->userData);
            if (status != eventNotHandledErr) break;
        }
    }
    if (status == eventNotHandledErr) status = standardHandling(event);
    ReleaseEvent(event);
    return status;
}

OSStatus ProcessHICommandFromWindow(const HICommand& command, WindowRef window) {
    EventRef event = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
    SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    EventTargetRef target = window ? GetWindowEventTarget(window) : GetApplicationEventTarget();
    OSStatus status = SendEventToEventTarget(event, target);
    ReleaseEvent(event);
    return status;
}
