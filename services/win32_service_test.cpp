#include "services/win32_service.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/object_store.h"
#include "core/test_support.h"
#include "diagnostics/logger.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

const wchar_t kSpoolerKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Spooler";

// SRV01 is the local machine and has a Spooler service (own process,
// automatic start) whose run state each test sets.
class CWin32ServiceTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        SetRegistryDword(L"SRV01", kSpoolerKey, L"Type", SERVICE_WIN32_OWN_PROCESS);
        SetRegistryDword(L"SRV01", kSpoolerKey, L"Start", SERVICE_AUTO_START);
    }

    CWin32Service Service(const std::wstring& name = L"Spooler", const std::wstring& server = L"\\\\SRV01") {
        CWin32Service service(server, name);
        Watch(service);
        return service;
    }

    std::wstring RunState() { return sim::MachineSetting(L"SRV01", L"Services", L"Spooler", L""); }
};

// Each case on a fresh service object: the result, the run state left,
// the time taken (at least, at most) and the error recorded, if any.
TEST_F(CWin32ServiceTest, StopAndStartWaitOutPendingTimesWithinTheLimit) {
    const DWORD after = CWin32Service::kAfterStopMs, limit = CWin32Service::kPendingLimitMs;
    const struct {
        bool stop;
        const wchar_t* state;
        DWORD result;
        const wchar_t* left;  // nullptr: not checked
        DWORD least, most;
        const wchar_t *function, *api;  // of the error; nullptr: none
    } cases[] = {
        {true, L"Running", 0, L"Stopped", after, limit - 1, nullptr, nullptr},
        // Already stopped: still a success, still followed by the wait.
        {true, L"Stopped", 0, L"Stopped", after, limit - 1, nullptr, nullptr},
        {true, L"Running,StopPendingMs=12000", 0, L"Stopped,StopPendingMs=12000", 12000 + after, 2 * limit, nullptr,
         nullptr},
        // A stop someone else began is waited for without a second control.
        {true, L"StopPending,StopPendingMs=3000", 0, L"Stopped,StopPendingMs=3000", 3000, 2 * limit, nullptr, nullptr},
        // Past the limit it fails, with no further wait.
        {true, L"Running,StopPendingMs=45000", 1460, L"StopPending,StopPendingMs=45000", limit + 1, limit + 1000,
         L"Stop()", L"CWin32Service::Stop()"},
        // A wait hint of zero is polled, not taken as "wait for ever".
        {false, L"Stopped,StartPendingMs=50,WaitHintMs=0", 0, L"Running,StartPendingMs=50,WaitHintMs=0", 0, 999,
         nullptr, nullptr},
        {false, L"Running", 0, L"Running", 0, 999, nullptr, nullptr},
        // The limit counts from the start of the operation: done at it is in
        // time, done after it late, and a hung start ends at it, whatever its hint.
        {false, L"Stopped,StartPendingMs=30000", 0, L"Running,StartPendingMs=30000", 0, limit + 1000, nullptr, nullptr},
        {false, L"Stopped,StartPendingMs=30500", 1460, nullptr, 0, limit + 1000, L"CWin32Service::Start()",
         L"WaitingForServiceToStart(ERROR_TIMEOUT)"},
        {false, L"StartPending,WaitHintMs=4000000000", 1460, nullptr, 0, limit + 1000, L"CWin32Service::Start()",
         L"WaitingForServiceToStart(ERROR_TIMEOUT)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(corvan::ToUtf8(c.state));
        SetServiceState(L"SRV01", L"Spooler", c.state);
        log_.texts.clear();
        CWin32Service service = Service();
        const DWORD before = GetTickCount();
        EXPECT_EQ(c.result, c.stop ? service.Stop() : service.Start());
        const DWORD took = GetTickCount() - before;
        EXPECT_GE(took, c.least);
        EXPECT_LE(took, c.most);
        if (c.left) EXPECT_EQ(c.left, RunState());
        if (c.function) {
            EXPECT_EQ(std::make_tuple(L"1460", c.function, c.api),
                      std::tie(service.ErrorCode, service.ErrorFunction, service.ErrorWin32API));
        } else {
            EXPECT_EQ(L"", service.ErrorCode);
            EXPECT_EQ(std::vector<std::wstring>{c.stop ? L"Stop(),Service stopped.,0"
                                                       : L"CWin32Service::Start(),Service started.,0"},
                      log_.texts);
        }
    }
}

TEST_F(CWin32ServiceTest, FailuresNameTheCallServerAndService) {
    SetServiceState(L"SRV01", L"Spooler", L"Stopped");
    SetRegistryDword(L"SRV01", kSpoolerKey, L"Start", SERVICE_DISABLED);
    CWin32Service disabled = Service();
    EXPECT_EQ(1058u, disabled.Start());
    EXPECT_EQ(L"CWin32Service::Start(\\\\SRV01, Spooler)", disabled.ErrorWin32API);

    CWin32Service missing = Service(L"Ghost");
    EXPECT_EQ(1060u, missing.Start());
    EXPECT_EQ(L"OpenService(\\\\SRV01, Ghost)", missing.ErrorWin32API);
    EXPECT_EQ(1060u, missing.Stop());
    EXPECT_EQ(L"OpenService(\\\\SRV01, Ghost)", missing.ErrorFunction);
    EXPECT_EQ(L"CWin32Service::Stop()", missing.ErrorWin32API);
    log_.texts.clear();
    log_.levels.clear();
    EXPECT_EQ(1060u, missing.Startup(SERVICE_DEMAND_START));  // logs the call and the operation
    EXPECT_EQ(L"CWin32Service::Startup()", missing.ErrorFunction);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogError}), log_.levels);
    EXPECT_TRUE(Logged(L"OpenService(\\\\SRV01),CWin32Service::Startup(),1060,"));
    EXPECT_TRUE(Logged(L"CWin32Service::Startup(),CWin32Service::Startup(),1060,"));

    CWin32Service unreachable = Service(L"Spooler", L"\\\\NOWHERE");
    EXPECT_EQ(1722u, unreachable.Start());
    EXPECT_EQ(L"OpenSCManager(\\\\NOWHERE)", unreachable.ErrorWin32API);
    EXPECT_EQ(1722u, unreachable.Stop());
    EXPECT_EQ(L"OpenSCManager(\\\\NOWHERE)", unreachable.ErrorFunction);

    SetServiceState(L"SRV01", L"Spooler", L"Running");
    AddFault(L"ControlService=5,1");
    CWin32Service refused = Service();
    EXPECT_EQ(5u, refused.Stop());
    EXPECT_EQ(L"Stop()", refused.ErrorFunction);
    EXPECT_EQ(L"Running", RunState());
}

