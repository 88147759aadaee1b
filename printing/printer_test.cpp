// Printers and their device modes: the saved form, the block built for the
// spooler, what Add sends to targets of each version, the driver mapping,
// permissions, and the selection rules. Drivers: the list of a server that
// does not answer at once, what is kept of a driver, and installing it from
// a saved list.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "printing/composite_driver.h"
#include "printing/composite_printer.h"
#include "registry/composite_reg_key.h"

namespace {

const std::wstring kPrinters = sim::kTestPrintersKey;
const std::wstring kLaser = L"HP LaserJet 4000 Series PCL";

class PrinterTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {kLaser});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {});
        sim::WindowsDevMode mode;
        mode.deviceName = L"LASER01";
        mode.formName = L"Letter";
        mode.orientation = -2;
        mode.privateBytes = {0xAB, 0xCD, 0xEF};
        sim::TestPrinter laser{L"LASER01", L"LASER", L"IP_10.0.0.5", kLaser, L"Front desk", L"Floor 2"};
        laser.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL;
        laser.devMode = mode.Bytes();
        laser.security = sim::TestDescriptor({{ACCESS_DENIED_ACE_TYPE, 0, PRINTER_EXECUTE, L"S-1-1-0"},
                                              {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"}});
        sim::AddPrinter(L"SRV01", laser);
        SetRegistryDword(L"SRV01", kPrinters + L"\\LASER01\\PrinterDriverData", L"FreeMem", 8192);
        AddMachine(L"SRV02");
        sim::AddPrintServer(L"SRV02", {kLaser});
        for (const wchar_t* port : {L"IP_1", L"IP_2", L"C:\\out.prn"}) sim::AddLocalPort(L"SRV02", port);
    }

    // A printer bound for SRV02 with nothing but what AddPrinterW needs.
    std::unique_ptr<CPrinter> Bound(const std::wstring& name, const std::wstring& port) {
        auto printer = std::make_unique<CPrinter>(L"\\\\SRV02");
        printer->PrinterName = L"\\\\SRV01\\" + name;
        printer->PortName = port;
        printer->DriverName = kLaser;
        printer->PrintProcessor = L"winprint";
        printer->Datatype = L"RAW";
        return printer;
    }
};

TEST_F(PrinterTest, APrinterSavesAsTheGoldenFileLoadsBackWholeAndIsSelected) {
    auto printers = std::make_unique<CCompositePrinter>(L"\\\\SRV01");
    ASSERT_EQ(1, printers->Enum());
    ASSERT_EQ(1, printers->GetCount());
    CPrinter* laser = printers->GetAt(0);
    ASSERT_NE(nullptr, laser->GetDriverData());

    const std::string golden = corvan_test::Golden("printing/testdata/printer.bkp");
    EXPECT_EQ(golden, corvan_test::SavedBytes(*laser, WorldFile("printer.bkp")));
    auto copy = corvan_test::LoadedFrom<CPrinter>(WorldFile("printer.bkp"));
    EXPECT_EQ(golden, corvan_test::SavedBytes(*copy, WorldFile("again.bkp")));
    const std::string dump = corvan_test::Printed([&] { copy->Dump(); });
    EXPECT_NE(std::string::npos, dump.find("devicename: LASER01, formname: \"Letter\"")) << dump;

    // Selection matches parts of names, ignoring case; any type matches all.
    struct Case {
        std::function<void()> select;
        DWORD restore;
    } cases[] = {
        {[&] { printers->SetRestoreByName(L"ser0", 0); }, 0},
        {[&] { printers->SetRestoreByName(L"LASER02", 1); }, 0},
        {[&] { printers->SetRestoreByName(L"laser", 1); }, 1},
        {[&] { printers->SetRestoreByDriver(L"4000 series", 0); }, 0},
        {[&] { printers->SetRestoreByType(12345, 1); }, 1},
    };
    for (const auto& c : cases) {
        c.select();
        EXPECT_EQ(c.restore, laser->Restore);
    }
    EXPECT_EQ(L"\\\\SRV01\\LASER01", laser->PrinterName);

    // Driver data that cannot be read fails the printer: it is not left out.
    AddFault(L"RegOpenKeyExW:PrinterDriverData=5");
    CCompositePrinter failing(L"\\\\SRV01");
    failing.Enum();
    EXPECT_EQ(5u, failing.GetAt(0)->LastErrorCode);
    // A list of printers that cannot be read fails the whole set.
    AddFault(L"EnumPrintersW@SRV01=5");
    EXPECT_EQ(0, CCompositePrinter(L"\\\\SRV01").Enum());
}

TEST_F(PrinterTest, TheBlockForTheSpoolerHoldsWhatWasKeptAndNothingOutsideIt) {
    CDeviceMode mode;
    DEVMODEW* block = reinterpret_cast<DEVMODEW*>(1);
    mode.Get(block);
    EXPECT_EQ(nullptr, block);  // size 0: none

    // Ends inside the form name, holds less than dmFields, or more than the structure: none.
    for (size_t size : {offsetof(DEVMODEW, dmFormName) + 2, offsetof(DEVMODEW, dmFields), sizeof(DEVMODEW) + 4}) {
        mode.Size = static_cast<WORD>(size);
        mode.Get(block);
        EXPECT_EQ(nullptr, block) << size;
    }

    // A file written before the private bytes were kept: its length alone is not passed on.
    mode.Size = sizeof(DEVMODEW);
    mode.DriverExtra = 8;
    mode.DeviceName = std::wstring(40, L'x');
    mode.Orientation = DMORIENT_LANDSCAPE;
    mode.Get(block);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(std::make_tuple(WORD{0}, std::wstring(CCHDEVICENAME - 1, L'x'), short{DMORIENT_LANDSCAPE}),
              std::make_tuple(block->dmDriverExtra, std::wstring(block->dmDeviceName), block->dmOrientation));

    // A shorter public part keeps only the members it holds, the private bytes right after it.
    mode.Size = static_cast<WORD>(offsetof(DEVMODEW, dmICMMethod));
    mode.DriverData = {1, 2, 3};
    mode.ICMMethod = 7;
    mode.Get(block);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(3, block->dmDriverExtra);
    EXPECT_EQ(0u, mode.LastErrorCode);  // the refusals before it are not its error
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<BYTE*>(block) + mode.Size, "\1\2\3", 3));

    CDeviceMode read;
    read.Enum(block);
    EXPECT_EQ(std::make_tuple(0u, std::vector<BYTE>{1, 2, 3}, mode.DisplayFrequency),
              std::tie(read.ICMMethod, read.DriverData, read.DisplayFrequency));
}

