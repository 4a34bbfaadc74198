#include "platform/Icons.h"

#include <limits.h>

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct OpaqueIconRef {
    QIcon icon;
    int sizes = 0;
};

namespace {
std::map<std::pair<OSType, OSType>, OpaqueIconRef*> gRegistry;
// Every reference ever handed out, owned here so it lives as long as the process.
std::vector<std::unique_ptr<OpaqueIconRef>> gIconRefs;
}

OSErr RegisterIconRefFromFSRef(OSType creator, OSType iconType, const FSRef* iconFile,
                               IconRef* theIconRef) {
    if (!iconFile || !theIconRef) return paramErr;
    *theIconRef = nullptr;
    std::string path(PATH_MAX + 1, '\0');
    OSStatus err =
        FSRefMakePath(iconFile, reinterpret_cast<UInt8*>(path.data()), UInt32(path.size()));
    if (err != noErr) return OSErr(err);
    // Every image of the family: an icns file holds one per size.
    QImageReader reader(QFile::decodeName(path.c_str()));
    auto ref = new OpaqueIconRef;
    do {
        QImage image = reader.read();
        if (image.isNull()) break;
        ref->icon.addPixmap(QPixmap::fromImage(image));
        ++ref->sizes;
    } while (reader.jumpToNextImage());
    if (ref->sizes == 0) {
        delete ref;
        return noSuchIconErr;
    }
    // References stay valid for the life of the process, as callers keep them.
    gIconRefs.emplace_back(ref);
    gRegistry[{creator, iconType}] = ref;
    if (iconType == kApplicationIconType &&
        qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setWindowIcon(ref->icon);
    *theIconRef = ref;
    return noErr;
}

OSErr UnregisterIconRef(OSType creator, OSType iconType) {
    return gRegistry.erase({creator, iconType}) ? OSErr(noErr) : OSErr(noSuchIconErr);
}

IconRef FindRegisteredIcon(OSType creator, OSType iconType) {
    auto it = gRegistry.find({creator, iconType});
    return it == gRegistry.end() ? nullptr : it->second;
}

int IconRefSizeCount(IconRef icon) {
    return icon ? icon->sizes : 0;
}
