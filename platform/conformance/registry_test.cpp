// The registry calls as Windows answers them, on a scratch key below
// HKEY_LOCAL_MACHINE, with sentinel buffers to catch stray writes.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/conformance/testing/conformance.h"
#include "platform/conformance/testing/registry_calls.h"

namespace {

using namespace conformance;

class RegistryTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        key_ = ScratchKey();
    }

    // The subkey names, or the values as "name=data" ("name?" when not a
    // DWORD), in enumeration order; every reported length is the name's.
    static std::vector<std::wstring> Listing(HKEY key, bool values) {
        std::vector<std::wstring> names;
        for (DWORD index = 0;; ++index) {
            WCHAR name[16] = L"xxxxxxx";
            DWORD length = 16, type = 0, data = 0, size = sizeof(data);
            LSTATUS status =
                values ? RegEnumValueW(key, index, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size)
                       : RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
                return names;
            }
            EXPECT_EQ(wcslen(name), length);
            std::wstring text = name;
            if (values) text += type == REG_DWORD ? L"=" + std::to_wstring(data) : L"?";
            names.push_back(text);
        }
    }

    HKEY key_ = nullptr;
};

TEST_F(RegistryTest, OpenChecksHandleResultAndPathForm) {
    ExpectOpenFails(key_, L"Missing");
    ExpectOpenFails(key_, L"Missing");  // the failed open created nothing

    ExpectOpenFails(nullptr, L"", ERROR_INVALID_HANDLE);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExW(key_, L"", 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"\\SOFTWARE\\CorvanConformance", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\CorvanConformance\\\\")));

    // Without a subkey: the predefined key itself, or a new handle.
    EXPECT_EQ(HKEY_LOCAL_MACHINE, OpenKey(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, OpenKey(HKEY_LOCAL_MACHINE, L""));
    key = OpenKey(key_, L"");
    EXPECT_NE(key_, key);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
}

TEST_F(RegistryTest, QueryEnumAndSetValueFollowTheBufferProtocol) {
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Test", L"foobar"));
    const DWORD needed = 7 * sizeof(WCHAR);
    BYTE buffer[64];
    std::memset(buffer, 0xAA, sizeof(buffer));
    DWORD type = 0, size = 0;
    auto query = [&](const wchar_t* name, BYTE* data, DWORD room) {
        type = 0xdeadbeef;
        size = room;
        LSTATUS status = RegQueryValueExW(key_, name, nullptr, &type, data, &size);
        return std::make_tuple(status, size);
    };
    EXPECT_EQ(std::make_tuple(ERROR_SUCCESS, needed), query(L"Test", nullptr, 0xdeadbeef));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::make_tuple(ERROR_MORE_DATA, needed), query(L"Test", buffer, needed - 1));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(0xAA, buffer[0]);
    ASSERT_EQ(std::make_tuple(ERROR_SUCCESS, needed), query(L"Test", buffer, needed));
    EXPECT_STREQ(L"foobar", reinterpret_cast<const WCHAR*>(buffer));
    EXPECT_EQ(0xAA, buffer[needed]);
    // A missing value: the size is zeroed without a buffer, kept with one.
    EXPECT_EQ(std::make_tuple(ERROR_FILE_NOT_FOUND, 0u), query(L"Missing", nullptr, 0xdeadbeef));
    EXPECT_EQ(std::make_tuple(ERROR_FILE_NOT_FOUND, 8u), query(L"Missing", buffer, 8));

    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, L"Test", &reserved, &type, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key_, L"Test", nullptr, &type, buffer, nullptr));

    struct Case {
        DWORD nameRoom, dataRoom;
        LSTATUS status;
        DWORD nameLength;
        const wchar_t *name, *data;
    } cases[] = {
        // A short name buffer, also one that just misses the NUL: neither
        // buffer is touched and the name length stays.
        {3, 40, ERROR_MORE_DATA, 3, L"xxxxxxxx", L"xxxxxxxx"},
        {4, 40, ERROR_MORE_DATA, 4, L"xxxxxxxx", L"xxxxxxxx"},
        {20, 2, ERROR_MORE_DATA, 4, L"Test", L"xxxxxxxx"},  // a short data buffer: only the name arrives
        {20, needed, ERROR_SUCCESS, 4, L"Test", L"foobar"},
    };
    WCHAR name[20], data[20];
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nameRoom << "/" << c.dataRoom);
        wcscpy(name, L"xxxxxxxx");
        wcscpy(data, L"xxxxxxxx");
        DWORD nameLength = c.nameRoom, size = c.dataRoom, type = 1234;
        EXPECT_EQ(c.status, RegEnumValueW(key_, 0, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                          &size));
        EXPECT_EQ(c.nameLength, nameLength);
        EXPECT_EQ(needed, size);  // the type and the data size are always reported
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_STREQ(c.name, name);
        EXPECT_STREQ(c.data, data);
    }

    DWORD nameLength = 20;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key_, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, nullptr, &nameLength, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueW(key_, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr));

    // Setting checks the data pointer and stores the bytes as given; a text
    // without its NUL gets it when the next character in memory is one.
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key_, L"Test", 0, REG_SZ, nullptr, 4));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"Test", 0, REG_BINARY, nullptr, 0));
    EXPECT_EQ(std::make_tuple(ERROR_SUCCESS, 0u), query(L"Test", nullptr, 0xdeadbeef));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    const WCHAR text[] = L"abcd";
    const std::tuple<DWORD, DWORD, DWORD> sizes[] = {{REG_SZ, 3, 3}, {REG_SZ, 4, 5}, {REG_SZ, 5, 5},
                                                     {REG_EXPAND_SZ, 4, 5}};  // characters given, stored
    for (auto [textType, given, stored] : sizes) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"Test", 0, textType, reinterpret_cast<const BYTE*>(text),
                                                given * sizeof(WCHAR)));
        EXPECT_EQ(std::make_tuple(ERROR_SUCCESS, DWORD(stored * sizeof(WCHAR))), query(L"Test", nullptr, 0))
            << textType << " " << given;
    }
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"Test", 0, REG_SZ, reinterpret_cast<const BYTE*>(text + 3),
                                            sizeof(WCHAR)));  // "d" alone, a NUL after it
    EXPECT_EQ(std::make_tuple(ERROR_SUCCESS, DWORD(2 * sizeof(WCHAR))), query(L"Test", nullptr, 0));
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderThroughReplaceAndDelete) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, nullptr, 9));  // the default value has the empty name
    EXPECT_EQ(9u, QueryDword(key_, L""));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"zeta", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"Alpha", 2));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"mid", 3));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"ZETA", 4));  // replaces, keeps its place and spelling
    const bool ordered = !WineDeviates("RegEnumValueW lists values sorted by name, not as created");
    if (ordered) EXPECT_EQ((std::vector<std::wstring>{L"=9", L"zeta=4", L"Alpha=2", L"mid=3"}), Listing(key_, true));

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key_, L"ALPHA"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key_, L"alpha"));
    if (ordered) EXPECT_EQ((std::vector<std::wstring>{L"=9", L"zeta=4", L"mid=3"}), Listing(key_, true));
}

