#include "processing/ForkOperations.h"

#include "platform/MacMemory.h"
#include "platform/Sound.h"

namespace {

OSErr deleteNamedFork(const FSRef* ref, OSErr (*getName)(HFSUniStr255*)) {
    HFSUniStr255 forkName;
    OSErr err = getName(&forkName);
    if (err != noErr) return err;
    return FSDeleteFork(ref, forkName.length, forkName.unicode);
}

// Reads the whole data fork and writes it over the start of the resource fork.
// Every way this can fall short is reported, and the caller then keeps the
// data fork: it is deleted only once its bytes are safely in the resource fork.
OSErr copyDataIntoResource(FSIORefNum dataRef, FSIORefNum rsrcRef, SInt64 size) {
    OSErr err = FSSetForkPosition(dataRef, fsFromStart, 0);
    if (err != noErr) return err;
    // The copy is one block whose size is a signed 32-bit count. A larger fork
    // cannot be copied, and saying so is the only honest answer: reporting
    // success would let the caller believe the file was flipped.
    if (size > 0x7FFFFFFF) return memFullErr;
    ByteCount count = ByteCount(size);
    Ptr buffer = NewPtr(Size(count));
    if (!buffer) return memFullErr;
    ByteCount actual = 0;
    err = FSReadFork(dataRef, fsFromStart, 0, count, buffer, &actual);
    // A read that stops short without an error is still a failure: writing
    // part of the fork and then deleting the data fork would lose the rest.
    if (err == noErr && actual != count) err = ioErr;
    if (err == noErr) {
        err = FSWriteFork(rsrcRef, fsFromStart, 0, count, buffer, nullptr);
        if (err == noErr) SysBeep(30);
    }
    DisposePtr(buffer);
    return err;
}

}  // namespace

OSErr DeleteDataFork(const FSRef* ref) {
    return deleteNamedFork(ref, FSGetDataForkName);
}

OSErr DeleteResourceFork(const FSRef* ref) {
    return deleteNamedFork(ref, FSGetResourceForkName);
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

    SInt64 size = 0;
    err = FSGetForkSize(dataRef, &size);
    if (err == noErr && size > 0) err = copyDataIntoResource(dataRef, rsrcRef, size);
    FSCloseFork(dataRef);
    // The resource fork write is durable by the time FSWriteFork returns, so
    // the data fork can go now without risking its bytes. A deletion that
    // fails is reported: the file still has its data fork, so calling the flip
    // done would be untrue (both forks then hold the bytes; nothing is lost).
    if (err == noErr) err = FSDeleteFork(ref, dataName.length, dataName.unicode);
    FSCloseFork(rsrcRef);
    return err;
}

OSErr ProcessFSRef(const FSRef* ref, functionType function) {
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
