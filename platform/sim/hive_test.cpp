#include "platform/sim/hive.h"

#include <gtest/gtest.h>

#include "platform/sim/hostfile.h"
#include "platform/text.h"

namespace sim {
namespace {

using Bytes = std::vector<BYTE>;

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
std::string Dump(const RegKey& key, const std::string& path = "HKLM") {
    std::string out = "[" + path + "]\n";
    for (const auto& value : key.Values()) {
        out += corvan::ToUtf8(value.name) + " " + std::to_string(value.type) + ":";
        for (BYTE b : value.data) out += corvan::ToUtf8(corvan::Format(L" %02x", b));
        out += "\n";
    }
    for (const auto& subkey : key.Subkeys()) out += Dump(*subkey, path + "\\" + corvan::ToUtf8(subkey->Name()));
    return out;
}

// Saves the tree as the golden file shows it; what it saved loads back to
// the same tree and saves to the same text.
void ExpectSavedAsGolden(const RegKey& root, const char* golden) {
    std::string saved = WriteRegExport(root);
    EXPECT_EQ(Testdata(golden), saved);
    auto again = Parse(saved);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(Dump(root), Dump(*again));
    EXPECT_EQ(saved, WriteRegExport(*again));
}

// The first golden file was checked by hand against the sample: every key,
// value name, type and byte of it, the odd-sized text and the value order
// included. The second holds every kind of value the writer meets: escaped
// names and texts; as hex(1) a text regedit would not read back (a raw line
// break, an inner or a missing NUL); odd sizes and types as hex(n); hex
// lists wrapped within 80 columns.
TEST(RegExportTest, SavedExportsAreTheGoldenFilesAndLoadBackUnchanged) {
    auto root = Parse(Testdata("export_utf16.reg"));
    ASSERT_NE(nullptr, root);
    ExpectSavedAsGolden(*root, "export_utf16.saved.reg");

    RegKey kinds(L"HKEY_LOCAL_MACHINE");
    kinds.SetValue(L"AtRoot", REG_DWORD, DwordBytes(7));
    auto key = kinds.AddSubkey(L"Odd \"Names\"")->AddSubkey(L"Back]slash");
    Bytes unterminated = TextBytes(L"no end");
    unterminated.resize(unterminated.size() - sizeof(wchar_t));
    Bytes big(300);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
    key->SetValue(L"quote\"and\\backslash", REG_SZ, TextBytes(L"C:\\dir\\\"x\""));
    key->SetValue(L"two\nlines", REG_SZ, TextBytes(L"line one\r\nline two"));
    key->SetValue(L"inner nul", REG_SZ, TextBytes(std::wstring(L"a\0b", 3)));
    key->SetValue(L"unterminated", REG_SZ, unterminated);
    key->SetValue(L"short dword", REG_DWORD, Bytes{1, 2, 3});
    key->SetValue(L"big endian", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0});
    key->SetValue(L"custom", 0x20000, Bytes{9});
    key->SetValue(L"big", REG_BINARY, big);
    key->SetValue(L"empty multi", REG_MULTI_SZ, MultiTextBytes({}));
    key->SetValue(L"", REG_EXPAND_SZ, TextBytes(L"%PATH%"));
    ExpectSavedAsGolden(kinds, "every_kind.saved.reg");
}

// Windows' two-byte units become the host's characters and back: a pair of
// surrogates is one character, up to the last pair; a stray last byte stays.
TEST(RegExportTest, TextUnitsConvertBothWays) {
    const Bytes utf16 = {0x41, 0, 0x3D, 0xD8, 0x00, 0xDE, 0xFF, 0xDB, 0xFF, 0xDF, 0x07};  // A, U+1F600, U+10FFFF
    const Bytes wide = Utf16ToWide(utf16);
    EXPECT_EQ(3 * sizeof(wchar_t) + 1, wide.size());
    EXPECT_EQ(utf16, WideToUtf16(wide));
}

TEST(RegExportTest, RejectsTextWithoutHeaderOrWithBrokenLinesAndNamesTheLine) {
    const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n";
    const std::pair<std::string, const wchar_t*> cases[] = {
        {"[HKEY_LOCAL_MACHINE\\A]\n", L"line 1"},
        {"Windows Registry Editor Version 5.00\n\"B\"=dword:1\n", L"line 2"},  // a value before any key
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"B\"=hex:0g\n", L"line 4"},
        {head + "\"B\"=\"open\n", L"line 3"},
        {head + "\"B\"=dword:123456789\n", L"line 3"},
        {head + "\"B\"=hex:01,,02\n", L"line 3"},
        {head + "B=1\n", L"line 3"},
    };
    for (const auto& [text, line] : cases) {
        std::wstring error;
        EXPECT_EQ(nullptr, Parse(text, &error)) << text;
        EXPECT_NE(std::wstring::npos, error.find(line)) << text << corvan::ToUtf8(error);
    }
    // A key as deep as Windows keeps one loads; one level deeper is refused.
    std::string deep = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE";
    for (size_t i = 0; i < kMaxKeyLevels; ++i) deep += "\\k";
    std::wstring error;
    EXPECT_NE(nullptr, Parse(deep + "]\n"));
    EXPECT_EQ(nullptr, Parse(deep + "\\k]\n", &error));
    EXPECT_NE(std::wstring::npos, error.find(L"line 2")) << corvan::ToUtf8(error);
}

