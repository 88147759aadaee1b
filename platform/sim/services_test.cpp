// What the service control manager does, stated so that it holds on Windows
// too: error numbers, states and the access each call needs.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    SC_HANDLE release() {
        SC_HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    SC_HANDLE handle_;
};

SERVICE_STATUS Sentinel() {
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof(status));
    return status;
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

    void AddService(const std::wstring& machine, const std::wstring& name, DWORD start,
                    DWORD type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS) {
        SetRegistryDword(machine, kServices + name, L"Type", type);
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
        if (!manager.get()) return nullptr;
        SC_HANDLE service = OpenServiceW(manager.get(), name, access);
        EXPECT_NE(nullptr, service) << "error " << GetLastError();
        return service;
    }

    static SERVICE_STATUS Query(SC_HANDLE service) {
        SERVICE_STATUS status = Sentinel();
        EXPECT_TRUE(QueryServiceStatus(service, &status)) << "error " << GetLastError();
        return status;
    }

    static std::wstring RunState(const std::wstring& machine, const std::wstring& name) {
        return sim::MachineSetting(machine, L"Services", name, L"<none>");
    }
};

TEST_F(ServiceTest, ManagerOfUnknownOrUnreachableMachineIsRpcServerUnavailable) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenSCManagerW(L"\\\\NOSUCH", nullptr, SC_MANAGER_CONNECT));
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenSCManagerW(L"\\\\SRV03", nullptr, SC_MANAGER_CONNECT));
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());

    for (const wchar_t* server : {static_cast<const wchar_t*>(nullptr), L"", L"\\\\srv02", L"SRV01"}) {
        ScHandle manager(OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT));
        EXPECT_NE(nullptr, manager.get()) << (server ? "named" : "null");
    }
    ScHandle active(OpenSCManagerW(nullptr, L"ServicesActive", SC_MANAGER_CONNECT));
    EXPECT_NE(nullptr, active.get());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenSCManagerW(nullptr, L"NoSuchDatabase", SC_MANAGER_CONNECT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
}

TEST_F(ServiceTest, ServicesAreFoundByKeyNameIgnoringCase) {
    SetRegistryDword(L"SRV01", kServices + L"Tcpip\\Parameters", L"Start", 2);  // a key without Type
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_NE(nullptr, manager.get());

    ScHandle lower(OpenServiceW(manager.get(), L"spooler", SERVICE_QUERY_STATUS));
    EXPECT_NE(nullptr, lower.get());
    for (const wchar_t* name : {L"NoSuch", L"Tcpip", L"The Spooler service", L""}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
        DWORD expected = *name ? ERROR_SERVICE_DOES_NOT_EXIST : ERROR_INVALID_NAME;
        EXPECT_EQ(expected, GetLastError()) << corvan::ToUtf8(name);
    }
}

TEST_F(ServiceTest, HandlesOfTheWrongKindOrClosedAreInvalid) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseServiceHandle(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    SC_HANDLE service = OpenServiceW(manager.get(), L"Spooler", SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    SERVICE_STATUS status = Sentinel();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(QueryServiceStatus(manager.get(), &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenServiceW(service, L"Spooler", SERVICE_ALL_ACCESS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    // A service handle outlives its manager handle.
    ASSERT_TRUE(CloseServiceHandle(manager.release()));
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_TRUE(CloseServiceHandle(service));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(QueryServiceStatus(service, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(ServiceTest, StartWithoutPendingTimeRunsAtOnceAndIsKept) {
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = Query(service.get());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS), status.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWaitHint);

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    status = Query(service.get());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), status.dwControlsAccepted & SERVICE_ACCEPT_STOP);
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Spooler"));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
}

TEST_F(ServiceTest, StartPassesThroughStartPendingOnTheProcessClock) {
    SetServiceState(L"SRV01", L"Spooler", L"Stopped,StartPendingMs=2000,WaitHintMs=500");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));

    SERVICE_STATUS status = Query(service.get());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), status.dwCurrentState);
    EXPECT_EQ(500u, status.dwWaitHint);
    EXPECT_GE(status.dwCheckPoint, 1u);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    EXPECT_EQ(L"StartPending,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
    status = Sentinel();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), status.dwCurrentState);

    Sleep(1999);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), Query(service.get()).dwCurrentState);
    Sleep(1);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Query(service.get()).dwCurrentState);
    EXPECT_EQ(L"Running,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));
}

