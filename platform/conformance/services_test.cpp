// What the service control manager does with a service of the test's own:
// error numbers, states, and the access each call needs.
#include <string>

#include "platform/conformance/testing/conformance.h"
#include "platform/conformance/testing/registry_calls.h"

namespace {

using namespace conformance;

constexpr DWORD kSame = SERVICE_NO_CHANGE;

class ServiceTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        InstallTestService();
    }

    static ScHandle Open(DWORD access, const wchar_t* name = kTestService) {
        return OpenServiceOn(nullptr, name, access);
    }
    static DWORD StartType() {
        std::wstring path = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + kTestService;
        HKEY key = OpenKey(HKEY_LOCAL_MACHINE, path.c_str());
        DWORD start = QueryDword(key, L"Start");
        RegCloseKey(key);
        return start;
    }
    static BOOL Change(SC_HANDLE service, DWORD type, DWORD start, DWORD errorControl) {
        return ChangeServiceConfigW(service, type, start, errorControl, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr);
    }
};

TEST_F(ServiceTest, ManagersServicesAndHandlesAreFoundOrNamedByTheirError) {
    for (const wchar_t* database : {static_cast<const wchar_t*>(nullptr), L"ServicesActive"})
        EXPECT_NE(nullptr, ScHandle(OpenSCManagerW(L"", database, SC_MANAGER_CONNECT)).get());
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, OpenSCManagerW(nullptr, L"NoSuchDatabase", SC_MANAGER_CONNECT));

    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_NE(nullptr, manager.get());
    EXPECT_NE(nullptr, ScHandle(OpenServiceW(manager.get(), L"corvanconformancesvc", SERVICE_QUERY_STATUS)).get());
    EXPECT_FAILS_WITH(ERROR_SERVICE_DOES_NOT_EXIST, OpenServiceW(manager.get(), L"NoSuchService", SERVICE_QUERY_STATUS));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, OpenServiceW(manager.get(), L"", SERVICE_QUERY_STATUS));

    // Handles of the wrong kind, closed or null are invalid; a service handle outlives its manager.
    SC_HANDLE service = OpenServiceW(manager.get(), kTestService, SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    SERVICE_STATUS status;
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, QueryServiceStatus(manager.get(), &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, OpenServiceW(service, kTestService, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(CloseServiceHandle(manager.release()));
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, QueryServiceStatus(service, &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, CloseServiceHandle(nullptr));
}

TEST_F(ServiceTest, StartsAndStopsOnlyThroughHandlesWithTheRightsAndRefusesControlsItDoesNotAccept) {
    ScHandle queryOnly = Open(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = QueryStatus(queryOnly.get());
    EXPECT_EQ(DWORD{SERVICE_WIN32_OWN_PROCESS}, status.dwServiceType);
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, status.dwCurrentState);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    // Each call needs its access right.
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, StartServiceW(queryOnly.get(), 0, nullptr));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, ControlService(queryOnly.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, Change(queryOnly.get(), kSame, SERVICE_DISABLED, kSame));
    EXPECT_EQ(DWORD{SERVICE_DEMAND_START}, StartType());
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, QueryServiceStatus(Open(SERVICE_CHANGE_CONFIG).get(), &status));

    ScHandle service = Open(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                            SERVICE_PAUSE_CONTINUE);
    EXPECT_FAILS_WITH(ERROR_SERVICE_NOT_ACTIVE, ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, status.dwCurrentState);  // reported also when refused

    // Generic rights map onto the service's own.
    ScHandle execute = Open(GENERIC_EXECUTE);
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, QueryServiceStatus(execute.get(), &status));
    ASSERT_TRUE(StartServiceW(execute.get(), 0, nullptr)) << GetLastError();
    EXPECT_FAILS_WITH(ERROR_SERVICE_ALREADY_RUNNING, StartServiceW(service.get(), 0, nullptr));
    ScHandle read = Open(GENERIC_READ);
    ASSERT_EQ(DWORD{SERVICE_RUNNING}, WaitForState(read.get(), SERVICE_RUNNING));
    EXPECT_EQ(DWORD{SERVICE_ACCEPT_STOP}, QueryStatus(service.get()).dwControlsAccepted & SERVICE_ACCEPT_STOP);
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, status.dwCurrentState);
    EXPECT_FAILS_WITH(ERROR_INVALID_SERVICE_CONTROL, ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, ControlService(service.get(), 0, &status));
    // The first and last user codes, not asked for.
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, ControlService(service.get(), 128, &status));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, ControlService(service.get(), 255, &status));

    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_EQ(DWORD{SERVICE_STOPPED}, WaitForState(read.get(), SERVICE_STOPPED));
    // Started again through its own rights, it stops through the generic ones too.
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_EQ(DWORD{SERVICE_RUNNING}, WaitForState(read.get(), SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(execute.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, WaitForState(read.get(), SERVICE_STOPPED));
}

TEST_F(ServiceTest, StartTypeChangesReachTheRegistryAndADisabledServiceDoesNotStart) {
    ScHandle service = Open(SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(Change(service.get(), kSame, SERVICE_DISABLED, kSame)) << GetLastError();
    EXPECT_EQ(DWORD{SERVICE_DISABLED}, StartType());
    EXPECT_FAILS_WITH(ERROR_SERVICE_DISABLED, StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, QueryStatus(service.get()).dwCurrentState);

    // Boot and system start are for drivers; nothing of a refused change is written.
    struct {
        DWORD type, start, errorControl;
    } refused[] = {
        {kSame, 5, kSame},
        {kSame, SERVICE_BOOT_START, kSame},
        {kSame, SERVICE_SYSTEM_START, kSame},
        {0x40, SERVICE_AUTO_START, kSame},
        {kSame, SERVICE_AUTO_START, 7},
    };
    const bool errorControlChecked = !WineDeviates("ChangeServiceConfigW takes any error control");
    for (const auto& c : refused) {
        if (c.errorControl == 7 && !errorControlChecked) continue;
        SCOPED_TRACE(testing::Message() << c.type << " " << c.start << " " << c.errorControl);
        EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, Change(service.get(), c.type, c.start, c.errorControl));
    }
    EXPECT_EQ(DWORD{SERVICE_DISABLED}, StartType());

    ASSERT_TRUE(Change(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE));
    EXPECT_EQ(DWORD{SERVICE_AUTO_START}, StartType());
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
}

}  // namespace
