#include "core/object_store.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/store_value.h"
#include "core/test_support.h"
#include "diagnostics/logger.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::SourceFile;
using corvan_test::WriteBytes;

class ObjectStoreFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger_.AddTarget(L"Recorder", &recorder_);
        store_.Logger = &logger_;
    }
    std::wstring Copy(const std::string& name) {
        std::filesystem::copy_file(SourceFile("core/testdata/" + name), dir_.path() / name);
        return dir_.File(name);
    }
    std::string SavedBytes() {
        EXPECT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
        return ReadBytes(dir_.path() / "out.ini");
    }

    corvan_test::ScopedTempDir dir_;
    corvan_test::RecordingTarget recorder_;
    CLogger logger_;
    CObjectStore store_;
};

TEST_F(ObjectStoreFileTest, ServiceSectionRoundTrips) {
    std::wstring path = Copy("service.ini");
    ASSERT_EQ(1, store_.LoadFromFile(path));
    ASSERT_EQ(6u, store_.GetEntryCount());
    EXPECT_EQ(6u, store_.GetEntryAt(5).EntryNumber);
    std::wstring name;
    store_.GetValue(L"1", L"servicename", name);
    EXPECT_EQ(L"Spooler", name);
    std::wstring op = L"CObjectStore::LoadFromFile(" + path + L")";
    EXPECT_EQ(std::vector<std::wstring>{op + L"," + op + L",0"}, recorder_.texts);
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/service.ini")), SavedBytes());
}

TEST_F(ObjectStoreFileTest, CanonicalFileRoundTripsByteForByte) {
    ASSERT_EQ(1, store_.LoadFromFile(Copy("canonical.ini")));
    std::wstring text;
    store_.GetValue(L"Control", L"Caf\u00e9", text);
    EXPECT_EQ(L"na\u00efve \u00a0 text", text);
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/canonical.ini")), SavedBytes());
}

TEST_F(ObjectStoreFileTest, TextBeyondLatin1MakesTheWholeFileUtf8AndLoadsBack) {
    ASSERT_EQ(1, store_.LoadFromFile(Copy("unicode.ini")));
    std::vector<std::wstring> registry;
    store_.GetValues(L"BACKUP", L"REGISTRY", registry);
    EXPECT_EQ(std::vector<std::wstring>{L"SOFTWARE\\Gr\u00fc\u00dfe \u03a9mega\",\"\u041e\u0442\u0447\u0451\u0442 \u20ac "
                                        L"\U0001F600.bkp"},
              registry);
    std::wstring report;
    store_.GetValue(L"Control", L"DefaultReportName", report);
    EXPECT_EQ(L"Rapport caf\u00e9.txt", report);
    // The Latin-1 text before the first wider one is UTF-8 too.
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/unicode.ini")), SavedBytes());
}

TEST_F(ObjectStoreFileTest, ByteOrderMarksChooseTheEncoding) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xEF\xBB\xBF" "k=\xC3\xA9\xE2\x82\xAC", L"k=\u00e9\u20ac"},
        {std::string("\xFF\xFE" "k\0=\0\xE9\0\xAC\x20=\xD8\0\xDE", 14), L"k=\u00e9\u20ac\U0001F600"},
        {std::string("\xFE\xFF" "\0k\0=\0\xE9\x20\xAC", 10), L"k=\u00e9\u20ac"},
        {"\xEF\xBB" "k=\xC3\xA9", L"\u00ef\u00bbk=\u00c3\u00a9"},  // no whole mark: Latin-1
    };
    for (const auto& [bytes, expected] : cases) {
        WriteBytes(dir_.path() / "marked.ini", bytes);
        CObjectStore store;
        ASSERT_EQ(1, store.LoadFromFile(dir_.File("marked.ini")));
        ASSERT_EQ(1u, store.GetEntryCount()) << testing::PrintToString(bytes);
        EXPECT_EQ(expected, store.GetEntryAt(0).Key + L"=" + store.GetEntryAt(0).Value);
    }
}

TEST_F(ObjectStoreFileTest, EveryLineForm) {
    ASSERT_EQ(1, store_.LoadFromFile(Copy("forms.ini")));
    ASSERT_EQ(12u, store_.GetEntryCount());
    EXPECT_EQ(L"key ", store_.GetEntryAt(2).Key);
    EXPECT_EQ(L" value", store_.GetEntryAt(2).Value);
    EXPECT_EQ(L"=starts with equals", store_.GetEntryAt(3).Value);
    EXPECT_EQ(9u, store_.GetEntryAt(7).EntryNumber);  // the dropped repeat of dup=1 was counted
    EXPECT_EQ(L" spaced ", store_.GetEntryAt(11).Section);
    EXPECT_EQ(13u, store_.GetEntryAt(11).EntryNumber);  // last line, without line end
    std::wstring last;
    store_.GetValue(L"Control", L"dup", last);
    EXPECT_EQ(L"2", last);
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/forms_saved.ini")), SavedBytes());
}

