// What the service control manager does, stated so that it holds on Windows
// too: error numbers, states and the access each call needs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

// The call fails and leaves `error` in place of a sentinel last error.
#define EXPECT_FAILS_WITH(error, call)                                  \
    do {                                                                \
        SetLastError(0xdeadbeef);                                       \
        EXPECT_FALSE(call);                                             \
        EXPECT_EQ(static_cast<DWORD>(error), GetLastError()) << #call; \
    } while (0)

namespace {

const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";
const std::wstring kSpoolerKey = kServices + L"Spooler";
constexpr DWORD kOwnInteractive = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kSame = SERVICE_NO_CHANGE;

struct CloseSc { void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); } };
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseSc>;

SERVICE_STATUS Sentinel() {
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof(status));
    return status;
}

BOOL Change(SC_HANDLE service, DWORD type, DWORD start, DWORD errorControl, LPCWSTR account = nullptr,
            LPCWSTR displayName = nullptr) {
    return ChangeServiceConfigW(service, type, start, errorControl, nullptr, nullptr, nullptr, nullptr, account,
                                nullptr, displayName);
}

class ServiceTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddMachine(L"SRV03", 5, 2, false);
        AddService(L"SRV01", L"Spooler", SERVICE_AUTO_START);
        AddService(L"SRV01", L"Browser", SERVICE_DEMAND_START);
        AddService(L"SRV02", L"Spooler", SERVICE_AUTO_START);
    }

    void AddService(const std::wstring& machine, const std::wstring& name, DWORD start) {
        SetRegistryDword(machine, kServices + name, L"Type", kOwnInteractive);
        SetRegistryDword(machine, kServices + name, L"Start", start);
        SetRegistryDword(machine, kServices + name, L"ErrorControl", SERVICE_ERROR_NORMAL);
        SetRegistryString(machine, kServices + name, L"ImagePath", L"%SystemRoot%\\system32\\" + name + L".exe",
                          REG_EXPAND_SZ);
        SetRegistryString(machine, kServices + name, L"DisplayName", L"The " + name + L" service");
    }

    // A service handle; the manager handle is closed at once, which leaves
    // the service handle valid.
    SC_HANDLE Open(const wchar_t* server, const wchar_t* name, DWORD access) {
        ScHandle manager(OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT));
        EXPECT_NE(nullptr, manager.get());
        if (!manager) return nullptr;
        SC_HANDLE service = OpenServiceW(manager.get(), name, access);
        EXPECT_NE(nullptr, service) << "error " << GetLastError();
        return service;
    }

    static SERVICE_STATUS Query(SC_HANDLE service) {
        SERVICE_STATUS status = Sentinel();
        EXPECT_TRUE(QueryServiceStatus(service, &status)) << "error " << GetLastError();
        return status;
    }
    static DWORD State(SC_HANDLE service) { return Query(service).dwCurrentState; }

    static std::wstring RunState(const std::wstring& machine, const std::wstring& name) {
        return sim::MachineSetting(machine, L"Services", name, L"<none>");
    }
};

TEST_F(ServiceTest, ManagersAndServicesAreFoundOrNamedByTheirError) {
    for (const wchar_t* server : {L"\\\\NOSUCH", L"\\\\SRV03"})
        EXPECT_FAILS_WITH(RPC_S_SERVER_UNAVAILABLE, OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT));
    for (const wchar_t* server : {static_cast<const wchar_t*>(nullptr), L"", L"\\\\srv02", L"SRV01"})
        EXPECT_NE(nullptr, ScHandle(OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT)).get())
            << (server ? corvan::ToUtf8(server) : "null");
    EXPECT_NE(nullptr, ScHandle(OpenSCManagerW(nullptr, L"ServicesActive", SC_MANAGER_CONNECT)).get());
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, OpenSCManagerW(nullptr, L"NoSuchDatabase", SC_MANAGER_CONNECT));

    // Services by key name, ignoring case; a key without Type is no service.
    SetRegistryDword(L"SRV01", kServices + L"Tcpip\\Parameters", L"Start", 2);
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_NE(nullptr, manager.get());
    EXPECT_NE(nullptr, ScHandle(OpenServiceW(manager.get(), L"spooler", SERVICE_QUERY_STATUS)).get());
    for (const wchar_t* name : {L"NoSuch", L"Tcpip", L"The Spooler service", L""}) {
        SCOPED_TRACE(corvan::ToUtf8(name));
        EXPECT_FAILS_WITH(*name ? ERROR_SERVICE_DOES_NOT_EXIST : ERROR_INVALID_NAME,
                          OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    }
}

TEST_F(ServiceTest, HandlesOfTheWrongKindOrClosedAreInvalid) {
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, CloseServiceHandle(nullptr));
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    SC_HANDLE service = OpenServiceW(manager.get(), L"Spooler", SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    SERVICE_STATUS status = Sentinel();
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, QueryServiceStatus(manager.get(), &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, OpenServiceW(service, L"Spooler", SERVICE_ALL_ACCESS));

    // A service handle outlives its manager handle.
    ASSERT_TRUE(CloseServiceHandle(manager.release()));
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, CloseServiceHandle(service));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, QueryServiceStatus(service, &status));
}