TEST_F(PrinterTest, PortsAreCutAtTheirColonOnlyForNewerTargets) {
    // Port, the target's version, whether the queue is made.
    const std::tuple<const wchar_t*, DWORD, int> cases[] = {
        {L"IP_1:9100", 5, 1}, {L"IP_1:9100,IP_2:9100", 5, 1}, {L"LPT1:", 5, 1}, {L"C:\\out.prn", 5, 1},
        {L"IP_1:9100", 4, 0}};
    int n = 0;
    for (const auto& [port, version, added] : cases) {
        SCOPED_TRACE(corvan::ToUtf8(port));
        sim::SetMachineSetting(L"SRV02", L"Machine", L"VersionMajor", std::to_wstring(version));
        auto printer = Bound(L"P" + std::to_wstring(++n), port);
        EXPECT_EQ(added, printer->Add());
        EXPECT_EQ(added ? 0u : static_cast<DWORD>(ERROR_UNKNOWN_PORT), printer->LastErrorCode);
    }
    EXPECT_EQ(std::optional<std::wstring>(L"IP_1,IP_2"), ReadRegistryString(L"SRV02", kPrinters + L"\\P2", L"Port"));
}

TEST_F(PrinterTest, AServerThatDoesNotAnswerIsWaitedForTwiceForTwoMinutes) {
    // The list of drivers: read after the second wait, or failed after it.
    const std::pair<const wchar_t*, int> cases[] = {{L"EnumPrinterDriversW@SRV01=1722,2", 1},
                                                    {L"EnumPrinterDriversW@SRV01=1722", 0}};
    for (const auto& [fault, result] : cases) {
        sim::ClearFaultRules();
        sim::AddFaultRule(fault);
        CCompositeDriver drivers(L"\\\\SRV01");
        const DWORD before = GetTickCount();
        EXPECT_EQ(result, drivers.Enum()) << corvan::ToUtf8(fault);
        EXPECT_EQ(2 * CCompositeDriver::kUnavailableWaitMs, GetTickCount() - before);
        EXPECT_EQ(result ? 1 : 0, drivers.GetCount());
        EXPECT_EQ(result ? 0u : static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), drivers.LastErrorCode);
        if (!result) EXPECT_EQ(L"EnumPrinterDrivers(\\\\SRV01)", drivers.ErrorWin32API);
    }
    // A queue: made after the second wait.
    sim::ClearFaultRules();
    sim::AddFaultRule(L"AddPrinterW@SRV02=1722,2");
    const DWORD before = GetTickCount();
    EXPECT_EQ(1, Bound(L"LATE", L"IP_1")->Add());
    EXPECT_EQ(2 * CPrinter::kUnavailableWaitMs, GetTickCount() - before);
}

