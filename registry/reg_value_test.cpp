#include "registry/reg_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "core/object_store.h"
#include "core/test_support.h"

namespace {

using corvan_test::Printed;

class RegValueTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"HOST");
    }
};

std::vector<BYTE> Bytes(const std::wstring& text) {  // as the W calls see it, NUL included
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(WCHAR));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

const wchar_t kKey[] = L"SOFTWARE\\Vendor\\Tool";

TEST_F(RegValueTest, ReadFailuresNameTheFailingCall) {
    SetRegistryString(L"HOST", kKey, L"Text", L"");  // at most 4 bytes on either WCHAR width
    SetRegistryValue(L"HOST", kKey, L"Wide", REG_QWORD, std::vector<BYTE>(8, 1));

    CRegValueDword unreachable(L"\\\\NOWHERE");
    Watch(unreachable);
    HKEY handle = nullptr;
    EXPECT_EQ(0, unreachable.Enum(kKey, L"Level", handle));
    EXPECT_TRUE(
        Logged(L"CRegValue::Enum(SOFTWARE\\Vendor\\Tool, Level),RegConnectRegistry(\\\\NOWHERE, "
               L"HKEY_LOCAL_MACHINE, SOFTWARE\\Vendor\\Tool, KEY_READ...),53,"));
    // The query runs without a handle and fails in its turn; its error is the one kept.
    EXPECT_EQ(std::make_tuple(L"RegQueryValueEx(Level)", L""),
              std::tie(unreachable.ErrorWin32API, unreachable.ParentKeyName));

    CRegValueDword wide;
    EXPECT_EQ(0, wide.Enum(kKey, L"Wide", handle));
    EXPECT_EQ(234u, wide.LastErrorCode);
    CRegValueUnknown unknown;  // the kind that reads any type: its success is logged too
    Watch(unknown);
    EXPECT_EQ(1, unknown.Enum(kKey, L"Wide", handle));
    EXPECT_TRUE(Logged(L"CRegValueUnknown::Enum(Wide),CRegValueUnknown::Enum(Wide),0"));
    EXPECT_EQ(0, CRegValueUnknown().Enum(kKey, L"Missing", handle));  // though not a value that is not there

    // A type check fails with code 0: the line is logged, the earlier error stays.
    CRegValueDword asked;
    Watch(asked);
    asked.Value = 9;
    asked.LastErrorCode = 5;
    EXPECT_EQ(0, asked.Enum(kKey, L"Text", handle));  // through the handle opened above
    EXPECT_EQ(0, CRegValueBinary().Enum(kKey, L"Text", handle));
    RegCloseKey(handle);
    EXPECT_TRUE(Logged(L"CRegValueDword::Enum(Text),RegQueryValueEx(Text), Type is NOT REG_DWORD.,0"));
    EXPECT_EQ(std::make_pair(5u, 9u), std::make_pair(asked.LastErrorCode, asked.Value));

    CRegValueMultiSz list;
    Watch(list);
    handle = nullptr;
    EXPECT_EQ(0, list.Enum(L"SOFTWARE\\Missing", L"List", handle));
    EXPECT_TRUE(
        Logged(L"CRegValueMultiSz::Enum(SOFTWARE\\Missing, List),CRegValue::Enum(SOFTWARE\\Missing, List...),0"));
    EXPECT_EQ(2u, list.LastErrorCode);  // from the open step
    list.LastErrorCode = 0;
    EXPECT_EQ(0, list.Add(L"SOFTWARE\\Missing", L"List", handle));  // nor is a write made through no key
    EXPECT_EQ(2u, list.LastErrorCode);
}

