// Hostile and unlucky inputs through the built binary: nested backup files,
// file parts that point elsewhere, disks that fill up, control files the run
// cannot follow, and names of things that are no files. Nothing is lost and
// nothing is reported as success that was not.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/text.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::kMigLocations;
using corvan_test::Lines;
using corvan_test::RunCorvan;


class HostileInputsTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        for (const std::wstring name : {L"Public", L"Finance"}) {
            AddDirectory(L"SRV01", L"D:\\Data\\" + name);
            AddShare(L"SRV01", name, L"D:\\Data\\" + name);
        }
        SetRegistryMultiString(L"SRV01", corvan_test::kParameters, L"NullSessionShares", {});
        Write("ControlBackup.ini", kMigLocations + "[EXCLUSION]\r\nShareType=dword:80000000\r\n"
                                                "ShareType=dword:80000003\r\n[BACKUP]\r\nSHARE=ALL\r\n");
    }

    fs::path Mig(const std::wstring& below) { return HostPathOf(L"SRV01", L"D:\\Mig" + below); }
    std::string Bytes(const fs::path& path) { return ReadHostFile(path); }

    // A backup of the two shares; returns its run folder as the control file names it.
    std::string Backup() {
        auto run = RunCorvan({"/B", "/S:SRV01"}, cwd_);
        EXPECT_EQ(0, run.exitCode) << run.out;
        EXPECT_EQ("success", IniValue(Mig(L"\\ControlRestore.ini"), "Control", "BackupStatus"));
        return IniValue(Mig(L"\\ControlRestore.ini"), "Control", "BackupLocation");
    }
    corvan_test::CorvanRun Restore(const std::string& control) {
        return RunCorvan({"/R", "/C:" + control, "/S:SRV01"}, cwd_);
    }

};

// 1. A share set nested 20,000 deep fails its item; the run goes on and ends.
TEST_F(HostileInputsTest, DeeplyNestedShareSetFailsItsItem) {
    std::string nested;
    for (int i = 1; i <= 20000; ++i)
        nested += "[" + std::to_string(i) + "]\r\nclass=CCompositeShare\r\nparent=" +
                  (i == 1 ? std::string("NULL") : std::to_string(i - 1)) + "\r\n";
    fs::create_directories(Mig(L"\\Old"));
    std::ofstream(Mig(L"\\Old\\nested.dat")) << nested;
    Write("Nested.ini", kMigLocations + "BackupLocation=D:\\Mig\\Old\r\n[RESTORE]\r\nSHARE=ALL,\"nested.dat\"\r\n");

    auto run = Restore("Nested.ini");
    ASSERT_EQ(0, run.exitCode) << run.err;
    fs::path control = Mig(L"\\ControlRestore.ini");
    EXPECT_EQ("error", IniValue(control, "Control", "RestoreStatus"));
    EXPECT_EQ("13", IniValue(control, "Control", "RestoreLastError"));
    EXPECT_EQ("Objects are nested deeper than 512 levels.", IniValue(control, "Control", "RestoreErrorText"));
    EXPECT_EQ("ALL,\"nested.dat\"", IniValue(control, "RESTOREERROR", "SHARE"));
}

// 2. File parts that climb out of their folder are refused: the backup, a
// file beside the run folders and the backup's files stay as they were.
TEST_F(HostileInputsTest, FilePartsThatLeaveTheirFolderAreRefused) {
    std::string folder = Backup();
    std::string stamp = folder.substr(folder.rfind('\\') + 1);
    const fs::path backupFile = HostPathOf(L"SRV01", corvan::FromUtf8(folder + "\\Public_shr.bkp"));
    const std::string backupBytes = Bytes(backupFile);
    std::ofstream(Mig(L"\\important.ini")) << "keep me";
    Write("Hostile.ini", kMigLocations + "BackupLocation=" + folder + "\r\nControlRestoreFileName=" + stamp +
                             "\\Public_shr.bkp\r\n[RESTORE]\r\nSHARE=Public,\"..\\" + stamp +
                             "\\Public_shr.bkp\"\r\nSHARE=Important,\"..\\..\\..\\important.ini\"\r\n"
                             "SHARE=Finance,\"Finance_shr.bkp\"\r\n");

    auto run = Restore("Hostile.ini");
    ASSERT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("names nothing")) << run.out;
    EXPECT_EQ(backupBytes, Bytes(backupFile));
    EXPECT_EQ("dword:00000001", IniValue(backupFile, "1", "Restore"));
    EXPECT_EQ("keep me", Bytes(Mig(L"\\important.ini")));

    // Copies three and four are not written under the refused name; the
    // run's own copy tells what happened.
    fs::path data = Mig(L"\\Data\\SRV01");
    std::string restoreStamp;
    for (const auto& entry : fs::directory_iterator(data))
        if (entry.is_directory() && entry.path().filename() != stamp) restoreStamp = entry.path().filename().string();
    ASSERT_FALSE(restoreStamp.empty());
    fs::path copy = data / restoreStamp / "Hostile.ini";
    EXPECT_EQ("error", IniValue(copy, "Control", "RestoreStatus"));
    EXPECT_EQ("123", IniValue(copy, "Control", "RestoreLastError"));
    std::string text = Bytes(copy);
    for (const std::string entry : {"ControlRestoreFileName=\"" + stamp + "\\Public_shr.bkp\"",
                                    "SHARE=Public,\"..\\" + stamp + "\\Public_shr.bkp\"",
                                    std::string("SHARE=Important,\"..\\..\\..\\important.ini\""),
                                    std::string("SHARE=Finance,\"0,Success.\"")})
        EXPECT_NE(std::string::npos, text.find(entry)) << entry;
    EXPECT_TRUE(fs::is_regular_file(data / restoreStamp / "Finance_shr.bkp"));
    // The migration folder's restore control file is still the backup's.
    EXPECT_EQ("success", IniValue(Mig(L"\\ControlRestore.ini"), "Control", "BackupStatus"));
    EXPECT_EQ("<missing>", IniValue(Mig(L"\\ControlRestore.ini"), "Control", "RestoreStatus"));
}

