#include "platform/ui/Drag.h"

#include <sys/stat.h>

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHash>
#include <QHostInfo>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/WindowRecords.h"

struct OpaqueDragRef {
    QPointer<QWidget> window;
    struct Item {
        bool hasHFS = false;
        HFSFlavor hfs{};
    };
    std::vector<Item> items;
    bool hiliteShown = false;
};

namespace {

std::set<DragRef> gLiveDrags;

bool valid(DragRef drag) {
    return drag && gLiveDrags.count(drag) != 0;
}

// The frame drawn over a window's content while an acceptable drag is over it.
// It lets every mouse event through to the window below.
class HiliteFrame : public QWidget {
public:
    explicit HiliteFrame(QWidget* window) : QWidget(window) {
        setObjectName("dragHilite");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }
    void showFrame(const QRect& region, bool inside) {
        region_ = region;
        inside_ = inside;
        setGeometry(parentWidget()->rect());
        raise();
        show();
        update();
    }
    QRect region() const { return region_; }

protected:
    void paintEvent(QPaintEvent*) override {
        constexpr int kThickness = 3;
        QRect outer =
            inside_ ? region_ : region_.adjusted(-kThickness, -kThickness, kThickness, kThickness);
        QRect inner = outer.adjusted(kThickness, kThickness, -kThickness, -kThickness);
        QPainter painter(this);
        QRegion frame = QRegion(outer).subtracted(QRegion(inner));
        for (const QRect& r : frame) painter.fillRect(r, palette().color(QPalette::Highlight));
    }

private:
    QRect region_;
    bool inside_ = true;
};

HiliteFrame* hiliteOf(QWidget* window, bool make) {
    if (!window) return nullptr;
    auto* frame = window->findChild<HiliteFrame*>("dragHilite", Qt::FindDirectChildrenOnly);
    if (!frame && make) frame = new HiliteFrame(window);
    return frame;
}

class DragFilter;

// The handlers of one window and the drag now over it.
struct WindowDrag {
    DragTrackingHandlerUPP tracking = nullptr;
    void* trackingRefCon = nullptr;
    DragReceiveHandlerUPP receive = nullptr;
    void* receiveRefCon = nullptr;
    DragRef active = nullptr;
    bool accepted = false;
    DragFilter* filter = nullptr;
};

CWindowRecords<WindowDrag> gTargets;

// The action a drop asks of the source: a copy, so that no source ever deletes
// what it dragged here; a link when the source offers no copy.
void acceptAsCopy(QDropEvent* event) {
    const Qt::DropActions offered = event->possibleActions();
    if (offered & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (offered & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        event->setDropAction(event->proposedAction());
    event->accept();
}

OSErr track(QWidget* window, WindowDrag* t, DragTrackingMessage message) {
    if (!t->tracking || !t->active) return noErr;
    return t->tracking(message, window, t->trackingRefCon, t->active);
}

// The drag leaves the window: the leave messages, then the drag is released.
void endDrag(QWidget* window, WindowDrag* t) {
    if (!t->active) return;
    track(window, t, kDragTrackingLeaveWindow);
    track(window, t, kDragTrackingLeaveHandler);
    DragRef drag = t->active;
    t->active = nullptr;
    t->accepted = false;
    DisposeDrag(drag);
}

class DragFilter : public QObject {
public:
    explicit DragFilter(QWidget* window) : QObject(window), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_) return false;
        WindowDrag* t = gTargets.value(window_);
        if (!t) return false;
        switch (event->type()) {
            case QEvent::DragEnter: {
                auto* e = static_cast<QDragEnterEvent*>(event);
                endDrag(window_, t);
                if (NewDragFromMimeData(e->mimeData(), window_, &t->active) != noErr) {
                    e->ignore();
                    return true;
                }
                // Only the answer to entering the handler decides whether the
                // window takes the drag.
                const OSErr status = track(window_, t, kDragTrackingEnterHandler);
                track(window_, t, kDragTrackingEnterWindow);
                t->accepted = status == noErr && t->receive != nullptr;
                if (t->accepted)
                    acceptAsCopy(e);
                else
                    e->ignore();
                return true;
            }
            case QEvent::DragMove: {
                auto* e = static_cast<QDragMoveEvent*>(event);
                if (!t->active) {
                    e->ignore();
                    return true;
                }
                track(window_, t, kDragTrackingInWindow);
                if (t->accepted)
                    acceptAsCopy(e);
                else
                    e->ignore();
                return true;
            }
            case QEvent::DragLeave:
                endDrag(window_, t);
                return true;
            case QEvent::Drop: {
                auto* e = static_cast<QDropEvent*>(event);
                if (!t->active &&
                    NewDragFromMimeData(e->mimeData(), window_, &t->active) != noErr) {
                    e->ignore();
                    return true;
                }
                // As with the drag manager, the hilite goes before the drop is
                // received.
                track(window_, t, kDragTrackingLeaveWindow);
                track(window_, t, kDragTrackingLeaveHandler);
                DragRef drag = t->active;
                t->active = nullptr;
                t->accepted = false;
                OSErr status = dragNotAcceptedErr;
                if (t->receive) status = t->receive(window_, t->receiveRefCon, drag);
                DisposeDrag(drag);
                if (status == noErr)
                    acceptAsCopy(e);
                else
                    e->ignore();
                return true;
            }
            case QEvent::Resize:
                if (HiliteFrame* frame = hiliteOf(window_, false))
                    frame->setGeometry(window_->rect());
                return false;
            default:
                return false;
        }
    }

private:
    QWidget* window_;
};

WindowDrag* targetFor(QWidget* window, bool make) {
    WindowDrag* t = gTargets.value(window);
    if (t || !make) return t;
    t = new WindowDrag;
    t->filter = new DragFilter(window);
    window->installEventFilter(t->filter);
    gTargets.insert(window, t);
    QObject::connect(window, &QObject::destroyed, [window]() {
        if (decltype(gTargets)::gone()) return;
        WindowDrag* gone = gTargets.take(window);
        if (!gone) return;
        if (gone->active) DisposeDrag(gone->active);
        delete gone;
    });
    return t;
}

// Forgets the window's target once it has no handler left.
void dropTargetIfUnused(QWidget* window, WindowDrag* t) {
    if (t->tracking || t->receive) return;
    if (t->active) {
        DragRef drag = t->active;
        t->active = nullptr;
        DisposeDrag(drag);
    }
    window->removeEventFilter(t->filter);
    delete t->filter;
    window->setAcceptDrops(false);
    delete gTargets.take(window);
}

// The path of a local file URL as raw bytes (names need not be UTF-8): empty
// for any other URL. file:///path, file://localhost/path, file://<this host>/path
// and file:/path are local.
std::string localPathOfURL(const QByteArray& url) {
    if (url.size() < 6 || qstrnicmp(url.constData(), "file:", 5) != 0) return {};
    QByteArray rest = url.mid(5);
    if (rest.startsWith("//")) {
        const int slash = int(rest.indexOf('/', 2));
        if (slash < 0) return {};
        const QByteArray host = rest.mid(2, slash - 2);
        if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0 &&
            host.compare(QHostInfo::localHostName().toUtf8(), Qt::CaseInsensitive) != 0)
            return {};
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/')) return {};
    const qsizetype query = rest.indexOf('?');
    const qsizetype fragment = rest.indexOf('#');
    qsizetype cut = -1;
    if (query >= 0) cut = query;
    if (fragment >= 0 && (cut < 0 || fragment < cut)) cut = fragment;
    if (cut >= 0) rest.truncate(cut);
    const QByteArray path = QByteArray::fromPercentEncoding(rest);
    if (path.isEmpty() || path.contains('\0')) return {};
    return std::string(path.constData(), size_t(path.size()));
}

bool isVolumeRoot(const std::string& path) {
    if (path == "/") return true;
    struct stat self, parent;
    if (::lstat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
    if (::stat((path + "/..").c_str(), &parent) != 0) return false;
    return self.st_dev != parent.st_dev;
}

// The 'hfs ' data of the object at path: false when no FSSpec can name it.
bool makeHFSFlavor(const std::string& path, HFSFlavor* hfs) {
    std::memset(hfs, 0, sizeof *hfs);
    FSRef ref;
    Boolean isFolder = false;
    OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &isFolder);
    if (err == noErr) {
        FSCatalogInfo info{};
        err = FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info, nullptr,
                               &hfs->fileSpec, nullptr);
        if (err != noErr) {
            // Finder info in a sidecar that cannot be read: the object is
            // still there to be named.
            std::memset(&info, 0, sizeof info);
            err = FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, &hfs->fileSpec,
                                   nullptr);
            if (err != noErr) return false;
        }
        if (info.nodeFlags & kFSNodeIsDirectoryMask) {
            hfs->fileType = isVolumeRoot(path) ? FOUR_CHAR_CODE("disk") : FOUR_CHAR_CODE("fold");
            hfs->fileCreator = FOUR_CHAR_CODE("MACS");
        } else {
            FileInfo finder;
            std::memcpy(&finder, info.finderInfo, sizeof finder);
            hfs->fileType = finder.fileType;
            hfs->fileCreator = finder.fileCreator;
            hfs->fdFlags = finder.finderFlags;
        }
        return true;
    }
    if (err != fnfErr) return false;
    // Gone already: its name in its folder, as a source that made the data
    // before the object went would still hand it over.
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos) return false;
    const std::string name = trimmed.substr(slash + 1);
    const std::string folder = slash == 0 ? "/" : trimmed.substr(0, slash);
    if (name.empty() || name == "." || name == ".." || name.size() > 63) return false;
    FSRef folderRef;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &folderRef, nullptr) != noErr)
        return false;
    FSCatalogInfo info{};
    if (FSGetCatalogInfo(&folderRef, kFSCatInfoNodeID | kFSCatInfoVolume | kFSCatInfoNodeFlags,
                         &info, nullptr, nullptr, nullptr) != noErr ||
        !(info.nodeFlags & kFSNodeIsDirectoryMask))
        return false;
    hfs->fileSpec.vRefNum = info.volume;
    hfs->fileSpec.parID = SInt32(info.nodeID);
    hfs->fileSpec.name[0] = UInt8(name.size());
    std::memcpy(hfs->fileSpec.name + 1, name.data(), name.size());
    return true;
}

