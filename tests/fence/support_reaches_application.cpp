// Must not compile: the support classes see the platform and themselves, and
// no header of the application.
#include "platform/Files.h"
#include "support/CFile.h"
#include "processing/ProcessingRun.h"
