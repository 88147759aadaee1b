#include "services/win32_service.h"

#include <gtest/gtest.h>

#include <string>
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
class CWin32ServiceTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        SetRegistryDword(L"SRV01", kSpoolerKey, L"Type", SERVICE_WIN32_OWN_PROCESS);
        SetRegistryDword(L"SRV01", kSpoolerKey, L"Start", SERVICE_AUTO_START);
        logger_.AddTarget(L"Recorder", &log_);
    }

    CWin32Service Service(const std::wstring& name = L"Spooler", const std::wstring& server = L"\\\\SRV01") {
        CWin32Service service(server, name);
        service.Logger = &logger_;
        return service;
    }

    std::wstring RunState() { return sim::MachineSetting(L"SRV01", L"Services", L"Spooler", L""); }

    corvan_test::RecordingTarget log_;
    CLogger logger_;
};

TEST_F(CWin32ServiceTest, StopEndsTheServiceAndWaitsAfterwards) {
    SetServiceState(L"SRV01", L"Spooler", L"Running");
    CWin32Service service = Service();
    DWORD before = GetTickCount();
    EXPECT_EQ(0u, service.Stop());
    DWORD waited = GetTickCount() - before;
    EXPECT_EQ(L"Stopped", RunState());
    EXPECT_GE(waited, CWin32Service::kAfterStopMs);
    EXPECT_LT(waited, CWin32Service::kPendingLimitMs);
    EXPECT_EQ(L"", service.ErrorCode);

    // Already stopped: still a success, still followed by the wait.
    before = GetTickCount();
    EXPECT_EQ(0u, service.Stop());
    EXPECT_GE(GetTickCount() - before, CWin32Service::kAfterStopMs);
    EXPECT_EQ((std::vector<std::wstring>{L"Stop(),Service stopped.,0", L"Stop(),Service stopped.,0"}), log_.texts);
}

TEST_F(CWin32ServiceTest, StopWaitsOutAPendingTimeWithinTheLimit) {
    SetServiceState(L"SRV01", L"Spooler", L"Running,StopPendingMs=12000");
    CWin32Service service = Service();
    DWORD before = GetTickCount();
    EXPECT_EQ(0u, service.Stop());
    EXPECT_GE(GetTickCount() - before, 12000u + CWin32Service::kAfterStopMs);
    EXPECT_EQ(L"Stopped,StopPendingMs=12000", RunState());

    // A stop someone else began is waited for without a second control.
    SetServiceState(L"SRV01", L"Spooler", L"StopPending,StopPendingMs=3000");
    EXPECT_EQ(0u, service.Stop());
    EXPECT_EQ(L"Stopped,StopPendingMs=3000", RunState());
}

TEST_F(CWin32ServiceTest, StopPendingPastTheLimitTimesOut) {
    SetServiceState(L"SRV01", L"Spooler", L"Running,StopPendingMs=45000");
    CWin32Service service = Service();
    DWORD before = GetTickCount();
    EXPECT_EQ(1460u, service.Stop());
    DWORD waited = GetTickCount() - before;
    EXPECT_GT(waited, CWin32Service::kPendingLimitMs);
    EXPECT_LE(waited, CWin32Service::kPendingLimitMs + 1000) << "no further wait after a failed stop";
    EXPECT_EQ(L"StopPending,StopPendingMs=45000", RunState());
    EXPECT_EQ(L"1460", service.ErrorCode);
    EXPECT_EQ(L"Stop()", service.ErrorFunction);
    EXPECT_EQ(L"CWin32Service::Stop()", service.ErrorWin32API);
}

TEST_F(CWin32ServiceTest, StartRunsAStoppedServiceAndAcceptsARunningOne) {
    // A wait hint of zero is polled, not taken as "wait for ever".
    SetServiceState(L"SRV01", L"Spooler", L"Stopped,StartPendingMs=50,WaitHintMs=0");
    CWin32Service service = Service();
    DWORD before = GetTickCount();
    EXPECT_EQ(0u, service.Start());
    EXPECT_EQ(L"Running,StartPendingMs=50,WaitHintMs=0", RunState());
    EXPECT_LT(GetTickCount() - before, 1000u);
    EXPECT_EQ(0u, service.Start());  // already running
    EXPECT_EQ((std::vector<std::wstring>{L"CWin32Service::Start(),Service started.,0",
                                         L"CWin32Service::Start(),Service started.,0"}),
              log_.texts);
}

