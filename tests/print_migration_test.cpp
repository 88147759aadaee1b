// Printer ports and printers end to end on a print server SRV01 that is
// replaced by a fresh one: every monitor setting, queue settings,
// permissions and driver data; ports and queues already there; a driver the
// target lacks, then installed; the supported-drivers file; a spooler that
// does not answer or does not start again; the whole sets in one file each.
// The tool runs on the administrator's machine ADMIN, whose D: drive holds
// the migration folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;

const std::wstring kLaserDriver = L"HP LaserJet 4000 Series PCL";
const std::wstring kPlotterDriver = L"HP DesignJet 500";
const std::wstring kOldDriver = L"HP LaserJet 4";
const std::wstring kPrinters = sim::kTestPrintersKey;
const std::wstring kPorts = sim::kTestTcpMonitorPorts;
const wchar_t kBlocked[] = L"S-1-5-21-1004336348-1177238915-682003330-1300";
const wchar_t kPrintUsers[] = L"S-1-5-21-1004336348-1177238915-682003330-1301";
const char kPortsOnly[] = "[EXCLUSION]\r\nPortName=ip_10.0.0.9\r\n[BACKUP]\r\nPORT=ALL\r\n";
const char kPortsAndPrinters[] = "[EXCLUSION]\r\nPortName=ip_10.0.0.9\r\n[BACKUP]\r\nPORT=ALL\r\nPRINTER=ALL\r\n";
const char kMapping[] = "[MIGRATION]\r\nhp laserjet 4 = \"HP LaserJet 4000 Series PCL\" \r\n";
// The RESTORE entries of the ports a backup saves but for IP_10.0.0.9.
const std::vector<std::string> kPortEntries = {
    "PORT=COM1,\"COM1_port.bkp\"", "PORT=LPT1,\"LPT1_port.bkp\"", "PORT=FILE,\"FILE_port.bkp\"",
    "PORT=C,\"C_port.bkp\"", "PORT=IP_10.0.0.5,\"IP_10.0.0.5_port.bkp\"", "PORT=IP_10.0.0.6,\"IP_10.0.0.6_port.bkp\""};

