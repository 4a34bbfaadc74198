// Must not compile: the application sees every layer's headers but not the
// platform's Linux internals.
#include "platform/FilesExtra.h"
#include "processing/ProcessingRun.h"
#include "support/CFile.h"
#include "platform/ForkStore.h"