TEST_F(ObjectStoreFileTest, ZeroByteAndBackslashes) {
    // A line ending in a backslash ends there with LF line ends as with CR LF.
    for (std::string end : {"\n", "\r\n"}) {
        CObjectStore store;
        std::string text = "[S]" + end + "a=D:\\mig\\" + end + "b=2" + end + "c=x\\\\" + end + "d=1\\";
        WriteBytes(dir_.path() / "a.ini", text + std::string("\0e=3", 4));
        ASSERT_EQ(1, store.LoadFromFile(dir_.File("a.ini")));
        ASSERT_EQ(4u, store.GetEntryCount());
        EXPECT_EQ(L"D:\\mig\\", store.GetEntryAt(0).Value);
        EXPECT_EQ(L"2", store.GetEntryAt(1).Value);
        EXPECT_EQ(L"x\\\\", store.GetEntryAt(2).Value);
        EXPECT_EQ(L"1\\", store.GetEntryAt(3).Value);  // text after the zero byte is not read
        EXPECT_TRUE(store.LoadMetZero());
    }
    WriteBytes(dir_.path() / "b.ini", "c=4\\");  // a backslash as the last byte
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("b.ini")));
    EXPECT_EQ(L"4\\", store_.GetEntryAt(0).Value);
    EXPECT_FALSE(store_.LoadMetZero());
}

TEST_F(ObjectStoreFileTest, EmptyFileAndEmptyStore) {
    WriteBytes(dir_.path() / "empty.ini", "");
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("empty.ini")));
    EXPECT_EQ(0u, store_.GetEntryCount());
    EXPECT_EQ("\r\n\r\n", SavedBytes());
}

TEST_F(ObjectStoreFileTest, MissingFileFailsAndLeavesTheStoreAlone) {
    store_.AddEntry(L"S", L"k", L"v", 0);
    EXPECT_EQ(0, store_.LoadFromFile(dir_.File("missing.ini")));
    EXPECT_EQ(1u, store_.GetEntryCount());
    EXPECT_EQ(L"2", store_.ErrorCode);
    EXPECT_EQ(L"", store_.ErrorWin32API);
    EXPECT_EQ(L"The system cannot find the file specified.  ", store_.ErrorDescription);
    EXPECT_EQ(std::vector<DWORD>{kLogError}, recorder_.levels);
}

TEST_F(ObjectStoreFileTest, WriteFailures) {
    EXPECT_EQ(0, store_.SaveToFile(dir_.File("no/such/out.ini")));
    EXPECT_EQ(L"CStdioFile.Open()", store_.ErrorWin32API);
    EXPECT_EQ(3u, store_.LastErrorCode);  // bad path
    EXPECT_EQ(L"All or part of the path is invalid.", store_.ErrorDescription);
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
        WriteBytes(dir_.path() / "report.txt", before);
        ASSERT_EQ(1, store_.SaveToReport(dir_.File("report.txt")));
        EXPECT_EQ(after, ReadBytes(dir_.path() / "report.txt")) << testing::PrintToString(before);
    }
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
    EXPECT_EQ(5u, store.GetEntryCount());

    store.AddEntry(L"C", L"Status", L"two", 9);
    store.SetValue(L"S", L"k", L"new");
    EXPECT_EQ(L"new", store.GetEntryAt(0).Value);
    EXPECT_EQ(1u, store.GetEntryAt(0).EntryNumber);
    EXPECT_EQ(1, store.AddEntry(L"S", L"k", L"v", 0));  // the old value is free again
    store.SetValue(L"c", L"Status", L"x");              // no exact match: added
    EXPECT_EQ(8u, store.GetEntryCount());
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
    EXPECT_EQ(L"2", store.GetCurrentSection());
    EXPECT_EQ(3u, store.CurrentNumber());
    EXPECT_EQ(0, store.Next());
    EXPECT_EQ(L"k", store.CurrentKey());

    store.Rewind();
    store.Next();
    ::testing::internal::CaptureStdout();
    store.Dump();
    EXPECT_EQ("\n\nk=%s %d\n\n\n", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(1u, store.GetCursor());

    CBaseObject object;
    CBaseObject* found = nullptr;
    store.RegisterObject(L"Key", &object);
    EXPECT_EQ(0, store.LookupObject(L"key", found));
    ASSERT_EQ(1, store.LookupObject(L"Key", found));
    EXPECT_EQ(&object, found);
}

// The indexes must answer as a scan would, through any mix of writes.
void RunAgainstAScan(unsigned seed, int values, int operations) {
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

TEST(ObjectStoreTest, IndexesAgreeWithAScan) {
    for (unsigned seed = 1; seed <= 30; ++seed) RunAgainstAScan(seed, 3, 1500);  // many identical entries
    RunAgainstAScan(99, 500, 6000);  // growth
}

}  // namespace