class PrintMigrationTest : public corvan_test::CorvanWorldTest {
protected:
    // Three TCP/IP ports and a local file port. Three queues: LASER01,
    // shared on the RAW port, with private device-mode bytes, a list that
    // denies one group first, driver data and a separator page; DESIGN01, an
    // unshared plotter on the LPR port; LASER02, shared on LPT1: with a
    // driver that newer servers replace.
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"ADMIN");
        AddDirectory(L"ADMIN", L"D:\\");
        sim::AddPrintServer(L"SRV01", {kLaserDriver, kPlotterDriver, kOldDriver});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.5", {1, L"10.0.0.5", L"laser01.corp", 9100, L"", 0, L"corp-ro", 1, 1});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.6", {2, L"10.0.0.6", L"", 515, L"PLOTQ", 1, L"public", 0, 2});
        sim::AddTcpIpPort(L"SRV01", L"IP_10.0.0.9", {1, L"10.0.0.9"});
        sim::AddLocalPort(L"SRV01", L"C:\\out.prn");

        AddDomainAccount(L"CORP\\Print Blocked", kBlocked);
        AddDomainAccount(L"CORP\\Print Users", kPrintUsers);
        AddFile(L"SRV01", L"C:\\WINDOWS\\System32\\sysprint.sep", "\\\n\\N\\n");
        const DWORD shared = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_PUBLISHED;

        sim::TestPrinter laser{L"LASER01",
                               L"LASER01",
                               L"IP_10.0.0.5",
                               kLaserDriver,
                               L"Shared laser",
                               L"Floor 2",
                               L"C:\\WINDOWS\\System32\\sysprint.sep"};
        laser.attributes = shared | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
        laser.devMode =
            DevMode(L"LASER01", DMORIENT_LANDSCAPE, DMPAPER_LETTER, DMDUP_VERTICAL, {0x4c, 0x4a, 0, 7, 0xff, 1});
        laser.security = sim::TestDescriptor(
            {{ACCESS_DENIED_ACE_TYPE, 0, PRINTER_EXECUTE, kBlocked},
             {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
             {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, L"S-1-3-0"},
             {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, kPrintUsers}});
        sim::AddPrinter(L"SRV01", laser);
        const std::wstring data = kPrinters + L"\\LASER01\\PrinterDriverData";
        SetRegistryString(L"SRV01", data, L"Model", L"HP LaserJet 4000");
        SetRegistryDword(L"SRV01", data, L"FreeMem", 8192);
        SetRegistryValue(L"SRV01", data + L"\\InstalledOptions", L"Tray3", REG_BINARY, {1, 0, 2, 0});

        sim::TestPrinter plotter{L"DESIGN01", L"", L"IP_10.0.0.6", kPlotterDriver, L"Plotter", L"Floor 3"};
        plotter.attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_QUEUED;
        plotter.devMode = DevMode(L"DESIGN01", DMORIENT_PORTRAIT, DMPAPER_A3, DMDUP_SIMPLEX, {});
        plotter.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                                {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, kPrintUsers}});
        sim::AddPrinter(L"SRV01", plotter);

        sim::TestPrinter old{L"LASER02", L"LASER02", L"LPT1:", kOldDriver, L"", L"Floor 1"};
        old.attributes = shared;
        old.devMode = DevMode(L"LASER02", DMORIENT_PORTRAIT, DMPAPER_A4, DMDUP_SIMPLEX, {9, 9});
        old.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-5-32-544"},
                                            {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, L"S-1-1-0"}});
        sim::AddPrinter(L"SRV01", old);
    }
    static std::vector<BYTE> DevMode(const std::wstring& device, short orientation, short paper, short duplex,
                                     const std::vector<BYTE>& privateBytes) {
        sim::WindowsDevMode mode;
        mode.deviceName = device;
        mode.formName = paper == DMPAPER_LETTER ? L"Letter" : paper == DMPAPER_A3 ? L"A3" : L"A4";
        mode.fields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DUPLEX | DM_FORMNAME;
        mode.orientation = orientation;
        mode.paperSize = paper;
        mode.duplex = duplex;
        mode.privateBytes = privateBytes;
        mode.panningHeight = 1;  // the last member must come across too
        return mode.Bytes();
    }

    corvan_test::CorvanRun Run(const std::string& mode, const std::string& control,
                               const std::string& machine = "SRV01") {
        auto run = Corvan({mode, "/C:" + control, "/S:" + machine});
        EXPECT_EQ(0, run.exitCode) << run.out << run.err;
        return run;
    }
    void Backup(const std::string& sections = kPortsAndPrinters) {
        Write("ControlBackup.ini", corvan_test::kMigLocations + sections);
        Run("/B", "ControlBackup.ini");
    }
    // Restores what the restore control file of the migration folder names.
    corvan_test::CorvanRun Restore(const std::string& machine = "SRV01") {
        return Run("/R", "D:\\Mig\\ControlRestore.ini", machine);
    }
    // The restore control file the backup wrote.
    std::string ControlText() { return ReadHostFile(Mig("ControlRestore.ini")); }
    fs::path ResultFile(const std::string& file) {
        return HostPathOf(L"ADMIN", corvan::FromUtf8(Outcome("RestoreLocation") + "\\" + file));
    }
    std::string Trace() { return ReadHostFile(cwd_ / "CorvanTrace.log"); }
    // The machine comes back as a fresh print server: same name, drives and
    // accounts, the monitors, processor and the given drivers, no ports or printers.
    void ReplaceMachine(const std::vector<std::wstring>& drivers) {
        sim::ResetWorld();
        fs::remove(WorldRoot() / "SRV01" / "HKLM.reg");
        sim::ResetWorld();
        sim::AddPrintServer(L"SRV01", drivers);
    }
    void WriteMapping() { std::ofstream(Mig("SupportedDrivers.txt")) << kMapping; }

    // What must come back of a queue: its key and subkeys as the hive file
    // holds them, every value with its type and bytes (so the permissions
    // with the same entries in the same order) and the driver data.
    std::string Queue(const std::wstring& printer) { return KeyText(L"SRV01", kPrinters + L"\\" + printer); }
};

