// A store written and loaded a part at a time gives the bytes and the
// entries the whole-store operations give.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "core/object_store.h"
#include "core/test_support.h"
#include "platform/sim/world.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::WriteBytes;

// Enough entries and bytes for several parts either way.
constexpr int kEntries = 9000;

// Sections of a few entries, as objects save them; `odd` lands in entry `at`.
void Fill(CObjectStore& store, const std::wstring& odd, int at) {
    for (int i = 0; i < kEntries; ++i) {
        if (i % 5 == 0) store.NewSection(L"class", L"CWin32File");
        std::wstring value = L"\"D:\\Data\\Folder" + std::to_wstring(i / 100) + L"\\File\u00e9" + std::to_wstring(i) + L"\"";
        if (i == at) value = odd;
        store.AddToSection(i % 5 == 4 ? L"" : L"Key" + std::to_wstring(i % 5), i % 7 == 6 ? L"" : value);
    }
}

TEST(ObjectStorePartsTest, WrittenInPartsAsSavedWhole) {
    struct Case {
        const char* name;
        std::wstring odd;
        int at;
    };
    const Case cases[] = {
        {"latin1", L"x", 0},
        {"utf8 late", L"\"\u041e\u0442\u0447\u0451\u0442 \u20ac.txt\"", kEntries - 10},  // after parts went to the file
        {"utf8 first", L"\"\u20ac\"", 1},
    };
    corvan_test::ScopedTempDir dir;
    for (const Case& c : cases) {
        CObjectStore whole, parts;
        Fill(whole, c.odd, c.at);
        ASSERT_EQ(1, whole.SaveToFile(dir.File("whole.ini")));
        ASSERT_EQ(1, parts.BeginFile(dir.File("parts.ini")));
        Fill(parts, c.odd, c.at);
        EXPECT_LT(parts.GetEntryCount(), 5000u) << c.name;  // not held whole
        ASSERT_EQ(1, parts.EndFile()) << c.name;
        EXPECT_EQ(ReadBytes(dir.path() / "whole.ini"), ReadBytes(dir.path() / "parts.ini")) << c.name;
        EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()), {})) << c.name;  // no temporaries
        // The entries a written store kept for reuse give a later load nothing of theirs.
        CObjectStore fresh;
        ASSERT_EQ(1, fresh.LoadFromFile(dir.File("whole.ini")));
        ASSERT_EQ(1, parts.LoadFromFile(dir.File("whole.ini")));
        EXPECT_EQ(corvan_test::EntryLines(fresh), corvan_test::EntryLines(parts)) << c.name;
    }
}

TEST(ObjectStorePartsTest, FailedWriteLeavesNoFile) {
    corvan_test::ScopedTempDir dir;
    for (const wchar_t* rule : {L"WriteFile=112,1", L"MoveFileExW=5,1"}) {
        sim::ClearFaultRules();
        sim::AddFaultRule(rule);
        CObjectStore store;
        ASSERT_EQ(1, store.BeginFile(dir.File("out.ini")));
        Fill(store, L"x", 0);
        EXPECT_EQ(0, store.EndFile()) << rule;
        EXPECT_NE(0u, store.LastErrorCode) << rule;
        EXPECT_EQ(0, std::distance(std::filesystem::directory_iterator(dir.path()), {})) << rule;  // no file at all
    }
    sim::ClearFaultRules();
    CObjectStore store;
    EXPECT_EQ(0, store.BeginFile(dir.File("no/such/out.ini")));
    EXPECT_EQ(3u, store.LastErrorCode);
}

// The entry the cursor stands on.
std::tuple<std::wstring, std::wstring, std::wstring, DWORD> Current(const CObjectStore& store) {
    return {store.CurrentEntrySection(), store.CurrentKey(), store.CurrentValue(), store.CurrentNumber()};
}

// Every entry Next gives, the one after it, and a step back, as a whole load sees them.
void ExpectSameReading(const std::wstring& path, const std::string& label) {
    CObjectStore whole, parts;
    ASSERT_EQ(1, whole.LoadFromFile(path)) << label;
    ASSERT_EQ(1, parts.LoadFromFileInParts(path)) << label;
    size_t count = 0;
    while (whole.Next()) {
        ASSERT_EQ(1, parts.Next()) << label << " entry " << count;
        ++count;
        EXPECT_EQ(Current(whole), Current(parts)) << label << " entry " << count;
        bool more = whole.GetCursor() < whole.GetEntryCount();
        ASSERT_EQ(more, parts.GetCursor() < parts.GetEntryCount()) << label << " entry " << count;
        if (more) EXPECT_EQ(whole.GetEntryAt(whole.GetCursor()).Value, parts.GetEntryAt(parts.GetCursor()).Value);
        if (count % 1000 == 0) {
            ASSERT_EQ(1, parts.Previous());
            ASSERT_EQ(1, parts.Next());
            EXPECT_EQ(Current(whole), Current(parts)) << label;
        }
    }
    EXPECT_EQ(0, parts.Next()) << label;
    EXPECT_EQ(whole.LoadMetZero(), parts.LoadMetZero()) << label;
    EXPECT_EQ(0u, parts.LastErrorCode) << label;
}

TEST(ObjectStorePartsTest, LoadedInPartsAsLoadedWhole) {
    corvan_test::ScopedTempDir dir;
    CObjectStore saved;
    Fill(saved, L"x", 0);
    ASSERT_EQ(1, saved.SaveToFile(dir.File("latin1.ini")));
    const std::string latin1 = ReadBytes(dir.path() / "latin1.ini");
    CObjectStore wide;
    Fill(wide, L"\"\u20ac\"", 3);
    ASSERT_EQ(1, wide.SaveToFile(dir.File("utf8.ini")));

    // Repeats in one run of a section are dropped; a section that comes
    // again after others makes the load read the whole file.
    WriteBytes(dir.path() / "repeats.ini", latin1 + "[1]\r\nKey1=\"again\"\r\nKey1=\"again\"\r\n");
    WriteBytes(dir.path() / "again.ini", "[A]\r\nk=1\r\nk=1\r\n" + latin1 + "[A]\r\nk=1\r\nk=2\r\n");
    WriteBytes(dir.path() / "zero.ini", latin1.substr(0, 200000) + std::string("\0[Z]\nz=1\n", 9));
    WriteBytes(dir.path() / "utf16.ini", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0v\0", 18));
    WriteBytes(dir.path() / "unended.ini", "[S]\nk=1\nlast=2");
    for (const char* name : {"latin1.ini", "utf8.ini", "repeats.ini", "again.ini", "zero.ini", "utf16.ini", "unended.ini"})
        ExpectSameReading(dir.File(name), name);

    CObjectStore missing;
    EXPECT_EQ(0, missing.LoadFromFileInParts(dir.File("missing.ini")));
    EXPECT_EQ(2u, missing.LastErrorCode);
}

}  // namespace
