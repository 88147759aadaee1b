#include "registry/reg_value.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/object_store.h"
#include "registry/registry_test_support.h"

namespace {

class RegValueTest : public corvan_test::RegClassFixture {};

const wchar_t kKey[] = L"SOFTWARE\\Vendor\\Tool";

// A line that is `line`, or begins with it when it ends in the error code.
bool Logged(const std::vector<std::wstring>& lines, const std::wstring& line) {
    for (const auto& l : lines)
        if (l == line || (line.back() == L',' && l.compare(0, line.size(), line) == 0)) return true;
    return false;
}

std::vector<std::wstring> SectionEntries(const CObjectStore& store, const std::wstring& section) {
    std::vector<std::wstring> out;
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        const CStoreEntry& e = store.GetEntryAt(i);
        if (e.Section == section) out.push_back(e.Key + L"=" + e.Value);
    }
    return out;
}

std::string Captured(const std::function<void()>& print) {
    testing::internal::CaptureStdout();
    print();
    return testing::internal::GetCapturedStdout();
}

TEST_F(RegValueTest, EachKindReadsItsValueThroughItsOwnOpenStep) {
    SetRegistryDword(L"HOST", kKey, L"Level", 0x2a);
    SetRegistryString(L"HOST", kKey, L"Path", L"C:\\Tool");
    SetRegistryString(L"HOST", kKey, L"Home", L"%SystemRoot%\\Tool", REG_EXPAND_SZ);
    SetRegistryValue(L"HOST", kKey, L"Blob", REG_BINARY, {0x00, 0x7f, 0xff});
    SetRegistryMultiString(L"HOST", kKey, L"List", {L"a", L"bc"});
    SetRegistryString(L"HOST", kKey, L"", L"");

    CRegValueDword dword;
    CRegValueString text;
    CRegValueExpandSz expand;
    CRegValueBinary binary;
    CRegValueMultiSz multi;
    CRegValueString empty;
    multi.saValue = {L"kept"};
    struct Case {
        CRegValue* value;
        const wchar_t* name;
    } cases[] = {{&dword, L"Level"}, {&text, L"Path"}, {&expand, L"Home"},
                 {&binary, L"Blob"}, {&multi, L"List"}, {&empty, L""}};
    for (const auto& c : cases) {
        HKEY handle = nullptr;
        EXPECT_EQ(1, c.value->Enum(kKey, c.name, handle)) << corvan::ToUtf8(c.name);
        ASSERT_NE(nullptr, handle);  // opened for the caller
        RegCloseKey(handle);
        EXPECT_EQ(c.name, c.value->ValueName);
        EXPECT_EQ(c.name, c.value->KeyName);
        EXPECT_EQ(kKey, c.value->ParentKeyName);
        EXPECT_EQ(0u, c.value->LastErrorCode);
    }
    EXPECT_EQ(0x2au, dword.Value);
    EXPECT_EQ(L"C:\\Tool", text.Value);
    EXPECT_EQ(L"%SystemRoot%\\Tool", expand.Value);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x7f, 0xff}), binary.Value);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"a", L"bc"}), multi.saValue);
    EXPECT_EQ(L"", empty.Value);
}

