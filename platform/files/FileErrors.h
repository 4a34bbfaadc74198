// Turns the errno of a failed system call into the Mac result code the File
// Manager and the fork store return, so every file call reports a failure the
// same way.
#pragma once

#include "platform/base/MacTypes.h"

// The result code for errno `err`. ELOOP (O_NOFOLLOW met a symbolic link),
// ENXIO (a socket or a FIFO without a reader) and EISDIR mean "not a file";
// ENOTSUP means the volume's file system cannot do it (wrgVolTypErr);
// 0 gives noErr; anything unknown is ioErr.
OSErr errnoToOSErr(int err);
