// Folder expansion: the container walker, and the counting and collecting walks
// that turn a dropped folder into the flat array of the files it holds at any
// depth, in the order a file manager lists them.
#pragma once

#include "platform/files/Files.h"

// Shared with the processing run, main thread only.
extern SInt32 gWhichFilter;            // 2 count, 1 collect; set by the walks
extern FSRef* gFSRefArray;             // the run's file array, gNbrFilesToBeProcessed records
extern SInt32 gNbrFilesToBeProcessed;  // counted files; the array's capacity while collecting
extern SInt32 gNbrFilesProcessed;      // files met while collecting; next free slot
// Folders the collecting walks did not enter or could not list to their end
// (the counting walks pass over the same ones); the run sets it to 0 when it
// starts.
extern SInt32 gNbrFoldersNotEntered;

enum : SInt32 { kCollectFilter = 1, kCountFilter = 2 };

// Set by a run in the window while it walks a folder (null otherwise). The
// first is called for each folder the collecting walk passes over, with the
// reason; the second about ten times a second during either walk, with the
// number of files met so far, so that the run can show it and let the window
// take its events: a walk over a share can take minutes.
using WalkPassedOverProc = void (*)(const FSRef* folder, OSErr reason);
using WalkProgressProc = void (*)(SInt32 which, SInt32 filesSoFar);
extern WalkPassedOverProc gWalkPassedOver;
extern WalkProgressProc gWalkProgress;
extern SInt32 gWalkProgressMs;  // the least time between two calls; 100

// Called for every object met; answering true stops the walk. containerChanged
// is always false: the walk does not watch folders for changes.
using IterateContainerFilterProcPtr = Boolean (*)(Boolean containerChanged, ItemCount currentLevel,
                                                  const FSCatalogInfo* catalogInfo,
                                                  const FSRef* ref, const FSSpec* spec,
                                                  const HFSUniStr255* name, void* yourDataPtr);

// Called for each folder the walk passes over: a subfolder it cannot open
// (reason: the open's error) or on another file system (diffVolErr), and a
// folder whose listing failed part way (reason: that error).
using IterateContainerSkipProcPtr = void (*)(const FSRef* folder, OSErr reason, void* yourDataPtr);

// Walk record of one FSIterateContainer call, shared by every level of the walk.
struct FSIterateContainerGlobals {
    IterateContainerFilterProcPtr iterateFilter;
    IterateContainerSkipProcPtr skipProc;
    FSVolumeRefNum volume;  // the walked folder's; folders on another one are not entered
    FSCatalogInfoBitmap whichInfo;
    FSCatalogInfo catalogInfo;
    FSRef ref;
    FSSpec spec;
    FSSpec* specPtr;
    HFSUniStr255 name;
    HFSUniStr255* namePtr;
    void* yourDataPtr;
    ItemCount maxLevels;
    ItemCount currentLevel;
    Boolean quitFlag;
    Boolean containerChanged;
    OSErr result;
    ItemCount actualObjects;
};

// Walks the container depth first: each object is offered to the filter, a
// folder before its contents, which are walked right after it. maxLevels 0
// means no depth limit. The walk stays on the container's file system: a
// folder on another one (a mount point) is offered but not entered. A
// subfolder that cannot be opened, or whose listing fails part way, is passed
// over and the walk goes on with the next entry of its parent. Each folder
// passed over goes to skipProc (may be null) with the reason. The container's
// own open error is returned; so is a failure part way through its listing,
// except access denied, which ends it like its end (and goes to skipProc).
// Running out of descriptors (tmfoErr) or memory (memFullErr) ends the walk
// wherever it happens and is returned. paramErr without a filter.
OSErr FSIterateContainer(const FSRef* container, ItemCount maxLevels, FSCatalogInfoBitmap whichInfo,
                         Boolean wantFSSpec, Boolean wantName,
                         IterateContainerFilterProcPtr iterateFilter, void* yourDataPtr,
                         IterateContainerSkipProcPtr skipProc = nullptr);

// Counts files (anything but folders): counts up, selects by *yourDataPtr, and
// answers the quit and stop requests (which come in while gWalkProgress yields).
Boolean MyIterateContainerFilter(Boolean containerChanged, ItemCount currentLevel,
                                 const FSCatalogInfo* catalogInfo, const FSRef* ref,
                                 const FSSpec* spec, const HFSUniStr255* name, void* yourDataPtr);

// Adds the number of files in the folder to gNbrFilesToBeProcessed.
OSErr IterateCountFolder(const FSRef* folder);
// Copies the folder's files into gFSRefArray from index gNbrFilesProcessed on,
// never past gNbrFilesToBeProcessed; counts every file met in gNbrFilesProcessed
// and every folder passed over in gNbrFoldersNotEntered.
OSErr IterateCollectFolder(const FSRef* folder);
