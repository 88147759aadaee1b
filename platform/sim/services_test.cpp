// The simulated service manager's own side: machines, run states kept in
// machine.ini, pending times on the process clock, the database in each
// machine's registry, and injected failures. What Windows itself does with
// a service is stated in platform/conformance/services_test.cpp.
#include <gtest/gtest.h>

#include "platform/conformance/testing/conformance.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";
const std::wstring kSpoolerKey = kServices + L"Spooler";
constexpr DWORD kOwnInteractive = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kSame = SERVICE_NO_CHANGE;

using namespace conformance;

class ServiceWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddMachine(L"SRV03", 5, 2, false);
        for (const wchar_t* machine : {L"SRV01", L"SRV02"}) {
            SetRegistryDword(machine, kSpoolerKey, L"Type", kOwnInteractive);
            SetRegistryDword(machine, kSpoolerKey, L"Start", SERVICE_AUTO_START);
            SetRegistryDword(machine, kSpoolerKey, L"ErrorControl", SERVICE_ERROR_NORMAL);
            SetRegistryString(machine, kSpoolerKey, L"ImagePath", L"%SystemRoot%\\spoolsv.exe", REG_EXPAND_SZ);
            SetRegistryString(machine, kSpoolerKey, L"DisplayName", L"The Spooler service");
        }
    }

    static DWORD State(SC_HANDLE service) { return QueryStatus(service).dwCurrentState; }
    static std::wstring RunState(const std::wstring& machine, const std::wstring& name) {
        return sim::MachineSetting(machine, L"Services", name, L"<none>");
    }
    static DWORD ErrorOfOpen(const wchar_t* server, const wchar_t* name) {
        SetLastError(0);
        ScHandle manager(OpenSCManagerW(server, nullptr, SC_MANAGER_CONNECT));
        if (!manager) return GetLastError();
        ScHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
        return service ? 0 : GetLastError();
    }
};

// Services are the keys with a Type, on machines that answer; an injected
// failure fires on the named call and machine before the machine is looked for.
TEST_F(ServiceWorldTest, OpeningFindsTheKeysWithATypeAndAChangeWritesWhatItIsGivenIntoTheRegistry) {
    SetRegistryDword(L"SRV01", kServices + L"Tcpip\\Parameters", L"Start", 2);
    AddFault(L"OpenSCManagerW@SRV02=5");
    AddFault(L"OpenSCManagerW@NOSUCH=5");
    struct {
        const wchar_t *server, *name;
        DWORD error;
    } cases[] = {
        {L"SRV01", L"Spooler", 0},
        {nullptr, L"Tcpip", ERROR_SERVICE_DOES_NOT_EXIST},  // no Type: no service
        {nullptr, L"The Spooler service", ERROR_SERVICE_DOES_NOT_EXIST},
        {L"\\\\SRV03", L"Spooler", RPC_S_SERVER_UNAVAILABLE},
        {L"\\\\SRV02", L"Spooler", ERROR_ACCESS_DENIED},
        {L"\\\\NOSUCH", L"Spooler", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOfOpen(c.server, c.name)) << corvan::ToUtf8(c.name) << " on "
                                                          << (c.server ? corvan::ToUtf8(c.server) : "null");

    // A change writes what it is given into the machine's registry; a driver may start at boot.
    ScHandle service(OpenServiceOn(nullptr, L"Spooler", SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), kSame, SERVICE_DEMAND_START, kSame, nullptr, nullptr, nullptr,
                                     L"RpcSs\0+Base\0", L"LocalSystem", nullptr, L"Print Spooler"));
    EXPECT_EQ(std::vector<std::wstring>{L"Base"}, ReadRegistryMultiString(L"SRV01", kSpoolerKey, L"DependOnGroup"));
    EXPECT_EQ(SERVICE_DEMAND_START, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Start"));
    EXPECT_EQ(kOwnInteractive, ReadRegistryDword(L"SRV01", kSpoolerKey, L"Type"));
    EXPECT_EQ(SERVICE_ERROR_NORMAL, ReadRegistryDword(L"SRV01", kSpoolerKey, L"ErrorControl"));
    EXPECT_EQ(L"%SystemRoot%\\spoolsv.exe", ReadRegistryString(L"SRV01", kSpoolerKey, L"ImagePath"));
    EXPECT_EQ(L"LocalSystem", ReadRegistryString(L"SRV01", kSpoolerKey, L"ObjectName"));
    EXPECT_EQ(L"Print Spooler", ReadRegistryString(L"SRV01", kSpoolerKey, L"DisplayName"));
    EXPECT_EQ(SERVICE_AUTO_START, ReadRegistryDword(L"SRV02", kSpoolerKey, L"Start"));

    SetRegistryDword(L"SRV01", kServices + L"Disk", L"Type", SERVICE_KERNEL_DRIVER);
    ScHandle driver(OpenServiceOn(nullptr, L"Disk", SERVICE_CHANGE_CONFIG));
    EXPECT_TRUE(ChangeServiceConfigW(driver.get(), kSame, SERVICE_BOOT_START, kSame, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(SERVICE_BOOT_START, ReadRegistryDword(L"SRV01", kServices + L"Disk", L"Start"));
}

TEST_F(ServiceWorldTest, PendingTimesRunOnTheProcessClockAndEveryStateIsKeptInTheMachinesIni) {
    ScHandle remote(OpenServiceOn(L"\\\\SRV02", L"Spooler", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(remote.get(), 0, nullptr));
    EXPECT_EQ(L"Running", RunState(L"SRV02", L"Spooler"));
    EXPECT_EQ(L"<none>", RunState(L"SRV01", L"Spooler"));
    ScHandle service(OpenServiceOn(nullptr, L"Spooler", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(L"Running", RunState(L"SRV01", L"Spooler"));

    SetServiceState(L"SRV01", L"Spooler", L"Running,StopPendingMs=45000,StartPendingMs=2000,WaitHintMs=500");
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, status.dwCurrentState);
    EXPECT_EQ(500u, status.dwWaitHint);
    EXPECT_EQ(0u, status.dwControlsAccepted);
    EXPECT_EQ(L"StopPending,StopPendingMs=45000,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));
    EXPECT_FAILS_WITH(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    Sleep(44999);
    EXPECT_EQ(DWORD{SERVICE_STOP_PENDING}, State(service.get()));
    Sleep(1);
    EXPECT_EQ(DWORD{SERVICE_STOPPED}, State(service.get()));

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    status = QueryStatus(service.get());
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, status.dwCurrentState);
    EXPECT_GE(status.dwCheckPoint, 1u);
    Sleep(2000);
    EXPECT_EQ(DWORD{SERVICE_RUNNING}, State(service.get()));
    EXPECT_EQ(L"Running,StopPendingMs=45000,StartPendingMs=2000,WaitHintMs=500", RunState(L"SRV01", L"Spooler"));

    // A pending state found in machine.ini without a time never ends.
    SetServiceState(L"SRV01", L"Spooler", L"StartPending");
    Sleep(600000);
    EXPECT_EQ(DWORD{SERVICE_START_PENDING}, State(service.get()));

    // An open handle fails once its machine stops answering.
    sim::SetMachineSetting(L"SRV02", L"Machine", L"Reachable", L"0");
    EXPECT_FAILS_WITH(RPC_S_SERVER_UNAVAILABLE, QueryServiceStatus(remote.get(), &status));
}

}  // namespace
