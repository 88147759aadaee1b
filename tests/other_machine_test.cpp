// Restoring onto a machine other than the one backed up (/T:), and the
// preview (/P) that asks what a run would ask and changes nothing, end to
// end. The backup runs on the old server SRV01; the administrator copies
// its migration folder to the new server SRV02 and restores there.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::kParameters;
using corvan_test::kSecurity;
using corvan_test::kShares;
using corvan_test::Lines;

const wchar_t kJdoe[] = L"S-1-5-21-1004336348-1177238915-682003330-1105";
const wchar_t kOldLocalOps[] = L"S-1-5-21-111-222-333-1010";
const wchar_t kNewLocalOps[] = L"S-1-5-21-444-555-666-1010";
const wchar_t kLaserDriver[] = L"HP LaserJet 4000 Series PCL";
const wchar_t kPort[] = L"IP_10.0.0.5";
const wchar_t kAdministrators[] = L"S-1-5-32-544";
const char kRunbook[] = "restart the spooler\r\n";

// The lists of the share, the printer and the folder, with the local account
// of the server that holds them.
std::vector<win32_files::AceEntry> PublicAces(const wchar_t* localOps) {
    return {{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, kJdoe},
            {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001301BF, localOps},
            {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, L"S-1-1-0"}};
}
std::vector<win32_files::AceEntry> LaserAces(const wchar_t* localOps) {
    return {{ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_ALL_ACCESS, kAdministrators},
            {ACCESS_ALLOWED_ACE_TYPE, 0, PRINTER_EXECUTE, localOps}};
}
std::vector<win32_files::AceEntry> OpsAces(const wchar_t* localOps) {
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return {{ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001301BF, localOps},
            {ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001F01FF, kAdministrators}};
}

class OtherMachineTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        AddDomainAccount(L"CORP\\jdoe", kJdoe);
        AddMachine(L"SRV02");
        for (const wchar_t* machine : {L"SRV01", L"SRV02"}) {
            AddDirectory(machine, L"D:\\Data\\Public");
            InstallFixUp(machine);
        }

        // The old server: a share whose list names a domain, a local and a
        // well-known account, a null-session share, a TCP/IP port and a
        // printer on it whose list names the local account.
        AddLocalAccount(L"SRV01", L"LocalOps", kOldLocalOps);
        AddDirectory(L"SRV01", L"D:\\Data\\Anon");
        AddShare(L"SRV01", L"Public", L"D:\\Data\\Public", L"Public files");
        SetRegistryValue(L"SRV01", kSecurity, L"Public", REG_BINARY, sim::TestDescriptor(PublicAces(kOldLocalOps)));
        AddShare(L"SRV01", L"Anon", L"D:\\Data\\Anon", L"Anonymous drop");
        SetRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares", {L"ANON"});
        sim::AddPrintServer(L"SRV01", {kLaserDriver});
        sim::AddTcpIpPort(L"SRV01", kPort, {1, L"10.0.0.5", L"laser01.corp", 9100});
        sim::TestPrinter laser{L"LASER01", L"LASER01", kPort, kLaserDriver, L"Shared laser", L"Floor 2"};
        laser.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL;
        laser.security = sim::TestDescriptor(LaserAces(kOldLocalOps));
        sim::AddPrinter(L"SRV01", laser);
        // And a folder only the local account and the administrators may use.
        AddFile(L"SRV01", L"D:\\Data\\Ops\\runbook.txt", kRunbook);
        ASSERT_TRUE(win32_files::SetDacl(L"D:\\Data\\Ops", OpsAces(kOldLocalOps), SE_DACL_PROTECTED));

        Write("ControlBackup.ini",
              corvan_test::kMigLocations +
                  "[EXCLUSION]\r\nShareType=80000000\r\nShareType=80000003\r\n"
                  "[BACKUP]\r\nSHARE=ALL\r\nPORT=ALL\r\nPRINTER=ALL\r\nDIRECTORY=D:\\Data\\Ops\r\n");
        auto backup = Run({"/B", "/S:SRV01"});
        ASSERT_EQ("success", Outcome("BackupStatus")) << backup.out;
        // The administrator takes the migration folder to the new server.
        SetLocalMachine(L"SRV02");
        fs::copy(HostPathOf(L"SRV01", L"D:\\Mig"), HostPathOf(L"SRV02", L"D:\\Mig"), fs::copy_options::recursive);
    }

    corvan_test::CorvanRun Run(const std::vector<std::string>& args) {
        auto run = Corvan(args);
        EXPECT_EQ(0, run.exitCode) << run.out << run.err;
        return run;
    }
    corvan_test::CorvanRun Restore(const std::vector<std::string>& switches) {
        std::vector<std::string> args = {"/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV02"};
        args.insert(args.end(), switches.begin(), switches.end());
        return Run(args);
    }
};

