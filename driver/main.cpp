// The process entry: the migrator's main routine with wide arguments.
#include "driver/corvanrator.h"
#include "platform/entry.h"

CORVAN_WIDE_ENTRY(CorvanMain)
