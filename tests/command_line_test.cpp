// The command line, the usage text and the validation messages, as a user
// sees them from the built binary.
#include <gtest/gtest.h>

#include "tests/corvan_world_test.h"

namespace {

using corvan_test::Lines;

class CorvanCommandLineTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        Write("ControlBackup.ini", "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n");
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
    };
    for (const auto& c : cases) {
        auto run = Corvan(c.args);
        EXPECT_EQ(1, run.exitCode) << c.args[0];
        EXPECT_EQ(c.said, Lines(run.out));
    }
    // No arguments, or /? anywhere (what follows it is never examined): the usage.
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"/B", "/?", "/Unknown"}}) {
        auto run = Corvan(args);
        EXPECT_EQ(1, run.exitCode);
        EXPECT_EQ(Golden("usage.txt"), Lines(run.out));
    }
    // Validation stops before any folder is made.
    EXPECT_FALSE(std::filesystem::exists(HostPathOf(L"SRV01", L"D:\\Mig")));
}

TEST_F(CorvanCommandLineTest, LogFilesGoToTheLogPathAndOneThatCannotBeOpenedIsReportedOnceAndTheRunGoesOn) {
    namespace fs = std::filesystem;
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

}  // namespace
