// Must not compile: the application sees every layer's headers but not the
// platform's Linux internals.
#include "platform/files/FilesExtra.h"
#include "platform/files/linux/ForkStore.h"
#include "processing/ProcessingRun.h"
#include "support/CFile.h"
