// Shares end to end: a backup of a server with exclusions, the server
// replaced by a fresh one, the restore onto it, and a retry of what failed.
// Then hostile and unlucky inputs, with the shares as what is migrated:
// nested backup files, file parts that point elsewhere, disks that fill up
// and control files the run cannot follow. Nothing is lost and nothing is
// reported as success that was not.
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
using corvan_test::kMigLocations;
using corvan_test::kParameters;
using corvan_test::kSecurity;
using corvan_test::kShares;
using corvan_test::Lines;

const wchar_t kContractors[] = L"S-1-5-21-1004336348-1177238915-682003330-1211";
const wchar_t kFinanceTeam[] = L"S-1-5-21-1004336348-1177238915-682003330-1210";
// Denies one account write access, then allows another full control.
const std::vector<win32_files::AceEntry> kFinanceAces = {{ACCESS_DENIED_ACE_TYPE, 0, 0x000D0116, kContractors},
                                                         {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, kFinanceTeam}};

class ShareMigrationTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        AddDomainAccount(L"CORP\\Contractors", kContractors);
        AddDomainAccount(L"CORP\\Finance Team", kFinanceTeam);
        for (const wchar_t* folder :
             {L"D:\\Data\\Public", L"D:\\Data\\Finance", L"D:\\Data\\Hidden", L"D:\\Data\\Anon"})
            AddDirectory(L"SRV01", folder);
        AddShare(L"SRV01", L"Public", L"D:\\Data\\Public", L"Public files");
        AddShare(L"SRV01", L"Finance", L"D:\\Data\\Finance");
        SetRegistryValue(L"SRV01", kSecurity, L"Finance", REG_BINARY, sim::TestDescriptor(kFinanceAces));
        AddShare(L"SRV01", L"Hidden$", L"D:\\Data\\Hidden");
        AddShare(L"SRV01", L"Anon", L"D:\\Data\\Anon", L"Anonymous drop");
        SetRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares", {L"COMCFG", L"ANON"});
        InstallFixUp(L"SRV01");
        Write("ControlBackup.ini", kMigLocations +
                                       "[EXCLUSION]\r\nShareName=hidden$\r\nShareType=80000000\r\n"
                                       "ShareType=dword:80000003\r\n[BACKUP]\r\nSHARE=ALL\r\n");
    }
    // The machine comes back empty: same name, drives and accounts, no registry.
    void ReplaceMachine() { fs::remove(WorldRoot() / "SRV01" / "HKLM.reg"); }
    std::vector<std::wstring> SharesOnMachine() {
        std::vector<std::wstring> names;
        for (const wchar_t* name : {L"Public", L"Finance", L"Hidden$", L"Anon"})
            if (ReadRegistryMultiString(L"SRV01", kShares, name)) names.push_back(name);
        return names;
    }
    // A backup of the shares; returns its run folder as the control file names it.
    std::string Backup() {
        auto run = Corvan({"/B", "/S:SRV01"});
        EXPECT_EQ(0, run.exitCode) << run.out;
        EXPECT_EQ("success", Outcome("BackupStatus")) << run.out;
        return Outcome("BackupLocation");
    }
    corvan_test::CorvanRun Restore(const std::string& control) { return Corvan({"/R", "/C:" + control, "/S:SRV01"}); }
    fs::path OnSrv01(const std::string& path) { return HostPathOf(L"SRV01", corvan::FromUtf8(path)); }
};