const OpaqueDragRef::Item* itemOf(DragRef drag, DragItemRef itemRef) {
    if (itemRef < 1 || itemRef > drag->items.size()) return nullptr;
    return &drag->items[itemRef - 1];
}

}  // namespace

OSErr InstallTrackingHandler(DragTrackingHandlerUPP handler, WindowRef window, void* refCon) {
    if (!handler || !window) return paramErr;
    WindowDrag* t = targetFor(window, true);
    if (t->tracking) return duplicateHandlerErr;
    t->tracking = handler;
    t->trackingRefCon = refCon;
    window->setAcceptDrops(true);
    return noErr;
}

OSErr InstallReceiveHandler(DragReceiveHandlerUPP handler, WindowRef window, void* refCon) {
    if (!handler || !window) return paramErr;
    WindowDrag* t = targetFor(window, true);
    if (t->receive) return duplicateHandlerErr;
    t->receive = handler;
    t->receiveRefCon = refCon;
    window->setAcceptDrops(true);
    return noErr;
}

OSErr RemoveTrackingHandler(DragTrackingHandlerUPP handler, WindowRef window) {
    if (!handler || !window) return paramErr;
    WindowDrag* t = targetFor(window, false);
    if (!t || t->tracking != handler) return handlerNotFoundErr;
    t->tracking = nullptr;
    t->trackingRefCon = nullptr;
    dropTargetIfUnused(window, t);
    return noErr;
}

