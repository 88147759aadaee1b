#include "core/object_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/store_value.h"
#include "core/test_support.h"
#include "diagnostics/logger.h"
#include "platform/sim/world.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::WriteBytes;

class ObjectStoreFileTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        Watch(store_);
    }
    static std::wstring Input(const std::string& name) { return corvan_test::TestData("core/testdata/" + name); }
    std::string SavedBytes() {
        EXPECT_EQ(1, store_.SaveToFile(WorldFile("out.ini")));
        EXPECT_EQ(0u, store_.LastErrorCode);
        return ReadBytes(WorldRoot() / "out.ini");
    }

    CObjectStore store_;
};

// Each file loads, answers for its values, and saves back byte for byte.
TEST_F(ObjectStoreFileTest, FilesRoundTripByteForByte) {
    const struct {
        const char* file;
        const wchar_t *section, *key, *value;
        std::vector<std::wstring> registry;
    } cases[] = {
        {"service.ini", L"1", L"servicename", L"Spooler", {}},
        {"canonical.ini", L"Control", L"Caf\u00e9", L"na\u00efve \u00a0 text", {}},
        // Text beyond Latin-1 makes the whole file UTF-8, the Latin-1 text before it too.
        {"unicode.ini", L"Control", L"DefaultReportName", L"Rapport caf\u00e9.txt",
         {L"SOFTWARE\\Gr\u00fc\u00dfe \u03a9mega\",\"\u041e\u0442\u0447\u0451\u0442 \u20ac \U0001F600.bkp"}},
    };
    for (const auto& c : cases) {
        CObjectStore store;
        Watch(store);
        ASSERT_EQ(1, store.LoadFromFile(Input(c.file))) << c.file;
        std::wstring value;
        std::vector<std::wstring> registry;
        store.GetValue(c.section, c.key, value);
        store.GetValues(L"BACKUP", L"REGISTRY", registry);
        EXPECT_EQ(std::make_pair(std::wstring(c.value), c.registry), std::make_pair(value, registry)) << c.file;
        EXPECT_EQ(1, store.SaveToFile(WorldFile("out.ini")));
        EXPECT_EQ(corvan_test::Golden(std::string("core/testdata/") + c.file), ReadBytes(WorldRoot() / "out.ini"));
    }
    // The load is logged as one operation.
    std::wstring op = L"CObjectStore::LoadFromFile(" + Input("service.ini") + L")";
    EXPECT_EQ(op + L"," + op + L",0", log_.texts.at(0));
}

TEST_F(ObjectStoreFileTest, ByteOrderMarksChooseTheEncoding) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xEF\xBB\xBF" "k=\xC3\xA9\xE2\x82\xAC", L"k=\u00e9\u20ac"},
        {std::string("\xFF\xFE" "k\0=\0\xE9\0\xAC\x20=\xD8\0\xDE", 14), L"k=\u00e9\u20ac\U0001F600"},
        {std::string("\xFE\xFF" "\0k\0=\0\xE9\x20\xAC" "A", 11), L"k=\u00e9\u20acA"},  // a stray last byte kept
        // A lone high surrogate stays as it is; what follows it is not taken into it.
        {std::string("\xFF\xFE" "k\0=\0\0\xD8" "A\0", 10), std::wstring(L"k=") + wchar_t(0xD800) + L'A'},
        {"\xEF\xBB" "k=\xC3\xA9", L"\u00ef\u00bbk=\u00c3\u00a9"},  // no whole mark: Latin-1
    };
    for (const auto& [bytes, expected] : cases) {
        WriteBytes(WorldRoot() / "marked.ini", bytes);
        CObjectStore store;
        ASSERT_EQ(1, store.LoadFromFile(WorldFile("marked.ini")));
        EXPECT_EQ(std::vector<std::wstring>{L"|" + expected}, corvan_test::EntryLines(store)) << bytes.size();
        EXPECT_FALSE(store.LoadMetZero());  // a whole last unit is no zero byte
    }
}

