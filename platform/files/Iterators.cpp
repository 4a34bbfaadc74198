// Folder iterators: FSOpenIterator reads a folder once into a sorted list of
// its visible entries; FSGetCatalogInfoBulk hands them out with their catalog
// records, references, specs and names.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files/CatalogRecords.h"
#include "platform/files/FileNames.h"
#include "platform/files/Files.h"
#include "platform/files/FolderListing.h"
#include "platform/files/linux/PathNodes.h"

using namespace pathnodes;

struct OpaqueFSIterator {
    NodeID container = kNoNode;
    CDirFd folder;
    std::vector<listing::Entry> entries;
    std::size_t next = 0;
    struct statx_timestamp modified {};
    struct statx_timestamp changed {};
    UInt64 dev = 0;  // the folder's
    UInt64 ino = 0;
    bool changedSeen = false;  // the folder was seen changed since it was read
};

namespace {

std::vector<std::unique_ptr<OpaqueFSIterator>> gIterators;

bool isOpen(FSIterator iterator) {
    return iterator && std::any_of(gIterators.begin(), gIterators.end(),
                                   [&](const auto& p) { return p.get() == iterator; });
}

bool sameTime(const struct statx_timestamp& a, const struct statx_timestamp& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator) {
    if (!iterator) return paramErr;
    *iterator = nullptr;
    if (iteratorFlags != kFSIterateFlat) return errFSBadIteratorFlags;
    Located located;
    OSErr err = locate(container, &located);
    if (err != noErr) return err;
    auto it = std::make_unique<OpaqueFSIterator>();
    err = openLocatedFolder(located, &it->folder);
    if (err != noErr) return err;
    err = listing::readFolder(it->folder.get(), &it->entries);
    if (err != noErr) return err;
    it->container = located.node;
    it->modified = located.sx.stx_mtime;
    it->changed = located.sx.stx_ctime;
    it->dev = makedev(located.sx.stx_dev_major, located.sx.stx_dev_minor);
    it->ino = located.sx.stx_ino;
    *iterator = it.get();
    gIterators.push_back(std::move(it));
    return noErr;
}

OSErr FSCloseIterator(FSIterator iterator) {
    auto found = std::find_if(gIterators.begin(), gIterators.end(),
                              [&](const auto& p) { return p.get() == iterator; });
    if (found == gIterators.end()) return errFSIteratorNotFound;
    gIterators.erase(found);
    return noErr;
}

OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpec* specs,
                           HFSUniStr255* names) {
    if (actualObjects) *actualObjects = 0;
    if (containerChanged) *containerChanged = FALSE;
    if (!isOpen(iterator)) return errFSIteratorNotFound;
    if (maximumObjects == 0) return errFSBadItemCount;
    OpaqueFSIterator& it = *iterator;

    if (containerChanged) {
        // A folder seen changed stays changed: every change sets its change
        // time to the present, which it never leaves for the time it was read
        // at, so it is looked at until then and not after.
        struct statx now {};
        if (!it.changedSeen &&
            ::statx(it.folder.get(), "", AT_EMPTY_PATH, STATX_MTIME | STATX_CTIME, &now) == 0)
            it.changedSeen =
                !sameTime(now.stx_mtime, it.modified) || !sameTime(now.stx_ctime, it.changed);
        *containerChanged = it.changedSeen;
    }

    ItemCount count = 0;
    while (count < maximumObjects && it.next < it.entries.size()) {
        const listing::Entry& entry = it.entries[it.next];
        Located object;
        object.name = entry.name;
        OSErr err = statEntry(it.folder.get(), entry.name.c_str(), &object.sx, nullptr);
        if (err == fnfErr) {
            // Removed since the folder was read: no longer part of the listing.
            ++it.next;
            continue;
        }
        if (err != noErr) {
            ++it.next;  // the next call goes on with the next object
            return err;
        }
        object.node = child(it.container, entry.name);
        // The work on the object, when it comes next, may start from this look.
        noteListedLook(object.node, object.sx, it.dev, it.ino);
        // Only the fields read through the folder need a descriptor of their
        // own; a walk asking for node flags and sizes is spared two system
        // calls per object.
        constexpr FSCatalogInfoBitmap kNeedsFolder =
            kFSCatInfoCreateDate | kFSCatInfoPermissions | kFSCatInfoUserAccess |
            kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo | kFSCatInfoRsrcSizes | kFSCatInfoValence;
        if (catalogInfos && (whichInfo & kNeedsFolder))
            object.folder = CDirFd(::fcntl(it.folder.get(), F_DUPFD_CLOEXEC, 0));
        if (catalogInfos) {
            err = catalog::fill(object, whichInfo, &catalogInfos[count]);
            if (err != noErr) {
                ++it.next;
                return err;
            }
        }
        if (refs) makeRef(object.node, identityOf(object.sx), &refs[count]);
        if (specs)
            makeSpec(object.node,
                     volumeRefNum(makedev(object.sx.stx_dev_major, object.sx.stx_dev_minor)),
                     &specs[count]);
        if (names) filenames::toUnicode(entry.name, &names[count]);
        ++it.next;
        ++count;
        if (actualObjects) *actualObjects = count;
    }
    return count < maximumObjects ? OSErr(errFSNoMoreItems) : OSErr(noErr);
}
