#include "platform/ui/Icons.h"

#include <limits.h>

#include <QApplication>
#include <QDir>
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

// Registers a new reference; the application's own icon becomes its windows'.
void keep(OSType creator, OSType iconType, OpaqueIconRef* ref) {
    gIconRefs.emplace_back(ref);
    gRegistry[{creator, iconType}] = ref;
    if (iconType == kApplicationIconType &&
        qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setWindowIcon(ref->icon);
}
}  // namespace

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
    keep(creator, iconType, ref);
    *theIconRef = ref;
    return noErr;
}

OSErr RegisterIconRefFromThemeName(OSType creator, OSType iconType, const char* name,
                                   const char* extraFolder, IconRef* theIconRef) {
    if (!name || !*name || !theIconRef) return paramErr;
    *theIconRef = nullptr;
    const QString file = QString::fromUtf8(name) + QStringLiteral(".png");
    QIcon icon;
    int sizes = 0;
    // The hicolor theme's bitmaps in the extra folder, read directly: it may
    // lack the theme's index, which Qt's theme lookup needs.
    if (extraFolder && *extraFolder) {
        const QDir hicolor(QFile::decodeName(extraFolder) + QStringLiteral("/hicolor"));
        for (const QString& size : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString path = hicolor.filePath(size + QStringLiteral("/apps/") + file);
            const QImage image(path);
            if (image.isNull()) continue;
            icon.addPixmap(QPixmap::fromImage(image));
            ++sizes;
        }
    }
    if (sizes == 0) {
        icon = QIcon::fromTheme(QString::fromUtf8(name));
        sizes = int(icon.availableSizes().size());
    }
    if (icon.isNull() || sizes == 0) return noSuchIconErr;
    auto ref = new OpaqueIconRef;
    ref->icon = icon;
    ref->sizes = sizes;
    keep(creator, iconType, ref);
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
