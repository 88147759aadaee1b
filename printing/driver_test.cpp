// Drivers: the list of a server that does not answer at once, what is kept
// of a driver, and installing it from a saved list.
#include <gtest/gtest.h>

#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "printing/composite_driver.h"

namespace {

class DriverTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {L"HP LaserJet 4000 Series PCL"});
        AddMachine(L"SRV02");
        sim::AddPrintServer(L"SRV02", {});
    }
};

TEST_F(DriverTest, AServerThatDoesNotAnswerIsWaitedForTwiceForTwoMinutes) {
    struct Case {
        const wchar_t* fault;
        int result;
    } cases[] = {{L"EnumPrinterDriversW@SRV01=1722,2", 1}, {L"EnumPrinterDriversW@SRV01=1722", 0}};
    for (const auto& c : cases) {
        sim::ClearFaultRules();
        sim::AddFaultRule(c.fault);
        CCompositeDriver drivers(L"\\\\SRV01");
        const DWORD before = GetTickCount();
        EXPECT_EQ(c.result, drivers.Enum()) << corvan::ToUtf8(c.fault);
        EXPECT_EQ(2 * CCompositeDriver::kUnavailableWaitMs, GetTickCount() - before);
        EXPECT_EQ(c.result ? 1 : 0, drivers.GetCount());
        EXPECT_EQ(c.result ? 0u : static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), drivers.LastErrorCode);
        if (!c.result) EXPECT_EQ(L"EnumPrinterDrivers(\\\\SRV01)", drivers.ErrorWin32API);
    }
}

TEST_F(DriverTest, OnlyTheFirstDependentFileIsKeptAndInstalledAsAOneFileList) {
    CCompositeDriver drivers(L"\\\\SRV01");
    ASSERT_EQ(1, drivers.Enum());
    CDriver* driver = drivers.GetAt(0);
    EXPECT_EQ(L"Backup Driver", driver->Task);

    // Saved and loaded as the golden file shows, then installed on another server.
    const std::wstring file = WorldFile("drivers.bkp");
    EXPECT_EQ(corvan_test::Golden("printing/testdata/drivers.bkp"), corvan_test::SavedBytes(drivers, file));
    auto saved = corvan_test::LoadedFrom<CCompositeDriver>(file);
    ASSERT_EQ(1, saved->GetCount());
    saved->GetAt(0)->ServerName = L"\\\\SRV02";
    EXPECT_EQ(1, saved->Add());
    EXPECT_EQ(0u, saved->GetAt(0)->Restore);
    EXPECT_EQ(std::optional<std::vector<std::wstring>>({L"UNIRES.DLL"}),
              ReadRegistryMultiString(L"SRV02", std::wstring(sim::kTestDrivers3) + L"\\HP LaserJet 4000 Series PCL",
                                      L"Dependent Files"));

    CCompositeDriver target(L"\\\\SRV02");
    ASSERT_EQ(1, target.Enum());
    EXPECT_EQ(1, target.ContainsName(L"hp laserjet 4000 series pcl"));
    EXPECT_EQ(0, target.ContainsName(L"HP LaserJet 4"));
    EXPECT_EQ(0, CCompositeDriver().ContainsName(L"HP LaserJet 4000 Series PCL"));

    // A failed install keeps the driver to be restored.
    saved->GetAt(0)->Restore = 1;
    saved->GetAt(0)->Version = 7;
    EXPECT_EQ(0, saved->Add());
    EXPECT_EQ(1u, saved->GetAt(0)->Restore);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), saved->LastErrorCode);
}

}  // namespace
