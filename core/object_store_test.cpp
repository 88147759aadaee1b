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
using corvan_test::ScopedTempDir;
using corvan_test::SourceFile;
using corvan_test::WriteBytes;

class ObjectStoreFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger_.AddTarget(L"Recorder", &recorder_);
        store_.Logger = &logger_;
    }
    std::wstring Copy(const std::string& testdata) {
        std::filesystem::copy_file(SourceFile("core/testdata/" + testdata), dir_.path() / testdata);
        return dir_.File(testdata);
    }

    ScopedTempDir dir_;
    corvan_test::RecordingTarget recorder_;
    CLogger logger_;
    CObjectStore store_;
};

TEST_F(ObjectStoreFileTest, ServiceSectionLoadsAndSavesBackUnchanged) {
    std::wstring in = Copy("service.ini");
    ASSERT_EQ(1, store_.LoadFromFile(in));
    ASSERT_EQ(6u, store_.GetEntryCount());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(L"1", store_.GetEntryAt(i).Section);
        EXPECT_EQ(i + 1, store_.GetEntryAt(i).EntryNumber);
    }
    std::wstring name;
    EXPECT_EQ(1, store_.GetValue(L"1", L"servicename", name));
    EXPECT_EQ(L"Spooler", name);

    ASSERT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/service.ini")), ReadBytes(dir_.path() / "out.ini"));
}

TEST_F(ObjectStoreFileTest, CanonicalFileRoundTripsByteForByte) {
    ASSERT_EQ(1, store_.LoadFromFile(Copy("canonical.ini")));
    std::wstring text;
    store_.GetValue(L"Control", L"Caf\u00e9", text);
    EXPECT_EQ(L"na\u00efve \u00a0 text", text);  // bytes above 127 are Latin-1
    store_.GetValue(L"Control", L"LogLocation", text);
    EXPECT_EQ(L"C:\\Temp\\", text);
    // "Control" occurs twice; both blocks belong to the same section name.
    store_.GetValue(L"control", L"BackupExecutionDatetime", text);
    EXPECT_EQ(L"05.06.2024 10:11:12", text);

    ASSERT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/canonical.ini")), ReadBytes(dir_.path() / "out.ini"));
}

TEST_F(ObjectStoreFileTest, EveryLineFormLoadsAsTheTableSays) {
    ASSERT_EQ(1, store_.LoadFromFile(Copy("forms.ini")));
    struct Expected {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
        DWORD number;
    };
    const Expected expected[] = {
        {L"", L"top", L"before any section", 1},
        {L"Control", L"Name", L"", 2},
        {L"Control", L"key ", L" value", 3},
        {L"Control", L"", L"=starts with equals", 4},
        {L"Control", L"indented", L"yes", 5},
        {L"Control", L"[unclosed", L"", 6},
        {L"Control", L"dup", L"1", 7},
        {L"Control", L"dup", L"2", 9},  // the repeated dup=1 was line 8
        {L"Other", L"z", L"9", 10},
        {L"Control", L"again", L"1", 11},
        {L"Control", L"empty", L"", 12},
        {L" spaced ", L"x", L"1", 13},  // last line without a line end
    };
    ASSERT_EQ(std::size(expected), store_.GetEntryCount());
    for (size_t i = 0; i < std::size(expected); ++i) {
        const CStoreEntry& e = store_.GetEntryAt(i);
        EXPECT_EQ(expected[i].section, e.Section) << i;
        EXPECT_EQ(expected[i].key, e.Key) << i;
        EXPECT_EQ(expected[i].value, e.Value) << i;
        EXPECT_EQ(expected[i].number, e.EntryNumber) << i;
    }
    std::wstring last;
    store_.GetValue(L"Control", L"dup", last);
    EXPECT_EQ(L"2", last);
    std::vector<std::wstring> all;
    store_.GetValues(L"Control", L"dup", all);
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2"}), all);

    // Bare names come back as name="", the empty-key entry writes no line, and
    // "Control" reappears because "Other" came between its entries.
    ASSERT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ(ReadBytes(SourceFile("core/testdata/forms_saved.ini")), ReadBytes(dir_.path() / "out.ini"));
}

