// Must not compile: the support classes see the platform and themselves, and
// no header of the application.
#include "platform/files/Files.h"
#include "processing/ProcessingRun.h"
#include "support/CFile.h"