TEST_F(ObjectStoreFileTest, EveryLineForm) {
    ASSERT_EQ(1, store_.LoadFromFile(Input("forms.ini")));
    ASSERT_EQ(12u, store_.GetEntryCount());
    // The saved file shows the rest; an entry without key is not saved.
    EXPECT_EQ(L"=starts with equals", store_.GetEntryAt(3).Value);
    EXPECT_EQ(9u, store_.GetEntryAt(7).EntryNumber);  // the dropped repeat of dup=1 was counted
    EXPECT_EQ(13u, store_.GetEntryAt(11).EntryNumber);  // last line, without line end
    EXPECT_EQ(corvan_test::Golden("core/testdata/forms_saved.ini"), SavedBytes());
}

TEST_F(ObjectStoreFileTest, ZeroByteAndBackslashes) {
    // A line ending in a backslash ends there with LF line ends as with CR
    // LF, and as the file's last byte; text after a zero byte is not read.
    for (auto [end, zero] : {std::pair<std::string, bool>{"\n", true}, {"\r\n", true}, {"\r\n", false}}) {
        CObjectStore store;
        std::string text = "[S]" + end + "a=D:\\mig\\" + end + "b=2" + end + "c=x\\\\" + end + "d=1\\";
        WriteBytes(WorldRoot() / "a.ini", text + (zero ? std::string("\0e=3", 4) : ""));
        ASSERT_EQ(1, store.LoadFromFile(WorldFile("a.ini")));
        EXPECT_EQ((std::vector<std::wstring>{L"S|a=D:\\mig\\", L"S|b=2", L"S|c=x\\\\", L"S|d=1\\"}),
                  corvan_test::EntryLines(store));
        EXPECT_EQ(zero, store.LoadMetZero());
    }
}

TEST_F(ObjectStoreFileTest, RepeatsAreDroppedWhereverTheFirstOneIs) {
    // 100 lines, each value repeating the one 37 lines before; one line
    // repeats an entry the store held before the load.
    std::string text = "[S]\n";
    for (int i = 0; i < 100; ++i) text += "k=" + std::to_string(i % 37) + "\n";
    text += "before=1\n";
    WriteBytes(WorldRoot() / "r.ini", text);
    store_.AddEntry(L"S", L"before", L"1", 7);
    ASSERT_EQ(1, store_.LoadFromFile(WorldFile("r.ini")));
    ASSERT_EQ(38u, store_.GetEntryCount());
    for (size_t i = 1; i < 38; ++i) {
        EXPECT_EQ(std::to_wstring(i - 1), store_.GetEntryAt(i).Value) << i;
        EXPECT_EQ(i, store_.GetEntryAt(i).EntryNumber) << i;  // lines counted, repeats too
    }
    DWORD number = 0;
    EXPECT_EQ(1, store_.FindEntry(L"S", L"k", L"36", number));
    EXPECT_EQ(37u, number);
    EXPECT_EQ(0, store_.AddEntry(L"S", L"k", L"20", 0));
    EXPECT_EQ(1, store_.AddEntry(L"S", L"k", L"37", 0));

    // Read again, nothing is new.
    ASSERT_EQ(1, store_.LoadFromFile(WorldFile("r.ini")));
    EXPECT_EQ(39u, store_.GetEntryCount());
    EXPECT_EQ(L"37", store_.GetEntryAt(38).Value);
}

TEST_F(ObjectStoreFileTest, EmptyFileEmptyStoreAndMissingFile) {
    WriteBytes(WorldRoot() / "empty.ini", "");
    ASSERT_EQ(1, store_.LoadFromFile(WorldFile("empty.ini")));
    EXPECT_EQ(0u, store_.GetEntryCount());
    EXPECT_EQ("\r\n\r\n", SavedBytes());

    // A missing file fails the load, logged as one error, and leaves the store alone.
    store_.AddEntry(L"S", L"k", L"v", 0);
    log_.levels.clear();
    EXPECT_EQ(0, store_.LoadFromFile(WorldFile("missing.ini")));
    EXPECT_EQ(1u, store_.GetEntryCount());
    EXPECT_EQ(std::make_tuple(L"2", L"", L"The system cannot find the file specified.  "),
              std::tie(store_.ErrorCode, store_.ErrorWin32API, store_.ErrorDescription));
    EXPECT_EQ(std::vector<DWORD>{kLogError}, log_.levels);
    // So does a file whose size cannot be learnt.
    sim::AddFaultRule(L"GetFileSize:empty.ini=5");
    EXPECT_EQ(0, store_.LoadFromFile(WorldFile("empty.ini")));
    EXPECT_EQ(L"5", store_.ErrorCode);
    sim::ClearFaultRules();
}

