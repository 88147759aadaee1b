// A share migration end to end: backup of a server with exclusions, the
// server replaced by a fresh one, and the restore onto it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/sim/testing/print_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::kShares;
using corvan_test::kSecurity;
using corvan_test::kParameters;
using corvan_test::Lines;
using corvan_test::RunCorvan;

const wchar_t kContractors[] = L"S-1-5-21-1004336348-1177238915-682003330-1211";
const wchar_t kFinanceTeam[] = L"S-1-5-21-1004336348-1177238915-682003330-1210";

class ShareMigrationTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDomainAccount(L"CORP\\Contractors", kContractors);
        AddDomainAccount(L"CORP\\Finance Team", kFinanceTeam);
        for (const wchar_t* folder : {L"D:\\Data\\Public", L"D:\\Data\\Finance", L"D:\\Data\\Hidden", L"D:\\Data\\Anon"})
            AddDirectory(L"SRV01", folder);
        AddShare(L"SRV01", L"Public", L"D:\\Data\\Public", L"Public files");
        AddShare(L"SRV01", L"Finance", L"D:\\Data\\Finance");
        // Denies one account write access, then allows another full control.
        SetRegistryValue(L"SRV01", kSecurity, L"Finance", REG_BINARY,
                         sim::TestDescriptor({{ACCESS_DENIED_ACE_TYPE, 0, 0x000D0116, kContractors},
                                              {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, kFinanceTeam}}));
        AddShare(L"SRV01", L"Hidden$", L"D:\\Data\\Hidden");
        AddShare(L"SRV01", L"Anon", L"D:\\Data\\Anon", L"Anonymous drop");
        SetRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares", {L"COMCFG", L"ANON"});
        InstallFixUp(L"SRV01");
        Write("ControlBackup.ini", corvan_test::kMigLocations +
               "[EXCLUSION]\r\nShareName=hidden$\r\nShareType=80000000\r\nShareType=dword:80000003\r\n"
               "[BACKUP]\r\nSHARE=ALL\r\n");
    }
    // The machine comes back empty: same name, drives and accounts, no registry.
    void ReplaceMachine() { fs::remove(WorldRoot() / "SRV01" / "HKLM.reg"); }
    std::vector<std::wstring> SharesOnMachine() {
        std::vector<std::wstring> names;
        for (const wchar_t* name : {L"Public", L"Finance", L"Hidden$", L"Anon"})
            if (ReadRegistryMultiString(L"SRV01", kShares, name)) names.push_back(name);
        return names;
    }
    corvan_test::CorvanRun Backup() {
        return RunCorvan({"/B", "/S:SRV01"}, cwd_);
    }
    corvan_test::CorvanRun Restore(const std::string& control) {
        return RunCorvan({"/R", "/C:" + control, "/S:SRV01"}, cwd_);
    }
};

