// Printer ports end to end: backup of a print server with an exclusion, the
// server replaced by a fresh one, the restore; ports already there; a target
// that cannot be reached.
#include "tests/print_server_test_world.h"

namespace {

using namespace print_test;
using corvan_test::IniValue;

const std::wstring kPorts = sim::kTestTcpMonitorPorts;

class PortMigrationTest : public PrintServerTest {
protected:
    void SetUp() override {
        PrintServerTest::SetUp();
        WriteControl("ControlBackup.ini", "[EXCLUSION]\r\nPortName=ip_10.0.0.9\r\n[BACKUP]\r\nPORT=ALL\r\n");
    }
    std::vector<std::wstring> ListedPorts() {
        WCHAR server[] = L"\\\\SRV01";
        DWORD needed = 0, count = 0;
        EnumPortsW(server, 1, nullptr, 0, &needed, &count);
        std::vector<BYTE> buffer(needed);
        std::vector<std::wstring> names;
        if (!EnumPortsW(server, 1, buffer.data(), needed, &needed, &count)) return names;
        for (DWORD i = 0; i < count; ++i) names.push_back(reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName);
        return names;
    }
};

TEST_F(PortMigrationTest, PortsComeBackOnAFreshServerWithEveryMonitorSetting) {
    // Protocol, port number, addresses, queue, double spool, SNMP: every value with its type and bytes.
    const std::string raw = KeyText(kPorts + L"\\IP_10.0.0.5"), lpr = KeyText(kPorts + L"\\IP_10.0.0.6");
    ASSERT_NE(std::string::npos, lpr.find("\"Double Spool\"=dword:00000001"));
    Run("/B", "ControlBackup.ini");
    EXPECT_EQ("success", Outcome("BackupStatus"));
    std::string control = ControlText();
    // A port's file and entry are named by the text before its first colon.
    for (const char* entry : {"PORT=IP_10.0.0.5,\"IP_10.0.0.5_port.bkp\"", "PORT=COM1,\"COM1_port.bkp\"",
                              "PORT=C,\"C_port.bkp\""})
        EXPECT_NE(std::string::npos, control.find(entry)) << entry;
    EXPECT_EQ(std::string::npos, control.find("IP_10.0.0.9_port"));
    EXPECT_FALSE(fs::exists(HostPathOf(L"ADMIN", corvan::FromUtf8(Outcome("BackupLocation") + "\\IP_10.0.0.9_port.bkp"))));

    ReplaceMachine({kLaserDriver});
    ASSERT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
    Restore();

    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(raw, KeyText(kPorts + L"\\IP_10.0.0.5"));
    EXPECT_EQ(lpr, KeyText(kPorts + L"\\IP_10.0.0.6"));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.9"));
    auto listed = ListedPorts();
    for (const wchar_t* port : {L"C:\\out.prn", L"IP_10.0.0.5", L"IP_10.0.0.6"})
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), port)) << corvan::ToUtf8(port);
    EXPECT_EQ("Running", IniValue(WorldRoot() / "SRV01" / "machine.ini", "Services", "Spooler"));
    std::string trace = Log("CorvanTrace.log");
    EXPECT_EQ(1u, Count(trace, "Service stopped.")) << trace;
    EXPECT_EQ(1u, Count(trace, "Service started."));
    control = ControlText();
    for (const char* status : {"PORT=IP_10.0.0.5,\"0,Success.\"", "PORT=COM1,\"0,Success.\"",
                               "PORT=C,\"0,Success.\""})
        EXPECT_NE(std::string::npos, control.find(status)) << status;
    // The monitor key written is kept in the restore's run folder.
    EXPECT_TRUE(fs::exists(ResultFile("PortRegistry\\IP_10.0.0.5_Port.bkp")));
    EXPECT_EQ("dword:00000000", IniValue(ResultFile("IP_10.0.0.5_port.bkp"), "1", "Restore"));
}