TEST_F(ObjectStoreFileTest, SaveToReportAppendsTheValuesInTheFilesEncoding) {
    store_.AddEntry(L"share", L"Public", L"a\u00e9", 0);
    store_.AddEntry(L"Port", L"LPT1:", L"\u20ac", 5);
    const std::pair<std::string, std::string> cases[] = {
        // A file without a mark stays Latin-1; what it cannot hold shows as a code.
        {"earlier\r\n", "earlier\r\na\xE9\r\n<U+20AC>\r\n"},
        {"", "\xEF\xBB\xBF" "a\xC3\xA9\r\n\xE2\x82\xAC\r\n"},
        {"\xEF\xBB\xBF", "\xEF\xBB\xBF" "a\xC3\xA9\r\n\xE2\x82\xAC\r\n"},
        {"\xFF\xFE", std::string("\xFF\xFE" "a\0\xE9\0\r\0\n\0\xAC\x20\r\0\n\0", 16)},
    };
    for (const auto& [before, after] : cases) {
        WriteBytes(WorldRoot() / "report.txt", before);
        ASSERT_EQ(1, store_.SaveToReport(WorldFile("report.txt")));
        EXPECT_EQ(after, ReadBytes(WorldRoot() / "report.txt")) << testing::PrintToString(before);
    }
    const std::wstring op = L"CObjectStore::SaveToReport(" + WorldFile("report.txt") + L")";
    EXPECT_EQ(std::vector<std::wstring>(4, op + L"," + op + L",0"), log_.texts);  // each logged, as a load is

    // From U+10000 on, a character is a pair of UTF-16 units.
    CObjectStore wide;
    wide.AddEntry(L"S", L"k", L"\U00010000", 0);
    WriteBytes(WorldRoot() / "wide.txt", "\xFF\xFE");
    ASSERT_EQ(1, wide.SaveToReport(WorldFile("wide.txt")));
    EXPECT_EQ(std::string("\xFF\xFE\x00\xD8\x00\xDC\r\0\n\0", 10), ReadBytes(WorldRoot() / "wide.txt"));
}

TEST(ObjectStoreTest, WritingEntries) {
    CObjectStore store;
    EXPECT_EQ(1, store.AddEntry(L"S", L"k", L"v", 1));
    EXPECT_EQ(0, store.AddEntry(L"S", L"k", L"v", 2));
    EXPECT_EQ(1, store.AddEntry(L"s", L"k", L"v", 3));  // case counts

    EXPECT_EQ(L"NULL", store.GetParentSection());
    store.NewSection(L"class", L"A", 0);
    EXPECT_EQ(L"NULL", store.GetParentSection());
    store.NewSection(L"class", L"B", 0);
    EXPECT_EQ(L"2", store.GetCurrentSection());
    EXPECT_EQ(L"1", store.GetParentSection());
    store.AddToSection(L"class", L"B");  // no duplicate check

    store.AddEntry(L"C", L"Status", L"two", 9);
    store.SetValue(L"S", L"k", L"new");
    EXPECT_EQ(1u, store.GetEntryAt(0).EntryNumber);
    EXPECT_EQ(1, store.AddEntry(L"S", L"k", L"v", 0));  // the old value is free again
    store.SetValue(L"c", L"Status", L"x");              // no exact match: added
    EXPECT_EQ((std::vector<std::wstring>{L"S|k=new", L"s|k=v", L"1|class=A", L"2|class=B", L"2|class=B",
                                         L"C|Status=two", L"S|k=v", L"c|Status=x"}),
              corvan_test::EntryLines(store));
}

