#include "platform/sim/hive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/hostfile.h"
#include "platform/text.h"

namespace sim {
namespace {

std::string Testdata(const char* name) {
    std::string bytes;
    std::string path = std::string(CORVAN_SOURCE_DIR) + "/platform/sim/testdata/" + name;
    EXPECT_TRUE(ReadHostFile(path, bytes)) << path;
    return bytes;
}

std::shared_ptr<RegKey> Parse(const std::string& text, std::wstring* error = nullptr) {
    auto root = std::make_shared<RegKey>(L"HKEY_LOCAL_MACHINE");
    std::wstring why;
    bool ok = ParseRegExport(text, *root, why);
    if (error) *error = why;
    else EXPECT_TRUE(ok) << corvan::ToUtf8(why);
    return ok ? root : nullptr;
}

// Every key path and value (name, type, bytes), for comparing two trees.
void Dump(const RegKey& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const auto& value : key.Values()) {
        out += corvan::ToUtf8(value.name) + " " + std::to_string(value.type) + ":";
        for (BYTE b : value.data) out += corvan::ToUtf8(corvan::Format(L" %02x", b));
        out += "\n";
    }
    for (const auto& subkey : key.Subkeys()) Dump(*subkey, path + "\\" + corvan::ToUtf8(subkey->Name()), out);
}

std::string Dump(const RegKey& root) {
    std::string out;
    Dump(root, "HKLM", out);
    return out;
}

const RegValue* ValueAt(const std::shared_ptr<RegKey>& root, const wchar_t* path, const wchar_t* name) {
    std::shared_ptr<RegKey> key = FindKey(root, path);
    return key ? key->Value(name) : nullptr;
}

void ExpectValue(const std::shared_ptr<RegKey>& root, const wchar_t* path, const wchar_t* name, DWORD type,
                 const std::vector<BYTE>& data) {
    const RegValue* value = ValueAt(root, path, name);
    ASSERT_NE(nullptr, value) << corvan::ToUtf8(std::wstring(path) + L" : " + name);
    EXPECT_EQ(type, value->type) << corvan::ToUtf8(name);
    EXPECT_EQ(data, value->data) << corvan::ToUtf8(name);
}

std::vector<BYTE> Bytes(std::initializer_list<int> list) {
    std::vector<BYTE> bytes;
    for (int b : list) bytes.push_back(static_cast<BYTE>(b));
    return bytes;
}

// ---- a file as a server exports it ----------------------------------------------

TEST(RegExportTest, ServerExportInUtf16Loads) {
    auto root = Parse(Testdata("export_utf16.reg"));
    ASSERT_NE(nullptr, root);
    const wchar_t* tool = L"SOFTWARE\\Vendor\\Tool";
    ExpectValue(root, tool, L"", REG_SZ, TextBytes(L"Default text"));
    ExpectValue(root, tool, L"InstallPath", REG_SZ, TextBytes(L"C:\\Program Files\\Vendor \"Tool\"\\"));
    ExpectValue(root, tool, L"Empty", REG_SZ, TextBytes(L""));
    ExpectValue(root, tool, L"Level", REG_DWORD, DwordBytes(3));
    ExpectValue(root, tool, L"Beschreibung", REG_SZ, TextBytes(L"Drucker f\u00fcr B\u00fcro \U0001F5A8"));
    ExpectValue(root, tool, L"Quota", REG_QWORD, Bytes({1, 0, 0, 0, 2, 0, 0, 0}));
    ExpectValue(root, tool, L"Marker", REG_NONE, {});
    // Three UTF-16 bytes: one whole character and the odd byte as it was.
    std::vector<BYTE> odd = TextBytes(L"A");
    odd.resize(sizeof(wchar_t));
    odd.push_back(0x42);
    ExpectValue(root, tool, L"OddText", REG_SZ, odd);

    const wchar_t* server = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer";
    ExpectValue(root, server, L"ImagePath", REG_EXPAND_SZ,
                TextBytes(L"%SystemRoot%\\system32\\svchost.exe -k netsvcs"));
    ExpectValue(root, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters", L"NullSessionShares",
                REG_MULTI_SZ, MultiTextBytes({L"COMCFG", L"DFS$"}));
    ExpectValue(root, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", L"Data", REG_MULTI_SZ,
                MultiTextBytes({L"CSCFlags=0", L"MaxUses=4294967295", L"Path=D:\\Data", L"Permissions=0",
                                L"Remark=Department data", L"Type=0"}));
    const RegValue* security =
        ValueAt(root, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security", L"Data");
    ASSERT_NE(nullptr, security);
    EXPECT_EQ(REG_BINARY, security->type);
    ASSERT_EQ(76u, security->data.size());
    EXPECT_EQ(Bytes({0x01, 0x00, 0x04, 0x80}), std::vector<BYTE>(security->data.begin(), security->data.begin() + 4));
    EXPECT_EQ(Bytes({0x01, 0x00, 0x00, 0x00, 0x00}), std::vector<BYTE>(security->data.end() - 5, security->data.end()));

    auto emptyKey = FindKey(root, L"SOFTWARE\\Vendor\\Tool\\Empty Key");
    ASSERT_NE(nullptr, emptyKey);
    EXPECT_TRUE(emptyKey->Values().empty());
    EXPECT_TRUE(emptyKey->Subkeys().empty());

    std::vector<std::wstring> order;
    for (const auto& value : FindKey(root, tool)->Values()) order.push_back(value.name);
    EXPECT_EQ((std::vector<std::wstring>{L"", L"InstallPath", L"Empty", L"Level", L"Beschreibung", L"Quota",
                                         L"Marker", L"OddText"}),
              order);
}

TEST(RegExportTest, SavedExportMatchesGoldenFileAndReloadsUnchanged) {
    auto root = Parse(Testdata("export_utf16.reg"));
    ASSERT_NE(nullptr, root);
    std::string saved = WriteRegExport(*root);
    EXPECT_EQ(Testdata("export_utf16.saved.reg"), saved);

    auto again = Parse(saved);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(Dump(*root), Dump(*again));
    EXPECT_EQ(saved, WriteRegExport(*again));
}

// ---- reading ------------------------------------------------------------------

TEST(RegExportTest, RejectsTextWithoutHeaderOrWithBrokenLines) {
    std::wstring error;
    EXPECT_EQ(nullptr, Parse("[HKEY_LOCAL_MACHINE\\A]\n", &error));
    EXPECT_NE(std::wstring::npos, error.find(L"line 1"));

    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"B\"=hex:0g\n", &error));
    EXPECT_NE(std::wstring::npos, error.find(L"line 4")) << corvan::ToUtf8(error);

    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n\"B\"=dword:1\n", &error));
    EXPECT_NE(std::wstring::npos, error.find(L"line 2"));

    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"B\"=\"open\n", &error));
    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"B\"=dword:123456789\n", &error));
    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"B\"=hex:01,,02\n", &error));
    EXPECT_EQ(nullptr, Parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\nB=1\n", &error));
}

