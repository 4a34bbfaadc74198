#include "processing/ForkOperations.h"

#include "platform/files/FilesExtra.h"
#include "platform/ui/Sound.h"

namespace {

// Copies the whole data fork over the start of the resource fork, inside the
// kernel and in bounded memory whatever its size. Every way this can fall
// short is reported, and the caller then keeps the data fork: it is deleted
// only once its bytes are safely in the resource fork.
OSErr copyDataIntoResource(FSIORefNum dataRef, FSIORefNum rsrcRef, SInt64 size) {
    const OSErr err = FSCopyDataForkToResourceFork(dataRef, rsrcRef, UInt64(size));
    if (err == noErr) SysBeep(30);
    return err;
}

}  // namespace

OSErr DeleteDataFork(const FSRef* ref) {
    // The fork is cut through the file opened here, once the file is known to
    // have no other name that shares its data fork.
    HFSUniStr255 dataName;
    OSErr err = FSGetDataForkName(&dataName);
    if (err != noErr) return err;
    FSIORefNum dataRef;
    err = FSOpenFork(ref, dataName.length, dataName.unicode, fsRdWrPerm, &dataRef);
    if (err != noErr) return err;
    FSForkFileStamp stamp;
    err = FSGetForkFileStamp(dataRef, &stamp);
    if (err == noErr && stamp.linkCount > 1) err = fileHasLinksErr;
    if (err == noErr) err = FSSetForkSize(dataRef, fsFromStart, 0);
    FSCloseFork(dataRef);
    return err;
}

OSErr DeleteResourceFork(const FSRef* ref) {
    // Other names of the file do not stop this: a sidecar belongs to this
    // name alone, and a fork in the file's attributes is the file's own.
    HFSUniStr255 forkName;
    OSErr err = FSGetResourceForkName(&forkName);
    if (err != noErr) return err;
    return FSDeleteFork(ref, forkName.length, forkName.unicode);
}

OSErr FlipDeleteDataFork(const FSRef* ref) {
    HFSUniStr255 rsrcName;
    OSErr err = FSGetResourceForkName(&rsrcName);
    if (err != noErr) return err;
    // Only makes sure the fork can exist; its result does not matter, and it
    // writes nothing, so a failure below leaves no empty sidecar behind.
    FSCreateFork(ref, rsrcName.length, rsrcName.unicode);
    FSIORefNum rsrcRef;
    err = FSOpenFork(ref, rsrcName.length, rsrcName.unicode, fsRdWrPerm, &rsrcRef);
    if (err != noErr) return err;

    HFSUniStr255 dataName;
    FSIORefNum dataRef;
    err = FSGetDataForkName(&dataName);
    if (err == noErr)
        err = FSOpenFork(ref, dataName.length, dataName.unicode, fsRdWrPerm, &dataRef);
    if (err != noErr) {
        FSCloseFork(rsrcRef);
        return err;
    }

    // A file with other names shares its data fork with them, and the
    // resource fork written here would belong to this name alone.
    FSForkFileStamp before;
    err = FSGetForkFileStamp(dataRef, &before);
    if (err == noErr && before.linkCount > 1) err = fileHasLinksErr;
    const bool stamped = err == noErr;
    if (err == noErr && before.dataLength > 0)
        err = copyDataIntoResource(dataRef, rsrcRef, SInt64(before.dataLength));
    // The resource fork is durable by the time the copy returns. The data fork
    // is cut only if nobody wrote to it (or gave it another name) while it was
    // copied: bytes added meanwhile would be lost with it. A copy that fell
    // short because the file shrank meanwhile is told the same way.
    FSForkFileStamp after{};
    const OSErr looked = stamped && (err == noErr || err == ioErr)
                             ? FSGetForkFileStamp(dataRef, &after)
                             : OSErr(paramErr);
    if (looked == noErr &&
        (after.dataLength != before.dataLength || after.modSeconds != before.modSeconds ||
         after.modNanoseconds != before.modNanoseconds))
        err = fileChangedErr;
    else if (err == noErr)
        err = looked;
    if (err == noErr && after.linkCount > 1) err = fileHasLinksErr;
    // Cut through the fork opened and checked here, not by looking the name
    // up again. A cut that fails is reported: the file still has its data
    // fork, so calling the flip done would be untrue (both forks then hold
    // the bytes; nothing is lost).
    if (err == noErr) err = FSSetForkSize(dataRef, fsFromStart, 0);
    FSCloseFork(dataRef);
    FSCloseFork(rsrcRef);
    return err;
}

OSErr ProcessFSRef(const FSRef* ref, functionType function) {
    // The operation's calls look once whether the file's folder still has its
    // path, not at each call.
    CFSFolderHold hold;
    switch (function) {
        case kFlipDeleteDataFork:
            return FlipDeleteDataFork(ref);
        case kDeleteDataFork:
            return DeleteDataFork(ref);
        case kDeleteResourceFork:
            return DeleteResourceFork(ref);
        default:
            // Not one of the three operations: nothing is done.
            return paramErr;
    }
}