TEST(ObjectStoreTest, ReadingEntries) {
    CObjectStore store;
    store.AddEntry(L"Backup", L"Share", L"\"Public\"", 1);
    store.AddEntry(L"BACKUP", L"share", L"sz:Users", 2);
    store.AddEntry(L"Backup", L"Count", L"\"dword:00000010\"", 3);
    store.AddEntry(L"Backup", L"Count", L"junk", 4);

    std::wstring text = L"untouched";
    EXPECT_EQ(0, store.GetValue(L"Backup", L"Missing", text));
    EXPECT_EQ(L"untouched", text);
    store.GetValue(L"backup", L"SHARE", text);
    EXPECT_EQ(L"Users", text);  // the last match, case ignored
    std::vector<std::wstring> values{L"kept"};
    store.GetValues(L"Backup", L"Share", values);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"Public"}), values);
    std::vector<DWORD> numbers;
    store.GetDwordValues(L"Backup", L"Count", numbers);
    EXPECT_EQ((std::vector<DWORD>{16, 0}), numbers);
    DWORD number = 0;
    EXPECT_EQ(0, store.FindEntry(L"backup", L"Share", L"\"Public\"", number));
    EXPECT_EQ(1, store.FindEntry(L"BACKUP", L"share", L"sz:Users", number));
    EXPECT_EQ(2u, number);
}

TEST(ObjectStoreTest, CursorAndDump) {
    CObjectStore store;
    EXPECT_EQ(0, store.Previous());
    store.AddEntry(L"1", L"class", L"CShare", 1);
    store.AddEntry(L"1", L"", L"no key", 2);
    store.AddEntry(L"2", L"k", L"%s %d", 3);
    ASSERT_EQ(1, store.Next());
    std::wstring s, k, v;
    DWORD n = 0;
    ASSERT_EQ(1, store.NextEntry(s, k, v, n));
    EXPECT_EQ(L"class", store.CurrentKey());  // NextEntry leaves the registers alone
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(std::make_pair(std::wstring(L"2"), 3u), std::make_pair(store.GetCurrentSection(), store.CurrentNumber()));
    EXPECT_EQ(0, store.Next());
    EXPECT_EQ(L"k", store.CurrentKey());

    store.Rewind();
    store.Next();
    EXPECT_EQ("\n\nk=%s %d\n\n\n", corvan_test::Printed([&] { store.Dump(); }));
    EXPECT_EQ(1u, store.GetCursor());

    CBaseObject object;
    CBaseObject* found = nullptr;
    store.RegisterObject(L"Key", &object);
    EXPECT_EQ(0, store.LookupObject(L"key", found));
    ASSERT_EQ(1, store.LookupObject(L"Key", found));
    EXPECT_EQ(&object, found);
}

