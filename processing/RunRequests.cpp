// The one instance of the run's stop and quit requests.
#include "processing/RunRequests.h"

RunRequests gRunRequests;
