#include "testkit/Refs.h"

#include <gtest/gtest.h>

#include <QMimeData>
#include <vector>

namespace testsupport {

FSRef refOf(const std::string& path, OSErr* result, Boolean* isDir) {
    FSRef ref{};
    const OSErr err =
        OSErr(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, isDir));
    if (result)
        *result = err;
    else
        EXPECT_EQ(err, noErr) << path;
    return ref;
}

std::string pathOf(const FSRef& ref) {
    std::vector<UInt8> buf(65536);
    if (FSRefMakePath(&ref, buf.data(), UInt32(buf.size())) != noErr) return "<no path>";
    return reinterpret_cast<char*>(buf.data());
}

std::string asciiName(const HFSUniStr255& name) {
    std::string s;
    for (int i = 0; i < name.length; ++i) s += name.unicode[i] < 0x80 ? char(name.unicode[i]) : '?';
    return s;
}

std::vector<std::string> listNames(const std::string& folder) {
    std::vector<std::string> names;
    FSRef ref = refOf(folder);
    FSIterator it = nullptr;
    EXPECT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &it), noErr);
    OSErr err = noErr;
    while (err == noErr) {
        ItemCount count = 0;
        HFSUniStr255 name;
        err = FSGetCatalogInfoBulk(it, 1, &count, nullptr, 0, nullptr, nullptr, nullptr, &name);
        if (count == 1) names.push_back(asciiName(name));
    }
    EXPECT_EQ(err, errFSNoMoreItems);
    FSCloseIterator(it);
    return names;
}

bool directObjectItems(const AppleEvent* event, std::vector<DescType>* types,
                       std::vector<std::string>* paths) {
    AEDescList list;
    if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) != noErr) return false;
    long count = 0;
    AECountItems(&list, &count);
    for (long i = 1; i <= count; ++i) {
        DescType type = 0;
        AEGetNthPtr(&list, i, typeWildCard, nullptr, &type, nullptr, 0, nullptr);
        types->push_back(type);
        FSRef ref;
        const bool resolved =
            AEGetNthPtr(&list, i, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr) == noErr;
        paths->push_back(resolved ? pathOf(ref) : "");
        if (paths->back() == "<no path>") paths->back().clear();
    }
    AEDisposeDesc(&list);
    return true;
}

QByteArray fileURL(const std::string& path) {
    return "file://" + QByteArray(path.data(), qsizetype(path.size())).toPercentEncoding("/");
}

QMimeData* uriList(const std::vector<std::string>& paths, const std::vector<QByteArray>& others) {
    QByteArray list;
    for (const std::string& p : paths) list += fileURL(p) + "\r\n";
    for (const QByteArray& o : others)
        if (!o.isEmpty()) list += o + "\r\n";
    auto* data = new QMimeData;
    data->setData("text/uri-list", list);
    return data;
}

}  // namespace testsupport
