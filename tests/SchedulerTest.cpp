#include "SchedulerTestSupport.h"