TEST_F(ObjectStoreFileTest, ZeroByteEndsTheText) {
    WriteBytes(dir_.path() / "z.ini", std::string("[S]\r\na=1\r\nb=2", 14) + std::string("\0c=3\r\n", 6));
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("z.ini")));
    ASSERT_EQ(2u, store_.GetEntryCount());
    EXPECT_EQ(L"2", store_.GetEntryAt(1).Value);
}

TEST_F(ObjectStoreFileTest, BackslashBeforeLineFeedJoinsLines) {
    WriteBytes(dir_.path() / "j.ini", "[S]\na=one\\\ntwo\nb=3\n");
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("j.ini")));
    ASSERT_EQ(2u, store_.GetEntryCount());
    EXPECT_EQ(L"one\\\ntwo", store_.GetEntryAt(0).Value);
    EXPECT_EQ(L"b", store_.GetEntryAt(1).Key);
    EXPECT_EQ(2u, store_.GetEntryAt(1).EntryNumber);
    // A backslash as the very last byte does not run past the end.
    WriteBytes(dir_.path() / "k.ini", "c=4\\");
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("k.ini")));
    EXPECT_EQ(L"4\\", store_.GetEntryAt(2).Value);
}

TEST_F(ObjectStoreFileTest, LoadingAddsToTheEntriesAndDropsIdenticalOnes) {
    store_.AddEntry(L"Control", L"key ", L" value", 0);
    ASSERT_EQ(1, store_.LoadFromFile(Copy("forms.ini")));
    EXPECT_EQ(12u, store_.GetEntryCount());  // 1 kept + 11 new
    EXPECT_EQ(0u, store_.GetCursor());
}

TEST_F(ObjectStoreFileTest, EmptyFileLoadsAndEmptyStoreSavesTwoEmptyLines) {
    WriteBytes(dir_.path() / "empty.ini", "");
    ASSERT_EQ(1, store_.LoadFromFile(dir_.File("empty.ini")));
    EXPECT_EQ(0u, store_.GetEntryCount());
    ASSERT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ("\r\n\r\n", ReadBytes(dir_.path() / "out.ini"));
}

TEST_F(ObjectStoreFileTest, MissingFileFailsAndLeavesTheStoreAlone) {
    store_.AddEntry(L"S", L"k", L"v", 0);
    std::wstring path = dir_.File("missing.ini");
    EXPECT_EQ(0, store_.LoadFromFile(path));
    EXPECT_EQ(1u, store_.GetEntryCount());
    EXPECT_EQ(L"2", store_.ErrorCode);
    EXPECT_EQ(2u, store_.LastErrorCode);
    EXPECT_EQ(L"", store_.ErrorWin32API);
    EXPECT_EQ(L"CObjectStore::LoadFromFile(" + path + L")", store_.ErrorFunction);
    EXPECT_EQ(L"The system cannot find the file specified.  ", store_.ErrorDescription);
    ASSERT_EQ(1u, recorder_.texts.size());
    EXPECT_EQ(static_cast<DWORD>(kLogError), recorder_.levels[0]);
}

TEST_F(ObjectStoreFileTest, SuccessIsLoggedWithTheOperationTwice) {
    std::wstring path = Copy("service.ini");
    ASSERT_EQ(1, store_.LoadFromFile(path));
    std::wstring op = L"CObjectStore::LoadFromFile(" + path + L")";
    ASSERT_EQ(1u, recorder_.texts.size());
    EXPECT_EQ(op + L"," + op + L",0", recorder_.texts[0]);
    EXPECT_EQ(static_cast<DWORD>(kLogInformation), recorder_.levels[0]);
    EXPECT_EQ(L"", store_.ErrorCode);
}

TEST_F(ObjectStoreFileTest, FileThatCannotBeCreatedReportsTheOpenCategory) {
    store_.AddEntry(L"S", L"k", L"v", 0);
    EXPECT_EQ(0, store_.SaveToFile(dir_.File("no/such/folder/out.ini")));
    EXPECT_EQ(L"CStdioFile.Open()", store_.ErrorWin32API);
    EXPECT_EQ(3u, store_.LastErrorCode);  // bad path
    EXPECT_EQ(L"3", store_.ErrorCode);
    EXPECT_EQ(0, store_.SaveToReport(dir_.File("no/such/folder/report.txt")));
    EXPECT_EQ(L"CStdioFile.Open()", store_.ErrorWin32API);
}