TEST_F(RegValueTest, ReadFailuresNameTheFailingCall) {
    AddMachine(L"SRV02");
    SetRegistryDword(L"SRV02", kKey, L"Level", 7);
    SetRegistryString(L"HOST", kKey, L"Text", L"");  // at most 4 bytes on either WCHAR width
    SetRegistryValue(L"HOST", kKey, L"Wide", REG_QWORD, std::vector<BYTE>(8, 1));

    CRegValueDword remote(L"\\\\SRV02");
    HKEY handle = nullptr;
    EXPECT_EQ(1, remote.Enum(kKey, L"Level", handle));
    RegCloseKey(handle);
    EXPECT_EQ(7u, remote.Value);

    CRegValueDword unreachable(L"\\\\NOWHERE");
    Watch(unreachable);
    handle = nullptr;
    EXPECT_EQ(0, unreachable.Enum(kKey, L"Level", handle));
    EXPECT_TRUE(Logged(LogLines(),
                       L"CRegValue::Enum(SOFTWARE\\Vendor\\Tool, Level),RegConnectRegistry(\\\\NOWHERE, "
                       L"HKEY_LOCAL_MACHINE, SOFTWARE\\Vendor\\Tool, KEY_READ...),53,"));
    // The query runs without a handle and fails in its turn; its error is the one kept.
    EXPECT_EQ(L"CRegValueDword::Enum(Level)", unreachable.ErrorFunction);
    EXPECT_EQ(L"RegQueryValueEx(Level)", unreachable.ErrorWin32API);
    EXPECT_EQ(L"", unreachable.ParentKeyName);

    CRegValueDword missing;
    handle = nullptr;
    missing.Enum(L"SOFTWARE\\Missing", L"Level", handle);
    EXPECT_EQ(nullptr, handle);

    CRegValueDword wide;
    handle = nullptr;
    EXPECT_EQ(0, wide.Enum(kKey, L"Wide", handle));
    RegCloseKey(handle);
    EXPECT_EQ(234u, wide.LastErrorCode);
    EXPECT_EQ(L"RegQueryValueEx(Wide)", wide.ErrorWin32API);

    // A type check fails with code 0: the line is logged, the earlier error stays.
    CRegValueDword asked;
    Watch(asked);
    asked.Value = 9;
    asked.ErrorCode = L"5";
    asked.LastErrorCode = 5;
    handle = nullptr;
    EXPECT_EQ(0, asked.Enum(kKey, L"Text", handle));
    RegCloseKey(handle);
    EXPECT_TRUE(Logged(LogLines(), L"CRegValueDword::Enum(Text),RegQueryValueEx(Text), Type is NOT REG_DWORD.,0"));
    EXPECT_EQ(5u, asked.LastErrorCode);
    EXPECT_EQ(9u, asked.Value);
    EXPECT_EQ(L"", asked.ValueName);

    CRegValueMultiSz list;
    Watch(list);
    handle = nullptr;
    EXPECT_EQ(0, list.Enum(L"SOFTWARE\\Missing", L"List", handle));
    EXPECT_TRUE(Logged(LogLines(),
                       L"CRegValueMultiSz::Enum(SOFTWARE\\Missing, List),CRegValue::Enum(SOFTWARE\\Missing, "
                       L"List...),0"));
    EXPECT_EQ(2u, list.LastErrorCode);  // from the open step
}

TEST_F(RegValueTest, AnOpenHandleIsUsedAsItIsEvenWithAServerName) {
    SetRegistryString(L"HOST", kKey, L"Name", L"local");
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &handle));
    const HKEY given = handle;
    CRegValueString value(L"\\\\NOWHERE");
    EXPECT_EQ(1, value.Enum(L"Tool", L"Name", handle));
    EXPECT_EQ(given, handle);
    EXPECT_EQ(L"local", value.Value);
    EXPECT_EQ(L"Tool", value.ParentKeyName);
    RegCloseKey(handle);
}