// 4. A disk that is full where the data folder lies: every file that was
// there stays whole, no restored state is left empty, and the run says error
// in the copy it could write.
TEST_F(HostileInputsTest, FullDataDiskFailsTheRunAndLosesNothing) {
    Backup();
    const fs::path dataCopy = Mig(L"\\Data\\SRV01\\ControlRestore.ini");
    const std::string dataBytes = Bytes(dataCopy);
    AddFault(L"WriteFile:\\Data\\=112");

    auto run = Restore("D:\\Mig\\ControlRestore.ini");
    EXPECT_EQ(1, run.exitCode);  // copies of the control file could not be saved
    EXPECT_EQ(dataBytes, Bytes(dataCopy));
    fs::path control = Mig(L"\\ControlRestore.ini");
    EXPECT_EQ("error", IniValue(control, "Control", "RestoreStatus"));
    EXPECT_EQ("13", IniValue(control, "Control", "RestoreLastError"));
    EXPECT_EQ("The disk is full.", IniValue(control, "Control", "RestoreErrorText"));
    EXPECT_EQ("CONTROL", IniValue(control, "Control", "RestoreErrorStep"));
    std::string text = Bytes(control);
    EXPECT_NE(std::string::npos, text.find("CONTROL=\"D:\\Mig\\Data\\SRV01\\ControlRestore.ini\"")) << text;
    EXPECT_NE(std::string::npos, text.find("SHARE=Public,\"Public_shr.bkp\"\r\nSHARE=Finance,\"Finance_shr.bkp\""));
    EXPECT_EQ(std::string::npos, text.find("0,Success.")) << text;
    std::string restoreFolder = IniValue(control, "Control", "RestoreLocation");
    for (const auto& entry : fs::recursive_directory_iterator(Mig(L"\\Data")))
        if (entry.is_regular_file()) {
            std::string bytes = Bytes(entry.path());
            EXPECT_EQ("\r\n\r\n", bytes.substr(bytes.size() - std::min<size_t>(4, bytes.size()))) << entry.path();
        }
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV01", corvan::FromUtf8(restoreFolder + "\\Public_shr.bkp"))));
}

// 5. Control files the run cannot follow are named on the console and in
// the error log; a run with nothing to do says so.
TEST_F(HostileInputsTest, ControlFilesTheRunCannotFollowAreNamed) {
    struct Case {
        std::string name, bytes, said;
    } cases[] = {
        {"empty.ini", "", "has no section the run reads"},
        {"binary.ini", std::string("\x7f" "ELF\x02\x01\x01\0\0\0[BACKUP]\r\nSHARE=ALL\r\n", 26), "holds a zero byte"},
        {"lower.ini", "[backup]\r\nSHARE=ALL\r\n", "has no section the run reads"},
        {"nothing.ini", kMigLocations, "names nothing to back up"},
    };
    for (const auto& c : cases) {
        Write(c.name, c.bytes);
        fs::remove(cwd_ / "CorvanError.log");
        auto run = RunCorvan({"/B", "/C:" + c.name, "/S:SRV01"}, cwd_);
        EXPECT_EQ(0, run.exitCode) << c.name;
        EXPECT_NE(std::string::npos, run.out.find("Control file " + c.name + " " + c.said)) << run.out;
        if (c.name != "nothing.ini")
            EXPECT_NE(std::string::npos, Bytes(cwd_ / "CorvanError.log").find("Control file " + c.name)) << c.name;
    }
    auto run = RunCorvan({"/R", "/C:nothing.ini", "/S:SRV01"}, cwd_);
    EXPECT_NE(std::string::npos, run.out.find("Control file nothing.ini names nothing to restore")) << run.out;
}