TEST_F(ObjectStoreFileTest, CharacterAbove255FailsTheWriteAndKeepsEarlierLines) {
    store_.AddEntry(L"S", L"first", L"1", 0);
    store_.AddEntry(L"S", L"second", L"\u20ac", 0);
    store_.AddEntry(L"S", L"third", L"3", 0);
    EXPECT_EQ(0, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ("[S]\r\nfirst=1\r\n", ReadBytes(dir_.path() / "out.ini"));
    EXPECT_EQ(13u, store_.LastErrorCode);
    EXPECT_EQ(L"", store_.ErrorWin32API);
}

TEST_F(ObjectStoreFileTest, SaveToReportAppendsOnlyTheValues) {
    WriteBytes(dir_.path() / "report.txt", "earlier line\r\n");
    store_.AddEntry(L"share", L"Public", L"Result: OK;first ", 0);
    store_.AddEntry(L"Port", L"LPT1:", L"Result: NOK;second ", 5);
    ASSERT_EQ(1, store_.SaveToReport(dir_.File("report.txt")));
    ASSERT_EQ(1, store_.SaveToReport(dir_.File("report.txt")));
    EXPECT_EQ("earlier line\r\nResult: OK;first \r\nResult: NOK;second \r\nResult: OK;first \r\nResult: NOK;second \r\n",
              ReadBytes(dir_.path() / "report.txt"));
}

TEST_F(ObjectStoreFileTest, SavedObjectsReloadWithTheirSections) {
    store_.NewSection(L"class", L"CShare", 0);
    store_.AddToSection(L"parent", store_.GetParentSection());
    store_.NewSection(L"class", L"CShare", 0);
    store_.AddToSection(L"parent", L"NULL");
    store_.SetValue(L"1", L"Late", L"\"added later\"");
    ASSERT_EQ(1, store_.SaveToFile(dir_.File("out.ini")));
    EXPECT_EQ(store_.GetEntryCount(), store_.GetCursor());  // saving leaves the cursor at the end
    EXPECT_EQ(
        "[1]\r\nclass=CShare\r\nparent=NULL\r\n[2]\r\nclass=CShare\r\nparent=NULL\r\n[1]\r\nLate=\"added later\"\r\n\r\n\r\n",
        ReadBytes(dir_.path() / "out.ini"));
}

TEST(ObjectStoreTest, AddEntryRefusesOnlyExactDuplicates) {
    CObjectStore store;
    EXPECT_EQ(1, store.AddEntry(L"S", L"k", L"v", 1));
    EXPECT_EQ(0, store.AddEntry(L"S", L"k", L"v", 2));
    EXPECT_EQ(1, store.AddEntry(L"s", L"k", L"v", 3));
    EXPECT_EQ(1, store.AddEntry(L"S", L"K", L"v", 4));
    EXPECT_EQ(1, store.AddEntry(L"S", L"k", L"V", 5));
    EXPECT_EQ(4u, store.GetEntryCount());
    // AddToSection does not check.
    store.SetCurrentSection(L"S");
    EXPECT_EQ(1, store.AddToSection(L"k", L"v"));
    EXPECT_EQ(5u, store.GetEntryCount());
}

TEST(ObjectStoreTest, NewSectionNumbersSectionsAndMovesTheParent) {
    CObjectStore store;
    EXPECT_EQ(L"NULL", store.GetParentSection());
    store.NewSection(L"class", L"A", 0);
    EXPECT_EQ(L"1", store.GetCurrentSection());
    EXPECT_EQ(L"NULL", store.GetParentSection());
    store.NewSection(L"class", L"B", 7);
    EXPECT_EQ(L"2", store.GetCurrentSection());
    EXPECT_EQ(L"1", store.GetParentSection());
    EXPECT_EQ(2, store.GetSectionCounter());
    EXPECT_EQ(7u, store.GetEntryAt(1).EntryNumber);
    // Sections may repeat an existing entry: no duplicate check.
    store.SetCurrentSection(L"1");
    store.AddToSection(L"class", L"A");
    EXPECT_EQ(3u, store.GetEntryCount());
}

TEST(ObjectStoreTest, SetValueReplacesTheFirstExactMatch) {
    CObjectStore store;
    store.AddEntry(L"Control", L"Status", L"one", 4);
    store.AddEntry(L"Control", L"Status", L"two", 5);
    store.SetValue(L"Control", L"Status", L"three");
    EXPECT_EQ(L"three", store.GetEntryAt(0).Value);
    EXPECT_EQ(4u, store.GetEntryAt(0).EntryNumber);
    EXPECT_EQ(L"two", store.GetEntryAt(1).Value);
    // Case counts: this adds an entry.
    store.SetValue(L"control", L"Status", L"four");
    EXPECT_EQ(3u, store.GetEntryCount());
    EXPECT_EQ(0u, store.GetEntryAt(2).EntryNumber);
    // The old value is free again, the new one is taken.
    EXPECT_EQ(1, store.AddEntry(L"Control", L"Status", L"one", 0));
    EXPECT_EQ(0, store.AddEntry(L"Control", L"Status", L"three", 0));
    DWORD number = 0;
    EXPECT_EQ(1, store.FindEntry(L"Control", L"Status", L"three", number));
    EXPECT_EQ(4u, number);
}

TEST(ObjectStoreTest, ReadingRules) {
    CObjectStore store;
    store.AddEntry(L"Backup", L"Share", L"\"Public\"", 1);
    store.AddEntry(L"BACKUP", L"share", L"sz:Users", 2);
    store.AddEntry(L"Backup", L"Share", L"dword:0000000a", 3);
    store.AddEntry(L"Backup", L"Count", L"\"dword:00000010\"", 4);
    store.AddEntry(L"Backup", L"Count", L"junk", 5);

    std::wstring text = L"untouched";
    EXPECT_EQ(0, store.GetValue(L"Backup", L"Missing", text));
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(1, store.GetValue(L"backup", L"SHARE", text));
    EXPECT_EQ(L"dword:0000000a", text);  // the last match, case ignored

    std::vector<std::wstring> values{L"kept"};
    store.GetValues(L"Backup", L"Share", values);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"Public", L"dword:0000000a"}), values);
    values.clear();
    store.GetValues(L"backup", L"Share", values);
    EXPECT_TRUE(values.empty());

    std::vector<DWORD> numbers;
    store.GetDwordValues(L"Backup", L"Count", numbers);
    EXPECT_EQ((std::vector<DWORD>{16, 0}), numbers);

    DWORD number = 99;
    EXPECT_EQ(0, store.FindEntry(L"backup", L"Share", L"\"Public\"", number));
    EXPECT_EQ(99u, number);
    EXPECT_EQ(1, store.FindEntry(L"BACKUP", L"share", L"sz:Users", number));
    EXPECT_EQ(2u, number);
}