TEST_F(RegistryTest, SubkeysEnumerateByUpperCasedNameKeepTheirSpellingAndAreCounted) {
    RegCloseKey(CreateKey(key_, L"Alpha"));
    WCHAR name[8] = L"xxxxxxx";
    DWORD length = 5;  // "Alpha" without room for its NUL
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, length);
    EXPECT_STREQ(L"xxxxxxx", name);
    length = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, length);
    // Room for the NUL of the empty class is enough; the reserved word must be null.
    WCHAR keyClass[1] = {L'#'};
    DWORD classLength = 1, reserved = 0;
    length = 8;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key_, 0, name, &length, nullptr, keyClass, &classLength, nullptr));
    EXPECT_EQ(std::make_pair(DWORD{0}, L'\0'), std::make_pair(classLength, keyClass[0]));
    length = 8;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumKeyExW(key_, 0, name, &length, &reserved, nullptr, nullptr, nullptr));

    for (const wchar_t* name : {L"beta", L"_under", L"GAMMA"}) RegCloseKey(CreateKey(key_, name));
    // Windows compares upper-cased names: "_" (0x5F) sorts after the letters.
    if (!WineDeviates("RegEnumKeyExW sorts lower-cased names: \"_\" before the letters"))
        EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"beta", L"GAMMA", L"_under"}), Listing(key_, false));

    // Paths and value names match in any capitals.
    HKEY alpha = OpenKey(key_, L"ALPHA", KEY_SET_VALUE);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(alpha, L"ValueName", 1));
    RegCloseKey(alpha);
    HKEY upper = OpenKey(HKEY_LOCAL_MACHINE, L"software\\CORVANCONFORMANCE\\alpha");
    EXPECT_EQ(1u, QueryDword(upper, L"VALUENAME"));
    RegCloseKey(upper);

    // Key information counts names in characters without the NUL, data in bytes.
    ASSERT_EQ(ERROR_SUCCESS, SetText(key_, L"Name", L"0123456789"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"LongestName", 1));
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    FILETIME written{};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                                              &maxName, &maxData, nullptr, &written));
    EXPECT_EQ(std::make_tuple(4u, 6u, 2u, 11u, static_cast<DWORD>(11 * sizeof(WCHAR))),
              std::make_tuple(subkeys, maxSubkey, values, maxName, maxData));
    EXPECT_NE(0u, written.dwHighDateTime);
}

TEST_F(RegistryTest, HandlesAllowWhatTheyWereOpenedForAndOutliveTheirKey) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key_, L"V", 1));
    HKEY read = OpenKey(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(read, L"V", 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(read, L"V"));
    RegCloseKey(read);
    HKEY write = OpenKey(HKEY_LOCAL_MACHINE, kScratchKey, KEY_SET_VALUE);
    DWORD size = 0, length = 8;
    WCHAR name[8];
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(write, L"V", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExW(write, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(write, L"V", 2));
    RegCloseKey(write);
    HKEY enumOnly = OpenKey(HKEY_LOCAL_MACHINE, kScratchKey, KEY_ENUMERATE_SUB_KEYS);
    if (!WineDeviates("RegQueryInfoKeyW does not ask for KEY_QUERY_VALUE"))
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryInfoKeyW(enumOnly, nullptr, nullptr, nullptr, &size, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(enumOnly);
    HKEY generic = OpenKey(HKEY_LOCAL_MACHINE, kScratchKey, GENERIC_READ);
    EXPECT_EQ(2u, QueryDword(generic, L"V"));  // only the write through KEY_SET_VALUE happened
    RegCloseKey(generic);

    // Only leaf keys are deleted; an open handle outlives its key, a closed one is invalid.
    HKEY child = CreateKey(key_, L"Parent\\Child");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(key_, L"Parent"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key_, L"Parent\\Missing"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(key_, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key_, L"parent\\CHILD"));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(child, L"V", 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));

    HKEY parent = OpenKey(key_, L"Parent", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(parent, L""));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(parent));
    ExpectOpenFails(key_, L"Parent");

    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(parent));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(parent, L"V", nullptr, nullptr, nullptr, &size));
}

}  // namespace
