// Ports: what a backup reads and saves, what a restore writes, and how ports
// a target already has are left alone.
#include <gtest/gtest.h>

#include <tuple>

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "printing/composite_port.h"
#include "registry/composite_reg_key.h"
#include "registry/reg_value.h"
#include "services/win32_service.h"

namespace {

const std::wstring kPorts = sim::kTestTcpMonitorPorts;

class PortTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        sim::AddPrintServer(L"SRV01", {});
        SetRegistryDword(L"SRV01", kPorts + L"\\IP_1", L"Protocol", 1);
        SetRegistryString(L"SRV01", kPorts + L"\\IP_1", L"IPAddress", L"10.0.0.1");
        AddMachine(L"SRV02");
        sim::AddPrintServer(L"SRV02", {});
    }

    // A saved port bound for SRV02.
    std::unique_ptr<CPort> SavedPort(const std::wstring& name, const std::wstring& monitor, DWORD portNumber) {
        auto port = std::make_unique<CPort>(L"\\\\SRV02");
        port->PortName = name;
        port->MonitorName = port->Description = monitor;
        port->RegistryFolder = WorldFile("restore");
        auto data = std::make_unique<CCompositeRegKey>(L"\\\\SRV02");
        data->ParentKeyName = CPort::MonitorPortsKey(monitor);
        data->KeyName = name;
        auto* value = new CRegValueDword(L"\\\\SRV02");
        value->ParentKeyName = data->FullPath();
        value->ValueName = L"PortNumber";
        value->Value = portNumber;
        data->AddChild(value);
        port->SetRegistryData(std::move(data));
        return port;
    }
};

TEST_F(PortTest, BackupReadsTheMonitorKeyOfTcpIpPortsSavesAsTheGoldenFileAndSelects) {
    auto ports = std::make_unique<CCompositePort>(L"\\\\SRV01");
    ASSERT_EQ(1, ports->Enum());
    ASSERT_EQ(4, ports->GetCount());
    EXPECT_EQ(0u, ports->LastErrorCode);
    const CPort* ip = ports->Find(L"ip_1");
    ASSERT_NE(nullptr, ip);
    EXPECT_EQ(nullptr, ports->Find(L"COM1:")->GetRegistryData());
    EXPECT_EQ(L"Backup Port", ip->Task);

    // Loaded back, it saves the same.
    const std::string golden = corvan_test::Golden("printing/testdata/port.bkp");
    EXPECT_EQ(golden, corvan_test::SavedBytes(*const_cast<CPort*>(ip), WorldFile("port.bkp")));
    auto port = corvan_test::LoadedFrom<CPort>(WorldFile("port.bkp"));
    EXPECT_EQ(golden, corvan_test::SavedBytes(*port, WorldFile("again.bkp")));

    // The monitor is told by the description, whatever its letter case.
    CPort other(L"\\\\SRV01");
    other.PortName = L"IP_1";
    other.Description = L"standard TCP/IP PORT";
    EXPECT_EQ(1, other.ReadRegistryData());
    EXPECT_NE(nullptr, other.GetRegistryData());
    other.PortName = L"NOSUCH";
    EXPECT_EQ(0, other.ReadRegistryData());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), other.LastErrorCode);

    // Selection matches whole names, ignoring case, and whole types.
    CCompositePort empty;
    EXPECT_EQ(0, empty.ContainsName(L"COM1:"));
    ports->SetRestoreByName(L"com1:", 0);
    ports->SetRestoreByName(L"LPT", 0);
    ports->SetRestoreByType(PORT_TYPE_WRITE, 0);
    std::vector<DWORD> flags;
    for (int i = 0; i < ports->GetCount(); ++i) flags.push_back(ports->GetAt(i)->Restore);
    EXPECT_EQ(std::vector<DWORD>({0, 1, 0, 1}), flags);  // COM1:, LPT1:, FILE: (write only), IP_1
}

