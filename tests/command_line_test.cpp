// The command line, the usage text and the validation messages, as a user
// sees them from the built binary.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/sim/testing/test_world.h"
#include "tests/corvan_process.h"

namespace {

using corvan_test::Lines;
using corvan_test::RunCorvan;

class CorvanCommandLineTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
        cwd_ = WorldRoot().parent_path() / (WorldRoot().filename().string() + "-cwd");
        std::filesystem::create_directories(cwd_);
        std::ofstream(cwd_ / "ControlBackup.ini") << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n";
    }
    void TearDown() override {
        std::filesystem::remove_all(cwd_);
        SimWorldTest::TearDown();
    }
    std::filesystem::path cwd_;
};

const std::vector<std::string> kUsage = {
    "Usage:",
    "Corvan  /B[Backup] /R[Restore]",
    "\t[/C:<Path to Control file>] ",
    "\t[/M:<Path to Migration data location>] ",
    "\t[/L:<Log path>] ",
    "/B  Backup the machine resources.",
    "/R  Restore the machine resources.",
    "/C: Full path to control file. ",
    "/M: Full path to migration data location (default d:\\migration). ",
    "/L: Path to log file directory (default %Temp%). ",
    "/S: NETBIOS machine name, i.e. SRV01. ",
    "/T: NETBIOS name of the machine to restore onto (with /R), i.e. SRV02. ",
    "/P  Preview: report what /B or /R would do; change nothing. ",
    "",
    "Ex1: Corvan /Backup /C:ControlBackup.ini /S:srv01 ",
    "Ex1: Corvan /B /s:srv01 ",
    "Ex2: Corvan /R /C:ControlRestore.ini ",
    "",
};

TEST_F(CorvanCommandLineTest, NoArgumentsPrintsTheUsageLineForLine) {
    auto run = RunCorvan({}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(kUsage, Lines(run.out));
}

TEST_F(CorvanCommandLineTest, QuestionMarkAnywhereEndsTheParse) {
    auto run = RunCorvan({"/B", "/?", "/Unknown"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(kUsage, Lines(run.out));  // the argument after /? is never examined

    run = RunCorvan({"/?x"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Parameter unknown - /?x "}), Lines(run.out));
}

TEST_F(CorvanCommandLineTest, EachUnknownArgumentIsReportedAndNothingRuns) {
    auto run = RunCorvan({"/M:d:\\x", "/B", "/Cfile", "/S:SRV01"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Parameter unknown - /M:d:\\x ", "Parameter unknown - /Cfile "}),
              Lines(run.out));
    EXPECT_FALSE(std::filesystem::exists(HostPathOf(L"SRV01", L"D:\\Mig")));
}

TEST_F(CorvanCommandLineTest, ValidationMessages) {
    auto run = RunCorvan({"/B", "/L:D:\\NoLogs"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Input argument for Log Path D:\\NoLogs is incorrect. "}), Lines(run.out));

    run = RunCorvan({"/B", "/C:missing.ini"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Control file Path \"missing.ini\" is incorrect. "}), Lines(run.out));

    run = RunCorvan({"/b", "/s:\\\\NOPE"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Machine name \"NOPE\" is incorrect. "}), Lines(run.out));

    // Validation stops before any folder is made.
    EXPECT_FALSE(std::filesystem::exists(HostPathOf(L"SRV01", L"D:\\Mig")));
}

TEST_F(CorvanCommandLineTest, LogFilesGoToTheLogPathAndOneThatCannotBeOpenedIsReportedOnceAndTheRunGoesOn) {
    namespace fs = std::filesystem;
    fs::create_directories(cwd_ / "logs" / "CorvanTrace.log");  // a folder where the file should be
    auto run = RunCorvan({"/B", "/L:logs", "/S:SRV01"}, cwd_);
    EXPECT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_TRUE(fs::is_regular_file(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini")));
    for (const char* name : {"CorvanTrace.log", "CorvanError.log", "CorvanReport.log"})
        EXPECT_FALSE(fs::exists(cwd_ / name)) << name;

    const std::string notice = "Cannot open file: " + cwd_.string() + "\\logs\\CorvanTrace.log, Error: Access to the file was denied.";
    EXPECT_EQ(std::vector<std::string>{notice}, Lines(run.err));
    std::ifstream errorLog(cwd_ / "logs" / "CorvanError.log");
    std::string logged((std::istreambuf_iterator<char>(errorLog)), {});
    EXPECT_NE(std::string::npos, logged.find("ERROR       " + notice)) << logged;
}

TEST_F(CorvanCommandLineTest, UnreachableMachineIsRefused) {
    AddMachine(L"SRV02", 5, 2, /*reachable=*/false);
    auto run = RunCorvan({"/B", "/S:SRV02"}, cwd_);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({"", "Machine name \"SRV02\" is incorrect. "}), Lines(run.out));
}

}  // namespace
