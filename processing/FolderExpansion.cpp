#include "processing/FolderExpansion.h"

#include <time.h>

#include <cstring>
#include <new>
#include <vector>

#include "processing/RunRequests.h"

SInt32 gWhichFilter = 0;
FSRef* gFSRefArray = nullptr;
SInt32 gNbrFilesToBeProcessed = 0;
SInt32 gNbrFilesProcessed = 0;
WalkPassedOverProc gWalkPassedOver = nullptr;
WalkProgressProc gWalkProgress = nullptr;
SInt32 gWalkProgressMs = 100;
SInt32 gNbrFoldersNotEntered = 0;

namespace {

bool isFolder(const FSCatalogInfo& info) {
    return (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
}

// Out of descriptors or memory: every folder after this one would fail the
// same way, so the walk ends instead of passing over one folder after another.
bool endsWalk(OSErr err) {
    return err == tmfoErr || err == memFullErr;
}

void passOver(const FSIterateContainerGlobals* g, const FSRef* folder, OSErr reason) {
    if (g->skipProc) g->skipProc(folder, reason, g->yourDataPtr);
}

// An open level: the folder's iterator, and its reference for reports.
struct Level {
    FSIterator iterator;
    FSRef folder;
};

// Walks the tree below the record's current reference, depth first. It does
// what a level calling itself for each subfolder does (every level lists its
// folder one object at a time, a subfolder is walked right after it is offered,
// and a level's loop goes on only while the result, its own or the deeper
// level's, is 0 and the filter has not asked to stop), but keeps the open
// iterators in a list instead of on the call stack, so no tree is too deep for
// the stack. Each open iterator holds a folder open; a tree deeper than the
// process may keep folders open ends with tmfoErr.
void FSIterateContainerLevel(FSIterateContainerGlobals* g) {
    std::vector<Level> levels;
    enum class Step { Enter, List, Test } step = Step::Enter;
    for (;;) {
        switch (step) {
            case Step::Enter: {
                // Start a level on the folder the current reference designates.
                step = Step::Test;
                if (g->maxLevels != 0 && g->currentLevel >= g->maxLevels) break;
                // A subfolder on another volume than the walked folder is the
                // root of a file system mounted there: the walk does not cross
                // into it. (The record still holds the subfolder's catalog
                // information, just offered to the filter.)
                if (!levels.empty() && g->catalogInfo.volume != g->volume) {
                    passOver(g, &g->ref, diffVolErr);
                    break;
                }
                FSIterator iterator = nullptr;
                g->result = FSOpenIterator(&g->ref, kFSIterateFlat, &iterator);
                if (g->result != noErr) {
                    // A subfolder that cannot be opened is passed over, and its
                    // parent's listing goes on; the walked folder's own error
                    // is the walk's result.
                    if (!levels.empty() && !endsWalk(g->result)) {
                        passOver(g, &g->ref, g->result);
                        g->result = noErr;
                    }
                    break;
                }
                try {
                    levels.push_back({iterator, g->ref});
                } catch (const std::bad_alloc&) {
                    FSCloseIterator(iterator);
                    g->result = memFullErr;
                    break;
                }
                ++g->currentLevel;
                step = Step::List;
                break;
            }
            case Step::List:
                // No filter looks at whether the folder changed since it was
                // opened (its listing was read whole then), and asking costs a
                // status call of the folder for every object: not asked.
                g->result = FSGetCatalogInfoBulk(levels.back().iterator, 1, &g->actualObjects,
                                                 nullptr, g->whichInfo, &g->catalogInfo, &g->ref,
                                                 g->specPtr, g->namePtr);
                step = Step::Test;
                if ((g->result == noErr || g->result == errFSNoMoreItems) &&
                    g->actualObjects == 1) {
                    g->quitFlag =
                        g->iterateFilter(g->containerChanged, g->currentLevel, &g->catalogInfo,
                                         &g->ref, g->specPtr, g->namePtr, g->yourDataPtr);
                    if (isFolder(g->catalogInfo) && !g->quitFlag) step = Step::Enter;
                }
                break;
            case Step::Test:
                // The loop test of the innermost open level.
                if (levels.empty()) return;
                if (g->result == noErr && !g->quitFlag) {
                    step = Step::List;
                    break;
                }
                // The level ends: its listing is done, the filter asked to
                // stop, or the listing failed part way. A deeper level's
                // failure only comes here when it ends the walk. A subfolder
                // that failed is passed over; so is the walked folder when
                // access was denied, whose rest cannot be listed either.
                if (g->result != noErr && g->result != errFSNoMoreItems && !endsWalk(g->result) &&
                    (levels.size() > 1 || g->result == afpAccessDenied)) {
                    passOver(g, &levels.back().folder, g->result);
                    g->result = noErr;
                }
                if (g->result == errFSNoMoreItems) g->result = noErr;
                --g->currentLevel;
                FSCloseIterator(levels.back().iterator);
                levels.pop_back();
                break;
        }
    }
}

}  // namespace

OSErr FSIterateContainer(const FSRef* container, ItemCount maxLevels, FSCatalogInfoBitmap whichInfo,
                         Boolean wantFSSpec, Boolean wantName,
                         IterateContainerFilterProcPtr iterateFilter, void* yourDataPtr,
                         IterateContainerSkipProcPtr skipProc) {
    if (!iterateFilter) return paramErr;
    if (!container) return paramErr;
    FSIterateContainerGlobals g;
    // The walk's file system is the container's: a dropped volume is walked.
    OSErr err =
        FSGetCatalogInfo(container, kFSCatInfoVolume, &g.catalogInfo, nullptr, nullptr, nullptr);
    if (err != noErr) return err;
    g.volume = g.catalogInfo.volume;
    g.iterateFilter = iterateFilter;
    g.skipProc = skipProc;
    g.whichInfo = whichInfo | kFSCatInfoNodeFlags | kFSCatInfoVolume;
    std::memcpy(&g.ref, container, sizeof g.ref);
    g.specPtr = wantFSSpec ? &g.spec : nullptr;
    g.namePtr = wantName ? &g.name : nullptr;
    g.yourDataPtr = yourDataPtr;
    g.maxLevels = maxLevels;
    g.currentLevel = 0;
    g.quitFlag = false;
    g.containerChanged = false;
    g.result = noErr;
    g.actualObjects = 0;
    FSIterateContainerLevel(&g);
    return g.result;
}

namespace {

// Calls gWalkProgress when gWalkProgressMs have passed since the last call
// (the clock is read every 256 objects, so a fast walk is not slowed).
void reportProgress(SInt32 which) {
    static unsigned objects = 0;
    static long long lastMs = 0;
    if (!gWalkProgress || ++objects % 256 != 0) return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const long long ms = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    if (ms - lastMs < gWalkProgressMs) return;
    lastMs = ms;
    gWalkProgress(which, which == kCountFilter ? gNbrFilesToBeProcessed : gNbrFilesProcessed);
}

}  // namespace

Boolean MyIterateContainerFilter(Boolean, ItemCount, const FSCatalogInfo* catalogInfo,
                                 const FSRef* ref, const FSSpec*, const HFSUniStr255*,
                                 void* yourDataPtr) {
    const SInt32 which = *static_cast<const SInt32*>(yourDataPtr);
    reportProgress(which);
    if (!isFolder(*catalogInfo)) {
        switch (which) {
            case kCollectFilter:
                // Files that appeared since the count are counted, never stored.
                if (gNbrFilesProcessed < gNbrFilesToBeProcessed && gFSRefArray)
                    std::memcpy(&gFSRefArray[gNbrFilesProcessed], ref, sizeof(FSRef));
                ++gNbrFilesProcessed;
                break;
            case kCountFilter:
                ++gNbrFilesToBeProcessed;
                break;
            default:
                break;
        }
    }
    return gRunRequests.any();
}

namespace {

// Both walks pass over the same folders; the collecting walk counts them.
void notEntered(const FSRef* folder, OSErr reason, void* yourDataPtr) {
    if (*static_cast<const SInt32*>(yourDataPtr) != kCollectFilter) return;
    ++gNbrFoldersNotEntered;
    if (gWalkPassedOver) gWalkPassedOver(folder, reason);
}

OSErr walkFolder(const FSRef* folder, SInt32 which) {
    gWhichFilter = which;
    return FSIterateContainer(folder, 0, kFSCatInfoNodeFlags, false, false,
                              MyIterateContainerFilter, &gWhichFilter, notEntered);
}

}  // namespace

OSErr IterateCountFolder(const FSRef* folder) {
    return walkFolder(folder, kCountFilter);
}

OSErr IterateCollectFolder(const FSRef* folder) {
    return walkFolder(folder, kCollectFilter);
}