TEST_F(PortMigrationTest, APortTheTargetHasIsLeftAloneWithAWarningNamingTheDifferences) {
    Run("/B", "ControlBackup.ini");
    SetRegistryDword(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"PortNumber", 9101);
    SetRegistryString(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"SNMP Community", L"other");
    Restore();

    EXPECT_EQ(std::optional<DWORD>(9101), ReadRegistryDword(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"PortNumber"));
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_NE(std::string::npos, ControlText().find("PORT=IP_10.0.0.5,\"0,Success.\""));
    std::string trace = Log("CorvanTrace.log");
    EXPECT_NE(std::string::npos, trace.find("it differs from the backup in: PortNumber, SNMP Community.")) << trace;
    // Every port was there already: nothing written, no restart.
    EXPECT_EQ(0u, Count(trace, "Service stopped."));
}

TEST_F(PortMigrationTest, NothingIsWrittenToATargetWhosePortsCannotBeListed) {
    Run("/B", "ControlBackup.ini");
    ReplaceMachine({kLaserDriver});
    for (const auto& c : kSpoolerDown) {
        SCOPED_TRACE(c.what);
        sim::SetMachineSetting(L"SRV01", c.section, c.key, c.value);
        Restore(c.runOn);
        EXPECT_EQ("error", Outcome("RestoreStatus"));
        EXPECT_EQ("1722", Outcome("RestoreLastError"));
        EXPECT_EQ("The RPC server is unavailable.  ", Outcome("RestoreErrorText"));
        EXPECT_EQ("PORT", Outcome("RestoreErrorStep"));
        std::string control = ControlText();
        EXPECT_NE(std::string::npos, control.find("PORT=IP_10.0.0.5,\"IP_10.0.0.5_port.bkp\""));
        EXPECT_EQ(std::string::npos, control.find("\"0,Success.\""));
        EXPECT_EQ("\"1722\"", IniValue(ResultFile("IP_10.0.0.5_port.bkp"), "1", "ErrorCode"));
        sim::SetMachineSetting(L"SRV01", L"Machine", L"Reachable", L"1");
        EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
        EXPECT_EQ(std::nullopt, ReadRegistryString(L"SRV01", sim::kTestLocalPorts, L"C:\\out.prn"));
        EXPECT_EQ(0u, Count(Log("CorvanTrace.log"), "Service stopped."));
        SetServiceState(L"SRV01", L"Spooler", L"Running");
    }
}

TEST_F(PortMigrationTest, ASpoolerThatDoesNotStartAgainFailsTheRun) {
    Run("/B", "ControlBackup.ini");
    ReplaceMachine({kLaserDriver});
    AddFault(L"StartServiceW@SRV01:Spooler=1053");
    Restore();
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("PORT", Outcome("RestoreErrorStep"));
    EXPECT_EQ("Stopped", IniValue(WorldRoot() / "SRV01" / "machine.ini", "Services", "Spooler"));
    // Written, but not in use: the ports stay to be restored.
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
    EXPECT_EQ("dword:00000001", IniValue(ResultFile("IP_10.0.0.5_port.bkp"), "1", "Restore"));
}

TEST_F(PortMigrationTest, ABackupOfAServerWhoseSpoolerDoesNotAnswerNamesTheWholeSet) {
    SetServiceState(L"SRV01", L"Spooler", L"Stopped");
    Run("/B", "ControlBackup.ini");
    EXPECT_EQ("error", Outcome("BackupStatus"));
    EXPECT_EQ("1722", Outcome("BackupLastError"));
    EXPECT_EQ("ALL,\"ports_backup.dat\"", IniValue(Migration(), "BACKUPERROR", "PORT"));
    EXPECT_EQ("PORT", Outcome("BackupErrorStep"));
}

TEST_F(PortMigrationTest, TheWholeSetFileRestoresLikeTheFilesOfEachPort) {
    const std::string raw = KeyText(kPorts + L"\\IP_10.0.0.5");
    Run("/B", "ControlBackup.ini");
    std::string backupFolder = Outcome("BackupLocation");
    ReplaceMachine({kLaserDriver});
    WriteControl("Whole.ini", "BackupLocation=" + backupFolder + "\r\n[RESTORE]\r\nPORT=ALL,\"ports_backup.dat\"\r\n", "Whole");
    Run("/R", "Whole.ini");
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(raw, KeyText(kPorts + L"\\IP_10.0.0.5"));
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.6"));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.9"));
    EXPECT_TRUE(ReadRegistryString(L"SRV01", sim::kTestLocalPorts, L"C:\\out.prn"));
    EXPECT_EQ(1u, Count(Log("CorvanTrace.log"), "Service started."));
}

}  // namespace