TEST(ObjectStoreTest, CursorWalk) {
    CObjectStore store;
    EXPECT_EQ(0, store.Next());
    EXPECT_EQ(0, store.Previous());
    store.AddEntry(L"1", L"class", L"CShare", 1);
    store.AddEntry(L"1", L"NetName", L"\"Public\"", 2);
    store.AddEntry(L"2", L"class", L"CPort", 3);

    ASSERT_EQ(1, store.Next());
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"NetName", store.CurrentKey());
    EXPECT_EQ(L"\"Public\"", store.CurrentValue());
    EXPECT_EQ(L"1", store.CurrentEntrySection());
    EXPECT_EQ(2u, store.CurrentNumber());
    EXPECT_EQ(L"1", store.GetCurrentSection());

    std::wstring s, k, v;
    DWORD n = 0;
    ASSERT_EQ(1, store.NextEntry(s, k, v, n));
    EXPECT_EQ(L"CPort", v);
    EXPECT_EQ(L"NetName", store.CurrentKey());  // NextEntry leaves the registers alone
    EXPECT_EQ(0, store.NextEntry(s, k, v, n));
    EXPECT_EQ(0, store.Next());
    EXPECT_EQ(L"NetName", store.CurrentKey());

    ASSERT_EQ(1, store.Previous());
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"CPort", store.CurrentValue());
    EXPECT_EQ(L"2", store.GetCurrentSection());
    store.Rewind();
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"class", store.CurrentKey());
}

TEST(ObjectStoreTest, ObjectTableIsExactAndReplaces) {
    CObjectStore store;
    CBaseObject a, b;
    CBaseObject* found = nullptr;
    EXPECT_EQ(0, store.LookupObject(L"1", found));
    store.RegisterObject(L"1", &a);
    store.RegisterObject(L"1", &b);
    ASSERT_EQ(1, store.LookupObject(L"1", found));
    EXPECT_EQ(&b, found);
    store.RegisterObject(L"Key", &a);
    EXPECT_EQ(0, store.LookupObject(L"key", found));
}