TEST_F(ShareMigrationTest, SharesComeBackOnAFreshServerWithTheirPermissions) {
    auto backup = Backup();
    ASSERT_EQ(0, backup.exitCode) << backup.out;
    fs::path restoreControl = HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini");
    ASSERT_EQ("success", IniValue(restoreControl, "Control", "BackupStatus"));
    // The excluded shares get neither a file nor an entry to restore.
    std::string saved = ReadHostFile(restoreControl);
    size_t list = saved.find("[RESTORE]\r\n");
    ASSERT_NE(std::string::npos, list);
    EXPECT_EQ("[RESTORE]\r\nSHARE=Public,\"Public_shr.bkp\"\r\nSHARE=Finance,\"Finance_shr.bkp\"\r\n"
              "SHARE=Anon,\"Anon_shr.bkp\"\r\n",
              saved.substr(list, saved.find("\r\n[", list) + 2 - list));

    std::string report = ReadHostFile(HostPathOf(L"SRV01", L"D:\\Mig\\Log\\SRV01\\SRV01_StatusReport.log"));
    EXPECT_EQ(std::vector<std::string>({"Result: OK;Type: Share;Name: Public;Prediction: Path=D:\\Data\\Public ;State: ;Task: Backup Share ",
                                        "Result: OK;Type: Share;Name: Finance;Prediction: Path=D:\\Data\\Finance ;State: ;Task: Backup Share ",
                                        "Result: OK;Type: Share;Name: Anon;Prediction: Path=D:\\Data\\Anon ;State: ;Task: Backup Share "}),
              Lines(report));

    ReplaceMachine();
    auto restore = Restore("D:\\Mig\\ControlRestore.ini");
    ASSERT_EQ(0, restore.exitCode) << restore.out;

    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Anon"}), SharesOnMachine());
    auto publicShare = ReadRegistryMultiString(L"SRV01", kShares, L"Public");
    ASSERT_TRUE(publicShare);
    EXPECT_NE(publicShare->end(), std::find(publicShare->begin(), publicShare->end(), L"Remark=Public files"));

    DWORD type = 0;
    std::vector<BYTE> descriptor;
    ASSERT_TRUE(ReadRegistryValue(L"SRV01", kSecurity, L"Finance", &type, &descriptor));
    EXPECT_EQ(std::vector<std::string>({"1 d0116 " + corvan::ToUtf8(kContractors), "0 1f01ff " + corvan::ToUtf8(kFinanceTeam)}),
              DescriptorAces(descriptor));

    // Only the former null-session share goes into the list; the others stay closed to anonymous users.
    auto nullSessions = ReadRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares");
    ASSERT_TRUE(nullSessions);
    EXPECT_EQ(std::vector<std::wstring>({L"ANON"}), *nullSessions);
    // The fix-up command ran once, for that share, on this version-5 server.
    EXPECT_EQ("ANON|D:\\Data\\Anon|D:\\Data\n",
              ReadHostFile(HostPathOf(L"SRV01", L"D:\\kitbox\\toolsdir\\calls.txt")));

    // The restore's copy of the control file holds the outcome of every entry.
    fs::path after = HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini");
    EXPECT_EQ("success", IniValue(after, "Control", "RestoreStatus"));
    std::string text = ReadHostFile(after);
    for (const char* status : {"SHARE=Public,\"0,Success.\"", "SHARE=Finance,\"0,Success.\"", "SHARE=Anon,\"0,Success.\""})
        EXPECT_NE(std::string::npos, text.find(status)) << status;
}

TEST_F(ShareMigrationTest, FailedShareStaysMarkedAndOnlyItIsRetried) {
    ASSERT_EQ(0, Backup().exitCode);
    // Restoring over the existing shares replaces them; Finance cannot be made again.
    AddFault(L"NetShareAdd@SRV01:Finance=5");
    auto first = Restore("D:\\Mig\\ControlRestore.ini");
    ASSERT_EQ(0, first.exitCode);
    fs::path control = HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini");
    EXPECT_EQ("error", IniValue(control, "Control", "RestoreStatus"));
    EXPECT_EQ("5", IniValue(control, "Control", "RestoreLastError"));
    EXPECT_EQ("SHARE", IniValue(control, "Control", "RestoreErrorStep"));
    EXPECT_EQ("Finance,\"Finance_shr.bkp\"", IniValue(control, "RESTOREERROR", "SHARE"));
    // The failed share's line reaches the report once, though the step appends after every item.
    auto report = Lines(ReadHostFile(HostPathOf(L"SRV01", L"D:\\Mig\\Log\\SRV01\\SRV01_StatusReport.log")));
    EXPECT_EQ(1, std::count(report.begin(), report.end(),
                            "Result: NOK;Type: Share;Name: Finance;Prediction: Path=D:\\Data\\Finance ;State: ;Task: "
                            "Restore Share "));
    EXPECT_EQ(4u, report.size());  // three backup lines and the failed restore

    std::string restoreFolder = IniValue(control, "Control", "RestoreLocation");
    fs::path result = HostPathOf(L"SRV01", corvan::FromUtf8(restoreFolder + "\\Finance_shr.bkp"));
    EXPECT_EQ("dword:00000001", IniValue(result, "1", "Restore"));
    EXPECT_EQ("dword:00000000",
              IniValue(HostPathOf(L"SRV01", corvan::FromUtf8(restoreFolder + "\\Public_shr.bkp")), "1", "Restore"));

    // The second restore reads the first one's results: Public is done and
    // must not be touched again, Finance is retried.
    fs::remove(WorldRoot() / "faults.ini");
    AddFault(L"NetShareAdd@SRV01:Public=5");
    std::ofstream(cwd_ / "Retry.ini") << "[Control]\r\nDefaultMigLocation=D:\\Mig2\r\nDefaultDataLocation=D:\\Mig2\\Data\r\n"
                                      << "BackupLocation=" << restoreFolder << "\r\n"
                                      << "[RESTORE]\r\nSHARE=Public,\"Public_shr.bkp\"\r\nSHARE=Finance,\"Finance_shr.bkp\"\r\n";
    auto second = Restore("Retry.ini");
    ASSERT_EQ(0, second.exitCode);
    fs::path retry = HostPathOf(L"SRV01", L"D:\\Mig2\\ControlRestore.ini");
    EXPECT_EQ("success", IniValue(retry, "Control", "RestoreStatus"));
    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Hidden$", L"Anon"}), SharesOnMachine());
}

