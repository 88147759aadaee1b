// Printers end to end on a print server replaced by a fresh one: settings,
// permissions and driver data; queues already there; a driver the target
// lacks, then installed; the supported-drivers file; a spooler that does not
// answer; the whole set in one file.
#include "tests/print_server_test_world.h"

namespace {

using namespace print_test;
using corvan_test::IniValue;

const char kBackupControl[] = "[BACKUP]\r\nPORT=ALL\r\nPRINTER=ALL\r\n";
const char kMapping[] = "[MIGRATION]\r\nhp laserjet 4 = \"HP LaserJet 4000 Series PCL\" \r\n";

class PrinterMigrationTest : public PrintServerTest {
public:
    // What must come back of each queue: settings, device mode, permissions
    // (byte for byte, so the same entries in the same order), attributes, driver data.
    struct Queue {
        std::optional<std::wstring> port, driver, share, sep;
        std::vector<BYTE> devMode, security;
        std::optional<DWORD> attributes;
        std::string driverData;
        bool operator==(const Queue&) const = default;
    };

protected:
    void SetUp() override {
        PrintServerTest::SetUp();
        AddPrinters();
        WriteControl("ControlBackup.ini", kBackupControl);
    }
    std::vector<BYTE> Value(const std::wstring& printer, const wchar_t* name) {
        std::vector<BYTE> bytes;
        ReadRegistryValue(L"SRV01", kPrinters + L"\\" + printer, name, nullptr, &bytes);
        return bytes;
    }
    std::optional<DWORD> Number(const std::wstring& printer, const wchar_t* name) {
        return ReadRegistryDword(L"SRV01", kPrinters + L"\\" + printer, name);
    }
    std::optional<std::wstring> Text(const std::wstring& printer, const wchar_t* name) {
        return ReadRegistryString(L"SRV01", kPrinters + L"\\" + printer, name);
    }
    Queue QueueOf(const std::wstring& printer) {
        std::string data = KeyText(kPrinters + L"\\" + printer + L"\\PrinterDriverData");
        return {Text(printer, L"Port"),       Text(printer, L"Printer Driver"), Text(printer, L"Share Name"),
                Text(printer, L"Separator File"), Value(printer, L"Default DevMode"),
                Value(printer, L"Security"), Number(printer, L"Attributes"), data};
    }
    void WriteMapping() {
        std::ofstream(HostPathOf(L"ADMIN", L"D:\\Mig\\SupportedDrivers.txt")) << kMapping;
    }
    void ExpectNoPrinters() {
        for (const wchar_t* printer : {L"LASER01", L"DESIGN01", L"LASER02"})
            EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPrinters + L"\\" + printer)) << corvan::ToUtf8(printer);
    }
};

void PrintTo(const PrinterMigrationTest::Queue& q, std::ostream* os) {
    *os << corvan::ToUtf8(q.port.value_or(L"-")) << " " << corvan::ToUtf8(q.driver.value_or(L"-")) << " "
        << q.devMode.size() << " + " << q.security.size() << " bytes, attributes " << q.attributes.value_or(0)
        << "\n" << q.driverData;
}

TEST_F(PrinterMigrationTest, EveryQueueComesBackWithItsSettingsPermissionsAndDriverData) {
    const Queue laser = QueueOf(L"LASER01"), plotter = QueueOf(L"DESIGN01"), old = QueueOf(L"LASER02");
    ASSERT_FALSE(laser.security.empty());
    ASSERT_NE(std::string::npos, laser.driverData.find("InstalledOptions"));
    Run("/B", "ControlBackup.ini");
    ASSERT_EQ("success", Outcome("BackupStatus"));
    EXPECT_NE(std::string::npos, ControlText().find("PRINTER=LASER01,\"LASER01_prt.bkp\""));

    ReplaceMachine({kLaserDriver, kPlotterDriver});
    WriteMapping();
    Restore();

    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(laser, QueueOf(L"LASER01"));
    EXPECT_EQ(plotter, QueueOf(L"DESIGN01"));
    Queue mapped = old;
    mapped.driver = kLaserDriver;
    EXPECT_EQ(mapped, QueueOf(L"LASER02"));
    std::string control = ControlText();
    for (const char* status : {"PRINTER=LASER01,\"0,Success.\"", "PRINTER=DESIGN01,\"0,Success.\"",
                               "PRINTER=LASER02,\"0,Success.\""})
        EXPECT_NE(std::string::npos, control.find(status)) << status;
    // The result file holds the driver the queue was made with; the log says why.
    EXPECT_EQ("\"HP LaserJet 4000 Series PCL\"", IniValue(ResultFile("LASER02_prt.bkp"), "1", "DriverName"));
    std::string trace = Log("CorvanTrace.log");
    EXPECT_NE(std::string::npos, trace.find("driver 'HP LaserJet 4' is installed as 'HP LaserJet 4000 Series PCL', "
                                            "the mapping in D:\\Mig\\SupportedDrivers.txt."));
    std::vector<std::string> report = Report();
    for (const char* printer : {"LASER01", "DESIGN01", "LASER02"})
        EXPECT_EQ(1, std::count_if(report.begin(), report.end(), [&](const std::string& line) {
                      return line.find("Type: Printer;Name: \\\\SRV01\\" + std::string(printer) + ";") !=
                             std::string::npos;
                  })) << printer;
}