TEST_F(PrinterTest, PermissionsGoWithTheQueueOrItIsNotMade) {
    std::vector<BYTE> stored;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;

    // An account the target does not know: no queue open to everybody.
    auto unknown = Bound(L"LOCKED", L"IP_1");
    auto* ace = new CAce();
    ace->Trustee = L"Nobody Here";
    ace->AccessMask = PRINTER_ALL_ACCESS;
    unknown->SecurityDescriptor.DiscretionaryAcl.NullAcl = 0;
    unknown->SecurityDescriptor.DiscretionaryAcl.AddAce(ace);
    EXPECT_EQ(0, unknown->Add());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NONE_MAPPED), unknown->LastErrorCode);
    EXPECT_FALSE(RegistryKeyExists(L"SRV02", kPrinters + L"\\LOCKED"));

    // None saved: the spooler's own, never a list that lets everybody in.
    auto plain = Bound(L"PLAIN", L"IP_1");
    EXPECT_EQ(1, plain->Add());
    ASSERT_TRUE(ReadRegistryValue(L"SRV02", kPrinters + L"\\PLAIN", L"Security", nullptr, &stored));
    ASSERT_TRUE(GetSecurityDescriptorDacl(stored.data(), &present, &dacl, &defaulted) && dacl);
    EXPECT_EQ(4, dacl->AceCount);

    // Deleting needs only the right to delete.
    plain->Restore = 1;
    sim::AddFaultRule(L"DeletePrinter@SRV02=5,1");
    EXPECT_EQ(0, plain->Delete());
    EXPECT_EQ(1, plain->Delete());
    EXPECT_FALSE(RegistryKeyExists(L"SRV02", kPrinters + L"\\PLAIN"));
    EXPECT_EQ(0, plain->Delete());  // gone: nothing to open
}

TEST_F(PrinterTest, OnlyTheFirstDependentFileIsKeptAndInstalledAsAOneFileList) {
    AddMachine(L"SRV03");
    sim::AddPrintServer(L"SRV03", {});
    CCompositeDriver drivers(L"\\\\SRV01");
    ASSERT_EQ(1, drivers.Enum());
    EXPECT_EQ(L"Backup Driver", drivers.GetAt(0)->Task);

    // Saved and loaded as the golden file shows, then installed on another server.
    const std::wstring file = WorldFile("drivers.bkp");
    EXPECT_EQ(corvan_test::Golden("printing/testdata/drivers.bkp"), corvan_test::SavedBytes(drivers, file));
    auto saved = corvan_test::LoadedFrom<CCompositeDriver>(file);
    ASSERT_EQ(1, saved->GetCount());
    saved->GetAt(0)->ServerName = L"\\\\SRV03";
    EXPECT_EQ(1, saved->Add());
    EXPECT_EQ(std::make_tuple(0u, 0u), std::tie(saved->GetAt(0)->Restore, saved->GetAt(0)->LastErrorCode));
    EXPECT_EQ(1, saved->Add());  // installed: nothing left to do
    EXPECT_EQ(std::optional<std::vector<std::wstring>>({L"UNIRES.DLL"}),
              ReadRegistryMultiString(L"SRV03", std::wstring(sim::kTestDrivers3) + L"\\HP LaserJet 4000 Series PCL",
                                      L"Dependent Files"));

    CCompositeDriver target(L"\\\\SRV03");
    ASSERT_EQ(1, target.Enum());
    EXPECT_EQ(1, target.ContainsName(L"hp laserjet 4000 series pcl"));
    EXPECT_EQ(0, target.ContainsName(L"HP LaserJet 4"));
    EXPECT_EQ(0, CCompositeDriver().ContainsName(L"HP LaserJet 4000 Series PCL"));

    // A failed install keeps the driver to be restored.
    saved->GetAt(0)->Restore = 1;
    saved->GetAt(0)->Version = 7;
    EXPECT_EQ(0, saved->Add());
    EXPECT_EQ(std::make_tuple(1u, DWORD{ERROR_INVALID_PARAMETER}),
              std::tie(saved->GetAt(0)->Restore, saved->LastErrorCode));
}

}  // namespace