// The indexes must answer as a scan would, through any mix of writes, asked
// after every write or after runs of them.
void RunAgainstAScan(unsigned seed, int values, int operations, int queryEvery = 1) {
    std::mt19937 random(seed);
    const std::vector<std::wstring> names{L"a", L"A", L"b", L"\u00c9", L"\u00e9"};
    auto pick = [&] { return names[random() % names.size()]; };
    auto value = [&] { return std::to_wstring(random() % values); };
    CObjectStore store;
    std::vector<CStoreEntry> scan;
    auto find = [&](const std::wstring& s, const std::wstring& k, const std::wstring* v) -> CStoreEntry* {
        for (auto& e : scan)
            if (e.Section == s && e.Key == k && (!v || e.Value == *v)) return &e;
        return nullptr;
    };
    for (int op = 0; op < operations; ++op) {
        std::wstring s = pick(), k = pick(), v = value();
        int kind = static_cast<int>(random() % 3);
        if (kind == 0) {
            bool fresh = !find(s, k, &v);
            ASSERT_EQ(fresh ? 1 : 0, store.AddEntry(s, k, v, op)) << op;
            if (fresh) scan.push_back({s, k, v, static_cast<DWORD>(op)});
        } else if (kind == 1) {
            store.SetCurrentSection(s);
            store.AddToSection(k, v);
            scan.push_back({s, k, v, 0});
        } else {
            store.SetValue(s, k, v);
            if (CStoreEntry* e = find(s, k, nullptr))
                e->Value = v;
            else
                scan.push_back({s, k, v, 0});
        }
        if (op % queryEvery != queryEvery - 1) continue;
        std::wstring qs = pick(), qk = pick(), qv = value(), got = L"-", expected = L"-";
        for (const auto& e : scan)
            if (corvan::EqualsNoCase(e.Section, qs) && corvan::EqualsNoCase(e.Key, qk)) expected = e.Value;
        store.GetValue(qs, qk, got);
        ASSERT_EQ(expected, got) << op;
        DWORD number = 0;
        CStoreEntry* e = find(qs, qk, &qv);
        ASSERT_EQ(e ? 1 : 0, store.FindEntry(qs, qk, qv, number)) << op;
        if (e) ASSERT_EQ(e->EntryNumber, number) << op;
    }
    ASSERT_EQ(scan.size(), store.GetEntryCount());
    for (size_t i = 0; i < scan.size(); ++i) ASSERT_EQ(scan[i].Value, store.GetEntryAt(i).Value) << i;
}

TEST(ObjectStoreTest, EntriesKeepTheirPlacesAcrossBlocks) {
    // Past the first small block and past a full large one.
    CObjectStore store;
    const size_t count = 20000;
    for (size_t i = 0; i < count; ++i) {
        if (i % 5 == 0) store.NewSection(L"class", L"C", static_cast<DWORD>(i));
        store.AddToSection(L"n", std::to_wstring(i));
    }
    ASSERT_EQ(count + count / 5, store.GetEntryCount());
    for (size_t i : {size_t{0}, size_t{63}, size_t{64}, size_t{65}, size_t{8255}, size_t{8256}, size_t{16447},
                     size_t{16448}, store.GetEntryCount() - 1}) {
        const CStoreEntry& e = store.GetEntryAt(i);
        size_t item = i / 6 * 5 + (i % 6 ? i % 6 - 1 : 0);
        EXPECT_EQ(std::to_wstring(i / 6 + 1), e.Section) << i;
        EXPECT_EQ(i % 6 ? std::to_wstring(item) : L"C", e.Value) << i;
    }
    std::wstring value;
    EXPECT_EQ(1, store.GetValue(L"2801", L"class", value));
    EXPECT_EQ(L"C", value);
    DWORD number = 0;
    EXPECT_EQ(1, store.FindEntry(L"4000", L"n", L"19999", number));
}

TEST(ObjectStoreTest, IndexesAgreeWithAScan) {
    for (unsigned seed = 1; seed <= 30; ++seed) RunAgainstAScan(seed, 3, 1500);  // many identical entries
    RunAgainstAScan(99, 500, 6000);  // growth
    for (unsigned seed = 31; seed <= 40; ++seed) RunAgainstAScan(seed, 4, 3000, 97);
}

// A store written and loaded a part at a time gives the bytes and the
// entries the whole-store operations give.

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

