// The simulated registry's own side: hives kept in the world's files,
// injected failures, and the depth Windows keeps keys to. What the registry calls do on one machine is stated in
// platform/conformance/registry_test.cpp.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/conformance/testing/registry_calls.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/win32.h"

namespace {

const wchar_t kScratch[] = L"SOFTWARE\\CorvanTest";

using conformance::CreateKey;
using conformance::ExpectOpenFails;
using conformance::OpenKey;
using conformance::QueryDword;
using conformance::SetDword;
using conformance::SetText;

class RegistryWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        key_ = CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    }
    void TearDown() override {
        RegCloseKey(key_);
        SimWorldTest::TearDown();
    }

    HKEY key_ = nullptr;
};

TEST_F(RegistryWorldTest, ChangesReachTheFileOnFlushOrResetAndOldHandlesDieWithTheWorld) {
    sim::FlushWorld();
    std::filesystem::path file = sim::MachineDir(sim::LocalMachineName()) / "HKLM.reg";
    std::string before = ReadHostFile(file);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Path", L"%SystemRoot%\\x", REG_EXPAND_SZ));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"List", std::wstring(L"A\0B\0", 4), REG_MULTI_SZ));
    EXPECT_EQ(before, ReadHostFile(file));

    sim::FlushWorld();
    std::string after = ReadHostFile(file);
    EXPECT_NE(std::string::npos, after.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\CorvanTest]\n"));
    // The file holds UTF-16, as a Windows export does: A, NUL, B, NUL, NUL.
    EXPECT_NE(std::string::npos, after.find("\"List\"=hex(7):41,00,00,00,42,00,00,00,00,00\n"));
    EXPECT_EQ(std::vector<std::wstring>({L"A", L"B"}),
              ReadRegistryMultiString(sim::LocalMachineName(), kScratch, L"List").value_or(std::vector<std::wstring>{}));
    EXPECT_EQ(L"%SystemRoot%\\x", ReadRegistryString(sim::LocalMachineName(), kScratch, L"Path").value_or(L""));

    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"Kept", 42));
    sim::ResetWorld();
    DWORD size = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(key_, L"Kept", nullptr, nullptr, nullptr, &size));
    // A file that did not parse is read afresh after a reset, once mended.
    const std::string kept = ReadHostFile(file);
    std::ofstream(file, std::ios::trunc) << "not a hive";
    sim::ResetWorld();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_READ, &key));
    std::ofstream(file, std::ios::trunc) << kept;
    sim::ResetWorld();
    key = OpenKey(HKEY_LOCAL_MACHINE, kScratch);
    EXPECT_EQ(42u, QueryDword(key, L"Kept"));
    RegCloseKey(key);

    // A change is written out before the process turns to another world.
    key = CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, L"Carried", 7));
    const std::string here = WorldRoot().string();
    const std::filesystem::path elsewhere = WorldRoot() / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    setenv("CORVAN_WORLD", elsewhere.c_str(), 1);
    sim::WorldRoot();
    setenv("CORVAN_WORLD", here.c_str(), 1);
    EXPECT_NE(std::string::npos, ReadHostFile(file).find("\"Carried\"=dword:00000007"));
    RegCloseKey(key);
}

TEST_F(RegistryWorldTest, InjectedFailuresReachEveryCallAndKeysDeeperThanWindowsKeepsAreNotCreated) {
    AddMachine(L"SRV02");
    AddRegistryKey(L"SRV02", L"SOFTWARE\\Vendor\\Tool");
    AddRegistryKey(sim::LocalMachineName(), L"SOFTWARE\\Vendor\\Tool");
    AddFault(L"RegOpenKeyExW@SRV02:Vendor\\Tool=5,2");

    HKEY remote = nullptr, key = nullptr;
    WCHAR name[8];
    DWORD length = 8, size = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(L"\\\\SRV02", HKEY_LOCAL_MACHINE, &remote));
    HKEY vendor = OpenKey(remote, L"SOFTWARE\\Vendor");
    // Matched through the full path although the argument names only "Tool".
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(vendor, L"Tool", 0, KEY_READ, &key));
    RegCloseKey(OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Tool"));  // another machine is not affected
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(remote, L"software\\vendor\\tool", 0, KEY_READ, &key));
    RegCloseKey(OpenKey(remote, L"SOFTWARE\\Vendor\\Tool"));  // two firings are used up
    RegCloseKey(vendor);
    RegCloseKey(remote);

    // Every call can be made to fail.
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"V", 1));
    const std::pair<const wchar_t*, std::function<LSTATUS()>> cases[] = {
        {L"RegConnectRegistryW=1722", [&] { return RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &key); }},
        {L"RegCreateKeyExW=5", [&] { return RegCreateKeyExW(key_, L"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr); }},
        {L"RegQueryInfoKeyW=6", [&] { return RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {L"RegEnumKeyExW=1009", [&] { return RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
        {L"RegEnumValueW=1009", [&] { return RegEnumValueW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
        {L"RegQueryValueExW:V=2", [&] { return RegQueryValueExW(key_, L"V", nullptr, nullptr, nullptr, &size); }},
        {L"RegSetValueExW:CorvanTest=5", [&] { return SetDword(key_, L"V", 2); }},
        {L"RegDeleteValueW=5", [&] { return RegDeleteValueW(key_, L"V"); }},
        {L"RegDeleteKeyW=5", [&] { return RegDeleteKeyW(key_, L"X"); }},
    };
    for (const auto& [rule, call] : cases) {
        sim::ClearFaultRules();
        sim::AddFaultRule(rule);
        const std::wstring text = rule;
        EXPECT_EQ(static_cast<LSTATUS>(std::stoul(text.substr(text.find(L'=') + 1))), call()) << rule;
    }
    sim::ClearFaultRules();
    EXPECT_EQ(1u, QueryDword(key_, L"V"));  // neither the set nor the delete happened

    // Windows keeps keys at most 512 levels deep from the registry's root, of
    // which HKEY_LOCAL_MACHINE is the first: 510 levels below it.
    auto levels = [](size_t count) {
        std::wstring path;
        for (size_t i = 0; i < count; ++i) path += (i ? L"\\k" : L"k");
        return path;
    };
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_LOCAL_MACHINE, levels(511).c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ExpectOpenFails(HKEY_LOCAL_MACHINE, L"k");
    HKEY deepest = CreateKey(HKEY_LOCAL_MACHINE, levels(510).c_str());
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExW(deepest, L"below", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(deepest);
}

}  // namespace
