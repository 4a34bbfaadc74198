#include "processing/ItemScreening.h"

#include <string>
#include <unordered_map>

#include "platform/files/FilesExtra.h"

namespace {

// The object's path as the reference table names it: the same object named
// twice, even through "..", or a symbolic link on the way, gives the same
// text. Empty when it cannot be had.
std::string pathOf(const FSRef& ref, std::vector<UInt8>* buffer) {
    if (FSRefMakePath(&ref, buffer->data(), UInt32(buffer->size())) != noErr) return {};
    return std::string(reinterpret_cast<const char*>(buffer->data()));
}

bool volumeOf(const FSRef& ref, FSVolumeRefNum* volume) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr) != noErr)
        return false;
    *volume = info.volume;
    return true;
}

}  // namespace

void ScreenItems(std::vector<CScreenedItem>* items) {
    std::vector<UInt8> buffer(1 << 16);
    std::vector<std::string> paths(items->size());
    std::unordered_map<std::string, std::size_t> first;
    bool anyFolder = false;
    for (std::size_t i = 0; i < items->size(); ++i) {
        CScreenedItem& item = (*items)[i];
        item.verdict = ItemVerdict::Handle;
        Boolean companion = false;
        if (FSIsForkCompanion(&item.ref, &companion) == noErr && companion) {
            item.verdict = ItemVerdict::Companion;
            continue;
        }
        paths[i] = pathOf(item.ref, &buffer);
        if (paths[i].empty()) continue;
        auto [at, added] = first.emplace(paths[i], i);
        if (!added) {
            item.verdict = ItemVerdict::Repeated;
            item.other = at->second;
        } else if (item.isFolder) {
            anyFolder = true;
        }
    }
    if (!anyFolder) return;

    // An item below a folder of the run is taken in by that folder's walk,
    // unless another file system is mounted on the way (a walk stays on its
    // own): then it is handled by itself. The outermost such folder is named.
    std::unordered_map<std::string, std::size_t> folders;
    for (std::size_t i = 0; i < items->size(); ++i)
        if ((*items)[i].isFolder && (*items)[i].verdict == ItemVerdict::Handle && !paths[i].empty())
            folders.emplace(paths[i], i);
    for (std::size_t i = 0; i < items->size(); ++i) {
        CScreenedItem& item = (*items)[i];
        const std::string& path = paths[i];
        if (item.verdict != ItemVerdict::Handle || path.size() < 2) continue;
        FSVolumeRefNum volume = 0;
        bool volumeKnown = false;
        // Every folder above the item, outermost first: "/a/b/c" has "/",
        // "/a" and "/a/b".
        for (std::size_t cut = 0; cut != std::string::npos && cut < path.size();
             cut = path.find('/', cut + 1)) {
            auto folder = folders.find(cut ? path.substr(0, cut) : std::string("/"));
            if (folder == folders.end()) continue;
            if (!volumeKnown && !(volumeKnown = volumeOf(item.ref, &volume))) break;
            FSVolumeRefNum folderVolume;
            if (volumeOf((*items)[folder->second].ref, &folderVolume) && folderVolume == volume) {
                item.verdict = ItemVerdict::Inside;
                item.other = folder->second;
                break;
            }
        }
    }
}
