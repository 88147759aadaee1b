// The simulated world's side of the conformance fixture: a fresh world for
// every test, whose local machine has a C: drive.
#include <optional>

#include "platform/conformance/testing/conformance.h"
#include "platform/conformance/testing/registry_calls.h"
#include "platform/sim/testing/test_world.h"

namespace conformance {

bool WineDeviates(const char*) { return false; }

namespace test_system {
namespace {

std::optional<sim::ScopedWorld> world;

}  // namespace

std::wstring Prepare() {
    world.emplace();
    return L"C:\\CorvanConformance";
}

void InstallService(const wchar_t* name) {
    // The simulated service manager keeps its database where Windows does.
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name).c_str());
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, L"Type", SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, L"Start", SERVICE_DEMAND_START));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, L"ErrorControl", SERVICE_ERROR_NORMAL));
    EXPECT_EQ(ERROR_SUCCESS, SetText(key, L"ImagePath", L"C:\\CorvanConformance\\service.exe", REG_EXPAND_SZ));
    RegCloseKey(key);
}

void CleanUp() { world.reset(); }

}  // namespace test_system
}  // namespace conformance