TEST(RegExportTest, EmptyFileAndCommentsAreAccepted) {
    auto empty = Parse("");
    ASSERT_NE(nullptr, empty);
    EXPECT_TRUE(empty->Subkeys().empty());

    auto root = Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n; a comment\r\n\r\n"
                      "  [HKEY_LOCAL_MACHINE\\A\\B]  \r\n  \"X\" = dword:0000001f\r\n");
    ASSERT_NE(nullptr, root);
    ExpectValue(root, L"A\\B", L"X", REG_DWORD, DwordBytes(0x1f));
    EXPECT_NE(nullptr, FindKey(root, L"A"));  // parents appear without a line of their own
}

TEST(RegExportTest, RemovalLinesAndOtherHives) {
    auto root = Parse(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"V\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\A]\n\"Keep\"=\"k\"\n\"Gone\"=\"g\"\n"
        "[HKEY_CURRENT_USER\\Software\\Elsewhere]\n\"Long\"=hex:01,02,\\\n  03,04\n\"S\"=\"s\"\n"
        "[-HKEY_LOCAL_MACHINE\\A\\B]\n"
        "[HKLM\\A]\n\"Gone\"=-\n");
    ASSERT_NE(nullptr, root);
    auto a = FindKey(root, L"A");
    ASSERT_NE(nullptr, a);
    EXPECT_TRUE(a->Subkeys().empty());
    EXPECT_NE(nullptr, a->Value(L"Keep"));
    EXPECT_EQ(nullptr, a->Value(L"Gone"));
    EXPECT_EQ(nullptr, FindKey(root, L"Software"));
    ASSERT_EQ(1u, root->Subkeys().size());
}

TEST(RegExportTest, Regedit4TextIsEightBit) {
    auto root = Parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"E\"=hex(2):25,41,25,e9,00\r\n\"S\"=\"x\"\r\n");
    ASSERT_NE(nullptr, root);
    ExpectValue(root, L"A", L"E", REG_EXPAND_SZ, TextBytes(L"%A%\u00e9"));
    ExpectValue(root, L"A", L"S", REG_SZ, TextBytes(L"x"));
}

TEST(RegExportTest, Utf16SurrogatesBecomeOneCharacterAndBack) {
    std::vector<BYTE> utf16 = Bytes({0x3d, 0xd8, 0xa8, 0xdd, 0x00, 0x00});
    std::vector<BYTE> wide = Utf16ToWide(utf16);
    if (sizeof(wchar_t) == 4) EXPECT_EQ(TextBytes(L"\U0001F5A8"), wide);
    EXPECT_EQ(utf16, WideToUtf16(wide));

    std::vector<BYTE> odd = Bytes({0x41, 0x00, 0x42});
    EXPECT_EQ(odd, WideToUtf16(Utf16ToWide(odd)));
    EXPECT_EQ(sizeof(wchar_t) + 1, Utf16ToWide(odd).size());
}