// 5. /C: with forward slashes gets all four copies.
TEST_F(HostileInputsTest, SlashedControlPathsGetAllFourCopies) {
    fs::create_directories(HostPathOf(L"SRV01", L"D:\\ctl"));
    std::ofstream(HostPathOf(L"SRV01", L"D:\\ctl\\ctl.ini")) << kMigLocations << "[BACKUP]\r\nSHARE=Public\r\n";
    auto run = RunCorvan({"/B", "/C:D:/ctl/ctl.ini", "/S://SRV01"}, cwd_);
    ASSERT_EQ(0, run.exitCode) << run.out;
    std::string folder = IniValue(Mig(L"\\ControlRestore.ini"), "Control", "BackupLocation");
    std::string stamp = folder.substr(folder.rfind('\\') + 1);
    EXPECT_TRUE(fs::is_regular_file(HostPathOf(L"SRV01", corvan::FromUtf8(folder + "\\ctl.ini"))));
    EXPECT_TRUE(fs::is_regular_file(Mig(L"\\Data\\SRV01\\" + corvan::FromUtf8(stamp) + L"_ctl.ini")));
    EXPECT_TRUE(fs::is_regular_file(Mig(L"\\Data\\SRV01\\ControlRestore.ini")));
}

// The report of a restore goes where the backup's went, also when the
// locations are host paths that the backup wrote back resolved.
TEST_F(HostileInputsTest, RestoreReportsIntoTheReportItsBackupResolved) {
    const std::string mig = (cwd_ / "mig").string();
    Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=" + mig + "\r\nDefaultLogLocation=" + mig +
                                   "/log\r\nDefaultDataLocation=" + mig +
                                   "/data\r\n[EXCLUSION]\r\nShareType=dword:80000000\r\nShareType=dword:80000003\r\n"
                                   "[BACKUP]\r\nSHARE=ALL\r\n");
    ASSERT_EQ(0, RunCorvan({"/B", "/S:SRV01"}, cwd_).exitCode);
    AddFault(L"NetShareAdd@SRV01:Public=5");  // a share that is restored leaves no line; one that fails does
    ASSERT_EQ(0, Restore(mig + "/ControlRestore.ini").exitCode);
    std::vector<fs::path> reports;
    for (const auto& entry : fs::recursive_directory_iterator(cwd_))
        if (entry.path().filename().string().find("StatusReport") != std::string::npos) reports.push_back(entry.path());
    ASSERT_EQ(std::vector<fs::path>{cwd_ / "mig" / "log" / "SRV01" / "SRV01_StatusReport.log"}, reports);
    auto report = Lines(Bytes(reports[0]));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ("Result: NOK;Type: Share;Name: Public;Prediction: Path=D:\\Data\\Public ;State: ;Task: Restore Share ",
              report.back());
}

// 6. Names of things that are no files are refused at once, and a hive with
// a key deeper than the registry keeps fails the registry backup that needs
// it, quickly, and stays as it was.
TEST_F(HostileInputsTest, FifosDevicesAndOverdeepHivesAreRefused) {
    ASSERT_EQ(0, mkfifo((cwd_ / "fifo.ini").c_str(), 0600));
    for (std::string control : {"fifo.ini", "/dev/zero"}) {
        auto run = RunCorvan({"/B", "/C:" + control, "/S:SRV01"}, cwd_, 20);
        EXPECT_FALSE(run.timedOut) << control;
        EXPECT_EQ(1, run.exitCode) << control;
        EXPECT_NE(std::string::npos, run.out.find("CObjectStore::LoadFromFile(" + control + "),,123")) << run.out;
    }

    const fs::path hive = WorldRoot() / "SRV01" / "HKLM.reg";
    std::string deep = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep";
    for (int i = 0; i < 10000; ++i) deep += "\\k";
    std::ofstream(hive, std::ios::app) << deep << "]\r\n\"v\"=dword:00000001\r\n";
    const std::string hiveBytes = Bytes(hive);
    Write("ControlBackup.ini", kMigLocations + "[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Deep,deep.bkp\r\n");
    auto run = RunCorvan({"/B", "/S:SRV01"}, cwd_, 20);
    ASSERT_FALSE(run.timedOut);
    fs::path control = Mig(L"\\ControlRestore.ini");
    EXPECT_EQ("error", IniValue(control, "Control", "BackupStatus"));
    EXPECT_EQ("1009", IniValue(control, "Control", "BackupLastError"));
    EXPECT_EQ("\"HKLM\\SOFTWARE\\Deep\",\"deep.bkp\"", IniValue(control, "BACKUPERROR", "REGISTRY"));
    EXPECT_NE(std::string::npos, run.err.find("key deeper than 510 levels")) << run.err;
    EXPECT_EQ(hiveBytes, Bytes(hive));
}

}  // namespace