TEST_F(ShareMigrationTest, SharesComeBackOnAFreshServerWithTheirPermissions) {
    const std::string backupFolder = Backup();
    // The excluded shares get neither a file nor an entry to restore.
    EXPECT_EQ(std::vector<std::string>({"SHARE=Public,\"Public_shr.bkp\"", "SHARE=Finance,\"Finance_shr.bkp\"",
                                        "SHARE=Anon,\"Anon_shr.bkp\""}),
              Section("RESTORE"));
    EXPECT_EQ(Golden("share_backup_report.txt"), Report());

    const auto publicShare = ReadRegistryMultiString(L"SRV01", kShares, L"Public");
    ReplaceMachine();
    auto restore = Restore("D:\\Mig\\ControlRestore.ini");
    ASSERT_EQ(0, restore.exitCode) << restore.out;

    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Anon"}), SharesOnMachine());
    EXPECT_EQ(publicShare, ReadRegistryMultiString(L"SRV01", kShares, L"Public"));

    EXPECT_EQ(kFinanceAces, AcesOf(L"SRV01", kSecurity, L"Finance"));

    // Only the former null-session share goes into the list; the others stay closed to anonymous users.
    EXPECT_EQ(std::vector<std::wstring>({L"ANON"}),
              ReadRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares"));

    // The restore's copy of the control file holds the outcome of every entry;
    // a restore onto the machine it runs against names no other target.
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ("<missing>", Outcome("RestoreTargetMachine"));
    EXPECT_EQ(std::vector<std::string>(
                  {"SHARE=Public,\"0,Success.\"", "SHARE=Finance,\"0,Success.\"", "SHARE=Anon,\"0,Success.\""}),
              Section("STATUS"));

    // The backup's whole-set file brings the shares and the source's
    // null-session list to another fresh server.
    ReplaceMachine();
    Write("Whole.ini",
          kMigLocations + "BackupLocation=" + backupFolder + "\r\n[RESTORE]\r\nSHARE=ALL,\"shares_backup.dat\"\r\n");
    ASSERT_EQ(0, Restore("Whole.ini").exitCode);
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    // No run logged an error: the set's success is recorded as one.
    EXPECT_FALSE(fs::exists(cwd_ / "CorvanError.log")) << ReadHostFile(cwd_ / "CorvanError.log");
    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Anon"}), SharesOnMachine());
    EXPECT_EQ(std::vector<std::wstring>({L"ANON", L"COMCFG"}),
              ReadRegistryMultiString(L"SRV01", kParameters, L"NullSessionShares"));
}

// Backup and restore in one run: the restore's results go into a folder of
// their own, and the backup files stay as the backup wrote them.
TEST_F(ShareMigrationTest, FailedShareStaysMarkedAndOnlyItIsRetried) {
    // Restoring over the existing shares replaces them; Finance cannot be made again.
    AddFault(L"NetShareAdd@SRV01:Finance=5");
    ASSERT_EQ(0, Corvan({"/B", "/R", "/S:SRV01"}).exitCode);
    const Keys outcome = {{"BackupStatus", "success"},
                          {"RestoreStatus", "error"},
                          {"RestoreLastError", "5"},
                          {"RestoreErrorStep", "SHARE"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_EQ("Finance,\"Finance_shr.bkp\"", Control("RESTOREERROR", "SHARE"));
    EXPECT_EQ("Public,\"0,Success.\"", Control("STATUS", "SHARE"));
    // The failed share's line reaches the report once, though the step appends after every item.
    auto report = Report();
    EXPECT_EQ(1, std::count(report.begin(), report.end(),
                            "Result: NOK;Type: Share;Name: Finance;Prediction: Path=D:\\Data\\Finance ;State: ;Task: "
                            "Restore Share "));
    EXPECT_EQ(4u, report.size());  // three backup lines and the failed restore

    const std::string backupFolder = Outcome("BackupLocation"), restoreFolder = Outcome("RestoreLocation");
    EXPECT_NE(backupFolder, restoreFolder);
    EXPECT_EQ("dword:00000001", IniValue(OnSrv01(backupFolder + "\\Public_shr.bkp"), "1", "Restore"));
    EXPECT_EQ("dword:00000001", IniValue(OnSrv01(restoreFolder + "\\Finance_shr.bkp"), "1", "Restore"));
    EXPECT_EQ("dword:00000000", IniValue(OnSrv01(restoreFolder + "\\Public_shr.bkp"), "1", "Restore"));

    // The second restore reads the first one's results: Public is done and
    // must not be touched again, Finance is retried.
    fs::remove(WorldRoot() / "faults.ini");
    AddFault(L"NetShareAdd@SRV01:Public=5");
    Write("Retry.ini", "[Control]\r\nDefaultMigLocation=D:\\Mig2\r\nDefaultDataLocation=D:\\Mig2\\Data\r\n"
                       "BackupLocation=" + restoreFolder +
                           "\r\n[RESTORE]\r\nSHARE=Public,\"Public_shr.bkp\"\r\nSHARE=Finance,\"Finance_shr.bkp\"\r\n");
    ASSERT_EQ(0, Restore("Retry.ini").exitCode);
    EXPECT_EQ("success", IniValue(HostPathOf(L"SRV01", L"D:\\Mig2\\ControlRestore.ini"), "Control", "RestoreStatus"));
    EXPECT_EQ(std::vector<std::wstring>({L"Public", L"Finance", L"Hidden$", L"Anon"}), SharesOnMachine());
}

// A share set nested 20,000 deep and a file that holds no share each fail
// their item; the run goes on and ends.
TEST_F(ShareMigrationTest, BackupFilesThatNestTooDeepOrHoldNoShareFailTheirItem) {
    std::string nested;
    for (int i = 1; i <= 20000; ++i)
        nested += "[" + std::to_string(i) +
                  "]\r\nclass=CCompositeShare\r\nparent=" + (i == 1 ? std::string("NULL") : std::to_string(i - 1)) +
                  "\r\n";
    fs::create_directories(Mig("Old"));
    std::ofstream(Mig("Old\\nested.dat")) << nested;
    // Its first entry must be its class, whatever the value of the one there.
    std::ofstream(Mig("Old\\noclass.bkp")) << "[1]\r\nparent=CShare\r\nclass=CShare\r\nNetName=\"Public\"\r\n";
    Write("Nested.ini", kMigLocations +
                            "BackupLocation=D:\\Mig\\Old\r\n[RESTORE]\r\nSHARE=ALL,\"nested.dat\"\r\n"
                            "SHARE=Public,\"noclass.bkp\"\r\n");

    auto run = Restore("Nested.ini");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.out.find(",13,Objects are nested deeper than 512 levels.")) << run.out;
    const Keys outcome = {{"RestoreStatus", "error"},
                          {"RestoreLastError", "13"},
                          {"RestoreErrorText", "D:\\Mig\\Old\\noclass.bkp holds no share."}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_EQ(std::vector<std::string>({"SHARE=ALL,\"nested.dat\"", "SHARE=Public,\"noclass.bkp\""}),
              Section("RESTOREERROR"));
    EXPECT_FALSE(fs::exists(OnSrv01(Outcome("RestoreLocation") + "\\nested.dat")));  // no result of a refused set
    // Alone, the set nested too deep gives the outcome.
    Write("Nested.ini", kMigLocations + "BackupLocation=D:\\Mig\\Old\r\n[RESTORE]\r\nSHARE=ALL,\"nested.dat\"\r\n");
    ASSERT_EQ(0, Restore("Nested.ini").exitCode);
    EXPECT_EQ("Objects are nested deeper than 512 levels.", Outcome("RestoreErrorText"));
}

// File parts that climb out of their folder are refused: the backup, a
// file beside the run folders and the backup's files stay as they were.
TEST_F(ShareMigrationTest, FilePartsThatLeaveTheirFolderAreRefused) {
    std::string folder = Backup();
    std::string stamp = folder.substr(folder.rfind('\\') + 1);
    const fs::path backupFile = OnSrv01(folder + "\\Public_shr.bkp");
    const std::string backupBytes = ReadHostFile(backupFile);
    std::ofstream(Mig("important.ini")) << "keep me";
    Write("Hostile.ini", kMigLocations + "BackupLocation=" + folder + "\r\nControlRestoreFileName=" + stamp +
                             "\\Public_shr.bkp\r\n[RESTORE]\r\nSHARE=Public,\"..\\" + stamp +
                             "\\Public_shr.bkp\"\r\nSHARE=Important,\"..\\..\\..\\important.ini\"\r\n"
                             "SHARE=Finance,\"Finance_shr.bkp\"\r\n");

    auto run = Restore("Hostile.ini");
    ASSERT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("names nothing")) << run.out;
    EXPECT_EQ(backupBytes, ReadHostFile(backupFile));
    EXPECT_EQ("dword:00000001", IniValue(backupFile, "1", "Restore"));
    EXPECT_EQ("keep me", ReadHostFile(Mig("important.ini")));

    // Copies three and four are not written under the refused name; the
    // run's own copy tells what happened.
    fs::path data = Mig("Data\\SRV01");
    std::string restoreStamp;
    for (const auto& entry : fs::directory_iterator(data))
        if (entry.is_directory() && entry.path().filename() != stamp) restoreStamp = entry.path().filename().string();
    ASSERT_FALSE(restoreStamp.empty());
    fs::path copy = data / restoreStamp / "Hostile.ini";
    EXPECT_EQ("error", IniValue(copy, "Control", "RestoreStatus"));
    EXPECT_EQ("123", IniValue(copy, "Control", "RestoreLastError"));
    std::string text = ReadHostFile(copy);
    for (const std::string entry :
         {"ControlRestoreFileName=\"" + stamp + "\\Public_shr.bkp\"",
          "SHARE=Public,\"..\\" + stamp + "\\Public_shr.bkp\"",
          std::string("SHARE=Important,\"..\\..\\..\\important.ini\""), std::string("SHARE=Finance,\"0,Success.\"")})
        EXPECT_NE(std::string::npos, text.find(entry)) << entry;
    EXPECT_TRUE(fs::is_regular_file(data / restoreStamp / "Finance_shr.bkp"));
    // The migration folder's restore control file is still the backup's.
    EXPECT_EQ("success", Outcome("BackupStatus"));
    EXPECT_EQ("<missing>", Outcome("RestoreStatus"));
}

// A disk that is full where the data folder lies: every file that was
// there stays whole, no restored state is left empty, and the run says error
// in the copy it could write.
TEST_F(ShareMigrationTest, FullDataDiskFailsTheRunAndLosesNothing) {
    Backup();
    const fs::path dataCopy = Mig("Data\\SRV01\\ControlRestore.ini");
    const std::string dataBytes = ReadHostFile(dataCopy);
    AddFault(L"WriteFile:\\Data\\=112");

    auto run = Restore("D:\\Mig\\ControlRestore.ini");
    EXPECT_EQ(1, run.exitCode);  // copies of the control file could not be saved
    EXPECT_EQ(dataBytes, ReadHostFile(dataCopy));
    const Keys outcome = {{"RestoreStatus", "error"},
                          {"RestoreLastError", "13"},
                          {"RestoreErrorText", "The disk is full."},
                          {"RestoreErrorStep", "CONTROL"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    std::string text = ReadHostFile(Mig("ControlRestore.ini"));
    EXPECT_NE(std::string::npos, text.find("CONTROL=\"D:\\Mig\\Data\\SRV01\\ControlRestore.ini\"")) << text;
    EXPECT_NE(std::string::npos, text.find("SHARE=Public,\"Public_shr.bkp\"\r\nSHARE=Finance,\"Finance_shr.bkp\""));
    EXPECT_EQ(std::string::npos, text.find("0,Success.")) << text;
    for (const auto& entry : fs::recursive_directory_iterator(Mig("Data")))
        if (entry.is_regular_file()) ExpectWhole(entry.path());
    EXPECT_FALSE(fs::exists(OnSrv01(Outcome("RestoreLocation") + "\\Public_shr.bkp")));
}

// A status report that cannot be written fails the backup under its step.
TEST_F(ShareMigrationTest, AReportThatCannotBeWrittenFailsTheBackup) {
    AddFault(L"WriteFile:StatusReport=112");
    Corvan({"/B", "/S:SRV01"});
    EXPECT_EQ("REPORT", Outcome("BackupErrorStep"));
    const auto errors = Section("BACKUPERROR");
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(0u, errors[0].rfind("REPORT=", 0)) << errors[0];
}

// Control files the run cannot follow are named on the console and in the
// error log; a run with nothing to do says so.
TEST_F(ShareMigrationTest, ControlFilesTheRunCannotFollowAreNamed) {
    struct Case {
        std::string name, bytes, said;
    } cases[] = {
        {"empty.ini", "", "has no section the run reads"},
        {"binary.ini",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0[BACKUP]\r\nSHARE=ALL\r\n",
                     26),
         "holds a zero byte"},
        {"lower.ini", "[backup]\r\nSHARE=ALL\r\n", "has no section the run reads"},
        // A key no step knows, and registry entries, which a restore leaves to the backup.
        {"nothing.ini", kMigLocations + "[BACKUP]\r\nPRINTERS=ALL\r\n[RESTORE]\r\nREGISTRY=HKLM\\SOFTWARE\\V,v.bkp\r\n",
         "names nothing to back up"},
    };
    for (const auto& c : cases) {
        Write(c.name, c.bytes);
        fs::remove(cwd_ / "CorvanError.log");
        auto run = Corvan({"/B", "/C:" + c.name, "/S:SRV01"});
        EXPECT_EQ(0, run.exitCode) << c.name;
        EXPECT_NE(std::string::npos, run.out.find("Control file " + c.name + " " + c.said)) << run.out;
        if (c.name != "nothing.ini")
            EXPECT_NE(std::string::npos, ReadHostFile(cwd_ / "CorvanError.log").find("Control file " + c.name))
                << c.name;
    }
    auto run = Restore("nothing.ini");
    EXPECT_NE(std::string::npos, run.out.find("Control file nothing.ini names nothing to restore")) << run.out;
}

// The report of a restore goes where the backup's went, also when the
// locations are host paths that the backup wrote back resolved.
TEST_F(ShareMigrationTest, RestoreReportsIntoTheReportItsBackupResolved) {
    const std::string mig = (cwd_ / "mig").string();
    Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=" + mig + "\r\nDefaultLogLocation=" + mig +
                                   "/log\r\nDefaultDataLocation=" + mig +
                                   "/data\r\n[EXCLUSION]\r\nShareType=dword:80000000\r\nShareType=dword:80000003\r\n"
                                   "[BACKUP]\r\nSHARE=ALL\r\n");
    ASSERT_EQ(0, Corvan({"/B", "/S:SRV01"}).exitCode);
    AddFault(L"NetShareAdd@SRV01:Public=5");  // a share that is restored leaves no line; one that fails does
    ASSERT_EQ(0, Restore(mig + "/ControlRestore.ini").exitCode);
    std::vector<fs::path> reports;
    for (const auto& entry : fs::recursive_directory_iterator(cwd_))
        if (entry.path().filename().string().find("StatusReport") != std::string::npos) reports.push_back(entry.path());
    ASSERT_EQ(std::vector<fs::path>{cwd_ / "mig" / "log" / "SRV01" / "SRV01_StatusReport.log"}, reports);
    auto report = Lines(ReadHostFile(reports[0]));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ("Result: NOK;Type: Share;Name: Public;Prediction: Path=D:\\Data\\Public ;State: ;Task: Restore Share ",
              report.back());
}

}  // namespace