TEST_F(CWin32ServiceTest, TheStartLimitCountsFromTheStartOfTheOperation) {
    // Done exactly at the limit: in time.
    SetServiceState(L"SRV01", L"Spooler", L"Stopped,StartPendingMs=30000");
    CWin32Service service = Service();
    EXPECT_EQ(0u, service.Start());
    EXPECT_EQ(L"Running,StartPendingMs=30000", RunState());

    // Done after the limit: late, whatever the service does afterwards.
    SetServiceState(L"SRV01", L"Spooler", L"Stopped,StartPendingMs=30500");
    DWORD before = GetTickCount();
    EXPECT_EQ(1460u, service.Start());
    EXPECT_LE(GetTickCount() - before, CWin32Service::kPendingLimitMs + 1000);
    EXPECT_EQ(L"CWin32Service::Start()", service.ErrorFunction);
    EXPECT_EQ(L"WaitingForServiceToStart(ERROR_TIMEOUT)", service.ErrorWin32API);

    // A hung start with a wait hint far beyond the limit still ends at the limit.
    SetServiceState(L"SRV01", L"Spooler", L"StartPending,WaitHintMs=4000000000");
    before = GetTickCount();
    EXPECT_EQ(1460u, service.Start());
    EXPECT_LE(GetTickCount() - before, CWin32Service::kPendingLimitMs + 1000);
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
    ASSERT_EQ(2u, log_.texts.size());
    EXPECT_TRUE(corvan::StartsWithNoCase(log_.texts[0], L"OpenService(\\\\SRV01),CWin32Service::Startup(),1060,"));
    EXPECT_TRUE(corvan::StartsWithNoCase(log_.texts[1], L"CWin32Service::Startup(),CWin32Service::Startup(),1060,"));

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

TEST_F(CWin32ServiceTest, SavesTheSectionOfTheWorkedExample) {
    CWin32Service service(L"", L"Spooler");
    service.ServiceType = 16;
    service.StartType = 2;
    CObjectStore store;
    store.Logger = &logger_;
    service.SaveProperties(store);
    const std::wstring path = corvan::FromUtf8((WorldRoot() / "service.ini").string());
    ASSERT_EQ(1, store.SaveToFile(path));
    EXPECT_EQ(corvan_test::ReadBytes(corvan_test::SourceFile("core/testdata/service.ini")),
              corvan_test::ReadBytes(corvan::ToUtf8(path)));
}

TEST_F(CWin32ServiceTest, LoadsItsKeysExactlyAndTheCommonOnesInAnyCase) {
    CObjectStore store;
    store.AddEntry(L"1", L"class", L"CWin32Service");
    store.AddEntry(L"1", L"parent", L"NULL");
    store.AddEntry(L"1", L"ServiceName", L"\"LanmanServer\"");
    store.AddEntry(L"1", L"BinaryPathName", L"\"C:\\WINDOWS\\system32\\svchost.exe -k netsvcs\"");
    store.AddEntry(L"1", L"ServiceType", L"dword:00000020");
    store.AddEntry(L"1", L"StartType", L"dword:00000003");
    store.AddEntry(L"1", L"starttype", L"dword:00000004");
    store.AddEntry(L"1", L"servername", L"\"\\\\SRV02\"");
    store.AddEntry(L"2", L"class", L"CWin32Service");
    store.Rewind();
    ASSERT_TRUE(store.Next());
    CWin32Service service;
    EXPECT_EQ(1, service.LoadProperty(store));
    EXPECT_EQ(L"LanmanServer", service.ServiceName);
    EXPECT_EQ(L"C:\\WINDOWS\\system32\\svchost.exe -k netsvcs", service.BinaryPathName);
    EXPECT_EQ(0x20u, service.ServiceType);
    EXPECT_EQ(3u, service.StartType);
    EXPECT_EQ(L"\\\\SRV02", service.ServerName);
    ASSERT_TRUE(store.Next());
    EXPECT_EQ(L"2", store.CurrentEntrySection());
}

}  // namespace