TEST_F(PortTest, AddWritesWhatThePortCarriesAndRefusesWhatNothingCouldMake) {
    auto ip = SavedPort(L"IP_9", L"Standard TCP/IP Port", 9100);
    EXPECT_EQ(1, ip->Add());
    EXPECT_TRUE(std::filesystem::exists(WorldRoot() / "restore" / "IP_9_Port.bkp"));
    AddFault(L"CreateFileW:IP_7_Port=5");  // a copy of the settings that cannot be kept fails the port
    auto unkept = SavedPort(L"IP_7", L"Standard TCP/IP Port", 9100);
    EXPECT_EQ(std::make_tuple(0, 5u, 1u), std::make_tuple(unkept->Add(), unkept->LastErrorCode, unkept->Restore));

    struct Case {
        const wchar_t* name;
        const wchar_t* monitor;
        int result;
        DWORD error;
    } cases[] = {{L"NE01:", L"Local Port", 1, 0}, {L"LPR_1", L"LPR Port", 0, ERROR_NOT_SUPPORTED}};
    for (const auto& c : cases) {
        CPort port(L"\\\\SRV02");
        port.PortName = c.name;
        port.MonitorName = c.monitor;
        EXPECT_EQ(c.result, port.Add()) << corvan::ToUtf8(c.name);
        EXPECT_EQ(c.error, port.LastErrorCode);
        EXPECT_EQ(c.result ? 0u : 1u, port.Restore);
    }
    EXPECT_EQ(std::optional<std::wstring>(L""), ReadRegistryString(L"SRV02", sim::kTestLocalPorts, L"NE01:"));

    // Nothing is written to a machine whose ports cannot be listed.
    SetServiceState(L"SRV02", L"Spooler", L"Stopped");
    auto unlisted = SavedPort(L"IP_8", L"Standard TCP/IP Port", 9100);
    EXPECT_EQ(0, CPortRestorer().Restore(*unlisted));

    CPort done(L"\\\\SRV02");
    done.PortName = L"LPR_2";
    done.Restore = 0;
    EXPECT_EQ(1, done.Add());
    EXPECT_EQ(0, done.ReportFlag);
}

TEST_F(PortTest, ASetLeavesPortsTheTargetHasAndRestartsItsSpoolerOnceAfterWriting) {
    sim::AddTcpIpPort(L"SRV02", L"IP_1", {});
    // A value of a type no backup keeps is no difference.
    SetRegistryValue(L"SRV02", kPorts + L"\\IP_1", L"Extra", REG_QWORD, std::vector<BYTE>(8, 1));
    CCompositePort set(L"\\\\SRV02");
    set.AddChild(SavedPort(L"IP_1", L"Standard TCP/IP Port", 9101).release());
    set.AddChild(SavedPort(L"IP_2", L"Standard TCP/IP Port", 9100).release());
    // Its monitor is not installed there: written, but never listed.
    set.AddChild(SavedPort(L"HP_1", L"HP Standard TCP/IP Port", 9100).release());
    // Refused while writing: the set's failure, though it comes after one the restart finds.
    set.AddChild(SavedPort(L"LPR_1", L"LPR Port", 515).release());

    const DWORD before = GetTickCount();
    EXPECT_EQ(0, set.Add());
    EXPECT_EQ(L"CPort::Add(LPR_1)", set.ErrorWin32API);
    // One stop (which waits five seconds for the service to let go), one start.
    EXPECT_EQ(CWin32Service::kAfterStopMs, GetTickCount() - before);
    EXPECT_EQ(L"Running", sim::MachineSetting(L"SRV02", L"Services", L"Spooler", L""));

    // The existing port is left as it is (the end-to-end tests check its warning).
    const CPort* existing = set.GetAt(0);
    EXPECT_EQ(0u, existing->Restore);
    EXPECT_NE(std::wstring::npos, existing->Warning.find(L", Protocol, "));
    EXPECT_EQ(std::wstring::npos, existing->Warning.find(L"Extra"));
    EXPECT_EQ(std::make_tuple(0u, 1u, static_cast<DWORD>(ERROR_UNKNOWN_PORT), 1u),
              std::make_tuple(set.GetAt(1)->Restore, set.GetAt(2)->Restore, set.GetAt(2)->LastErrorCode,
                              set.GetAt(3)->Restore));

    // Without it, the port the restart cannot find fails the set.
    set.GetAt(3)->Restore = 0;
    EXPECT_EQ(0, set.Add());
    EXPECT_EQ(std::make_tuple(L"CPort::Add(HP_1)", static_cast<DWORD>(ERROR_UNKNOWN_PORT)),
              std::tie(set.ErrorWin32API, set.LastErrorCode));
}

TEST_F(PortTest, NestingBeyondTheBoundIsRefusedWhenLoading) {
    for (int depth : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
        CObjectStore store;
        for (int level = 1; level <= depth; ++level) {
            store.NewSection(L"class", L"CCompositePort");
            store.AddToSection(L"parent", level == 1 ? L"NULL" : std::to_wstring(level - 1));
        }
        store.Rewind();
        ASSERT_TRUE(store.Next());
        CCompositePort set;
        EXPECT_EQ(depth == kMaxNestingDepth ? 1 : 0, set.LoadProperty(store)) << depth;
        EXPECT_EQ(depth == kMaxNestingDepth ? 0u : static_cast<DWORD>(ERROR_INVALID_DATA),
                  set.LastErrorCode);
    }
}

}  // namespace