TEST_F(PrintMigrationTest, PortsAndQueuesComeBackOnAFreshServerWithEverySetting) {
    // Protocol, port number, addresses, queue, double spool, SNMP: every value with its type and bytes.
    const std::string raw = KeyText(L"SRV01", kPorts + L"\\IP_10.0.0.5");
    const std::string lpr = KeyText(L"SRV01", kPorts + L"\\IP_10.0.0.6");
    ASSERT_NE(std::string::npos, lpr.find("\"Double Spool\"=dword:00000001"));
    const std::string laser = Queue(L"LASER01"), plotter = Queue(L"DESIGN01"), old = Queue(L"LASER02");
    ASSERT_NE(std::string::npos, laser.find("\"Security\"=hex:"));
    ASSERT_NE(std::string::npos, laser.find("PrinterDriverData\\InstalledOptions]"));
    Backup();
    ASSERT_EQ("success", Outcome("BackupStatus"));
    const std::string backupFolder = Outcome("BackupLocation");
    // Every port but the excluded one, named by the text before its first colon, and every printer.
    std::vector<std::string> saved = kPortEntries;
    saved.insert(saved.end(), {"PRINTER=DESIGN01,\"DESIGN01_prt.bkp\"", "PRINTER=LASER01,\"LASER01_prt.bkp\"",
                               "PRINTER=LASER02,\"LASER02_prt.bkp\""});
    EXPECT_EQ(saved, Section("RESTORE"));
    EXPECT_FALSE(fs::exists(HostPathOf(L"ADMIN", corvan::FromUtf8(backupFolder + "\\IP_10.0.0.9_port.bkp"))));

    ReplaceMachine({kLaserDriver, kPlotterDriver});
    ASSERT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
    WriteMapping();
    Restore();

    // Both restores make the same: the ports, the queues, the spooler running again once.
    // LASER02 comes back with the mapped driver.
    const std::string oldDriver = "\"Printer Driver\"=\"" + corvan::ToUtf8(kOldDriver) + "\"";
    ASSERT_NE(std::string::npos, old.find(oldDriver));
    std::string mapped = old;
    mapped.replace(mapped.find(oldDriver), oldDriver.size(),
                   "\"Printer Driver\"=\"" + corvan::ToUtf8(kLaserDriver) + "\"");
    auto expectRestored = [&] {
        EXPECT_EQ("success", Outcome("RestoreStatus"));
        EXPECT_EQ(raw, KeyText(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
        EXPECT_EQ(lpr, KeyText(L"SRV01", kPorts + L"\\IP_10.0.0.6"));
        EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.9"));
        EXPECT_TRUE(ReadRegistryString(L"SRV01", sim::kTestLocalPorts, L"C:\\out.prn"));
        EXPECT_EQ("Running", IniValue(WorldRoot() / "SRV01" / "machine.ini", "Services", "Spooler"));
        EXPECT_EQ(1u, Count(Trace(), "Service started."));
        EXPECT_EQ(laser, Queue(L"LASER01"));
        EXPECT_EQ(plotter, Queue(L"DESIGN01"));
        EXPECT_EQ(mapped, Queue(L"LASER02"));
    };
    expectRestored();
    std::string trace = Trace();
    EXPECT_EQ(1u, Count(trace, "Service stopped.")) << trace;
    std::vector<std::string> done;  // every entry succeeded
    for (const auto& entry : saved) done.push_back(entry.substr(0, entry.find(',')) + ",\"0,Success.\"");
    EXPECT_EQ(done, Section("STATUS"));
    // The monitor key written is kept in the restore's run folder.
    EXPECT_TRUE(fs::exists(ResultFile("PortRegistry\\IP_10.0.0.5_Port.bkp")));
    EXPECT_EQ("dword:00000000", IniValue(ResultFile("IP_10.0.0.5_port.bkp"), "1", "Restore"));

    // The result file holds the driver the queue was made with; the log says why.
    EXPECT_EQ("\"HP LaserJet 4000 Series PCL\"", IniValue(ResultFile("LASER02_prt.bkp"), "1", "DriverName"));
    EXPECT_NE(std::string::npos, trace.find("driver 'HP LaserJet 4' is installed as 'HP LaserJet 4000 Series PCL', "
                                            "the mapping in D:\\Mig\\SupportedDrivers.txt."));
    const std::string report = ReadHostFile(Mig("Log\\SRV01\\SRV01_StatusReport.log"));
    for (const std::string printer : {"LASER01", "DESIGN01", "LASER02"})
        EXPECT_EQ(1u, Count(report, "Type: Printer;Name: \\\\SRV01\\" + printer + ";")) << printer;

    // The whole-set files restore the same onto a fresh server, with the
    // supported-drivers file found in the current folder.
    ReplaceMachine({kLaserDriver, kPlotterDriver});
    fs::remove(Mig("SupportedDrivers.txt"));
    fs::remove(cwd_ / "CorvanTrace.log");
    Write("Whole.ini", corvan_test::kMigLocations + "BackupLocation=" + backupFolder +
                           "\r\n[RESTORE]\r\nPORT=ALL,\"ports_backup.dat\"\r\nPRINTER=ALL,\"printers_backup.dat\"\r\n");
    std::ofstream(cwd_ / "SupportedDrivers.txt") << kMapping;
    Run("/R", "Whole.ini");
    EXPECT_NE(std::string::npos, ControlText().find("PRINTER=ALL,\"0,Success.\""));
    expectRestored();
    EXPECT_TRUE(fs::exists(ResultFile("PortRegistry\\IP_10.0.0.5_Port.bkp")));  // for ports of a set too
}

TEST_F(PrintMigrationTest, ExclusionsByNameAndDriverAndASelectedNameChooseWhatIsSaved) {
    Backup(
        "[EXCLUSION]\r\nPrinterName=laser\r\nDriverName=designjet\r\nPortName=ip_10.0.0.9\r\n[BACKUP]\r\n"
        "PORT=IP_10.0.0.9\r\nPRINTER=LASER02\r\nPRINTER=DESIGN01\r\n");
    // A selected name wins over the exclusion of its name, so every port is
    // saved; the driver exclusion comes last: it wins over the selected DESIGN01.
    std::vector<std::string> saved = kPortEntries;
    saved.insert(saved.end(), {"PORT=IP_10.0.0.9,\"IP_10.0.0.9_port.bkp\"", "PRINTER=LASER02,\"LASER02_prt.bkp\""});
    EXPECT_EQ(saved, Section("RESTORE"));
}

// A port the target has is left alone, with a warning that names how it
// differs; a queue the target has is made equal to the saved one, or left
// untouched when that fails; a spooler that does not answer refuses them all.
TEST_F(PrintMigrationTest, PortsAndQueuesThatExistAreLeftAloneOrMadeEqualOrRefusedByASpoolerThatDoesNotAnswer) {
    const std::string laser = Queue(L"LASER01");
    Backup();
    const std::string backupControl = ControlText();
    const std::vector<std::string> saved = Section("RESTORE");
    SetRegistryDword(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"PortNumber", 9101);
    SetRegistryString(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"SNMP Community", L"other");
    sim::TestPrinter changed{L"LASER01", L"LASER01", L"LPT1:", kPlotterDriver};
    changed.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL;
    changed.devMode = DevMode(L"other", DMORIENT_PORTRAIT, DMPAPER_A4, DMDUP_SIMPLEX, {});
    changed.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-1-0"}});
    sim::AddPrinter(L"SRV01", changed);
    const std::string before = Queue(L"LASER01");
    ASSERT_NE(laser, before);

    AddFault(L"SetPrinterW@SRV01:LASER01=5,1");
    Restore();
    EXPECT_EQ(std::optional<DWORD>(9101), ReadRegistryDword(L"SRV01", kPorts + L"\\IP_10.0.0.5", L"PortNumber"));
    EXPECT_NE(std::string::npos, ControlText().find("PORT=IP_10.0.0.5,\"0,Success.\""));
    std::string trace = Trace();
    EXPECT_NE(std::string::npos, trace.find("it differs from the backup in: PortNumber, SNMP Community.")) << trace;
    // Every port was there already: nothing written, no restart.
    EXPECT_EQ(0u, Count(trace, "Service stopped."));
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("5", Outcome("RestoreLastError"));
    EXPECT_EQ("LASER01,\"LASER01_prt.bkp\"", Control("RESTOREERROR", "PRINTER"));
    EXPECT_EQ(before, Queue(L"LASER01"));
    EXPECT_EQ("dword:00000001", IniValue(ResultFile("LASER01_prt.bkp"), "1", "Restore"));
    std::vector<std::string> report = Report();
    EXPECT_EQ(1, std::count(report.begin(), report.end(),
                            "Result: NOK;Type: Printer;Name: \\\\SRV01\\LASER01;Prediction: Driver=" +
                                corvan::ToUtf8(kLaserDriver) + " ;State: ;Task: Restore Printer "));

    fs::remove(WorldRoot() / "faults.ini");
    Restore();
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(laser, Queue(L"LASER01"));

    // A spooler stopped, or its machine out of reach (the run then goes on
    // the administrator's machine): every port and printer of a fresh server
    // fails with the spooler's error, and nothing is written to it.
    ReplaceMachine({kLaserDriver, kPlotterDriver});
    const struct {
        const char* what;
        const wchar_t *section, *key, *value;
        const char* runOn;
    } cases[] = {{"spooler stopped", L"Services", L"Spooler", L"Stopped", "SRV01"},
                 {"server unreachable", L"Machine", L"Reachable", L"0", "ADMIN"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(Mig("ControlRestore.ini"), std::ios::binary) << backupControl;
        fs::remove(cwd_ / "CorvanTrace.log");
        sim::SetMachineSetting(L"SRV01", c.section, c.key, c.value);
        Restore(c.runOn);
        const Keys outcome = {{"RestoreStatus", "error"},
                              {"RestoreLastError", "1722"},
                              {"RestoreErrorText", "The RPC server is unavailable.  "},
                              {"RestoreErrorStep", "PRINTER"}};
        EXPECT_EQ(outcome, Outcomes(outcome));
        // Every entry stays to be restored.
        EXPECT_EQ(saved, Section("RESTORE"));
        EXPECT_TRUE(Section("STATUS").empty());
        for (const std::string file :
             {"IP_10.0.0.5_port.bkp", "LASER01_prt.bkp", "DESIGN01_prt.bkp", "LASER02_prt.bkp"})
            EXPECT_EQ("\"1722\"", IniValue(ResultFile(file), "1", "ErrorCode")) << file;
        EXPECT_EQ(0u, Count(Trace(), "Service stopped."));

        sim::SetMachineSetting(L"SRV01", L"Machine", L"Reachable", L"1");
        EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
        EXPECT_EQ(std::nullopt, ReadRegistryString(L"SRV01", sim::kTestLocalPorts, L"C:\\out.prn"));
        for (const wchar_t* printer : {L"LASER01", L"DESIGN01", L"LASER02"})
            EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPrinters + L"\\" + printer)) << corvan::ToUtf8(printer);
        SetServiceState(L"SRV01", L"Spooler", L"Running");
    }
}

// A driver the new server lacks, or the old driver without a mapping to its
// successor or on a version-4 server (which takes no mapping): that printer
// is refused, the others are made, and once the driver is installed a second
// restore makes it alone.
TEST_F(PrintMigrationTest, APrinterWhoseDriverIsMissingIsRefusedAndRetriedAloneOnceItIsInstalled) {
    Backup();
    const std::string backupControl = ControlText();
    const struct {
        std::wstring installed, missing, printer;
        bool mapping;
        const wchar_t* version;
    } cases[] = {{kLaserDriver, kPlotterDriver, L"DESIGN01", true, L"5"},
                 {kPlotterDriver, kOldDriver, L"LASER02", false, L"5"},
                 {kPlotterDriver, kOldDriver, L"LASER02", true, L"4"}};
    for (const auto& c : cases) {
        const std::string missing = corvan::ToUtf8(c.missing), printer = corvan::ToUtf8(c.printer);
        SCOPED_TRACE(missing + ", version " + corvan::ToUtf8(c.version));
        std::ofstream(Mig("ControlRestore.ini"), std::ios::binary) << backupControl;
        ReplaceMachine({kLaserDriver, c.installed});
        sim::SetMachineSetting(L"SRV01", L"Machine", L"VersionMajor", c.version);
        fs::remove(Mig("SupportedDrivers.txt"));
        if (c.mapping) WriteMapping();
        fs::remove(Mig("Log\\SRV01\\SRV01_StatusReport.log"));
        fs::remove(cwd_ / "CorvanError.log");
        Restore();

        const Keys outcome = {{"RestoreStatus", "error"},
                              {"RestoreLastError", "0xE0081797"},
                              {"RestoreErrorText", "Printer Driver '" + missing + "', is not installed."},
                              {"RestoreErrorStep", "PRINTER"}};
        EXPECT_EQ(outcome, Outcomes(outcome));
        EXPECT_EQ(printer + ",\"" + printer + "_prt.bkp\"", Control("RESTOREERROR", "PRINTER"));
        for (const wchar_t* queue : {L"LASER01", L"DESIGN01", L"LASER02"})
            EXPECT_EQ(queue != c.printer, RegistryKeyExists(L"SRV01", kPrinters + L"\\" + queue)) << queue;
        EXPECT_EQ(std::vector<std::string>{"Result: NOK;Type: Printer;Name: \\\\SRV01\\" + printer +
                                           ";Prediction: Driver=" + missing + " ;State: ;Task: Restore Printer "},
                  Report());
        EXPECT_NE(std::string::npos,
                  ReadHostFile(cwd_ / "CorvanError.log").find("Printer Driver '" + missing + "', is not installed."));

        std::map<std::wstring, std::string> made;
        for (const wchar_t* queue : {L"LASER01", L"DESIGN01", L"LASER02"})
            if (queue != c.printer) made[queue] = Queue(queue);
        sim::AddDriver(L"SRV01", c.missing);
        Write("Retry.ini", corvan_test::kMigLocations + "BackupLocation=" + Outcome("RestoreLocation") +
                               "\r\n[RESTORE]\r\nPRINTER=LASER01,\"LASER01_prt.bkp\"\r\n"
                               "PRINTER=DESIGN01,\"DESIGN01_prt.bkp\"\r\nPRINTER=LASER02,\"LASER02_prt.bkp\"\r\n");
        fs::remove(Mig("ControlRestore.ini"));
        Run("/R", "Retry.ini");
        EXPECT_EQ("success", Outcome("RestoreStatus"));
        EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPrinters + L"\\" + c.printer));
        for (const auto& [queue, text] : made) EXPECT_EQ(text, Queue(queue));
    }
}

