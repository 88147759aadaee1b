#include "platform/sim/world.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/sim/hive.h"
#include "platform/sim/hostfile.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

class WorldTest : public SimWorldTest {};

TEST_F(WorldTest, AFreshWorldHasOneEmptyLocalMachine) {
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
}

TEST_F(WorldTest, MachinesAreFoundIgnoringCaseAndUnreachableOnesAreNot) {
    AddMachine(L"Srv01");
    AddMachine(L"DOWN", 5, 2, false);
    SetLocalMachine(L"HOST01");
    std::wstring machine;
    EXPECT_EQ(0u, ResolveMachine(L"\\\\SRV01", machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(L"Srv01", machine);
    EXPECT_EQ(0u, ResolveMachine(L"srv01", machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(L"Srv01", machine);
    EXPECT_EQ(0u, ResolveMachine(L"", machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(L"HOST01", machine);
    EXPECT_EQ(0u, ResolveMachine(nullptr, machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(0u, ResolveMachine(L"\\\\host01", machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(L"HOST01", machine);

    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), ResolveMachine(L"\\\\NOSUCH", machine, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), ResolveMachine(L"\\\\DOWN", machine, ERROR_BAD_NETPATH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), ResolveMachine(L"\\\\SRV01\\C$", machine, ERROR_BAD_NETPATH));

    EXPECT_TRUE(IsLocalMachine(L"host01"));
    EXPECT_FALSE(IsLocalMachine(L"Srv01"));
    EXPECT_EQ(WorldRoot() / "Srv01", MachineDir(L"SRV01"));
}

TEST_F(WorldTest, SettingsChangeOneLineAndKeepTheRest) {
    AddMachine(L"SRV01");
    fs::path ini = MachineDir(L"SRV01") / "machine.ini";
    ASSERT_TRUE(WriteHostFileAtomic(ini, "; kept comment\n[Machine]\nVersionMajor=4\n\n[services]\nSpooler = Running\n"));
    SetMachineSetting(L"SRV01", L"machine", L"versionmajor", L"5");
    SetMachineSetting(L"SRV01", L"Services", L"Browser", L"Stopped");
    SetMachineSetting(L"SRV01", L"Accounts", L"Administrator", L"S-1-5-21-1-2-3-500");
    EXPECT_EQ("; kept comment\n[Machine]\nversionmajor=5\n\n[services]\nSpooler = Running\nBrowser=Stopped\n\n"
              "[Accounts]\nAdministrator=S-1-5-21-1-2-3-500\n",
              ReadHostFile(ini));
    EXPECT_EQ(L"Running", MachineSetting(L"srv01", L"SERVICES", L"spooler", L"?"));
    EXPECT_EQ(L"?", MachineSetting(L"SRV01", L"Services", L"Missing", L"?"));
    auto services = MachineSection(L"SRV01", L"Services");
    ASSERT_EQ(2u, services.size());
    EXPECT_EQ(L"Browser", services[1].first);
}

TEST_F(WorldTest, AccountsAreWellKnownLocalOrFromTheDomain) {
    AddMachine(L"srv01");
    AddMachine(L"SRV02");
    AddLocalAccount(L"srv01", L"Administrator", L"S-1-5-21-1-2-3-500");
    AddLocalAccount(L"srv01", L"Operators", L"S-1-5-21-1-2-3-1001,Alias");
    AddLocalAccount(L"SRV02", L"Other", L"S-1-5-21-9-9-9-1000");
    AddDomainAccount(L"CORP\\jdoe", L"S-1-5-21-7-7-7-1104");

    auto find = [](const std::vector<Account>& accounts, const std::wstring& sid) -> const Account* {
        for (const auto& account : accounts)
            if (account.sid == sid) return &account;
        return nullptr;
    };
    std::vector<Account> seen = AccountsSeenFrom(L"\\\\SRV01");
    const Account* everyone = find(seen, L"S-1-1-0");
    ASSERT_NE(nullptr, everyone);
    EXPECT_EQ(L"", everyone->domain);
    EXPECT_EQ(L"Everyone", everyone->name);
    EXPECT_EQ(SidTypeWellKnownGroup, everyone->use);
    const Account* admins = find(seen, L"S-1-5-32-544");
    ASSERT_NE(nullptr, admins);
    EXPECT_EQ(L"BUILTIN", admins->domain);
    EXPECT_EQ(L"Administrators", admins->name);
    EXPECT_EQ(SidTypeAlias, admins->use);
    ASSERT_NE(nullptr, find(seen, L"S-1-5-18"));
    EXPECT_EQ(L"NT AUTHORITY", find(seen, L"S-1-5-18")->domain);

    const Account* local = find(seen, L"S-1-5-21-1-2-3-500");
    ASSERT_NE(nullptr, local);
    EXPECT_EQ(L"SRV01", local->domain);
    EXPECT_EQ(L"Administrator", local->name);
    EXPECT_EQ(SidTypeUser, local->use);
    ASSERT_NE(nullptr, find(seen, L"S-1-5-21-1-2-3-1001"));
    EXPECT_EQ(SidTypeAlias, find(seen, L"S-1-5-21-1-2-3-1001")->use);
    EXPECT_EQ(nullptr, find(seen, L"S-1-5-21-9-9-9-1000"));

    const Account* domain = find(seen, L"S-1-5-21-7-7-7-1104");
    ASSERT_NE(nullptr, domain);
    EXPECT_EQ(L"CORP", domain->domain);
    EXPECT_EQ(L"jdoe", domain->name);
    EXPECT_NE(nullptr, find(AccountsSeenFrom(L"SRV02"), L"S-1-5-21-7-7-7-1104"));
}

TEST_F(WorldTest, FaultsIniRulesFireAsOftenAsTheySay) {
    AddMachine(L"SRV02");
    ASSERT_TRUE(WriteHostFileAtomic(WorldRoot() / "faults.ini",
                                    "[Faults]\n; comment\nNetShareAdd@SRV02=2118,1\nEnumPrinterDriversW=1722,3\n"
                                    "RegOpenKeyExW:Vendor\\Tool=5\nbroken rule\nBad=x\nTrailing=5x\n"));
    ResetWorld();
    testing::internal::CaptureStderr();
    EXPECT_EQ(0u, InjectedFault("NetShareAdd", L"SRV01", {}));
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, errors.find("Bad=x"));
    EXPECT_NE(std::string::npos, errors.find("Trailing=5x"));

    EXPECT_EQ(2118u, InjectedFault("NetShareAdd", L"srv02", {L"share"}));
    EXPECT_EQ(0u, InjectedFault("NetShareAdd", L"SRV02", {L"share"}));

    for (int i = 0; i < 3; ++i) EXPECT_EQ(1722u, InjectedFault("EnumPrinterDriversW", L"ANY", {}));
    EXPECT_EQ(0u, InjectedFault("EnumPrinterDriversW", L"ANY", {}));

    EXPECT_EQ(0u, InjectedFault("RegOpenKeyExW", L"SRV02", {L"SOFTWARE\\Vendor"}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(5u, InjectedFault("RegOpenKeyExW", L"SRV02", {L"x", L"software\\VENDOR\\tool\\Sub"}));
    EXPECT_EQ(0u, InjectedFault("RegOpenKeyEx", L"SRV02", {L"SOFTWARE\\Vendor\\Tool"}));
}

TEST_F(WorldTest, TestRulesAddToTheFileAndReloadKeepsUsedFirings) {
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

TEST_F(WorldTest, SwitchingWorldsWritesTheOldWorldFirst) {
    ASSERT_EQ(0u, RegistrySetValue(LocalMachineName(), L"SOFTWARE\\A", L"V", REG_DWORD, DwordBytes(7)));
    std::wstring oldMachine = LocalMachineName();
    fs::path oldHive = MachineDir(oldMachine) / "HKLM.reg";

    fs::path other = WorldRoot() / "nested-world";
    setenv("CORVAN_WORLD", other.c_str(), 1);
    EXPECT_EQ(other, sim::WorldRoot());
    EXPECT_TRUE(fs::exists(other / "world.ini"));
    EXPECT_FALSE(RegistryKeyExists(LocalMachineName(), L"SOFTWARE\\A"));
    EXPECT_NE(std::string::npos, ReadHostFile(oldHive).find("\"V\"=dword:00000007"));

    setenv("CORVAN_WORLD", WorldRoot().c_str(), 1);
    EXPECT_TRUE(RegistryKeyExists(oldMachine, L"SOFTWARE\\A"));
}

TEST_F(WorldTest, ChangesAreWrittenWhenTheProcessEndsNormally) {
    EXPECT_EXIT(
        {
            HKEY key = nullptr;
            DWORD value = 99;
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\AtExit", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
            RegSetValueExW(key, L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(99u, ReadRegistryDword(LocalMachineName(), L"SOFTWARE\\AtExit", L"Value").value_or(0));
}

}  // namespace
}  // namespace sim