TEST_F(RegValueTest, ApplyWritesEachKindWithItsByteSize) {
    AddRegistryKey(L"HOST", kKey);
    CRegValueDword dword;
    dword.ValueName = L"D";
    dword.Value = 0x01020304;
    CRegValueString empty;
    empty.ValueName = L"S";
    CRegValueExpandSz expand;
    expand.ValueName = L"E";
    expand.Value = L"%TEMP%";
    CRegValueBinary binary;
    binary.ValueName = L"B";
    binary.Value = {1, 2, 3};
    CRegValueMultiSz multi;
    multi.ValueName = L"M";
    multi.saValue = {L"A", L"B"};
    CRegValueMultiSz none;
    none.ValueName = L"N";
    CRegValue* all[] = {&dword, &empty, &expand, &binary, &multi, &none};
    for (CRegValue* v : all) {
        v->ParentKeyName = kKey;
        HKEY handle = nullptr;  // each opens the key named by ParentKeyName
        EXPECT_EQ(1, v->Apply(handle)) << corvan::ToUtf8(v->ValueName);
        RegCloseKey(handle);
    }

    auto read = [&](const wchar_t* name, DWORD expectedType) {
        DWORD type = 0;
        std::vector<BYTE> bytes;
        EXPECT_TRUE(ReadRegistryValue(L"HOST", kKey, name, &type, &bytes)) << corvan::ToUtf8(name);
        EXPECT_EQ(expectedType, type) << corvan::ToUtf8(name);
        return bytes;
    };
    EXPECT_EQ((std::vector<BYTE>{4, 3, 2, 1}), read(L"D", REG_DWORD));
    EXPECT_EQ(Bytes(L""), read(L"S", REG_SZ));
    EXPECT_EQ(Bytes(L"%TEMP%"), read(L"E", REG_EXPAND_SZ));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), read(L"B", REG_BINARY));
    EXPECT_EQ(Bytes(std::wstring(L"A\0B\0", 4)), read(L"M", REG_MULTI_SZ));
    EXPECT_EQ(Bytes(L""), read(L"N", REG_MULTI_SZ));
}

TEST_F(RegValueTest, ApplyAndAddFailures) {
    CRegValueString lost;
    Watch(lost);
    lost.ParentKeyName = L"SOFTWARE\\Missing";
    lost.ValueName = L"V";
    HKEY handle = nullptr;
    EXPECT_EQ(0, lost.Apply(handle));
    EXPECT_TRUE(Logged(LogLines(),
                       L"CRegValue::Apply(),RegOpenKeyEx(HKEY_LOCAL_MACHINE, SOFTWARE\\Missing, KEY_READ "
                       L"KEY_WRITE...),2,"));
    EXPECT_EQ(L"CRegValueString::Apply()", lost.ErrorFunction);
    EXPECT_EQ(L"RegSetValueEx(V)", lost.ErrorWin32API);

    AddRegistryKey(L"HOST", kKey);
    AddFault(L"RegSetValueExW:Refused=5");
    CRegValueDword refused;
    refused.ParentKeyName = kKey;
    refused.ValueName = L"Refused";
    handle = nullptr;
    EXPECT_EQ(0, refused.Apply(handle));
    RegCloseKey(handle);
    EXPECT_EQ(5u, refused.LastErrorCode);
    EXPECT_FALSE(ReadRegistryValue(L"HOST", kKey, L"Refused", nullptr, nullptr));

    // Add only opens an existing key.
    CRegValueDword adder;
    handle = nullptr;
    EXPECT_EQ(0, adder.Add(L"SOFTWARE\\Missing", L"X", handle));
    EXPECT_EQ(L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, SOFTWARE\\Missing, KEY_READ KEY_WRITE...)", adder.ErrorWin32API);
    EXPECT_FALSE(RegistryKeyExists(L"HOST", L"SOFTWARE\\Missing"));
}