TEST_F(OtherMachineTest, EveryObjectComesBackOnTheTargetAndTheOldServerIsUntouched) {
    // The new server as the migration wants it: same drives, driver and local account names.
    AddLocalAccount(L"SRV02", L"LocalOps", kNewLocalOps);
    AddDirectory(L"SRV02", L"D:\\Data\\Anon");
    sim::AddPrintServer(L"SRV02", {kLaserDriver});
    const auto oldServer = Snapshot(WorldRoot() / "SRV01");
    // Foretold: every object comes back, the printer on the port the port step adds.
    fs::remove(Mig("Log\\SRV01\\SRV01_StatusReport.log"));
    Restore({"/T:SRV02", "/P"});
    auto report = Report();
    EXPECT_EQ(8u, report.size());
    for (const auto& line : report) EXPECT_EQ(0u, line.rfind("Result: OK;", 0)) << line;

    auto run = Restore({"/T:SRV02"});
    EXPECT_EQ("success", Outcome("RestoreStatus")) << run.out;
    EXPECT_EQ("SRV02", Outcome("RestoreTargetMachine"));
    EXPECT_EQ(oldServer, Snapshot(WorldRoot() / "SRV01"));

    for (const wchar_t* share : {L"Public", L"Anon"})
        EXPECT_EQ(ReadRegistryMultiString(L"SRV01", kShares, share), ReadRegistryMultiString(L"SRV02", kShares, share));
    // The domain and well-known accounts stay; the local one is the new server's own.
    EXPECT_EQ(PublicAces(kNewLocalOps), AcesOf(L"SRV02", kSecurity, L"Public"));
    EXPECT_EQ(std::vector<std::wstring>({L"ANON"}),
              ReadRegistryMultiString(L"SRV02", kParameters, L"NullSessionShares"));
    // The fix-up command ran once, for that share, on this version-5 server.
    EXPECT_EQ("ANON|D:\\Data\\Anon|D:\\Data\n", ReadHostFile(HostPathOf(L"SRV02", L"D:\\kitbox\\toolsdir\\calls.txt")));

    const std::wstring port = std::wstring(sim::kTestTcpMonitorPorts) + L"\\" + kPort;
    ASSERT_NE(std::string::npos, KeyText(L"SRV01", port).find("\"HostName\"=\"laser01.corp\""));
    EXPECT_EQ(KeyText(L"SRV01", port), KeyText(L"SRV02", port));
    const std::wstring printer = std::wstring(sim::kTestPrintersKey) + L"\\LASER01";
    EXPECT_EQ(std::wstring(kPort), ReadRegistryString(L"SRV02", printer, L"Port"));
    EXPECT_EQ(LaserAces(kNewLocalOps), AcesOf(L"SRV02", printer, L"Security"));

    EXPECT_EQ(kRunbook, ReadHostFile(HostPathOf(L"SRV02", L"D:\\Data\\Ops\\runbook.txt")));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    EXPECT_EQ(OpsAces(kNewLocalOps), win32_files::DaclOf(L"\\\\SRV02\\D$\\Data\\Ops", &control));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
}

// A backup file that names no machine cannot say it was the old server's:
// its object is refused, not restored onto whatever machine runs the tool.
TEST_F(OtherMachineTest, ABackupFileThatNamesNoMachineIsRefusedNotRestored) {
    AddLocalAccount(L"SRV02", L"LocalOps", kNewLocalOps);
    const fs::path file = HostPathOf(L"SRV02", corvan::FromUtf8(Outcome("BackupLocation"))) / "Public_shr.bkp";
    std::string kept;
    for (const auto& line : Lines(ReadHostFile(file)))
        kept += (line.rfind("ServerName=", 0) == 0 ? "ServerName=\"\"" : line) + "\r\n";
    ASSERT_NE(ReadHostFile(file).size(), kept.size());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << kept;

    Restore({"/T:SRV02"});
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    // Nothing of it was taken up: no result file stands for it.
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV02", corvan::FromUtf8(Outcome("RestoreLocation"))) / "Public_shr.bkp"));
    const auto errors = Section("RESTOREERROR");
    EXPECT_NE(errors.end(), std::find(errors.begin(), errors.end(), "SHARE=Public,\"Public_shr.bkp\""));
    EXPECT_EQ(std::nullopt, ReadRegistryMultiString(L"SRV02", kShares, L"Public"));
}

