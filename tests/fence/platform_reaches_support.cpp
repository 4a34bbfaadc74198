// Must not compile: the platform layer sees its own headers, internals
// included, and no header of the layers above it.
#include "platform/files/Files.h"
#include "platform/files/linux/ForkStore.h"
#include "support/CString256.h"
