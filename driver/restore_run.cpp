#include "core/object_store.h"
#include "driver/corvanrator.h"

int CCorvanrator::RunRestore(CObjectStore& /*control*/) { return RunSucceeded; }