TEST_F(CWin32ServiceTest, SavesTheWorkedExampleAndLoadsItsKeysExactlyAndTheCommonOnesInAnyCase) {
    CWin32Service service(L"", L"Spooler");
    service.ServiceType = 16;
    service.StartType = 2;
    EXPECT_EQ(corvan_test::Golden("core/testdata/service.ini"),
              corvan_test::SavedBytes(service, WorldFile("service.ini")));

    // StartType given twice, the second time in other capitals; the server
    // name in other capitals.
    CObjectStore store;
    ASSERT_EQ(1, store.LoadFromFile(corvan_test::TestData("services/testdata/service_load.ini")));
    ASSERT_TRUE(store.Next());
    CWin32Service loaded;
    EXPECT_EQ(1, loaded.LoadProperty(store));
    EXPECT_EQ(std::make_tuple(L"LanmanServer", L"C:\\WINDOWS\\system32\\svchost.exe -k netsvcs", 0x20u, 3u,
                              L"\\\\SRV02"),
              std::tie(loaded.ServiceName, loaded.BinaryPathName, loaded.ServiceType, loaded.StartType,
                       loaded.ServerName));
    ASSERT_TRUE(store.Next());
    EXPECT_EQ(L"2", store.CurrentEntrySection());
}

}  // namespace
