#include "processing/ProcessingRun.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/base/TextUtils.h"
#include "platform/cf/CoreFoundation.h"
#include "platform/events/Process.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "processing/FolderExpansion.h"
#include "processing/ForkOperations.h"
#include "processing/ItemScreening.h"
#include "processing/RunReport.h"
#include "processing/RunRequests.h"
#include "settings/Settings.h"
#include "shell/MainWindow.h"
#include "support/CFile.h"
#include "support/DisplayName.h"

AEDescList gDescList = {typeNull, nullptr};

const char* const kIdleMessage =
    "Drop one or more files, folders or volumes on the application or this window to change the "
    "extension.";
const char* const kFarewellMessage = "Bye.";

namespace {

constexpr EventTimerInterval kRunDelay = 0.001;
constexpr EventTimerInterval kQuitDelay = 1.0;
constexpr SInt32 kBarSteps = 32768;  // values 0 to 32767 fit in the bar's 16 bits

std::deque<AEDescList> gWaitingDrops;  // oldest first
bool gRunActive = false;               // a run is being confirmed or is busy
bool gQuitOwed = false;                // a run asked to quit while drops were waiting
bool gEnding = false;                  // the farewell has begun

void schedule(EventTimerInterval delay, EventLoopTimerProcPtr proc) {
    InstallEventLoopTimer(GetCurrentEventLoop(), delay, 0, NewEventLoopTimerUPP(proc), nullptr,
                          nullptr);
}

// After a run or a declined confirmation: the next drop, or the quit owed.
void carryOn() {
    if (!gWaitingDrops.empty()) {
        schedule(kRunDelay, ProcessTimerProc);
    } else if (gQuitOwed) {
        gQuitOwed = false;
        schedule(kQuitDelay, PauseTimerProc);
    }
}

void enterBusyState() {
    gRunRequests.stop = false;
    ClearRunFailures();
    HideControl(gDetailsButton);
    ShowControl(gSpin);
    HideControl(gEditButton);
    EnableControl(gStopButton);
    ShowControl(gStopButton);
}

void leaveBusyState() {
    HideControl(gSpin);
    ShowControl(gEditButton);
    HideControl(gStopButton);
    DisableControl(gStopButton);
    // A run that met a failure says so, and how to see which and why; one
    // without ends as it always did.
    if (RunFailures().empty()) {
        print_message(kIdleMessage, 1);
    } else {
        ShowControl(gDetailsButton);
        print_message(RunFailureSummary().c_str(), 1);
    }
}

// What the walks of a folder report while they go: folders passed over (a
// file system mounted below is not entered on purpose and is no failure), and
// how far they got, which keeps the window live during a long walk.
void walkPassedOver(const FSRef* folder, OSErr reason) {
    if (reason != diffVolErr) AddRunFailure(folder, reason, true);
}

void walkProgress(SInt32 which, SInt32 filesSoFar) {
    char message[256];
    if (which == kCountFilter)
        std::snprintf(message, sizeof message, "Counting files: %d so far", int(filesSoFar));
    else
        std::snprintf(message, sizeof message, "Listing files: %d of %d", int(filesSoFar),
                      int(gNbrFilesToBeProcessed));
    print_message(message, 1);
}

// The two walks of a folder, reporting to the run while they go.
class CWalkReports {
public:
    CWalkReports() {
        gWalkPassedOver = walkPassedOver;
        gWalkProgress = walkProgress;
    }
    ~CWalkReports() {
        gWalkPassedOver = nullptr;
        gWalkProgress = nullptr;
    }
};

// The pass over the files of one folder. Returns the status of the walk that
// decided it: the counting walk's when the folder is skipped before
// collecting, else the collecting walk's. A failed file is recorded and the
// pass goes on with the next one.
OSErr processFolder(const FSRef* folder, functionType function) {
    CWalkReports reports;
    OSErr status = IterateCountFolder(folder);
    const SInt32 n = gNbrFilesToBeProcessed;
    if (n <= 0 || gRunRequests.any()) return status;
    if (n > SInt32(0x7FFFFFFF / sizeof(FSRef))) return memFullErr;
    gFSRefArray = reinterpret_cast<FSRef*>(NewPtr(Size(n * sizeof(FSRef))));
    if (!gFSRefArray) return memFullErr;
    status = IterateCollectFolder(folder);
    if (gNbrFilesProcessed != n) {
        DisposePtr(reinterpret_cast<Ptr>(gFSRefArray));
        gFSRefArray = nullptr;
        // Changed between the two walks: nothing in it was handled.
        if (status == noErr && !gRunRequests.any()) status = fBsyErr;
        return status;
    }
    // A folder of more files than the bar has steps moves it every `scale`
    // files, so it still runs from empty to full.
    const SInt32 scale = (n - 1) / kBarSteps + 1;
    SetControlMaximum(gProgress, SInt16((n - 1) / scale));
    SetControlMinimum(gProgress, 0);
    SetControlValue(gProgress, 0);
    // The counter line starts from this folder's count, not the last folder's.
    char message[256];
    std::snprintf(message, sizeof message, "(0 of %d)", int(n));
    Str255 counter;
    CopyCStringToPascal(message, counter);
    SetStaticTextText(gSmallMessage, counter, false);
    ShowControl(gProgress);
    ShowControl(gSmallMessage);
    // One yield per file, between showing its name and changing it: the
    // window repaints and takes Stop or Quit there, and a Stop that comes
    // then still lets the file in hand complete. The counter and the bar of
    // the file before are shown by the same yield.
    EventRecord event;
    for (SInt32 j = 0; j < n; ++j) {
        if (gRunRequests.any()) break;
        char* name = FSGetObjectName(&gFSRefArray[j]);
        if (name) {
            std::snprintf(message, sizeof message, "File: %s", name);
            showMessage(message, 1);
        }
        WaitNextEvent(0, &event, 0, nullptr);
        if (name) {
            const OSErr err = ProcessFSRef(&gFSRefArray[j], function);
            if (err != noErr) AddRunFailure(&gFSRefArray[j], err, false);
            DisposePtr(name);
        } else {
            // Its name cannot be had (most often, it is gone): left untouched.
            const OSErr err = FSGetCatalogInfo(&gFSRefArray[j], kFSCatInfoNone, nullptr, nullptr,
                                               nullptr, nullptr);
            AddRunFailure(&gFSRefArray[j], err != noErr ? err : OSErr(ioErr), false);
        }
        std::snprintf(message, sizeof message, "(%d of %d)", int(j + 1), int(n));
        showMessage(message, 2);
        SetControlValue(gProgress, SInt16(j / scale));
    }
    // The last file's count and the full bar get their yield too.
    WaitNextEvent(0, &event, 0, nullptr);
    HideControl(gProgress);
    HideControl(gSmallMessage);
    DisposePtr(reinterpret_cast<Ptr>(gFSRefArray));
    gFSRefArray = nullptr;
    return status;
}

// The path the dropped item `index` was given as, from its file URL; "" for
// an item that has none.
std::string droppedPath(long index) {
    AEDesc desc = {typeNull, nullptr};
    if (AEGetNthDesc(&gDescList, index, typeFileURL, nullptr, &desc) != noErr) return {};
    std::vector<UInt8> bytes(std::size_t(AEGetDescDataSize(&desc)));
    const OSErr err = AEGetDescData(&desc, bytes.data(), Size(bytes.size()));
    AEDisposeDesc(&desc);
    if (err != noErr) return {};
    std::vector<UInt8> path(bytes.size() + 1);  // decoding never lengthens it
    CFURLRef url = CFURLCreateWithBytes(nullptr, bytes.data(), CFIndex(bytes.size()),
                                        kCFStringEncodingUTF8, nullptr);
    const bool named =
        url && CFURLGetFileSystemRepresentation(url, true, path.data(), CFIndex(path.size()));
    if (url) CFRelease(url);
    return named ? std::string(reinterpret_cast<const char*>(path.data())) : std::string();
}

void runItems(functionType function) {
    gNbrFoldersNotEntered = 0;
    long count = 0;
    if (AECountItems(&gDescList, &count) != noErr) return;
    // Every item is looked at before any is handled: a sidecar named beside
    // its file, an item named twice, or one inside a dropped folder must not
    // be handled as a file of its own, whatever the order of the drop.
    std::vector<CScreenedItem> items;
    for (long i = 1; i <= count; ++i) {
        CScreenedItem item;
        AEKeyword keyword;
        DescType type;
        Size size;
        const OSErr err = AEGetNthPtr(&gDescList, i, typeFSRef, &keyword, &type, &item.ref,
                                      sizeof item.ref, &size);
        if (err != noErr) {
            // Gone since the drop, or never a file: recorded with the path it
            // was dropped as, and the others are still handled.
            AddRunFailureAt(droppedPath(i), err, false);
            continue;
        }
        item.isFolder = CFile::IsADirectory(item.ref);
        items.push_back(item);
    }
    ScreenItems(&items);
    // A failed item does not end the run: the other items are still handled,
    // as the other files of a folder are. Stop and Quit end it.
    for (const CScreenedItem& item : items) {
        if (gRunRequests.any()) return;
        gNbrFilesToBeProcessed = 0;
        gNbrFilesProcessed = 0;
        if (item.verdict != ItemVerdict::Handle) continue;
        if (item.isFolder) {
            FSRef folder = item.ref;
            const OSErr err = processFolder(&folder, function);
            if (err != noErr && !gRunRequests.any()) AddRunFailure(&folder, err, true);
        } else {
            const OSErr err = ProcessFSRef(&item.ref, function);
            if (err != noErr) AddRunFailure(&item.ref, err, false);
            // No message for a dropped file, but the window stays live and
            // Stop or Quit can come between two of them.
            EventRecord event;
            WaitNextEvent(0, &event, 0, nullptr);
        }
    }
}

}  // namespace

