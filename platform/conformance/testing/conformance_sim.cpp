// The simulated world's side of the conformance fixture: a fresh world for
// every test, whose local machine has a C: drive.
#include <optional>

#include "platform/conformance/testing/conformance.h"
#include "platform/conformance/testing/system.h"
#include "platform/sim/testing/test_world.h"

namespace conformance {

bool WineDeviates(const char*) { return false; }

namespace test_system {
namespace {

std::optional<sim::ScopedWorld> world;

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                            sizeof(value)));
}

}  // namespace

std::wstring Prepare() {
    world.emplace();
    return L"C:\\CorvanConformance";
}

void InstallService(const wchar_t* name) {
    // The simulated service manager keeps its database where Windows does.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                             (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name).c_str(),
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    SetDword(key, L"Type", SERVICE_WIN32_OWN_PROCESS);
    SetDword(key, L"Start", SERVICE_DEMAND_START);
    SetDword(key, L"ErrorControl", SERVICE_ERROR_NORMAL);
    const std::wstring image = L"C:\\CorvanConformance\\service.exe";
    RegSetValueExW(key, L"ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image.c_str()),
                   static_cast<DWORD>((image.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
}

void CleanUp() { world.reset(); }

}  // namespace test_system
}  // namespace conformance
