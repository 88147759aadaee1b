// A world that another process changes between two runs: the second run
// works on the world as it is then, not as the first one found it.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/sim/hostfile.h"
#include "platform/sim/world.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::RunCorvan;

class ChangedWorldTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
        AddMachine(L"SRV02");
        SetRegistryDword(L"SRV02", L"SOFTWARE\\Vendor\\Tool", L"Level", 3);
        std::ofstream(cwd_ / "ControlBackup.ini")
            << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultDataLocation=D:\\Mig\\Data\r\n"
               "[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\n";
    }

    // The backup file of the newest run folder below drives/<drive>/Mig/Data/SRV02.
    std::string Backup(const char* drive) {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(WorldRoot() / "SRV01/drives" / drive / "Mig/Data/SRV02"))
            if (entry.is_directory() && entry.path().filename() > newest.filename()) newest = entry.path();
        return ReadHostFile(newest / "tool.bkp");
    }
    std::string Status(const char* drive) {
        return IniValue(WorldRoot() / "SRV01/drives" / drive / "Mig/ControlRestore.ini", "Control", "BackupStatus");
    }

};

TEST_F(ChangedWorldTest, EachRunSeesTheWorldAsAnotherProcessLeftIt) {
    auto first = RunCorvan({"/B", "/S:SRV02"}, cwd_);
    ASSERT_EQ(0, first.exitCode) << first.out;
    EXPECT_EQ("success", Status("D"));
    EXPECT_NE(std::string::npos, Backup("D").find("Value=dword:00000003"));

    // Another process changes the value, renames the remote machine's folder
    // and the local drive's folder to other cases.
    SetRegistryDword(L"SRV02", L"SOFTWARE\\Vendor\\Tool", L"Level", 7);
    sim::ResetWorld();
    fs::rename(WorldRoot() / "SRV02", WorldRoot() / "srv02");
    fs::rename(WorldRoot() / "SRV01/drives/D", WorldRoot() / "SRV01/drives/d");
    auto second = RunCorvan({"/B", "/S:SRV02"}, cwd_);
    ASSERT_EQ(0, second.exitCode) << second.out;
    EXPECT_EQ("success", Status("d"));
    EXPECT_NE(std::string::npos, Backup("d").find("Value=dword:00000007")) << Backup("d");

    // Then takes the machine off the network.
    fs::path ini = WorldRoot() / "srv02/machine.ini";
    std::string text = ReadHostFile(ini);
    size_t at = text.find("Reachable=1");
    ASSERT_NE(std::string::npos, at);
    ASSERT_TRUE(sim::WriteHostFileAtomic(ini, text.replace(at, 11, "Reachable=0")));
    auto third = RunCorvan({"/B", "/S:SRV02"}, cwd_);
    EXPECT_NE(0, third.exitCode);
    EXPECT_NE(std::string::npos, third.out.find("Machine name \"SRV02\" is incorrect.")) << third.out;
}

}  // namespace