TEST_F(RegValueTest, MultiStringAddWritesTheListOnItsMachine) {
    const wchar_t kParams[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
    AddMachine(L"SRV02");
    AddRegistryKey(L"SRV02", kParams);
    CRegValueMultiSz list(L"\\\\SRV02");
    list.SetNameAndStrings({L"PUBLIC", L"DROP"}, L"Ignored");
    list.SetStrings({L"COMCFG", L"DFS$"});
    HKEY handle = nullptr;
    EXPECT_EQ(1, list.Add(kParams, L"NullSessionShares", handle));
    RegCloseKey(handle);
    EXPECT_EQ((std::vector<std::wstring>{L"COMCFG", L"DFS$"}),
              ReadRegistryMultiString(L"SRV02", kParams, L"NullSessionShares").value_or(std::vector<std::wstring>{}));
    EXPECT_FALSE(RegistryKeyExists(L"HOST", kParams));

    std::vector<std::wstring> out{L"first"};
    list.GetStrings(out);
    EXPECT_EQ((std::vector<std::wstring>{L"first", L"COMCFG", L"DFS$"}), out);
}

TEST_F(RegValueTest, EachKindSavesItsSectionAndLoadsBack) {
    CRegValueDword dword(L"\\\\SRV01");
    dword.ValueName = L"Level";
    dword.KeyName = L"Level";
    dword.ParentKeyName = L"Tool";
    dword.Value = 16;
    CRegValueBinary binary;
    binary.ValueName = L"Blob";
    binary.Value = {0xab, 0x01};
    binary.ErrorCode = L"5";
    binary.LastErrorCode = 5;
    CRegValueMultiSz multi;
    multi.ValueName = L"List";
    multi.saValue = {L"a", L"b"};
    CRegValueExpandSz expand;
    expand.ValueName = L"Home";
    expand.Value = L"%SystemRoot%";
    CRegValueUnknown unknown;
    unknown.ValueName = L"Link";

    CObjectStore store;
    for (CRegValue* v : std::initializer_list<CRegValue*>{&dword, &binary, &multi, &unknown, &expand})
        v->SaveProperties(store);
    EXPECT_EQ((std::vector<std::wstring>{L"class=CRegValueDword", L"parent=NULL", L"Value=dword:00000010",
                                         L"ValueName=\"Level\"", L"KeyName=\"Level\"", L"ParentKeyName=\"Tool\"",
                                         L"ServerName=\"\\\\SRV01\""}),
              SectionEntries(store, L"1"));
    EXPECT_EQ(L"Value=hex:ab01", SectionEntries(store, L"2")[2]);
    EXPECT_EQ(L"saValue=\"a\",\"b\"", SectionEntries(store, L"3")[2]);
    EXPECT_EQ(L"class=CRegValueExpandSz", SectionEntries(store, L"4")[0]);  // the unknown left no section
    EXPECT_TRUE(SectionEntries(store, L"5").empty());

    store.Rewind();
    CRegValueDword dword2;
    CRegValueBinary binary2;
    CRegValueMultiSz multi2;
    CRegValueExpandSz expand2;
    for (CRegValue* v : std::initializer_list<CRegValue*>{&dword2, &binary2, &multi2, &expand2}) {
        ASSERT_TRUE(store.Next());
        ASSERT_EQ(L"class", store.CurrentKey());
        v->LoadProperty(store);
    }
    EXPECT_FALSE(store.Next());
    EXPECT_EQ(16u, dword2.Value);
    EXPECT_EQ(L"Level", dword2.ValueName);
    EXPECT_EQ(L"Tool", dword2.ParentKeyName);
    EXPECT_EQ(L"\\\\SRV01", dword2.ServerName);
    EXPECT_EQ((std::vector<BYTE>{0xab, 0x01}), binary2.Value);
    EXPECT_EQ(5u, binary2.LastErrorCode);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), multi2.saValue);
    EXPECT_EQ(L"%SystemRoot%", expand2.Value);
}