OSErr RemoveReceiveHandler(DragReceiveHandlerUPP handler, WindowRef window) {
    if (!handler || !window) return paramErr;
    WindowDrag* t = targetFor(window, false);
    if (!t || t->receive != handler) return handlerNotFoundErr;
    t->receive = nullptr;
    t->receiveRefCon = nullptr;
    dropTargetIfUnused(window, t);
    return noErr;
}

OSErr CountDragItems(DragRef drag, UInt16* numItems) {
    if (!valid(drag)) return badDragRefErr;
    if (!numItems) return paramErr;
    *numItems = UInt16(drag->items.size());
    return noErr;
}

OSErr GetDragItemReferenceNumber(DragRef drag, UInt16 index, DragItemRef* itemRef) {
    if (!valid(drag)) return badDragRefErr;
    if (!itemRef) return paramErr;
    if (index < 1 || index > drag->items.size()) return badDragItemErr;
    *itemRef = index;
    return noErr;
}

OSErr GetFlavorFlags(DragRef drag, DragItemRef itemRef, FlavorType type, FlavorFlags* flags) {
    if (!valid(drag)) return badDragRefErr;
    const auto* item = itemOf(drag, itemRef);
    if (!item) return badDragItemErr;
    if (type != flavorTypeHFS || !item->hasHFS) return badDragFlavorErr;
    if (flags) *flags = 0;
    return noErr;
}