// ---- writing ------------------------------------------------------------------

TEST(RegExportTest, WriterKeepsEveryKindOfValue) {
    auto root = std::make_shared<RegKey>(L"HKEY_LOCAL_MACHINE");
    root->SetValue(L"AtRoot", REG_DWORD, DwordBytes(7));
    auto key = root->AddSubkey(L"Odd \"Names\"")->AddSubkey(L"Back]slash");
    std::vector<BYTE> unterminated = TextBytes(L"no end");
    unterminated.resize(unterminated.size() - sizeof(wchar_t));
    std::vector<BYTE> big(300);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
    key->SetValue(L"quote\"and\\backslash", REG_SZ, TextBytes(L"C:\\dir\\\"x\""));
    key->SetValue(L"two\nlines", REG_SZ, TextBytes(L"line one\r\nline two"));
    key->SetValue(L"inner nul", REG_SZ, TextBytes(std::wstring(L"a\0b", 3)));
    key->SetValue(L"unterminated", REG_SZ, unterminated);
    key->SetValue(L"short dword", REG_DWORD, Bytes({1, 2, 3}));
    key->SetValue(L"big endian", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 1, 0}));
    key->SetValue(L"custom", 0x20000, Bytes({9}));
    key->SetValue(L"big", REG_BINARY, big);
    key->SetValue(L"empty multi", REG_MULTI_SZ, MultiTextBytes({}));
    key->SetValue(L"", REG_EXPAND_SZ, TextBytes(L"%PATH%"));

    std::string saved = WriteRegExport(*root);
    auto again = Parse(saved);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(Dump(*root), Dump(*again));

    EXPECT_NE(std::string::npos, saved.find("[HKEY_LOCAL_MACHINE]\n\"AtRoot\"=dword:00000007\n"));
    EXPECT_NE(std::string::npos, saved.find("\"quote\\\"and\\\\backslash\"=\"C:\\\\dir\\\\\\\"x\\\"\"\n"));
    EXPECT_NE(std::string::npos, saved.find("\"short dword\"=hex(4):01,02,03\n"));
    EXPECT_NE(std::string::npos, saved.find("\"custom\"=hex(20000):09\n"));
    EXPECT_NE(std::string::npos, saved.find("\"two\\nlines\"=hex(1):"));  // regedit would not read a raw break
    for (const auto& line : SplitLines(corvan::FromUtf8(saved))) EXPECT_LE(line.size(), 80u) << corvan::ToUtf8(line);
}

// ---- the key tree ---------------------------------------------------------------

TEST(RegKeyTest, SubkeysSortByUpperCaseAndKeepTheirFirstSpelling) {
    RegKey key(L"k");
    key.AddSubkey(L"b");
    key.AddSubkey(L"_x");
    key.AddSubkey(L"A");
    bool created = true;
    auto again = key.AddSubkey(L"B", &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(L"b", again->Name());
    std::vector<std::wstring> names;
    for (const auto& subkey : key.Subkeys()) names.push_back(subkey->Name());
    // Windows compares upper-cased names, so "_" (0x5F) follows the letters.
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"b", L"_x"}), names);
    EXPECT_EQ(again, key.Subkey(L"B"));
}

TEST(RegKeyTest, ValuesKeepCreationOrderThroughReplaceAndDelete) {
    RegKey key(L"k");
    key.SetValue(L"One", REG_DWORD, DwordBytes(1));
    key.SetValue(L"Two", REG_DWORD, DwordBytes(2));
    key.SetValue(L"Three", REG_DWORD, DwordBytes(3));
    key.SetValue(L"ONE", REG_SZ, TextBytes(L"x"));
    EXPECT_EQ(L"One", key.Values()[0].name);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), key.Values()[0].type);

    EXPECT_TRUE(key.DeleteValue(L"two"));
    EXPECT_FALSE(key.DeleteValue(L"two"));
    ASSERT_EQ(2u, key.Values().size());
    EXPECT_EQ(L"Three", key.Values()[1].name);
    ASSERT_NE(nullptr, key.Value(L"THREE"));
    EXPECT_EQ(DwordBytes(3), key.Value(L"THREE")->data);
}

TEST(RegKeyTest, RemovedSubtreeIsMarkedDeleted) {
    RegKey key(L"k");
    auto child = key.AddSubkey(L"Child");
    auto grandchild = child->AddSubkey(L"Grandchild");
    EXPECT_EQ(child, key.RemoveSubkey(L"CHILD"));
    EXPECT_TRUE(child->Deleted());
    EXPECT_TRUE(grandchild->Deleted());
    EXPECT_EQ(nullptr, key.Subkey(L"Child"));
    EXPECT_EQ(nullptr, key.RemoveSubkey(L"Child"));
}

}  // namespace
}  // namespace sim