TEST(ObjectStoreTest, DumpPrintsEntriesFromTheCursorLiterally) {
    CObjectStore store;
    store.AddEntry(L"A", L"skip", L"me", 0);
    store.AddEntry(L"A", L"k", L"%s %d", 0);
    store.AddEntry(L"A", L"", L"no key", 0);
    store.AddEntry(L"B", L"x", L"1", 0);
    store.Next();
    ::testing::internal::CaptureStdout();
    store.Dump();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ("\nk=%s %d\n\nx=1\n\n\n", out);
    EXPECT_EQ(1u, store.GetCursor());
}

// The indexes must answer as a scan of the entries would, through any mix of
// operations; checked against a plain list.
class ReferenceStore {
public:
    int AddEntry(const std::wstring& s, const std::wstring& k, const std::wstring& v, DWORD n) {
        for (const auto& e : entries)
            if (e.Section == s && e.Key == k && e.Value == v) return 0;
        entries.push_back({s, k, v, n});
        return 1;
    }
    void SetValue(const std::wstring& s, const std::wstring& k, const std::wstring& v) {
        for (auto& e : entries)
            if (e.Section == s && e.Key == k) {
                e.Value = v;
                return;
            }
        AddEntry(s, k, v, 0);
    }
    std::wstring GetValue(const std::wstring& s, const std::wstring& k) const {
        std::wstring out = L"<none>";
        for (const auto& e : entries)
            if (corvan::EqualsNoCase(e.Section, s) && corvan::EqualsNoCase(e.Key, k)) out = StoreTextRule(e.Value);
        return out;
    }
    long FindEntry(const std::wstring& s, const std::wstring& k, const std::wstring& v) const {
        for (const auto& e : entries)
            if (e.Section == s && e.Key == k && e.Value == v) return e.EntryNumber;
        return -1;
    }
    std::vector<CStoreEntry> entries;
};

void RunAgainstReference(unsigned seed, int values, int operations) {
    std::mt19937 random(seed);
    const std::vector<std::wstring> sections{L"a", L"A", L"b", L"\u00c9"};
    const std::vector<std::wstring> keys{L"k", L"K", L"x", L"\u00e9"};
    auto pick = [&](const std::vector<std::wstring>& list) { return list[random() % list.size()]; };
    auto value = [&] { return std::to_wstring(random() % values); };

    CObjectStore store;
    ReferenceStore reference;
    for (int op = 0; op < operations; ++op) {
        std::wstring s = pick(sections), k = pick(keys), v = value();
        DWORD n = static_cast<DWORD>(op);
        switch (random() % 4) {
        case 0:
        case 1:
            ASSERT_EQ(reference.AddEntry(s, k, v, n), store.AddEntry(s, k, v, n)) << op;
            break;
        case 2:
            store.SetCurrentSection(s);
            store.AddToSection(k, v);
            reference.entries.push_back({s, k, v, 0});
            break;
        case 3:
            store.SetValue(s, k, v);
            reference.SetValue(s, k, v);
            break;
        }
        std::wstring qs = pick(sections), qk = pick(keys), qv = value();
        std::wstring got = L"<none>";
        store.GetValue(qs, qk, got);
        ASSERT_EQ(reference.GetValue(qs, qk), got) << op;
        DWORD number = 0;
        long expected = reference.FindEntry(qs, qk, qv);
        ASSERT_EQ(expected >= 0 ? 1 : 0, store.FindEntry(qs, qk, qv, number)) << op;
        if (expected >= 0) ASSERT_EQ(static_cast<DWORD>(expected), number) << op;
    }
    ASSERT_EQ(reference.entries.size(), store.GetEntryCount());
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        EXPECT_EQ(reference.entries[i].Section, store.GetEntryAt(i).Section);
        EXPECT_EQ(reference.entries[i].Key, store.GetEntryAt(i).Key);
        EXPECT_EQ(reference.entries[i].Value, store.GetEntryAt(i).Value);
    }
}

TEST(ObjectStoreTest, IndexesAgreeWithAScanFewValues) { RunAgainstReference(1, 3, 4000); }

TEST(ObjectStoreTest, IndexesAgreeWithAScanManyValues) { RunAgainstReference(2, 500, 20000); }

}  // namespace
