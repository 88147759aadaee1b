// The command line, the usage text and the validation messages, as a user
// sees them from the built binary; the run's folders and the four copies of
// the control file.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "platform/text.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::Lines;

class CorvanCommandLineTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n");
    }
    // The four copies of the control file <name> of a run whose data folder
    // holds one run folder (a 15-digit stamp): copy 1 in the run folder, copy
    // 2 beside it, copies 3 and 4 as the restore control file.
    std::vector<fs::path> Copies(const fs::path& mig, const fs::path& data, const std::string& name) {
        std::vector<std::string> stamps;
        for (const auto& entry : fs::directory_iterator(data))
            if (entry.is_directory()) stamps.push_back(entry.path().filename().string());
        EXPECT_EQ(1u, stamps.size());
        if (stamps.empty()) return {};
        EXPECT_TRUE(std::regex_match(stamps[0], std::regex("[0-9]{12}0[0-9]{2}"))) << stamps[0];
        const std::vector<fs::path> copies = {data / stamps[0] / name, data / (stamps[0] + "_" + name),
                                              mig / "ControlRestore.ini", data / "ControlRestore.ini"};
        for (const auto& copy : copies) EXPECT_TRUE(fs::is_regular_file(copy)) << copy;
        return copies;
    }
};

TEST_F(CorvanCommandLineTest, UsageAndValidationMessagesAndNothingRuns) {
    AddMachine(L"SRV02", 5, 2, /*reachable=*/false);
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> said;
    } cases[] = {
        {{"/?x"}, {"", "Parameter unknown - /?x "}},
        {{"/M:d:\\x", "/B", "/Cfile", "/S:SRV01"},
         {"", "Parameter unknown - /M:d:\\x ", "Parameter unknown - /Cfile "}},
        {{"/B", "/L:D:\\NoLogs"}, {"", "Input argument for Log Path D:\\NoLogs is incorrect. "}},
        {{"/B", "/C:missing.ini"}, {"", "Control file Path \"missing.ini\" is incorrect. "}},
        {{"/b", "/s:\\\\NOPE"}, {"", "Machine name \"NOPE\" is incorrect. "}},
        {{"/B", "/S:SRV02"}, {"", "Machine name \"SRV02\" is incorrect. "}},  // unreachable
        {{"/B", "/S:\\\\SRV01\\"}, {"", "Machine name \"\\\\SRV01\\\" is incorrect. "}},
        {{"/B", "/S:a\\b\\"}, {"", "Machine name \"a\\b\\\" is incorrect. "}},
        {{"/B", "/S:SRV01\\"}, {"", "Machine name \"SRV01\\\" is incorrect. "}},
        {{"/B", "/S:\\SRV01"}, {"", "Machine name \"\\SRV01\" is incorrect. "}},
        {{"/B", "/S:\\\\"}, {"", "Machine name \"\\\\\" is incorrect. "}},
        {{"/R", "/T:SRV03", "/C:ControlBackup.ini"}, {"", "Target machine name \"SRV03\" is incorrect. "}},
        {{"/R", "/T:", "/C:ControlBackup.ini"}, {"", "Target machine name \"\" is incorrect. "}},
        {{"/R", "/T:SRV01\\x", "/C:ControlBackup.ini"}, {"", "Target machine name \"SRV01\\x\" is incorrect. "}},
        {{"/B", "/T:SRV01", "/C:ControlBackup.ini"}, {"", "Parameter /T: is used with /R only. "}},
        {{"/P", "/C:ControlBackup.ini"}, {"", "Parameter /P is used with /B or /R. "}},
        // No arguments, or /? anywhere (what follows it is never examined): the usage.
        {{}, Golden("usage.txt")},
        {{"/B", "/?", "/Unknown"}, Golden("usage.txt")},
    };
    for (const auto& c : cases) {
        auto run = Corvan(c.args);
        EXPECT_EQ(1, run.exitCode) << testing::PrintToString(c.args);
        EXPECT_EQ(c.said, Lines(run.out));
    }
    // Validation stops before any folder is made.
    EXPECT_FALSE(std::filesystem::exists(HostPathOf(L"SRV01", L"D:\\Mig")));
}