TEST_F(PrinterMigrationTest, ExclusionsByNameAndDriverAndASelectedNameChooseWhatIsSaved) {
    WriteControl("Select.ini", "[EXCLUSION]\r\nPrinterName=laser\r\nDriverName=designjet\r\n"
                               "[BACKUP]\r\nPRINTER=LASER02\r\nPRINTER=DESIGN01\r\n");
    Run("/B", "Select.ini");
    std::string control = ControlText();
    // The driver exclusion comes last: it wins over the selected DESIGN01.
    EXPECT_NE(std::string::npos, control.find("PRINTER=LASER02,\"LASER02_prt.bkp\""));
    EXPECT_EQ(std::string::npos, control.find("LASER01_prt.bkp"));
    EXPECT_EQ(std::string::npos, control.find("DESIGN01_prt.bkp"));
}

TEST_F(PrinterMigrationTest, AQueueThatExistsIsMadeEqualToTheSavedOneOrLeftUntouchedWhenThatFails) {
    const Queue laser = QueueOf(L"LASER01");
    Run("/B", "ControlBackup.ini");
    auto change = [&] {
        sim::TestPrinter changed{L"LASER01", L"LASER01", L"LPT1:", kPlotterDriver};
        changed.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL;
        changed.devMode = DevMode(L"other", DMORIENT_PORTRAIT, DMPAPER_A4, DMDUP_SIMPLEX, {});
        changed.security = sim::TestDescriptor({{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, L"S-1-1-0"}});
        sim::AddPrinter(L"SRV01", changed);
    };
    change();
    const Queue changed = QueueOf(L"LASER01");

    AddFault(L"SetPrinterW@SRV01:LASER01=5,1");
    Restore();
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("5", Outcome("RestoreLastError"));
    EXPECT_EQ("LASER01,\"LASER01_prt.bkp\"", IniValue(Migration(), "RESTOREERROR", "PRINTER"));
    EXPECT_EQ(changed, QueueOf(L"LASER01"));
    EXPECT_EQ("dword:00000001", IniValue(ResultFile("LASER01_prt.bkp"), "1", "Restore"));
    std::vector<std::string> report = Report();
    EXPECT_EQ(1, std::count(report.begin(), report.end(),
                            "Result: NOK;Type: Printer;Name: \\\\SRV01\\LASER01;Prediction: Driver=" +
                                corvan::ToUtf8(kLaserDriver) + " ;State: ;Task: Restore Printer "));

    fs::remove(WorldRoot() / "faults.ini");
    Restore();
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(laser, QueueOf(L"LASER01"));
}

TEST_F(PrinterMigrationTest, APrinterWhoseDriverIsMissingIsRefusedAndRetriedAloneOnceItIsInstalled) {
    Run("/B", "ControlBackup.ini");
    ReplaceMachine({kLaserDriver});
    WriteMapping();
    Restore();

    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("0xE0081797", Outcome("RestoreLastError"));
    EXPECT_EQ("Printer Driver 'HP DesignJet 500', is not installed.", Outcome("RestoreErrorText"));
    EXPECT_EQ("PRINTER", Outcome("RestoreErrorStep"));
    EXPECT_EQ("DESIGN01,\"DESIGN01_prt.bkp\"", IniValue(Migration(), "RESTOREERROR", "PRINTER"));
    EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPrinters + L"\\DESIGN01"));
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPrinters + L"\\LASER01"));
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPrinters + L"\\LASER02"));
    std::vector<std::string> report = Report();
    EXPECT_EQ(1, std::count(report.begin(), report.end(),
                            "Result: NOK;Type: Printer;Name: \\\\SRV01\\DESIGN01;Prediction: Driver=HP DesignJet 500 "
                            ";State: ;Task: Restore Printer "));
    EXPECT_NE(std::string::npos,
              Log("CorvanError.log").find("Printer Driver 'HP DesignJet 500', is not installed."));

    const std::string laser = KeyText(kPrinters + L"\\LASER01"), old = KeyText(kPrinters + L"\\LASER02");
    sim::AddDriver(L"SRV01", kPlotterDriver);
    WriteControl("Retry.ini", "BackupLocation=" + Outcome("RestoreLocation") +
                                  "\r\n[RESTORE]\r\nPRINTER=LASER01,\"LASER01_prt.bkp\"\r\n"
                                  "PRINTER=DESIGN01,\"DESIGN01_prt.bkp\"\r\nPRINTER=LASER02,\"LASER02_prt.bkp\"\r\n");
    fs::remove(Migration());
    Run("/R", "Retry.ini");
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPrinters + L"\\DESIGN01"));
    EXPECT_EQ(laser, KeyText(kPrinters + L"\\LASER01"));
    EXPECT_EQ(old, KeyText(kPrinters + L"\\LASER02"));
}