TEST(ObjectStorePartsTest, FailedOrUnfinishedWriteLeavesNoFile) {
    corvan_test::ScopedTempDir dir;
    // Without a rule the store is let go of before EndFile.
    for (const wchar_t* rule : {L"WriteFile=112,1", L"MoveFileExW=5,1", L""}) {
        sim::ClearFaultRules();
        if (*rule) sim::AddFaultRule(rule);
        {
            CObjectStore store;
            ASSERT_EQ(1, store.BeginFile(dir.File("out.ini")));
            Fill(store, L"x", 0);
            if (*rule) EXPECT_EQ(0, store.EndFile()) << rule;
            if (*rule) EXPECT_NE(0u, store.LastErrorCode) << rule;
        }
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
    // Read to its end, the file is let go: an open that shares nothing is taken.
    HANDLE alone = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, alone) << label;
    if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
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

    CObjectStore parts;
    EXPECT_EQ(0, parts.LoadFromFileInParts(dir.File("missing.ini")));
    EXPECT_EQ(2u, parts.LastErrorCode);
    // A file whose sections come in order is never held whole; a read that
    // fails part way (the first read passes) fails the load.
    sim::AddFaultRule(L"ReadFile:latin1.ini=0,1");
    sim::AddFaultRule(L"ReadFile:latin1.ini=23,1");
    ASSERT_EQ(1, parts.LoadFromFileInParts(dir.File("latin1.ini")));
    ASSERT_EQ(1, parts.Next());
    EXPECT_LT(parts.GetEntryCount(), static_cast<size_t>(kEntries));
    while (parts.Next()) {}
    EXPECT_EQ(23u, parts.LastErrorCode);
    sim::ClearFaultRules();
}

// Saving never leaves a part of a file: a save that fails keeps the file
// that was there, and an append that fails is taken back out.
class StoreSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_.Logger = nullptr;  // the log files must not meet the fault rules
        store_.AddEntry(L"S", L"k", L"new", 0);
    }

    // Every name in the folder: no temporary file may stay behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    corvan_test::ScopedTempDir dir_;
    CObjectStore store_;
};

TEST_F(StoreSaveTest, AFailedSaveKeepsTheFileThatWasThere) {
    struct Case {
        const wchar_t* rule;
        DWORD category;
        const wchar_t* description;
        const wchar_t* api;  // how the failed call is named: its start
    } cases[] = {
        {L"WriteFile:out.ini=112", 13, L"The disk is full.", L""},
        {L"WriteFile:out.ini=5", 5, L"Access to the file was denied.", L""},
        {L"MoveFileExW:out.ini=32", 11, L"The file is in use by another process.", L"MoveFileEx("},
        {L"CreateFileW:out.ini=3", 3, L"All or part of the path is invalid.", L"CStdioFile.Open()"},
    };
    for (const auto& c : cases) {
        WriteBytes(dir_.path() / "out.ini", "[S]\r\nk=old\r\n\r\n\r\n");
        sim::ClearFaultRules();
        sim::AddFaultRule(c.rule);
        EXPECT_EQ(0, store_.SaveToFile(dir_.File("out.ini"))) << corvan::ToUtf8(c.rule);
        EXPECT_EQ("[S]\r\nk=old\r\n\r\n\r\n", ReadBytes(dir_.path() / "out.ini"));
        EXPECT_EQ(std::make_tuple(c.category, std::to_wstring(c.category), std::wstring(c.description)),
                  std::tie(store_.LastErrorCode, store_.ErrorCode, store_.ErrorDescription));
        EXPECT_EQ(0u, store_.ErrorWin32API.rfind(c.api, 0)) << corvan::ToUtf8(store_.ErrorWin32API);
        EXPECT_EQ(std::vector<std::string>{"out.ini"}, Names());
    }
    sim::ClearFaultRules();
}

TEST_F(StoreSaveTest, AFailedAppendIsTakenBackOut) {
    sim::AddFaultRule(L"WriteFile:.log=112");
    WriteBytes(dir_.path() / "report.log", "earlier\r\n");
    EXPECT_EQ(0, store_.SaveToReport(dir_.File("report.log")));
    EXPECT_EQ("earlier\r\n", ReadBytes(dir_.path() / "report.log"));
    EXPECT_EQ(std::make_tuple(13u, L"The disk is full."), std::tie(store_.LastErrorCode, store_.ErrorDescription));

    // A report the failed append would have begun is not left behind empty.
    EXPECT_EQ(0, store_.SaveToReport(dir_.File("new.log")));
    EXPECT_EQ(std::vector<std::string>{"report.log"}, Names());

    sim::ClearFaultRules();
    EXPECT_EQ(1, store_.SaveToReport(dir_.File("report.log")));
    EXPECT_EQ("earlier\r\nnew\r\n", ReadBytes(dir_.path() / "report.log"));
}

}  // namespace
