// The registry calls as Windows answers them. The checks hold on Windows too:
// they use a scratch key below HKEY_LOCAL_MACHINE and sentinel buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/hostfile.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

const wchar_t kScratch[] = L"SOFTWARE\\CorvanTest";

class RegistryTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS, nullptr, &key_, nullptr));
    }
    void TearDown() override {
        RegCloseKey(key_);
        SimWorldTest::TearDown();
    }

    static LSTATUS SetText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
        return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    static LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    static HKEY Open(HKEY parent, const wchar_t* path, REGSAM access = KEY_READ) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, path, 0, access, &key)) << path;
        return key;
    }

    HKEY key_ = nullptr;
};

HKEY Sentinel() { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef)); }

// ---- opening and creating keys ------------------------------------------------------

TEST_F(RegistryTest, OpeningAMissingKeyFailsWithFileNotFoundAndClearsTheHandle) {
    HKEY key = Sentinel();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(key_, L"Missing", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    // and the failed open created nothing
    key = Sentinel();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(key_, L"Missing", 0, KEY_READ, &key));
}

TEST_F(RegistryTest, OpenChecksHandleResultAndPathForm) {
    HKEY key = Sentinel();
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(nullptr, L"", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExW(key_, L"", 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"\\SOFTWARE\\CorvanTest", 0, KEY_READ, &key));

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\CorvanTest\\\\", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, OpenWithoutSubkeyGivesThePredefinedKeyItselfOrANewHandle) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_READ, &key));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key);

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key_, L"", 0, KEY_READ, &key));
    EXPECT_NE(key_, key);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
}

TEST_F(RegistryTest, CreateMakesIntermediateKeysAndReportsDisposition) {
    HKEY key = nullptr;
    DWORD disposition = 0xdeadbeef;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                             &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(key);

    disposition = 0xdeadbeef;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"a\\b\\c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                             &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(key);
    RegCloseKey(Open(key_, L"A\\B"));

    EXPECT_EQ(ERROR_BADKEY, RegCreateKeyExW(key_, L"D", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExW(key_, L"\\D", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

TEST_F(RegistryTest, CreateIgnoresTheParentHandlesAccess) {
    HKEY readOnly = Open(HKEY_LOCAL_MACHINE, kScratch, KEY_NOTIFY);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(readOnly, L"Child", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    RegCloseKey(key);
    RegCloseKey(readOnly);
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseButKeepTheirSpelling) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"MixedCase", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, L"ValueName", L"x"));
    RegCloseKey(key);

    HKEY upper = Open(HKEY_LOCAL_MACHINE, L"software\\CORVANTEST\\mixedcase");
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(upper, L"VALUENAME", nullptr, nullptr, nullptr, &size));
    RegCloseKey(upper);

    WCHAR name[32];
    DWORD length = 32;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"MixedCase", name);
}

// ---- values -----------------------------------------------------------------------

TEST_F(RegistryTest, QueryValueFollowsTheBufferProtocol) {
    const std::wstring text = L"foobar";
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Test", text));

    DWORD type = 0xdeadbeef, size = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"Test", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(needed, size);

    BYTE buffer[64];
    std::memset(buffer, 0xAA, sizeof(buffer));
    type = 0xdeadbeef;
    size = needed - 1;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key_, L"Test", nullptr, &type, buffer, &size));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(0xAA, buffer[0]);

    size = needed;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"Test", nullptr, &type, buffer, &size));
    EXPECT_EQ(needed, size);
    EXPECT_STREQ(L"foobar", reinterpret_cast<const WCHAR*>(buffer));
    EXPECT_EQ(0xAA, buffer[needed]);

    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, L"Test", &reserved, &type, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, L"Test", nullptr, &type, buffer, nullptr));
}

TEST_F(RegistryTest, QueryOfAMissingValueIsFileNotFound) {
    DWORD size = 0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, L"Missing", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0u, size);
    BYTE buffer[8];
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key_, L"Missing", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(sizeof(buffer), size);
}

TEST_F(RegistryTest, DefaultValueHasTheEmptyName) {
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, nullptr, L"default"));
    WCHAR text[16];
    DWORD size = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
    EXPECT_STREQ(L"default", text);

    WCHAR name[8] = L"xxxxxxx";
    DWORD length = 8;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, length);
    EXPECT_STREQ(L"", name);
}

