// The fixture of the conformance tests in platform/conformance/. Each test
// states what a Win32 call does as Windows documents it, and uses nothing but
// GoogleTest, platform/win32.h, this header and the Win32-only helpers of
// platform/sim/testing/win32_files.h, so that one source builds
// against the simulated world on Linux (a fresh world for every test) and
// against the real system on Windows, where CI runs it under Wine. A new
// *_test.cpp in platform/conformance/ joins both builds by that alone.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/sim/testing/win32_files.h"
#include "platform/win32.h"

namespace conformance {

// False except on Wine, where it names the deviation in the test's output.
// Guard the checks Wine does not meet with `if (!WineDeviates("..."))`: they
// still hold everywhere else, and nothing is weakened to suit Wine.
bool WineDeviates(const char* deviation);

class ConformanceTest : public ::testing::Test {
public:
    // Below HKEY_LOCAL_MACHINE: created empty for each test (ScratchKey() is
    // its handle, with all access) and removed after it.
    static constexpr const wchar_t* kScratchKey = L"SOFTWARE\\CorvanConformance";
    // A service of this test's own: own process, demand start, stopped,
    // accepting stop once running; removed after the test.
    static constexpr const wchar_t* kTestService = L"CorvanConformanceSvc";

protected:
    void SetUp() override;
    void TearDown() override;

    HKEY ScratchKey() const { return key_; }

    // A folder (full path, no trailing backslash), empty at the start of each
    // test and removed after it. The current directory is put back after the test.
    const std::wstring& ScratchFolder() const { return folder_; }
    std::wstring Scratch(const std::wstring& name) const { return folder_ + L"\\" + name; }

    // Installs kTestService.
    void InstallTestService();

private:
    HKEY key_ = nullptr;
    std::wstring folder_;
    std::wstring directory_;
};

// The state the service is in once it reaches `state` or ten seconds have
// passed: a real service takes a moment to get there.
inline DWORD WaitForState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status{};
    for (int i = 0; i < 200 && QueryServiceStatus(service, &status) && status.dwCurrentState != state; ++i) Sleep(50);
    return status.dwCurrentState;
}

struct CloseSc {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseSc>;

// A service's handle; the manager on `server` it came through is closed at once.
inline ScHandle OpenServiceOn(const wchar_t* server, const wchar_t* name, DWORD access) {
    ScHandle manager(OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT));
    EXPECT_NE(nullptr, manager.get()) << GetLastError();
    ScHandle service(manager ? OpenServiceW(manager.get(), name, access) : nullptr);
    EXPECT_NE(nullptr, service.get()) << GetLastError();
    return service;
}

// The service's status; what the call leaves unset reads 0xcccccccc.
inline SERVICE_STATUS QueryStatus(SC_HANDLE service) {
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof status);
    EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    return status;
}

// What each build does around a test: conformance_sim.cpp on the simulated
// world, conformance_win32.cpp on Windows.
namespace test_system {

// A clean system for the next test: no scratch key, folder or test service
// left from an earlier one. Returns the path of the scratch folder to make.
std::wstring Prepare();
// Own process, demand start, stopped; the program runs as a service that
// reports running once started and stops when asked.
void InstallService(const wchar_t* name);
// Removes what the test left.
void CleanUp();

}  // namespace test_system
}  // namespace conformance