OSErr GetFlavorData(DragRef drag, DragItemRef itemRef, FlavorType type, void* dataPtr,
                    Size* dataSize, UInt32 dataOffset) {
    OSErr err = GetFlavorFlags(drag, itemRef, type, nullptr);
    if (err != noErr) return err;
    if (!dataPtr || !dataSize || *dataSize < 0) return paramErr;
    if (dataOffset > sizeof(HFSFlavor)) return cantGetFlavorErr;
    const size_t available = sizeof(HFSFlavor) - dataOffset;
    const size_t count = std::min<size_t>(size_t(*dataSize), available);
    std::memcpy(dataPtr, reinterpret_cast<const UInt8*>(&itemOf(drag, itemRef)->hfs) + dataOffset,
                count);
    *dataSize = Size(count);
    return noErr;
}

OSErr ShowDragHilite(DragRef drag, RgnHandle hiliteFrame, Boolean inside) {
    if (!valid(drag)) return badDragRefErr;
    if (!hiliteFrame || !*hiliteFrame) return paramErr;
    HiliteFrame* frame = hiliteOf(drag->window, true);
    if (!frame) return badDragRefErr;
    Rect r;
    GetRegionBounds(hiliteFrame, &r);
    frame->showFrame(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)), inside);
    drag->hiliteShown = true;
    return noErr;
}

OSErr HideDragHilite(DragRef drag) {
    if (!valid(drag)) return badDragRefErr;
    if (!drag->hiliteShown) return noErr;
    drag->hiliteShown = false;
    if (HiliteFrame* frame = hiliteOf(drag->window, false)) frame->hide();
    return noErr;
}

OSErr NewDragFromMimeData(const QMimeData* data, WindowRef window, DragRef* drag) {
    if (!drag) return paramErr;
    *drag = nullptr;
    auto* made = new OpaqueDragRef;
    made->window = window;
    if (data && data->hasFormat("text/uri-list")) {
        const QList<QByteArray> lines = data->data("text/uri-list").split('\n');
        for (QByteArray line : lines) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            // The count of a drag's items is 16 bits wide.
            if (made->items.size() == 0xFFFF) break;
            OpaqueDragRef::Item item;
            const std::string path = localPathOfURL(line);
            if (!path.empty()) item.hasHFS = makeHFSFlavor(path, &item.hfs);
            made->items.push_back(item);
        }
    }
    gLiveDrags.insert(made);
    *drag = made;
    return noErr;
}

OSErr DisposeDrag(DragRef drag) {
    if (!valid(drag)) return badDragRefErr;
    HideDragHilite(drag);
    gLiveDrags.erase(drag);
    delete drag;
    return noErr;
}

Boolean GetDragHiliteBounds(WindowRef window, Rect* bounds) {
    HiliteFrame* frame = hiliteOf(window, false);
    if (!frame || frame->isHidden()) return false;
    if (bounds) {
        const QRect r = frame->region();
        *bounds = Rect{SInt16(r.top()), SInt16(r.left()), SInt16(r.top() + r.height()),
                       SInt16(r.left() + r.width())};
    }
    return true;
}