TEST_F(RegistryTest, SetValueChecksDataPointerAndStoresExactBytes) {
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key_, L"V", 0, REG_SZ, nullptr, 4));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"V", 0, REG_BINARY, nullptr, 0));
    DWORD type = 0, size = 0xdeadbeef;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"V", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(0u, size);

    // Texts are stored as given, also without their NUL.
    const WCHAR text[] = L"abc";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"V", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                            3 * sizeof(WCHAR)));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"V", nullptr, &type, nullptr, &size));
    EXPECT_EQ(3 * sizeof(WCHAR), size);
}

TEST_F(RegistryTest, EnumValueListsValuesInCreationOrder) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"zeta", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"Alpha", 2));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"mid", 3));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"ZETA", 4));  // replaces, keeps its place

    std::vector<std::wstring> names;
    std::vector<DWORD> data;
    for (DWORD index = 0;; ++index) {
        WCHAR name[16];
        DWORD length = 16, type = 0, value = 0, size = sizeof(value);
        LSTATUS status = RegEnumValueW(key_, index, name, &length, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(ERROR_SUCCESS, status);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        names.push_back(name);
        data.push_back(value);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"zeta", L"Alpha", L"mid"}), names);
    EXPECT_EQ((std::vector<DWORD>{4, 2, 3}), data);
}

TEST_F(RegistryTest, EnumValueWithShortBuffers) {
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Test", L"foobar"));
    const DWORD needed = 7 * sizeof(WCHAR);
    WCHAR name[20], data[20];
    auto reset = [&] {
        wcscpy(name, L"xxxxxxxx");
        wcscpy(data, L"xxxxxxxx");
    };

    // A short name buffer: neither buffer is touched, the name length stays,
    // the type and the data size are reported.
    reset();
    DWORD nameLength = 3, size = 20 * sizeof(WCHAR), type = 1234;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key_, 0, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(3u, nameLength);
    EXPECT_EQ(needed, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ(L"xxxxxxxx", name);
    EXPECT_STREQ(L"xxxxxxxx", data);

    // A name that just misses its NUL is too long as well.
    reset();
    nameLength = 4;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key_, 0, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data), &size));

    // A short data buffer: the name arrives, the data does not.
    reset();
    nameLength = 20;
    size = 2;
    type = 1234;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key_, 0, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(4u, nameLength);
    EXPECT_EQ(needed, size);
    EXPECT_STREQ(L"Test", name);
    EXPECT_STREQ(L"xxxxxxxx", data);

    reset();
    nameLength = 20;
    size = needed;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key_, 0, name, &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(4u, nameLength);
    EXPECT_STREQ(L"foobar", data);

    nameLength = 20;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key_, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, nullptr, &nameLength, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, DeleteValueKeepsTheOrderOfTheRest) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"a", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"b", 2));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"c", 3));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key_, L"A"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key_, L"a"));
    WCHAR name[4];
    DWORD length = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key_, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"c", name);
    DWORD value = 0, size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"c", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(3u, value);
}

// ---- subkeys and key information --------------------------------------------------------

TEST_F(RegistryTest, EnumKeyListsSubkeysByNameIgnoringCase) {
    for (const wchar_t* name : {L"beta", L"_under", L"Alpha", L"GAMMA"}) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[16];
        DWORD length = 16;
        LSTATUS status = RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(ERROR_SUCCESS, status);
        EXPECT_EQ(wcslen(name), length);
        names.push_back(name);
    }
    // Windows compares upper-cased names: "_" (0x5F) sorts after the letters.
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"beta", L"GAMMA", L"_under"}), names);

    WCHAR name[8];
    wcscpy(name, L"xxxxxxx");
    DWORD length = 5;  // "Alpha" without room for its NUL
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, length);
    EXPECT_STREQ(L"xxxxxxx", name);
    length = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, length);
}