TEST_F(RegValueTest, LoadedBinaryAndListValues) {
    auto load = [](CRegValue& v, const std::wstring& key, const std::wstring& value) {
        CObjectStore store;
        store.AddEntry(L"1", L"class", L"X");
        store.AddEntry(L"1", key, value);
        store.Rewind();
        store.Next();
        v.LoadProperty(store);
    };
    CRegValueBinary odd;
    load(odd, L"Value", L"hex:abc");
    EXPECT_EQ((std::vector<BYTE>{0xab, 0xc0}), odd.Value);
    CRegValueBinary bad;
    bad.Value = {1};
    load(bad, L"Value", L"hex:zz");
    EXPECT_TRUE(bad.Value.empty());

    CRegValueMultiSz twice;
    load(twice, L"saValue", L"\"x\",\"y\"");
    load(twice, L"saValue", L"\"x\",\"y\"");
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"y", L"x", L"y"}), twice.saValue);
    twice.SetStrings({L"z"});
    EXPECT_EQ((std::vector<std::wstring>{L"z"}), twice.saValue);

    CRegValueString casing;
    load(casing, L"value", L"\"ignored\"");  // class keys are matched exactly
    EXPECT_EQ(L"", casing.Value);
}

TEST_F(RegValueTest, DumpPrintsExportLines) {
    CRegValueDword dword;  // the default value keeps its empty name here
    dword.Value = 0x2a;
    CRegValueString text;
    text.Value = L"x";
    CRegValueMultiSz multi;
    multi.ValueName = L"L";
    multi.saValue = {L"a", L"b"};
    CRegValueBinary none;
    CRegValueUnknown unknown;
    unknown.ValueName = L"U";
    EXPECT_EQ("\n\"\"=dword:0000002a ", Captured([&] { dword.Dump(); }));
    EXPECT_EQ("\n\"(default)\"=\"x\"", Captured([&] { text.Dump(); }));
    EXPECT_EQ("\n\"L\"=\"a\"\n\"L\"=\"b\"", Captured([&] { multi.Dump(); }));
    EXPECT_EQ("\n\"(default)\"=hex:\n\"(default)\"=string:", Captured([&] { none.Dump(); }));
    EXPECT_EQ("", Captured([&] { unknown.Dump(); }));
}

TEST_F(RegValueTest, BinaryLinesWrapAtTheColumnCounter) {
    CRegValueBinary data;
    data.ValueName = L"Data";
    for (BYTE b = 0x41; b <= 0x5c; ++b) data.Value.push_back(b);
    data.Value.push_back(0x1f);
    data.Value.push_back(0x80);
    ASSERT_EQ(30u, data.Value.size());
    EXPECT_EQ(
        "\n\"Data\"=hex:41,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,\\\n"
        "  57,58,59,5a,5b,5c,1f,80\n\"Data\"=string:ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\..",
        Captured([&] { data.Dump(); }));

    CObjectStore report;
    data.WriteReport(report, 0);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"report=\"Data\"=hex:41,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,",
                  L"report=57,58,59,5a,5b,5c,1f,80", L"report=\"Data\"=string:ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\.."}),
              SectionEntries(report, L""));
}

TEST_F(RegValueTest, StringOperationsOnNamesAndData) {
    CRegValueString path;
    path.ParentKeyName = L"Tool";
    path.KeyName = L"Path";
    path.ValueName = L"Path";
    path.Value = L"a;b;;c";
    EXPECT_EQ("\n[Tool]\nPath=a\n[Tool]\nPath=b\n[Tool]\nPath=;c", Captured([&] { path.PrintList(L"PATH"); }));
    EXPECT_EQ("", Captured([&] { path.PrintList(L"Other"); }));

    path.ReplaceInValue(L";", L"|");
    EXPECT_EQ(L"a|b||c", path.Value);
    std::wstring found;
    EXPECT_EQ(1, path.FindValue(L"path", found));
    EXPECT_EQ(L"a|b||c", found);
    EXPECT_EQ(0, path.FindValue(L"Other", found));

    CRegValueDword level;  // other kinds rename the value instead
    level.ValueName = L"Level";
    level.ReplaceInValue(L"LEVEL", L"Depth");
    EXPECT_EQ(L"Depth", level.ValueName);
    std::wstring untouched = L"u";
    EXPECT_EQ(0, level.FindValue(L"Depth", untouched));
    EXPECT_EQ(L"u", untouched);
}

}  // namespace
