#include "platform/sim/world.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/sim/hostfile.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

using WorldTest = SimWorldTest;

TEST_F(WorldTest, AFreshWorldHasOneEmptyLocalMachineWhereTheVariableThatNamesItSays) {
    EXPECT_EQ(fs::path(std::getenv("CORVAN_WORLD")), WorldRoot());
    std::wstring local = LocalMachineName();
    EXPECT_EQ(local, corvan::ToUpper(local));
    EXPECT_LE(local.size(), static_cast<size_t>(MAX_COMPUTERNAME_LENGTH));
    EXPECT_EQ(local, WorldSetting(L"World", L"LocalMachine", L""));

    fs::path machine = WorldRoot() / ToHostPath(local);
    EXPECT_TRUE(fs::is_directory(machine / "drives" / "C"));
    EXPECT_EQ("Windows Registry Editor Version 5.00\n\n", ReadHostFile(machine / "HKLM.reg"));
    EXPECT_EQ(L"5", MachineSetting(local, L"Machine", L"VersionMajor", L""));
    EXPECT_EQ(L"1", MachineSetting(local, L"Machine", L"Reachable", L""));
    EXPECT_EQ(std::vector<std::wstring>{local}, MachineNames());

    // HOME names the world only while CORVAN_WORLD is unset, and then as
    // HOME/.corvan/world, even when it is the folder CORVAN_WORLD named before.
    const std::string folder = WorldRoot().string();
    const auto savedHome = std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
    setenv("HOME", folder.c_str(), 1);
    unsetenv("CORVAN_WORLD");
    const fs::path root = sim::WorldRoot();
    setenv("CORVAN_WORLD", folder.c_str(), 1);
    savedHome ? setenv("HOME", savedHome->c_str(), 1) : unsetenv("HOME");
    EXPECT_EQ(fs::path(folder) / ".corvan" / "world", root);
    EXPECT_EQ(fs::path(folder), sim::WorldRoot());
}

TEST_F(WorldTest, SettingsChangeOneLineAndKeepTheRest) {
    AddMachine(L"SRV01");
    fs::path ini = MachineDir(L"SRV01") / "machine.ini";
    ASSERT_TRUE(WriteHostFileAtomic(ini, "; kept comment\n[Machine]\nVersionMajor=4\n\n[services]\n# Old=1\n; Gone=1\nSpooler = Running\n[]\nX=1\n"));
    SetMachineSetting(L"SRV01", L"machine", L"versionmajor", L"5");
    SetMachineSetting(L"SRV01", L"Services", L"Browser", L"Stopped");
    SetMachineSetting(L"SRV01", L"Accounts", L"Administrator", L"S-1-5-21-1-2-3-500");
    EXPECT_EQ("; kept comment\n[Machine]\nversionmajor=5\n\n[services]\n# Old=1\n; Gone=1\nSpooler = Running\nBrowser=Stopped\n[]\nX=1\n\n"
              "[Accounts]\nAdministrator=S-1-5-21-1-2-3-500\n",
              ReadHostFile(ini));
    EXPECT_EQ(L"Running", MachineSetting(L"srv01", L"SERVICES", L"spooler", L"?"));
    EXPECT_EQ(L"?", MachineSetting(L"SRV01", L"Services", L"Missing", L"?"));
    auto services = MachineSection(L"SRV01", L"Services");
    ASSERT_EQ(2u, services.size());  // "[]" opens a section of its own
    EXPECT_EQ(L"Browser", services[1].first);
    EXPECT_FALSE(WriteHostFileAtomic(MachineDir(L"SRV01") / "none" / "machine.ini", ""));  // no folder: said so
}

TEST_F(WorldTest, FaultRulesFireAsOftenAsTheySayAndTestRulesAddToTheFile) {
    AddMachine(L"SRV02");
    EXPECT_EQ(0u, InjectedFault("NetShareAdd", L"SRV02", {}));  // no rules yet; a reset forgets that
    ASSERT_TRUE(WriteHostFileAtomic(WorldRoot() / "faults.ini",
                                    "[Faults]\n; comment\nNetShareAdd@SRV02=2118,1\nEnumPrinterDriversW=1722,3\n"
                                    "RegOpenKeyExW:Vendor\\Tool=5\nbroken rule\nBad=x\nTrailing=5x\n@SRV02=5\n"));
    ResetWorld();
    testing::internal::CaptureStderr();
    EXPECT_EQ(0u, InjectedFault("NetShareAdd", L"SRV01", {}));
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, errors.find("Bad=x"));
    EXPECT_NE(std::string::npos, errors.find("Trailing=5x"));
    EXPECT_NE(std::string::npos, errors.find("\"@SRV02=5\""));  // a rule names its call

    EXPECT_EQ(2118u, InjectedFault("NetShareAdd", L"srv02", {L"share"}));
    EXPECT_EQ(0u, InjectedFault("NetShareAdd", L"SRV02", {L"share"}));

    for (int i = 0; i < 3; ++i) EXPECT_EQ(1722u, InjectedFault("EnumPrinterDriversW", L"ANY", {}));
    EXPECT_EQ(0u, InjectedFault("EnumPrinterDriversW", L"ANY", {}));

    EXPECT_EQ(0u, InjectedFault("RegOpenKeyExW", L"SRV02", {L"SOFTWARE\\Vendor"}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(5u, InjectedFault("RegOpenKeyExW", L"SRV02", {L"x", L"software\\VENDOR\\tool\\Sub"}));
    EXPECT_EQ(0u, InjectedFault("RegOpenKeyEx", L"SRV02", {L"SOFTWARE\\Vendor\\Tool"}));

    // A test's rules add to the file; reading it again keeps the firings used.
    AddFault(L"NetShareDel=2310,2");
    EXPECT_EQ(2310u, InjectedFault("NetShareDel", L"A", {}));
    AddFault(L"NetShareEnum@\\\\SRV09=53");  // re-reads faults.ini
    EXPECT_EQ(2310u, InjectedFault("NetShareDel", L"A", {}));
    EXPECT_EQ(0u, InjectedFault("NetShareDel", L"A", {}));
    EXPECT_EQ(53u, InjectedFault("NetShareEnum", L"SRV09", {}));
    EXPECT_NE(std::string::npos, ReadHostFile(WorldRoot() / "faults.ini").find("NetShareEnum@\\\\SRV09=53\n"));

    AddFaultRule(L"GetComputerNameW=0x6f,1");
    EXPECT_EQ(111u, InjectedFault("GetComputerNameW", L"A", {}));
    EXPECT_EQ(0u, InjectedFault("GetComputerNameW", L"A", {}));
    AddFaultRule(L"CopyFileW:a.txt=32");
    ClearFaultRules();
    EXPECT_EQ(0u, InjectedFault("CopyFileW", L"A", {L"D:\\a.txt"}));
    EXPECT_EQ(53u, InjectedFault("NetShareEnum", L"SRV09", {}));  // the file's rules stay
}

}  // namespace
}  // namespace sim