TEST_F(ServiceTest, StartRunsAtOnceOrPassesThroughStartPendingOnTheProcessClock) {
    ScHandle browser(Open(nullptr, L"Browser", SERVICE_START | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = Query(browser.get());
    EXPECT_EQ(kOwnInteractive, status.dwServiceType);
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, status.dwCurrentState);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWaitHint);
    ASSERT_TRUE(StartServiceW(browser.get(), 0, nullptr));
    status = Query(browser.get());
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, status.dwCurrentState);
    EXPECT_EQ(DWORD{SERVICE_ACCEPT_STOP}, status.dwControlsAccepted & SERVICE_ACCEPT_STOP);
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Browser"));
    EXPECT_FAILS_WITH(ERROR_SERVICE_ALREADY_RUNNING, StartServiceW(browser.get(), 0, nullptr));

    SetServiceState(L"SRV01", L"Spooler", L"Stopped,StartPendingMs=2000,WaitHintMs=500");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    status = Query(service.get());
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, status.dwCurrentState);
    EXPECT_EQ(500u, status.dwWaitHint);
    EXPECT_GE(status.dwCheckPoint, 1u);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    EXPECT_EQ(L"StartPending,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));

    EXPECT_FAILS_WITH(ERROR_SERVICE_ALREADY_RUNNING, StartServiceW(service.get(), 0, nullptr));
    status = Sentinel();
    EXPECT_FAILS_WITH(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, status.dwCurrentState);

    Sleep(1999);
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, State(service.get()));
    Sleep(1);
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, State(service.get()));
    EXPECT_EQ(L"Running,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));
}

TEST_F(ServiceTest, StopPassesThroughStopPendingIfItTakesTimeThenIsNotActive) {
    SetServiceState(L"SRV01", L"Browser", L"Running");
    SERVICE_STATUS status = Sentinel();
    ASSERT_TRUE(ControlService(ScHandle(Open(nullptr, L"Browser", SERVICE_STOP)).get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, status.dwCurrentState);
    EXPECT_EQ(L"Stopped", RunState(L"SRV01", L"Browser"));

    SetServiceState(L"SRV01", L"Spooler", L"Running,StopPendingMs=45000");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS));
    status = Sentinel();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, status.dwCurrentState);
    EXPECT_EQ(kOwnInteractive, status.dwServiceType);
    EXPECT_GT(status.dwWaitHint, 0u);  // a pending service names a time to wait
    EXPECT_EQ(0u, status.dwWin32ExitCode);
    EXPECT_FAILS_WITH(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ControlService(service.get(), SERVICE_CONTROL_STOP, &status));

    Sleep(44999);
    EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, State(service.get()));
    Sleep(1);
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(service.get()));
    EXPECT_EQ(L"Stopped,StopPendingMs=45000", RunState(L"SRV01", L"Spooler"));

    // Stopping a stopped service fails but still reports its status.
    status = Sentinel();
    EXPECT_FAILS_WITH(ERROR_SERVICE_NOT_ACTIVE, ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWaitHint);
}

TEST_F(ServiceTest, PendingStateFoundInMachineIniEndsAfterItsTimeOrNever) {
    SetServiceState(L"SRV01", L"Spooler", L"StopPending,StopPendingMs=3000,WaitHintMs=0");
    SetServiceState(L"SRV01", L"Browser", L"StartPending");
    ScHandle spooler(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS));
    ScHandle browser(Open(nullptr, L"Browser", SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = Query(spooler.get());
    EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWaitHint);
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, State(browser.get()));

    Sleep(3000);
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(spooler.get()));
    Sleep(600000);
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, State(browser.get()));
}