TEST_F(ServiceTest, StopPassesThroughStopPendingThenIsNotActive) {
    SetServiceState(L"SRV01", L"Spooler", L"Running,StopPendingMs=45000");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS));

    SERVICE_STATUS status = Sentinel();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS), status.dwServiceType);
    EXPECT_GT(status.dwWaitHint, 0u);  // a pending service names a time to wait
    EXPECT_EQ(0u, status.dwWin32ExitCode);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), GetLastError());

    Sleep(44999);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), Query(service.get()).dwCurrentState);
    Sleep(1);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Query(service.get()).dwCurrentState);
    EXPECT_EQ(L"Stopped,StopPendingMs=45000", RunState(L"SRV01", L"Spooler"));

    // Stopping a stopped service fails but still reports its status.
    status = Sentinel();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWaitHint);
}

TEST_F(ServiceTest, StopWithoutPendingTimeReturnsStopped) {
    SetServiceState(L"SRV01", L"Spooler", L"Running");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_STOP));
    SERVICE_STATUS status = Sentinel();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(L"Stopped", RunState(L"SRV01", L"Spooler"));
}

TEST_F(ServiceTest, PendingStateFoundInMachineIniEndsAfterItsTimeOrNever) {
    SetServiceState(L"SRV01", L"Spooler", L"StopPending,StopPendingMs=3000,WaitHintMs=0");
    SetServiceState(L"SRV01", L"Browser", L"StartPending");
    ScHandle spooler(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS));
    ScHandle browser(Open(nullptr, L"Browser", SERVICE_QUERY_STATUS));

    SERVICE_STATUS status = Query(spooler.get());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWaitHint);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), Query(browser.get()).dwCurrentState);

    Sleep(3000);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Query(spooler.get()).dwCurrentState);
    Sleep(600000);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), Query(browser.get()).dwCurrentState);
}

TEST_F(ServiceTest, EachCallNeedsItsAccessRight) {
    SetServiceState(L"SRV01", L"Spooler", L"Running");
    ScHandle queryOnly(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = Sentinel();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(queryOnly.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(queryOnly.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ChangeServiceConfigW(queryOnly.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Spooler"));
    EXPECT_EQ(SERVICE_AUTO_START, ReadRegistryDword(L"SRV01", kServices + L"Spooler", L"Start"));

    ScHandle changeOnly(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(QueryServiceStatus(changeOnly.get(), &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // Generic rights map onto the service rights.
    ScHandle execute(Open(nullptr, L"Spooler", GENERIC_EXECUTE));
    EXPECT_TRUE(ControlService(execute.get(), SERVICE_CONTROL_STOP, &status));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(QueryServiceStatus(execute.get(), &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    ScHandle read(Open(nullptr, L"Spooler", GENERIC_READ));
    EXPECT_TRUE(QueryServiceStatus(read.get(), &status));
}

TEST_F(ServiceTest, DisabledServiceDoesNotStart) {
    SetRegistryDword(L"SRV01", kServices + L"Browser", L"Start", SERVICE_DISABLED);
    ScHandle service(Open(nullptr, L"Browser", SERVICE_START | SERVICE_QUERY_STATUS));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Query(service.get()).dwCurrentState);
}

TEST_F(ServiceTest, StartTypeChangeIsWrittenToTheRegistryAndNothingElse) {
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG | SERVICE_START));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    const std::wstring key = kServices + L"Spooler";
    EXPECT_EQ(SERVICE_DISABLED, ReadRegistryDword(L"SRV01", key, L"Start"));
    EXPECT_EQ(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, ReadRegistryDword(L"SRV01", key, L"Type"));
    EXPECT_EQ(SERVICE_ERROR_NORMAL, ReadRegistryDword(L"SRV01", key, L"ErrorControl"));
    EXPECT_EQ(L"%SystemRoot%\\system32\\Spooler.exe", ReadRegistryString(L"SRV01", key, L"ImagePath"));
    EXPECT_EQ(L"The Spooler service", ReadRegistryString(L"SRV01", key, L"DisplayName"));
    EXPECT_FALSE(ReadRegistryString(L"SRV01", key, L"ObjectName").has_value());

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), GetLastError());

    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, L"LocalSystem", nullptr,
                                     L"Print Spooler"));
    EXPECT_EQ(SERVICE_DEMAND_START, ReadRegistryDword(L"SRV01", key, L"Start"));
    EXPECT_EQ(L"LocalSystem", ReadRegistryString(L"SRV01", key, L"ObjectName"));
    EXPECT_EQ(L"Print Spooler", ReadRegistryString(L"SRV01", key, L"DisplayName"));
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr));
}