// A backup of a server whose spooler does not answer names the whole set,
// saved under its usual name when the one asked for leaves the folder; a
// restore whose spooler does not start again keeps the ports to be restored.
TEST_F(PrintMigrationTest, ASpoolerThatDoesNotAnswerOrDoesNotStartAgainFailsTheRun) {
    SetServiceState(L"SRV01", L"Spooler", L"Stopped");
    Backup("[BACKUP]\r\nPORT=ALL,\"..\\ports.dat\"\r\n");
    const Keys outcome = {{"BackupStatus", "error"}, {"BackupLastError", "1722"}, {"BackupErrorStep", "PORT"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_EQ((std::vector<std::string>{"PORT=ALL,\"..\\ports.dat\"", "PORT=ALL,\"ports_backup.dat\""}),
              Section("BACKUPERROR"));

    SetServiceState(L"SRV01", L"Spooler", L"Running");
    Backup(kPortsOnly);
    ReplaceMachine({kLaserDriver});
    AddFault(L"StartServiceW@SRV01:Spooler=1053");
    Restore();
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("PORT", Outcome("RestoreErrorStep"));
    EXPECT_EQ("Stopped", IniValue(WorldRoot() / "SRV01" / "machine.ini", "Services", "Spooler"));
    // Written, but not in use: the ports added stay to be restored.
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPorts + L"\\IP_10.0.0.5"));
    EXPECT_EQ("dword:00000001", IniValue(ResultFile("IP_10.0.0.5_port.bkp"), "1", "Restore"));
    EXPECT_EQ((std::vector<std::string>{"PORT=C,\"C_port.bkp\"", "PORT=IP_10.0.0.5,\"IP_10.0.0.5_port.bkp\"",
                                        "PORT=IP_10.0.0.6,\"IP_10.0.0.6_port.bkp\""}),
              Section("RESTOREERROR"));
}

}  // namespace