TEST_F(ServiceTest, EachCallNeedsItsAccessRightAndAControlTheServiceAccepts) {
    SetServiceState(L"SRV01", L"Spooler", L"Running");
    SERVICE_STATUS status = Sentinel();
    ScHandle queryOnly(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, StartServiceW(queryOnly.get(), 0, nullptr));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, ControlService(queryOnly.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, Change(queryOnly.get(), kSame, SERVICE_DISABLED, kSame));
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Spooler"));
    EXPECT_EQ(SERVICE_AUTO_START, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Start"));
    ScHandle changeOnly(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, QueryServiceStatus(changeOnly.get(), &status));

    // Generic rights map onto the service rights.
    ScHandle execute(Open(nullptr, L"Spooler", GENERIC_EXECUTE));
    EXPECT_TRUE(ControlService(execute.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, QueryServiceStatus(execute.get(), &status));
    EXPECT_TRUE(QueryServiceStatus(ScHandle(Open(nullptr, L"Spooler", GENERIC_READ)).get(), &status));

    SetServiceState(L"SRV01", L"Browser", L"Running");
    ScHandle all(Open(nullptr, L"Browser", SERVICE_ALL_ACCESS));
    status = Sentinel();
    EXPECT_TRUE(ControlService(all.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, status.dwCurrentState);
    EXPECT_FAILS_WITH(ERROR_INVALID_SERVICE_CONTROL, ControlService(all.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, ControlService(all.get(), 0, &status));
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Browser"));
}

TEST_F(ServiceTest, DisabledServiceDoesNotStartAndStartTypeChangeIsWrittenToTheRegistryAlone) {
    SetRegistryDword(L"SRV01", kServices + L"Browser", L"Start", SERVICE_DISABLED);
    ScHandle browser(Open(nullptr, L"Browser", SERVICE_START | SERVICE_QUERY_STATUS));
    EXPECT_FAILS_WITH(ERROR_SERVICE_DISABLED, StartServiceW(browser.get(), 0, nullptr));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(browser.get()));

    ScHandle service(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG | SERVICE_START));
    ASSERT_TRUE(Change(service.get(), kSame, SERVICE_DISABLED, kSame));
    EXPECT_EQ(SERVICE_DISABLED, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Start"));
    EXPECT_EQ(kOwnInteractive, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Type"));
    EXPECT_EQ(SERVICE_ERROR_NORMAL, ReadRegistryDword(L"SRV01", kSpoolerKey, L"ErrorControl"));
    EXPECT_EQ(L"%SystemRoot%\\system32\\Spooler.exe", ReadRegistryString(L"SRV01", kSpoolerKey, L"ImagePath"));
    EXPECT_EQ(L"The Spooler service", ReadRegistryString(L"SRV01", kSpoolerKey, L"DisplayName"));
    EXPECT_FALSE(ReadRegistryString(L"SRV01", kSpoolerKey, L"ObjectName").has_value());
    EXPECT_FAILS_WITH(ERROR_SERVICE_DISABLED, StartServiceW(service.get(), 0, nullptr));

    ASSERT_TRUE(Change(service.get(), kSame, SERVICE_DEMAND_START, kSame, L"LocalSystem", L"Print Spooler"));
    EXPECT_EQ(SERVICE_DEMAND_START, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Start"));
    EXPECT_EQ(L"LocalSystem", ReadRegistryString(L"SRV01", kSpoolerKey, L"ObjectName"));
    EXPECT_EQ(L"Print Spooler", ReadRegistryString(L"SRV01", kSpoolerKey, L"DisplayName"));
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr));
}

TEST_F(ServiceTest, InvalidConfigurationChangesWriteNothing) {
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG));
    struct { DWORD type, start, errorControl; } cases[] = {
        {kSame, 5, kSame},
        {kSame, SERVICE_BOOT_START, kSame},  // boot and system start are for drivers
        {kSame, SERVICE_SYSTEM_START, kSame},
        {0x40, SERVICE_DISABLED, kSame},
        {kSame, SERVICE_DISABLED, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.start << " " << c.errorControl);
        EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER,
                          Change(service.get(), c.type, c.start, c.errorControl, nullptr, L"Renamed"));
    }
    EXPECT_EQ(SERVICE_AUTO_START, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Start"));
    EXPECT_EQ(L"The Spooler service", ReadRegistryString(L"SRV01", kSpoolerKey, L"DisplayName"));

    // A driver may start at boot.
    SetRegistryDword(L"SRV01", kServices + L"Disk", L"Type", SERVICE_KERNEL_DRIVER);
    ScHandle driver(Open(nullptr, L"Disk", SERVICE_CHANGE_CONFIG));
    EXPECT_TRUE(Change(driver.get(), kSame, SERVICE_BOOT_START, kSame));
    EXPECT_EQ(SERVICE_BOOT_START, ReadRegistryDword(L"SRV01", kServices + L"Disk", L"Start"));
}

TEST_F(ServiceTest, RemoteMachineKeepsItsOwnState) {
    ScHandle remote(Open(L"\\\\SRV02", L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(remote.get(), 0, nullptr));
    EXPECT_EQ(L"Running", RunState(L"SRV02", L"Spooler"));
    EXPECT_EQ(L"<none>", RunState(L"SRV01", L"Spooler"));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(ScHandle(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS)).get()));

    // A machine that stops answering fails the calls on open handles.
    sim::SetMachineSetting(L"SRV02", L"Machine", L"Reachable", L"0");
    SERVICE_STATUS status = Sentinel();
    EXPECT_FAILS_WITH(RPC_S_SERVER_UNAVAILABLE, QueryServiceStatus(remote.get(), &status));
}

TEST_F(ServiceTest, InjectedFailuresFireOnTheNamedCallAndMachine) {
    AddFault(L"StartServiceW@SRV01:Spooler=1053,1");
    AddFault(L"OpenSCManagerW@SRV02=5");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    EXPECT_FAILS_WITH(ERROR_SERVICE_REQUEST_TIMEOUT, StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(service.get()));
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, OpenSCManagerW(L"\\\\SRV02", nullptr, SC_MANAGER_CONNECT));

    // Failures injected into the caller's registry calls do not reach the
    // service manager, which reads its database itself.
    AddFault(L"RegOpenKeyExW=5");
    AddFault(L"RegConnectRegistryW=53");
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, State(service.get()));
}

}  // namespace