// Backup and restore in one run: the restore's results go into a folder of
// their own, and the backup files stay as the backup wrote them.
TEST_F(ShareMigrationTest, BackupAndRestoreInOneRunKeepTheBackupFilesWhole) {
    auto run = RunCorvan({"/B", "/R", "/S:SRV01"}, cwd_);
    ASSERT_EQ(0, run.exitCode);
    fs::path control = HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini");
    EXPECT_EQ("success", IniValue(control, "Control", "BackupStatus"));
    EXPECT_EQ("success", IniValue(control, "Control", "RestoreStatus")) << run.out;
    std::string backupFolder = IniValue(control, "Control", "BackupLocation");
    std::string restoreFolder = IniValue(control, "Control", "RestoreLocation");
    EXPECT_NE(backupFolder, restoreFolder);
    EXPECT_NE(std::string::npos, IniValue(control, "STATUS", "SHARE").find("\"0,Success.\""));
    EXPECT_EQ("dword:00000001",
              IniValue(HostPathOf(L"SRV01", corvan::FromUtf8(backupFolder + "\\Public_shr.bkp")), "1", "Restore"));
    EXPECT_EQ("dword:00000000",
              IniValue(HostPathOf(L"SRV01", corvan::FromUtf8(restoreFolder + "\\Public_shr.bkp")), "1", "Restore"));
}

TEST_F(ShareMigrationTest, WholeSetFileBringsTheSourceNullSessionList) {
    ASSERT_EQ(0, Backup().exitCode);
    std::string backupFolder =
        IniValue(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini"), "Control", "BackupLocation");
    ReplaceMachine();
    std::ofstream(cwd_ / "Whole.ini") << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultDataLocation=D:\\Mig\\Data\r\n"
                                      << "BackupLocation=" << backupFolder << "\r\n"
                                      << "[RESTORE]\r\nSHARE=ALL,\"shares_backup.dat\"\r\n";
    ASSERT_EQ(0, Restore("Whole.ini").exitCode);
    EXPECT_EQ("success", IniValue(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini"), "Control", "RestoreStatus"));
    // Neither run logged an error: the set's success is recorded as one.
    EXPECT_FALSE(fs::exists(cwd_ / "CorvanError.log")) << ReadHostFile(cwd_ / "CorvanError.log");
    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Anon"}), SharesOnMachine());
    auto nullSessions = ReadRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares");
    ASSERT_TRUE(nullSessions);
    EXPECT_EQ(std::vector<std::wstring>({L"ANON", L"COMCFG"}), *nullSessions);
}

}  // namespace
