#include "platform/ui/QuickDraw.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include "platform/base/MacMemory.h"
#include "platform/ui/WindowRecords.h"

struct OpaqueGrafPtr {
    QPointer<QWidget> window;
};

namespace {

CWindowRecords<OpaqueGrafPtr> gPorts;
GrafPtr gCurrentPort = nullptr;

bool isLivePort(GrafPtr port) {
    if (!port) return false;
    for (OpaqueGrafPtr* p : gPorts)
        if (p == port) return true;
    return false;
}

SInt16 clamp16(int v) {
    return SInt16(std::clamp(v, -32768, 32767));
}

Rect rectOf(const QRect& r) {
    // QRect's right and bottom are inclusive; a Rect's are exclusive.
    return Rect{clamp16(r.top()), clamp16(r.left()), clamp16(r.top() + r.height()),
                clamp16(r.left() + r.width())};
}

QWidget* currentWindow() {
    return gCurrentPort ? gCurrentPort->window.data() : nullptr;
}

}  // namespace

CGrafPtr GetWindowPort(WindowRef window) {
    if (!window) return nullptr;
    auto it = gPorts.find(window);
    if (it != gPorts.end()) return it.value();
    auto* port = new OpaqueGrafPtr{window};
    gPorts.insert(window, port);
    QObject::connect(window, &QObject::destroyed, [window]() {
        if (decltype(gPorts)::gone()) return;
        OpaqueGrafPtr* gone = gPorts.take(window);
        if (gCurrentPort == gone) gCurrentPort = nullptr;
        delete gone;
    });
    return port;
}

void GetPort(GrafPtr* port) {
    if (port) *port = gCurrentPort;
}

void SetPort(GrafPtr port) {
    gCurrentPort = isLivePort(port) ? port : nullptr;
}

void SetPortWindowPort(WindowRef window) {
    SetPort(GetWindowPort(window));
}

OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds) {
    if (!window) return errInvalidWindowRef;
    if (!globalBounds) return paramErr;
    switch (regionCode) {
        case kWindowContentRgn:
            *globalBounds = rectOf(QRect(window->mapToGlobal(QPoint(0, 0)), window->size()));
            return noErr;
        case kWindowStructureRgn:
            *globalBounds = rectOf(window->frameGeometry());
            return noErr;
        default:
            return paramErr;
    }
}

void GlobalToLocal(Point* pt) {
    QWidget* window = currentWindow();
    if (!pt || !window) return;
    const QPoint local = window->mapFromGlobal(QPoint(pt->h, pt->v));
    pt->h = clamp16(local.x());
    pt->v = clamp16(local.y());
}

void InsetRect(Rect* r, SInt16 dh, SInt16 dv) {
    if (!r) return;
    const int left = r->left + dh, right = r->right - dh;
    const int top = r->top + dv, bottom = r->bottom - dv;
    if (left >= right || top >= bottom) {
        *r = Rect{0, 0, 0, 0};
        return;
    }
    *r = Rect{clamp16(top), clamp16(left), clamp16(bottom), clamp16(right)};
}

Boolean EmptyRect(const Rect* r) {
    return !r || r->left >= r->right || r->top >= r->bottom;
}

RgnHandle NewRgn() {
    Handle h = NewHandleClear(Size(sizeof(MacRegion)));
    if (!h) return nullptr;
    auto rgn = reinterpret_cast<RgnHandle>(h);
    (*rgn)->rgnSize = UInt16(sizeof(MacRegion));
    return rgn;
}

void DisposeRgn(RgnHandle rgn) {
    DisposeHandle(reinterpret_cast<Handle>(rgn));
}

void RectRgn(RgnHandle rgn, const Rect* r) {
    if (!rgn || !*rgn) return;
    Rect box = r ? *r : Rect{0, 0, 0, 0};
    if (EmptyRect(&box)) box = Rect{0, 0, 0, 0};
    (*rgn)->rgnBBox = box;
}

Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds) {
    if (!bounds) return nullptr;
    *bounds = (rgn && *rgn) ? (*rgn)->rgnBBox : Rect{0, 0, 0, 0};
    return bounds;
}