TEST_F(RegistryTest, QueryInfoKeyCountsInCharactersAndBytes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"LongerSubkey", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Name", L"0123456789"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"LongestName", 1));

    DWORD subkeys = 0xdeadbeef, maxSubkey = 0xdeadbeef, values = 0xdeadbeef, maxName = 0xdeadbeef,
          maxData = 0xdeadbeef;
    FILETIME written{};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                                              &maxName, &maxData, nullptr, &written));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(12u, maxSubkey);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(11u, maxName);
    EXPECT_EQ(11 * sizeof(WCHAR), maxData);
    EXPECT_NE(0u, written.dwHighDateTime);

    HKEY enumOnly = Open(HKEY_LOCAL_MACHINE, kScratch, KEY_ENUMERATE_SUB_KEYS);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryInfoKeyW(enumOnly, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(enumOnly);
}

// ---- access rights, deletion and handles ---------------------------------------------------

TEST_F(RegistryTest, HandlesOnlyAllowWhatTheyWereOpenedFor) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"V", 1));
    HKEY read = Open(HKEY_LOCAL_MACHINE, kScratch, KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(read, L"V", 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(read, L"V"));
    RegCloseKey(read);

    HKEY write = Open(HKEY_LOCAL_MACHINE, kScratch, KEY_SET_VALUE);
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(write, L"V", nullptr, nullptr, nullptr, &size));
    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExW(write, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(write, L"V", 2));
    RegCloseKey(write);

    HKEY generic = Open(HKEY_LOCAL_MACHINE, kScratch, GENERIC_READ);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(generic, L"V", nullptr, nullptr, nullptr, &size));
    RegCloseKey(generic);
}

TEST_F(RegistryTest, DeleteKeyRemovesOnlyLeafKeys) {
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key_, L"Parent\\Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(key_, L"Parent"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key_, L"Parent\\Missing"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(key_, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key_, L"parent\\CHILD"));

    // The open handle outlives its key.
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(child, L"V", 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));

    HKEY parent = Open(key_, L"Parent", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(parent, L""));
    RegCloseKey(parent);
    HKEY gone = Sentinel();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(key_, L"Parent", 0, KEY_READ, &gone));
}

TEST_F(RegistryTest, ClosingABadOrClosedHandleFails) {
    HKEY key = Open(key_, L"");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    DWORD size = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(key, L"V", nullptr, nullptr, nullptr, &size));
}

// ---- other machines ---------------------------------------------------------------------

TEST_F(RegistryTest, RemoteMachineIsReachedThroughConnectRegistry) {
    AddMachine(L"SRV01");
    SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor", L"Where", L"remote");

    HKEY remote = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(L"\\\\SRV01", HKEY_LOCAL_MACHINE, &remote));
    EXPECT_NE(HKEY_LOCAL_MACHINE, remote);
    HKEY vendor = Open(remote, L"SOFTWARE\\Vendor");
    WCHAR text[16];
    DWORD size = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(vendor, L"Where", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
    EXPECT_STREQ(L"remote", text);
    RegCloseKey(vendor);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(remote));

    // The local machine does not have the remote one's key.
    HKEY local = Sentinel();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor", 0, KEY_READ, &local));

    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(L"srv01", HKEY_LOCAL_MACHINE, &remote));
    RegCloseKey(remote);
}

TEST_F(RegistryTest, UnknownOrUnreachableMachineIsBadNetpath) {
    AddMachine(L"DOWN01", 5, 2, false);
    HKEY remote = Sentinel();
    EXPECT_EQ(ERROR_BAD_NETPATH, RegConnectRegistryW(L"\\\\NOSUCH", HKEY_LOCAL_MACHINE, &remote));
    EXPECT_EQ(ERROR_BAD_NETPATH, RegConnectRegistryW(L"\\\\DOWN01", HKEY_LOCAL_MACHINE, &remote));
}

TEST_F(RegistryTest, LocalMachineByNameOrEmptyNameIsHkeyLocalMachine) {
    SetLocalMachine(L"HOST01");
    HKEY local = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &local));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, local);
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(L"\\\\host01", HKEY_LOCAL_MACHINE, &local));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, local);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(local, L"SOFTWARE\\OnHost01", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    RegCloseKey(key);
    EXPECT_TRUE(RegistryKeyExists(L"HOST01", L"SOFTWARE\\OnHost01"));
}

// ---- what reaches the file -------------------------------------------------------------------

