#include "core/object_store.h"
#include "driver/corvanrator.h"

int CCorvanrator::RunBackup(CObjectStore& /*control*/) { return RunSucceeded; }