// The other kinds are written back byte for byte by the key tests.
TEST_F(RegValueTest, ApplyWritesEmptyAndListTextsWithTheirTerminators) {
    AddRegistryKey(L"HOST", kKey);
    CRegValueString empty;
    CRegValueMultiSz multi, none;
    multi.saValue = {L"A", L"B"};
    const struct {
        CRegValue* value;
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> bytes;
    } cases[] = {{&empty, L"S", REG_SZ, Bytes(L"")},
                 {&multi, L"M", REG_MULTI_SZ, Bytes(std::wstring(L"A\0B\0", 4))},
                 {&none, L"N", REG_MULTI_SZ, Bytes(L"")}};
    for (const auto& c : cases) {
        c.value->ValueName = c.name;
        c.value->ParentKeyName = kKey;
        HKEY handle = nullptr;  // each opens the key named by ParentKeyName
        EXPECT_EQ(1, c.value->Apply(handle));
        RegCloseKey(handle);
        DWORD type = 0;
        std::vector<BYTE> bytes;
        EXPECT_TRUE(ReadRegistryValue(L"HOST", kKey, c.name, &type, &bytes));
        EXPECT_EQ(std::make_pair(c.type, c.bytes), std::make_pair(type, bytes)) << corvan::ToUtf8(c.name);
    }

    CRegValueString lost;
    lost.ParentKeyName = L"SOFTWARE\\Missing";
    lost.ValueName = L"V";
    Watch(lost);
    HKEY handle = nullptr;
    EXPECT_EQ(0, lost.Apply(handle));
    EXPECT_TRUE(
        Logged(L"CRegValue::Apply(),RegOpenKeyEx(HKEY_LOCAL_MACHINE, SOFTWARE\\Missing, KEY_READ KEY_WRITE...),2,"));
    EXPECT_EQ(L"RegSetValueEx(V)", lost.ErrorWin32API);
    EXPECT_FALSE(RegistryKeyExists(L"HOST", L"SOFTWARE\\Missing"));
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
}

// Each kind prints its export lines one after the other as the golden file
// shows them; a binary value's hex lines wrap at a column counter that
// starts with the value's name, and "Abc" brings it to 76 itself: the line goes on.
TEST_F(RegValueTest, DumpPrintsExportLinesAndWrapsBinaryLinesAtTheColumnCounter) {
    CRegValueDword dword;  // the default value keeps its empty name here
    dword.Value = 0x2a;
    CRegValueString text;
    text.Value = L"x";
    CRegValueMultiSz multi;
    multi.ValueName = L"L";
    multi.saValue = {L"a", L"b"};
    CRegValueBinary none, data;
    CRegValueUnknown unknown;
    unknown.ValueName = L"U";
    data.ValueName = L"Data";
    for (BYTE b = 0x41; b <= 0x5c; ++b) data.Value.push_back(b);
    data.Value.push_back(0x1f);
    data.Value.push_back(0x80);
    EXPECT_EQ(corvan_test::Golden("registry/testdata/value_dumps.txt"), Printed([&] {
                  for (CRegValue* value : std::vector<CRegValue*>{&dword, &text, &multi, &none, &unknown, &data})
                      value->Dump();
                  data.ValueName = L"Abc";
                  data.Dump();
              }));

    data.ValueName = L"Data";
    CObjectStore report;
    data.WriteReport(report, 0);
    ASSERT_EQ(3u, report.GetEntryCount());
    EXPECT_EQ(L"57,58,59,5a,5b,5c,1f,80", report.GetEntryAt(1).Value);
    EXPECT_EQ(L"report", report.GetEntryAt(1).Key);
    data.ValueName = L"B";
    data.Value = {0x20, 0x41, 0x1f};  // a blank is printable
    data.WriteReport(report, 0);
    EXPECT_EQ(L"\"B\"=string: A.", report.GetEntryAt(report.GetEntryCount() - 1).Value);
}

TEST_F(RegValueTest, StringKindsSplitReplaceAndFind) {
    CRegValueString path;
    path.ParentKeyName = L"Tool";
    path.KeyName = path.ValueName = L"Path";
    path.Value = L"a;b;;c";
    EXPECT_EQ("\n[Tool]\nPath=a\n[Tool]\nPath=b\n[Tool]\nPath=;c", Printed([&] { path.PrintList(L"PATH"); }));
    EXPECT_EQ("", Printed([&] { path.PrintList(L"Other"); }));

    path.ReplaceInValue(L";", L"|");
    std::wstring found;
    EXPECT_EQ(1, path.FindValue(L"path", found));
    EXPECT_EQ(L"a|b||c", found);
    EXPECT_EQ(0, path.FindValue(L"Level", found));

    CRegValueDword level;  // other kinds rename the value instead
    level.ValueName = L"Level";
    level.ReplaceInValue(L"LEVEL", L"Depth");
    EXPECT_EQ(L"Depth", level.ValueName);
}

}  // namespace