OSErr OpenDocsAppleEventHandler(const AppleEvent* event, AppleEvent*, long) {
    AEDescList items = {typeNull, nullptr};
    const OSErr err = AEGetParamDesc(event, keyDirectObject, typeAEList, &items);
    if (err != noErr) return err;
    gWaitingDrops.push_back(items);
    schedule(kRunDelay, ProcessTimerProc);
    return noErr;
}

void ProcessTimerProc(EventLoopTimerRef, void*) {
    // Fired inside a busy run's yield, or once too often: the busy run takes
    // the waiting drops in turn when it ends.
    if (gRunActive || gEnding || gWaitingDrops.empty()) return;
    AEDisposeDesc(&gDescList);
    gDescList = gWaitingDrops.front();
    gWaitingDrops.pop_front();
    gRunActive = true;

    const functionType function = functionType(FunctionType());
    if (!AskProcessFile(function)) {
        gRunActive = false;
        carryOn();
        return;
    }
    enterBusyState();
    runItems(function);
    leaveBusyState();
    gRunActive = false;
    // A run that met a failure keeps the window open, so that the user sees
    // what could not be done; so does any quit an earlier run owed.
    if (!RunFailures().empty())
        gQuitOwed = false;
    else if (QuitWhenDone())
        gQuitOwed = true;
    carryOn();
}

void PauseTimerProc(EventLoopTimerRef, void*) {
    // A drop came in during the second before the end: its run goes first and
    // the end follows it.
    if (gRunActive || !gWaitingDrops.empty()) {
        gQuitOwed = true;
        return;
    }
    gEnding = true;
    print_message(kFarewellMessage, 1);
    TransitionWindow(gWindow, kWindowFadeTransitionEffect, kWindowHideTransitionAction, nullptr);
    if (!gWaitingDrops.empty()) {
        // Documents arrived during the fade (a launch handed them over): they
        // are not dropped on the floor; their run comes first, then the end.
        gEnding = false;
        gQuitOwed = true;
        ShowWindow(gWindow);
        schedule(kRunDelay, ProcessTimerProc);
        return;
    }
    ExitToShell();
    gEnding = false;  // only reached when a test replaced the ending
}

long WaitingDropCount() {
    return long(gWaitingDrops.size());
}
bool ProcessingRunActive() {
    return gRunActive;
}