TEST_F(CorvanCommandLineTest, LogFilesGoToTheLogPathAndOneThatCannotBeOpenedIsReportedOnceAndTheRunGoesOn) {
    fs::create_directories(cwd_ / "logs" / "CorvanTrace.log");  // a folder where the file should be
    auto run = Corvan({"/B", "/L:logs", "/S:SRV01"});
    EXPECT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_TRUE(fs::is_regular_file(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini")));
    for (const char* name : {"CorvanTrace.log", "CorvanError.log", "CorvanReport.log"})
        EXPECT_FALSE(fs::exists(cwd_ / name)) << name;

    const std::string notice =
        "Cannot open file: " + cwd_.string() + "\\logs\\CorvanTrace.log, Error: Access to the file was denied.";
    EXPECT_EQ(std::vector<std::string>{notice}, Lines(run.err));
    const std::string logged = ReadHostFile(cwd_ / "logs" / "CorvanError.log");
    EXPECT_NE(std::string::npos, logged.find("ERROR       " + notice)) << logged;
}

// A control file named with forward slashes, on a machine named with them.
TEST_F(CorvanCommandLineTest, DriveLocationsAreMadeOnTheLocalMachineWithFourCopies) {
    AddFile(L"SRV01", L"D:\\ctl\\ControlBackup.ini", corvan_test::kMigLocations + "DefaultReportName=run.log\r\n");
    auto run = Corvan({"/B", "/C:D:/ctl/ControlBackup.ini", "/S://SRV01"});
    ASSERT_EQ(0, run.exitCode) << run.out << run.err;

    EXPECT_TRUE(fs::is_directory(Mig("Log\\SRV01")));
    const auto copies = Copies(Mig(""), Mig("Data\\SRV01"), "ControlBackup.ini");
    ASSERT_FALSE(copies.empty());
    const std::string stamp = copies[0].parent_path().filename().string();
    for (const fs::path& copy : copies) {
        EXPECT_EQ("D:\\Mig", IniValue(copy, "Control", "DefaultMigLocation"));
        EXPECT_EQ("D:\\Mig\\Log\\SRV01", IniValue(copy, "Control", "DefaultLogLocation"));
        EXPECT_EQ("D:\\Mig\\Data\\SRV01", IniValue(copy, "Control", "DefaultDataLocation"));
        EXPECT_EQ("D:\\Mig\\Log\\SRV01\\SRV01_run.log", IniValue(copy, "Control", "DefaultReportName"));
        EXPECT_EQ("D:\\Mig\\Data\\SRV01\\" + stamp, IniValue(copy, "Control", "BackupLocation"));
    }
    // The control file itself is only read.
    EXPECT_EQ(std::string::npos,
              ReadHostFile(HostPathOf(L"SRV01", L"D:\\ctl\\ControlBackup.ini")).find("BackupLocation"));
}

TEST_F(CorvanCommandLineTest, HostLocationsAreMadeOnTheHostAndAnUnloadableControlFileStillGetsFoldersAndCopies) {
    std::string mig = (cwd_ / "mig").string();
    Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=" + mig +
                                   "\r\nDefaultLogLocation=\r\nDefaultDataLocation=" + mig + "/data\r\n");
    auto run = Corvan({"/R", "/S:SRV01"});
    ASSERT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_TRUE(fs::is_directory(cwd_ / "Log" / "SRV01"));  // an empty log location is "Log" under the current one
    Copies(cwd_ / "mig", cwd_ / "mig" / "data" / "SRV01", "ControlBackup.ini");
    // A restore with no BackupLocation reads from the temporary folder.
    EXPECT_EQ((cwd_ / "tmp").string(), IniValue(cwd_ / "mig" / "ControlRestore.ini", "Control", "BackupLocation"));

    fs::create_directories(cwd_ / "ctl.ini");  // found by the validation, but not a file to load
    run = Corvan({"/B", "/C:ctl.ini", "/S:SRV01"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("CObjectStore::LoadFromFile(ctl.ini),,5,")) << run.out;
    // Without a Control section every location is the temporary folder, so the
    // log and data folders are one folder.
    Copies(cwd_ / "tmp", cwd_ / "tmp" / "SRV01", "ctl.ini");
}

TEST_F(CorvanCommandLineTest, FolderThatCannotBeMadeEndsTheRunWithExitCodeOne) {
    Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=\\\\NAS\\Mig\r\n");
    auto run = Corvan({"/B", "/S:SRV01"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("CreateDirectory(\\\\NAS\\Mig)")) << run.out;
    // So does the machine's folder in the log folder.
    Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=\\\\NAS\\Logs\r\n");
    EXPECT_EQ(1, Corvan({"/B", "/S:SRV01"}).exitCode);
    // A restore stopped there is no success, whatever an earlier one left in
    // its control file; every copy of it can still be saved.
    AddDirectory(L"SRV01", L"D:\\Mig\\Data");
    AddDirectory(L"SRV01", L"D:\\Mig\\Earlier");
    Write("ControlBackup.ini",
          "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=\\\\NAS\\Logs\r\n"
          "DefaultDataLocation=D:\\Mig\\Data\r\nRestoreLocation=D:\\Mig\\Earlier\r\nRestoreStatus=success\r\n");
    EXPECT_EQ(1, Corvan({"/R", "/C:ControlBackup.ini", "/S:SRV01"}).exitCode);
    EXPECT_EQ("error", Outcome("RestoreStatus"));

    // So does a restore whose own run folder cannot be made: nothing is restored.
    Write("ControlBackup.ini", corvan_test::kMigLocations + "[RESTORE]\r\nSERVICE=Spooler,Stop\r\n");
    // The run folder's name begins with the year's two digits; no other folder the run makes does.
    char year[8];
    const std::time_t now = std::time(nullptr);
    std::strftime(year, sizeof year, "%y", std::localtime(&now));
    AddFault(L"CreateDirectoryW:" + corvan::FromUtf8(year) + L"=5");
    run = Corvan({"/R", "/C:ControlBackup.ini", "/S:SRV01"});
    EXPECT_EQ(1, run.exitCode) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("CreateDirectory(D:\\Mig\\Data\\SRV01\\" + std::string(year))) << run.out;
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("<missing>", IniValue(Mig("ControlRestore.ini"), "RESTOREERROR", "SERVICE"));  // the entry never ran

    // So does a restore after its backup in one run. Two makes pass: the
    // backup's folder, and the restore's first try, which finds it taken.
    // The control file still holds an earlier restore's outcome.
    fs::remove(WorldRoot() / "faults.ini");
    Write("ControlBackup.ini", corvan_test::kMigLocations + "RestoreStatus=success\r\nRestoreLastError=0\r\n");
    AddFault(L"CreateDirectoryW:" + corvan::FromUtf8(year) + L"=0,2");
    AddFault(L"CreateDirectoryW:" + corvan::FromUtf8(year) + L"=5");
    run = Corvan({"/B", "/R", "/C:ControlBackup.ini", "/S:SRV01"});
    EXPECT_EQ(1, run.exitCode) << run.out;
    const Keys outcome = {{"BackupStatus", "success"}, {"RestoreStatus", "error"}, {"RestoreLastError", "5"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
}

}  // namespace