TEST(RegExportTest, AcceptsEmptyFileCommentsRegedit4RemovalLinesAndOtherHives) {
    // A UTF-16 file cut inside its last character: the odd byte is none.
    // U+10000 is the first pair of surrogates.
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"Windows Registry Editor Version 5.00\r\n"
                                        u"[HKEY_LOCAL_MACHINE\\A\U00010000]\r\n")) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    const std::pair<std::string, std::string> cases[] = {
        {"", "[HKLM]\n"},
        {"\xFE\xFF", "[HKLM]\n"},  // a big-endian mark alone
        {utf16 + "x", "[HKLM]\n[HKLM\\A\xF0\x90\x80\x80]\n"},
        // Parents appear without a line of their own.
        {"\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n; a comment\r\n\r\n"
         "  [HKEY_LOCAL_MACHINE\\A\\B]  \r\n  \"X\" = dword:0000001f\r\n",
         "[HKLM]\n[HKLM\\A]\n[HKLM\\A\\B]\nX 4: 1f 00 00 00\n"},
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"E\"=hex(2):25,41,25,e9,00\r\n\"S\"=\"x\"\r\n",
         "[HKLM]\n[HKLM\\A]\nE 2: 25 00 00 00 41 00 00 00 25 00 00 00 e9 00 00 00 00 00 00 00\n"
         "S 1: 78 00 00 00 00 00 00 00\n"},
        // Removal lines apply; keys of other hives are read and dropped.
        {"Windows Registry Editor Version 5.00\n"
         "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"V\"=\"1\"\n"
         "[HKEY_LOCAL_MACHINE\\A]\n\"Keep\"=\"k\"\n\"Gone\"=\"g\"\n"
         "[HKEY_CURRENT_USER\\Software\\Elsewhere]\n\"Long\"=hex:01,02,\\\n  03,04\n\"S\"=\"s\"\n"
         "[-HKEY_LOCAL_MACHINE\\A\\B]\n"
         "[HKLM\\A]\n\"Gone\"=-\n",
         "[HKLM]\n[HKLM\\A]\nKeep 1: 6b 00 00 00 00 00 00 00\n"},
    };
    for (const auto& [text, tree] : cases) {
        auto root = Parse(text);
        ASSERT_NE(nullptr, root) << text;
        EXPECT_EQ(tree, Dump(*root)) << text;
    }
}

}  // namespace
}  // namespace sim
