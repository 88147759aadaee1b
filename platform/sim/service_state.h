// The run state of a simulated service as its service manager sees it, for
// the other simulated services that depend on one (the spooler answers only
// while its service is running).
#pragma once

#include <string>

#include "platform/sim/wintypes.h"

namespace sim {

// SERVICE_RUNNING, SERVICE_STOPPED, ... ; a pending state whose time has
// passed on the process clock ends here, as QueryServiceStatus ends it.
DWORD ServiceRunState(const std::wstring& machine, const std::wstring& service);

}  // namespace sim