TEST_F(PrinterMigrationTest, WithoutTheSupportedDriversFileOrOnVersion4TheOldDriverIsMissing) {
    Run("/B", "ControlBackup.ini");
    for (bool version4 : {false, true}) {
        SCOPED_TRACE(version4 ? "version 4" : "no file");
        ReplaceMachine({kLaserDriver, kPlotterDriver});
        if (version4) {
            WriteMapping();
            sim::SetMachineSetting(L"SRV01", L"Machine", L"VersionMajor", L"4");
        }
        Restore();
        EXPECT_EQ("Printer Driver 'HP LaserJet 4', is not installed.", Outcome("RestoreErrorText"));
        EXPECT_FALSE(RegistryKeyExists(L"SRV01", kPrinters + L"\\LASER02"));
        EXPECT_TRUE(RegistryKeyExists(L"SRV01", kPrinters + L"\\DESIGN01"));
    }
}

TEST_F(PrinterMigrationTest, ASpoolerThatDoesNotAnswerRefusesEveryPrinterWithItsOwnError) {
    Run("/B", "ControlBackup.ini");
    ReplaceMachine({kLaserDriver, kPlotterDriver});
    for (const auto& c : kSpoolerDown) {
        SCOPED_TRACE(c.what);
        sim::SetMachineSetting(L"SRV01", c.section, c.key, c.value);
        Restore(c.runOn);
        EXPECT_EQ("1722", Outcome("RestoreLastError"));
        EXPECT_EQ("The RPC server is unavailable.  ", Outcome("RestoreErrorText"));
        EXPECT_EQ("PRINTER", Outcome("RestoreErrorStep"));
        for (const char* printer : {"LASER01", "DESIGN01", "LASER02"}) {
            std::string file = std::string(printer) + "_prt.bkp";
            EXPECT_NE(std::string::npos, ControlText().find("PRINTER=" + std::string(printer) + ",\"" + file + "\""));
            EXPECT_EQ("\"1722\"", IniValue(ResultFile(file), "1", "ErrorCode")) << printer;
        }
        sim::SetMachineSetting(L"SRV01", L"Machine", L"Reachable", L"1");
        ExpectNoPrinters();
        sim::SetMachineSetting(L"SRV01", L"Services", L"Spooler", L"Running");
    }
}

TEST_F(PrinterMigrationTest, TheWholeSetFileRestoresLikeTheFilesOfEachPrinter) {
    const Queue laser = QueueOf(L"LASER01"), plotter = QueueOf(L"DESIGN01");
    Run("/B", "ControlBackup.ini");
    std::string backupFolder = Outcome("BackupLocation");
    ReplaceMachine({kLaserDriver, kPlotterDriver});
    WriteControl("Whole.ini", "BackupLocation=" + backupFolder +
                                  "\r\n[RESTORE]\r\nPORT=ALL,\"ports_backup.dat\"\r\nPRINTER=ALL,\"printers_backup.dat\"\r\n",
                 "Whole");
    std::ofstream(cwd_ / "SupportedDrivers.txt") << kMapping;
    Run("/R", "Whole.ini");
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ(laser, QueueOf(L"LASER01"));
    EXPECT_EQ(plotter, QueueOf(L"DESIGN01"));
    EXPECT_EQ(std::optional<std::wstring>(kLaserDriver), Text(L"LASER02", L"Printer Driver"));
    EXPECT_NE(std::string::npos, ControlText().find("PRINTER=ALL,\"0,Success.\""));
}

}  // namespace