TEST_F(OtherMachineTest, PreviewChangesNothingAndForetellsWhatTheRestoreDoes) {
    // The new server lacks the printer's driver, the null-session share's
    // folder and the local account; a domain account of that name must not
    // stand in for it.
    sim::AddPrintServer(L"SRV02", {});
    AddDomainAccount(L"CORP\\LocalOps", L"S-1-5-21-1004336348-1177238915-682003330-1500");
    // And one entry names a backup file that is not there.
    std::ofstream(Mig("ControlRestore.ini"), std::ios::app) << "[RESTORE]\r\nSHARE=Gone,\"Gone_shr.bkp\"\r\n";
    fs::remove(Mig("Log\\SRV01\\SRV01_StatusReport.log"));
    auto world = Snapshot(WorldRoot(), "SRV02/drives/D/Mig");
    const auto restoreControl = ReadHostFile(Mig("ControlRestore.ini"));

    auto preview = Restore({"/T:SRV02", "/P"});
    // Nothing changed but the run's own folder and report.
    EXPECT_EQ(world, Snapshot(WorldRoot(), "SRV02/drives/D/Mig"));
    EXPECT_EQ(restoreControl, ReadHostFile(Mig("ControlRestore.ini")));
    // Its own copy of the restore control file lies in the data folder under the run's stamp.
    std::string copy = "none";
    for (const auto& entry : fs::recursive_directory_iterator(Mig("Data")))
        if (entry.path().filename().string().find("_ControlRestore.ini") != std::string::npos)
            copy = fs::relative(entry.path(), Mig("")).string();
    // Its folder and the other copy, but no result file: a preview saves none.
    EXPECT_EQ(3, std::distance(fs::recursive_directory_iterator(Mig("Data\\SRV01\\SRV02")), {}));
    EXPECT_EQ("preview", Outcome("RestoreStatus", copy));
    EXPECT_EQ("SRV02", Outcome("RestoreTargetMachine", copy));
    EXPECT_EQ("0xE0081797", Outcome("RestoreLastError", copy));
    EXPECT_TRUE(Section("STATUS", copy).empty());
    EXPECT_TRUE(Section("RESTOREERROR", copy).empty());

    // Every line the restore would write, also on the console.
    const auto expected = Golden("preview_restore_report.txt");
    EXPECT_EQ(expected, Report());
    for (const auto& line : expected) EXPECT_NE(std::string::npos, preview.out.find("\n" + line)) << line;

    // The restore itself fails exactly where the preview said it would.
    Restore({"/T:SRV02"});
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    auto errors = Section("RESTOREERROR");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(0u, errors.front().rfind("DIRECTORY=D:\\Data\\Ops,\"", 0)) << errors.front();
    errors.erase(errors.begin());
    EXPECT_EQ(std::vector<std::string>({"SHARE=Public,\"Public_shr.bkp\"", "SHARE=Anon,\"Anon_shr.bkp\"",
                                        "SHARE=Gone,\"Gone_shr.bkp\"", "PRINTER=LASER01,\"LASER01_prt.bkp\""}),
              errors);
    EXPECT_EQ(4u, Section("STATUS").size());
    // The old machine's SID is no stand-in for an account the target lacks.
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV02", L"D:\\Data\\Ops\\runbook.txt")));
}

TEST_F(OtherMachineTest, BackupPreviewListsWhatWouldBeSavedAndSavesNothing) {
    Write("Preview.ini",
          corvan_test::kMigLocations +
              "[EXCLUSION]\r\nShareName=Anon\r\nShareType=80000000\r\nShareType=80000003\r\n"
              "[BACKUP]\r\nSHARE=ALL\r\nPRINTER=ALL\r\nREGISTRY=HKLM\\SYSTEM\\CurrentControlSet\\Services\\"
              "LanmanServer\r\nSERVICE=Spooler,Stop,Disable\r\nSERVICE=Spooler,Start\r\n"
              "DIRECTORY=D:\\Data\\Ops\r\n");
    SetLocalMachine(L"SRV01");
    fs::remove_all(Mig(""));
    const auto world = Snapshot(WorldRoot());
    auto run = Run({"/B", "/P", "/C:Preview.ini", "/S:SRV01"});
    // The spooler is neither stopped nor disabled; only the run's folder is new.
    EXPECT_EQ(world, Snapshot(WorldRoot(), "SRV01/drives/D/Mig"));

    EXPECT_EQ(Golden("preview_backup_report.txt"), Report());
    // No backup file, no restore entry, and no restore control file to replace an earlier one.
    EXPECT_FALSE(fs::exists(Mig("ControlRestore.ini")));
    EXPECT_FALSE(fs::exists(Mig("Data/SRV01/ControlRestore.ini")));
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Mig("Data"))) {
        if (!entry.is_regular_file()) continue;
        ++files;
        EXPECT_EQ("preview", IniValue(entry.path(), "Control", "BackupStatus"));
        EXPECT_EQ("<missing>", IniValue(entry.path(), "RESTORE", "SHARE"));
    }
    EXPECT_EQ(2u, files);  // the copies in the run folder and beside it
}

}  // namespace
