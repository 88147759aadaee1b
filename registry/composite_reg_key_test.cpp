#include "registry/composite_reg_key.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/object_store.h"
#include "core/test_support.h"
#include "registry/reg_value.h"

namespace {

class CompositeRegKeyTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"HOST");
    }

    std::unique_ptr<CCompositeRegKey> Read(const std::wstring& server, const std::wstring& parentPath,
                                           const std::wstring& name, int expected = 1) {
        auto key = std::make_unique<CCompositeRegKey>(server);
        HKEY parent = nullptr;
        EXPECT_EQ(expected, key->Enum(parentPath, name, parent));
        RegCloseKey(parent);
        return key;
    }

    // The tree saved to a file (the format the end-to-end backup pins with
    // its golden file), and the tree loaded back from that file.
    std::string Saved(CCompositeRegKey& key) { return corvan_test::SavedBytes(key, WorldFile("tree.bkp")); }
    std::unique_ptr<CCompositeRegKey> Reloaded() {
        return corvan_test::LoadedFrom<CCompositeRegKey>(WorldFile("tree.bkp"));
    }
};

std::string Golden(const std::string& name) { return corvan_test::Golden("registry/testdata/" + name); }

TEST_F(CompositeRegKeyTest, ThreeLevelTreeOfEveryTypeSavesDepthFirstAndLoadsBackEqualWithAnUnreadableValue) {
    const wchar_t kApp[] = L"SOFTWARE\\App";
    SetRegistryString(L"HOST", kApp, L"", L"default");
    SetRegistryString(L"HOST", kApp, L"Str", L"one \"quoted\"");
    SetRegistryString(L"HOST", kApp, L"Exp", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    SetRegistryValue(L"HOST", kApp, L"Big", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1});
    SetRegistryValue(L"HOST", kApp, L"Bin", REG_BINARY, {0x00, 0x01, 0xff});
    SetRegistryDword(L"HOST", kApp, L"Num", 7);
    SetRegistryMultiString(L"HOST", kApp, L"Multi", {L"a", L"b c"});
    SetRegistryValue(L"HOST", kApp, L"Link", REG_LINK, {0x5c, 0, 0x52, 0});
    SetRegistryValue(L"HOST", kApp, L"Q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    SetRegistryValue(L"HOST", kApp, L"None", REG_NONE, {});
    SetRegistryString(L"HOST", L"SOFTWARE\\App\\L2a\\L3", L"Str3", L"three");
    SetRegistryDword(L"HOST", L"SOFTWARE\\App\\L2a", L"Num2", 2);
    AddRegistryKey(L"HOST", L"SOFTWARE\\App\\L2b");
    AddFault(L"RegQueryValueExW:Num=13,1");

    // The value that cannot be read stays in the tree with its own error and
    // fails the key; the rest is read.
    auto key = Read(L"", L"SOFTWARE", L"App", 0);
    const CRegObj& num = *key->GetAt(5);
    EXPECT_EQ(std::make_tuple(13u, L"RegQueryValueEx(Num)", 13u, L"RegQueryValueEx(Num)"),
              std::tie(key->LastErrorCode, key->ErrorWin32API, num.LastErrorCode, num.ErrorWin32API));
    const std::string saved = Saved(*key);
    EXPECT_EQ(Golden("app_tree.bkp"), saved);

    // Loaded back the tree saves the same; the error travels with the value.
    auto loaded = Reloaded();
    EXPECT_EQ(saved, Saved(*loaded));
    EXPECT_EQ(std::make_tuple(13u, L"CRegValueDword::Enum(Num)"),
              std::tie(loaded->GetAt(5)->LastErrorCode, loaded->GetAt(5)->ErrorFunction));

    // Every type is written back with its bytes.
    loaded->ReplaceInKeyNames(L"App", L"Copy");
    HKEY handle = nullptr;
    ASSERT_EQ(1, loaded->Apply(handle));
    for (const wchar_t* name : {L"Big", L"Link", L"Q", L"None", L"Bin", L"Exp"}) {
        DWORD type = 0, copiedType = 0;
        std::vector<BYTE> bytes, copied;
        ASSERT_TRUE(ReadRegistryValue(L"HOST", kApp, name, &type, &bytes));
        ASSERT_TRUE(ReadRegistryValue(L"HOST", L"SOFTWARE\\Copy", name, &copiedType, &copied)) << corvan::ToUtf8(name);
        EXPECT_EQ(type, copiedType);
        EXPECT_EQ(bytes, copied);
    }
}

TEST_F(CompositeRegKeyTest, EnumFailuresNameTheFailingCall) {
    AddMachine(L"SRV02");
    SetRegistryString(L"HOST", L"SOFTWARE\\App", L"V1", L"1");
    SetRegistryString(L"HOST", L"SOFTWARE\\App", L"V2", L"2");
    AddRegistryKey(L"HOST", L"SOFTWARE\\App\\Sub");
    struct Case {
        std::wstring server, parent, name, fault, api;
        DWORD code;
        int children;
    } cases[] = {
        {L"", L"SOFTWARE\\Nope", L"App", L"", L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, SOFTWARE\\Nope, KEY_READ...)", 2, 0},
        {L"", L"SOFTWARE", L"Nope", L"", L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, Nope, KEY_READ...)", 2, 0},
        {L"\\\\NOWHERE", L"SOFTWARE", L"App", L"",
         L"RegConnectRegistry(\\\\NOWHERE, HKEY_LOCAL_MACHINE, SOFTWARE, KEY_READ...)", 53, 0},
        {L"\\\\SRV02", L"SOFTWARE\\Nope", L"App", L"",
         L"RegOpenKeyEx(\\\\SRV02, HKEY_LOCAL_MACHINE, SOFTWARE\\Nope, KEY_READ ...)", 2, 0},
        {L"", L"SOFTWARE", L"App", L"RegQueryInfoKeyW=1009,1", L"RegQueryInfoKey()", 1009, 0},
        {L"", L"SOFTWARE", L"App", L"RegEnumValueW=1009,1", L"RegEnumValue()", 1009, 0},
        {L"", L"SOFTWARE", L"App", L"RegEnumKeyExW=1009,1", L"RegEnumKeyEx()", 1009, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(corvan::ToUtf8(c.api));
        if (!c.fault.empty()) AddFault(c.fault);
        CCompositeRegKey key(c.server);
        HKEY parent = nullptr;
        EXPECT_EQ(0, key.Enum(c.parent, c.name, parent));
        if (parent) RegCloseKey(parent);
        EXPECT_EQ(c.api, key.ErrorWin32API);
        EXPECT_EQ(c.code, key.LastErrorCode);
        EXPECT_EQ(c.children, key.GetCount());
    }
}

TEST_F(CompositeRegKeyTest, ApplyWritesOntoAnotherMachineKeepsWhatIsThereAndStopsAtTheFirstFailingChild) {
    for (const wchar_t* machine : {L"SRV01", L"SRV02", L"SRV03"}) AddMachine(machine);
    SetRegistryDword(L"SRV01", L"SOFTWARE\\App", L"Num", 1);
    SetRegistryString(L"SRV01", L"SOFTWARE\\App", L"Str", L"s");
    SetRegistryDword(L"SRV01", L"SOFTWARE\\App", L"Last", 3);
    SetRegistryMultiString(L"SRV01", L"SOFTWARE\\App\\Sub\\Deeper", L"Y", {L"y1", L"y2"});
    SetRegistryDword(L"SRV02", L"SOFTWARE\\App", L"Num", 99);
    SetRegistryString(L"SRV02", L"SOFTWARE\\App", L"Extra", L"keep");
    SetRegistryDword(L"SRV02", L"SOFTWARE\\App\\Old", L"O", 4);

    Saved(*Read(L"\\\\SRV01", L"SOFTWARE", L"App"));
    auto restored = Reloaded();
    EXPECT_EQ(4, restored->ReplaceServerName(L"SRV01", L"SRV02"));  // the key and its three values
    HKEY handle = nullptr;
    EXPECT_EQ(1, restored->Apply(handle));
    EXPECT_EQ(nullptr, handle);
    // Read back: SRV02's own value and subkey are kept beside the restored ones.
    EXPECT_EQ(Golden("srv02_app.bkp"), Saved(*Read(L"\\\\SRV02", L"SOFTWARE", L"App")));
    // Subkeys, read without a server name of their own, go to the same machine.
    EXPECT_FALSE(RegistryKeyExists(L"HOST", L"SOFTWARE\\App"));

    // On SRV03 the second value fails: nothing after it is written and the child holds the failure.
    Watch(*restored);
    restored->ReplaceServerName(L"SRV02", L"SRV03");
    AddFault(L"RegSetValueExW@SRV03:Str=5");
    EXPECT_EQ(0, restored->Apply(handle));
    EXPECT_EQ(1u, ReadRegistryDword(L"SRV03", L"SOFTWARE\\App", L"Num"));
    EXPECT_FALSE(ReadRegistryString(L"SRV03", L"SOFTWARE\\App", L"Str"));
    EXPECT_FALSE(ReadRegistryDword(L"SRV03", L"SOFTWARE\\App", L"Last"));
    EXPECT_FALSE(RegistryKeyExists(L"SRV03", L"SOFTWARE\\App\\Sub"));
    EXPECT_EQ(5u, restored->GetAt(1)->LastErrorCode);
    EXPECT_EQ(0u, restored->LastErrorCode);
    EXPECT_EQ(L"CCompositeRegKey::Apply(),,0", log_.texts.back());

    AddFault(L"RegCreateKeyExW@SRV03=5,1");
    EXPECT_EQ(0, restored->Apply(handle));
    EXPECT_EQ(L"RegOpenKeyEx(\\\\SRV03, HKEY_LOCAL_MACHINE, SOFTWARE\\App, KEY_ALL ...)", restored->ErrorWin32API);
}

TEST_F(CompositeRegKeyTest, LoadingFollowsParentsSkipsStraySectionsAndStopsAtForeignClasses) {
    // A value written by hand after the subkey, a section without a class,
    // a value naming no loaded key, a foreign class, then a second tree whose
    // value names a key of the first.
    CObjectStore store;
    ASSERT_EQ(1, store.LoadFromFile(corvan_test::TestData("registry/testdata/stray_sections.ini")));
    store.Next();
    CCompositeRegKey key;
    key.LoadProperty(store);
    ASSERT_TRUE(store.Next());
    EXPECT_EQ(L"CShare", store.CurrentValue());

    store.Next();
    CCompositeRegKey second;
    second.LoadProperty(store);
    EXPECT_EQ(1, second.GetCount());
    EXPECT_EQ(2, key.GetCount());
    EXPECT_EQ(L"Sub", key.GetAt(0)->KeyName);  // the children in the order of the file

    // Each value lands in its own key, also when it follows a subkey, or in
    // the last key when its parent names none.
    HKEY handle = nullptr;
    ASSERT_EQ(1, key.Apply(handle));
    EXPECT_EQ(7u, ReadRegistryDword(L"HOST", L"SOFTWARE\\Vendor\\Tool", L"Late"));
    EXPECT_FALSE(ReadRegistryDword(L"HOST", L"SOFTWARE\\Vendor\\Tool\\Sub", L"Late"));
    EXPECT_EQ(L"", ReadRegistryString(L"HOST", L"SOFTWARE\\Vendor\\Tool\\Sub", L"Orphan"));

    // Without a parent path no key is created and the values open their own.
    CCompositeRegKey top;
    top.KeyName = L"Top";
    EXPECT_EQ(1, top.Open(handle));
    EXPECT_EQ(nullptr, handle);
    auto* value = new CRegValueString();
    value->ParentKeyName = L"SOFTWARE\\Vendor";
    value->ValueName = L"Name";
    value->Value = L"v";
    top.AddChild(value);
    EXPECT_EQ(1, top.Apply(handle));
    EXPECT_EQ(L"v", ReadRegistryString(L"HOST", L"SOFTWARE\\Vendor", L"Name"));
    EXPECT_FALSE(RegistryKeyExists(L"HOST", L"SOFTWARE\\Vendor\\Top"));
}

// Keys below keys through their parent links, a value in the deepest: 512
// levels load, a deeper tree is refused where it passes the bound.
TEST_F(CompositeRegKeyTest, LoadedTreesAreBoundedAt512Levels) {
    for (int levels : {512, 513, 20000}) {
        CObjectStore store;
        for (int i = 1; i <= levels; ++i) {
            store.NewSection(L"class", L"CCompositeRegKey");
            store.AddToSection(L"parent", i == 1 ? L"NULL" : std::to_wstring(i - 1));
            store.AddStringToSection(L"KeyName", L"k");
        }
        store.NewSection(L"class", L"CRegValueDword");
        store.AddToSection(L"parent", std::to_wstring(levels));
        store.Rewind();
        ASSERT_TRUE(store.Next());
        CCompositeRegKey key;
        EXPECT_EQ(levels <= 512 ? 1 : 0, key.LoadProperty(store)) << levels;
        int depth = 1;
        for (const CRegObj* at = &key; (at = dynamic_cast<const CCompositeRegKey&>(*at).GetAt(0));) {
            if (!dynamic_cast<const CCompositeRegKey*>(at)) break;
            ++depth;
        }
        EXPECT_EQ(std::min(levels, 512), depth);
        if (levels > 512) EXPECT_EQ(L"nested deeper than 512 levels at 513", key.ErrorWin32API);
    }
}

TEST_F(CompositeRegKeyTest, ExampleTreeDumpsReportsAndRenames) {
    SetRegistryDword(L"HOST", L"SOFTWARE\\Vendor\\Tool", L"Level", 5);
    SetRegistryString(L"HOST", L"SOFTWARE\\Vendor\\Tool\\Sub", L"Name", L"Corvan");
    auto key = Read(L"", L"SOFTWARE\\Vendor", L"Tool");

    // Dump, then DumpKeys, and the report list each key before its values.
    EXPECT_EQ(Golden("tool_dump.txt"), corvan_test::Printed([&] {
                  key->Dump();
                  key->DumpKeys();
              }));
    CObjectStore report;
    key->WriteReport(report, 4);
    key->WriteReport(report, 0);
    ASSERT_EQ(8u, report.GetEntryCount());
    EXPECT_EQ(L"\n[SOFTWARE\\Vendor\\Tool\\Sub]", report.GetEntryAt(2).Value);
    EXPECT_EQ(L"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Tool]", report.GetEntryAt(4).Value);

    // Name operations walk the tree.
    EXPECT_EQ(1, key->AppendToKeyName(L"software\\vendor", L"_old"));
    key->RenameKey(L"SUB", L"Sub2");
    EXPECT_EQ(Golden("tool_renamed.bkp"), Saved(*key));
    std::wstring found;
    EXPECT_EQ(1, key->FindValue(L"name", found));
    EXPECT_EQ(L"Corvan", found);
    EXPECT_EQ(nullptr, key->GetAt(-1));
    EXPECT_EQ(nullptr, key->GetAt(2));
}

}  // namespace