TEST_F(ServiceTest, InvalidConfigurationChangesWriteNothing) {
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG));
    const std::wstring key = kServices + L"Spooler";
    struct Case {
        DWORD type, start, errorControl;
    } cases[] = {
        {SERVICE_NO_CHANGE, 5, SERVICE_NO_CHANGE},
        {SERVICE_NO_CHANGE, SERVICE_BOOT_START, SERVICE_NO_CHANGE},  // boot start is for drivers
        {SERVICE_NO_CHANGE, SERVICE_SYSTEM_START, SERVICE_NO_CHANGE},
        {0x40, SERVICE_DISABLED, SERVICE_NO_CHANGE},
        {SERVICE_NO_CHANGE, SERVICE_DISABLED, 7},
    };
    for (const Case& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ChangeServiceConfigW(service.get(), c.type, c.start, c.errorControl, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, L"Renamed"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.type << " " << c.start;
    }
    EXPECT_EQ(SERVICE_AUTO_START, ReadRegistryDword(L"SRV01", key, L"Start"));
    EXPECT_EQ(L"The Spooler service", ReadRegistryString(L"SRV01", key, L"DisplayName"));

    // A driver may start at boot.
    SetRegistryDword(L"SRV01", kServices + L"Disk", L"Type", SERVICE_KERNEL_DRIVER);
    ScHandle driver(Open(nullptr, L"Disk", SERVICE_CHANGE_CONFIG));
    EXPECT_TRUE(ChangeServiceConfigW(driver.get(), SERVICE_NO_CHANGE, SERVICE_BOOT_START, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(SERVICE_BOOT_START, ReadRegistryDword(L"SRV01", kServices + L"Disk", L"Start"));
}

TEST_F(ServiceTest, RemoteMachineKeepsItsOwnState) {
    ScHandle remote(Open(L"\\\\SRV02", L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(remote.get(), 0, nullptr));
    EXPECT_EQ(L"Running", RunState(L"SRV02", L"Spooler"));
    EXPECT_EQ(L"<none>", RunState(L"SRV01", L"Spooler"));
    ScHandle local(Open(nullptr, L"Spooler", SERVICE_QUERY_STATUS));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Query(local.get()).dwCurrentState);

    // A machine that stops answering fails the calls on open handles.
    sim::SetMachineSetting(L"SRV02", L"Machine", L"Reachable", L"0");
    SERVICE_STATUS status = Sentinel();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(QueryServiceStatus(remote.get(), &status));
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());
}

TEST_F(ServiceTest, InterrogateAndControlsTheServiceDoesNotAccept) {
    SetServiceState(L"SRV01", L"Spooler", L"Running");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_ALL_ACCESS));
    SERVICE_STATUS status = Sentinel();
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), 0, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Spooler"));
}

TEST_F(ServiceTest, InjectedFailuresFireOnTheNamedCallAndMachine) {
    AddFault(L"StartServiceW@SRV01:Spooler=1053,1");
    AddFault(L"OpenSCManagerW@SRV02=5");
    ScHandle service(Open(nullptr, L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Query(service.get()).dwCurrentState);
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenSCManagerW(L"\\\\SRV02", nullptr, SC_MANAGER_CONNECT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // Failures injected into the caller's registry calls do not reach the
    // service manager, which reads its database itself.
    AddFault(L"RegOpenKeyExW=5");
    AddFault(L"RegConnectRegistryW=53");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Query(service.get()).dwCurrentState);
}

}  // namespace