TEST_F(RegistryTest, ChangesReachTheFileOnFlushNotOnEveryWrite) {
    sim::FlushWorld();
    std::filesystem::path file = sim::MachineDir(sim::LocalMachineName()) / "HKLM.reg";
    std::string before = ReadHostFile(file);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Path", L"%SystemRoot%\\x", REG_EXPAND_SZ));
    const WCHAR multi[] = L"A\0B\0";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                                            sizeof(multi)));
    EXPECT_EQ(before, ReadHostFile(file));

    sim::FlushWorld();
    std::string after = ReadHostFile(file);
    EXPECT_NE(std::string::npos, after.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\CorvanTest]\n"));
    // The file holds UTF-16, as a Windows export does: A, NUL, B, NUL, NUL.
    EXPECT_NE(std::string::npos, after.find("\"List\"=hex(7):41,00,00,00,42,00,00,00,00,00\n"));
    EXPECT_EQ(std::vector<std::wstring>({L"A", L"B"}),
              ReadRegistryMultiString(sim::LocalMachineName(), kScratch, L"List").value_or(std::vector<std::wstring>{}));
    EXPECT_EQ(L"%SystemRoot%\\x", ReadRegistryString(sim::LocalMachineName(), kScratch, L"Path").value_or(L""));
}

TEST_F(RegistryTest, AReloadedWorldHasTheSameValuesAndOldHandlesAreInvalid) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"Kept", 42));
    sim::ResetWorld();
    DWORD size = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(key_, L"Kept", nullptr, nullptr, nullptr, &size));
    HKEY key = Open(HKEY_LOCAL_MACHINE, kScratch);
    DWORD value = 0;
    size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(42u, value);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AHiveFileThatDoesNotParseIsACorruptRegistryAndStaysAsItWas) {
    AddMachine(L"BROKEN");
    std::filesystem::path file = sim::MachineDir(L"BROKEN") / "HKLM.reg";
    ASSERT_TRUE(sim::WriteHostFileAtomic(file, "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\nnonsense\n"));
    HKEY remote = Sentinel();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ERROR_BADDB, RegConnectRegistryW(L"\\\\BROKEN", HKEY_LOCAL_MACHINE, &remote));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("line 3"));
    sim::FlushWorld();
    EXPECT_EQ("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\nnonsense\n", ReadHostFile(file));
}

// ---- injected failures ----------------------------------------------------------------------

TEST_F(RegistryTest, InjectedFailuresMatchFunctionMachineAndPath) {
    AddMachine(L"SRV02");
    AddRegistryKey(L"SRV02", L"SOFTWARE\\Vendor\\Tool");
    RegCloseKey(Open(key_, L""));  // nothing injected yet
    AddFault(L"RegOpenKeyExW@SRV02:Vendor\\Tool=5,2");

    HKEY remote = nullptr, key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(L"\\\\SRV02", HKEY_LOCAL_MACHINE, &remote));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(remote, L"SOFTWARE\\Vendor", 0, KEY_READ, &key));
    HKEY vendor = key;
    // Matched through the full path although the argument names only "Tool".
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(vendor, L"Tool", 0, KEY_READ, &key));
    // Another machine is not affected.
    AddRegistryKey(sim::LocalMachineName(), L"SOFTWARE\\Vendor\\Tool");
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Tool", 0, KEY_READ, &key));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(remote, L"software\\vendor\\tool", 0, KEY_READ, &key));
    // Two firings are used up.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(remote, L"SOFTWARE\\Vendor\\Tool", 0, KEY_READ, &key));
    RegCloseKey(key);
    RegCloseKey(vendor);
    RegCloseKey(remote);
}

TEST_F(RegistryTest, EveryRegistryCallCanBeMadeToFail) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"V", 1));
    HKEY key = nullptr;
    WCHAR name[8];
    DWORD length = 8, size = 4;
    struct Case {
        const wchar_t* rule;
        std::function<LSTATUS()> call;
    };
    std::vector<Case> cases = {
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
    for (const auto& c : cases) {
        sim::ClearFaultRules();
        sim::AddFaultRule(c.rule);
        std::wstring rule = c.rule;
        auto expected = static_cast<LSTATUS>(std::stoul(rule.substr(rule.find(L'=') + 1)));
        EXPECT_EQ(expected, c.call()) << testing::PrintToString(corvan::ToUtf8(rule));
    }
    sim::ClearFaultRules();
    DWORD value = 0;
    size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_, L"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(1u, value);  // neither the set nor the delete happened
}

}  // namespace
