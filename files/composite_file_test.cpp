#include "files/composite_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "core/preview.h"
#include "core/test_support.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"

namespace {

using win32_files::WriteNewFile;

const wchar_t kRun[] = L"D:\\Mig\\Data\\SRV01\\261207000000042";

// Data\a.txt with a protected list of its own; Data\Sub\b.bin of 4 GB and
// one byte, which failed to copy.
const char kSample[] = "files/testdata/sample_tree.bkp";

TEST(CompositeFileStoreTest, ATreeLoadsFromItsFileSavesBackUnchangedAndDumps) {
    corvan_test::ScopedTempDir dir;
    auto loaded = corvan_test::LoadedFrom<CCompositeFile>(corvan_test::TestData(kSample));
    EXPECT_EQ(corvan_test::Golden(kSample), corvan_test::SavedBytes(*loaded, dir.File("tree.bkp")));
    ASSERT_EQ(2, loaded->GetCount());
    EXPECT_EQ(nullptr, loaded->GetAt(2));
    auto* sub = dynamic_cast<CCompositeFile*>(loaded->GetAt(1));
    ASSERT_TRUE(sub);
    ASSERT_EQ(1, sub->GetCount());
    EXPECT_EQ(0x100000001ULL, sub->GetAt(0)->Size());
    std::wstring problem;
    EXPECT_EQ(0u, loaded->Validate(kRun, problem)) << corvan::ToUtf8(problem);

    // Dump prints each folder, then its children, leaving out what is not to be restored.
    EXPECT_EQ("\n dir: \\\\SRV01\\D$\\Data - attributes=00000010 "
              "\nfile: \\\\SRV01\\D$\\Data\\a.txt - attributes=00000021 "
              "\n dir: \\\\SRV01\\D$\\Data\\Sub - attributes=00000012 ",
              corvan_test::Printed([&] { loaded->Dump(); }));
}

TEST(CompositeFileStoreTest, TreesThatWouldWriteOrReadOutsideTheirFoldersAreRefused) {
    const wchar_t* const name = L"is not a plain file name";
    const wchar_t* const outside = L"lies outside its folder";
    const wchar_t* const root = L"is not a folder path ending in the folder's name";
    struct {
        const char* what;
        std::function<void(CCompositeFile&)> spoil;
        const wchar_t* why;  // each is refused for its own reason
    } cases[] = {
        {"a name that climbs", [](CCompositeFile& t) { t.GetAt(0)->FileName = L"..\\..\\Windows\\evil.dll"; }, name},
        {"a name of dots", [](CCompositeFile& t) { t.GetAt(0)->FileName = L".."; }, name},
        {"a name with a drive", [](CCompositeFile& t) { t.GetAt(0)->FileName = L"C:evil.dll"; }, name},
        {"a file in another folder", [](CCompositeFile& t) { t.GetAt(0)->FilePath = L"\\\\SRV01\\C$\\Windows"; },
         outside},
        {"a folder outside its parent", [](CCompositeFile& t) { t.GetAt(1)->FilePath = L"\\\\SRV01\\C$\\Sub"; },
         outside},
        {"a copy outside its folder's copy", [](CCompositeFile& t) { t.GetAt(0)->BackupPath = L"C:\\Windows"; },
         L"has its copy outside its folder's copy"},
        {"copies outside the run folder", [](CCompositeFile& t) { t.BackupPath = L"D:\\Mig\\Data\\SRV01\\Other"; },
         L"has its copies outside the backup's run folder"},
        {"a root path with dots", [](CCompositeFile& t) { t.FilePath = L"\\\\SRV01\\D$\\x\\..\\Data"; }, root},
        {"a root that is no full path", [](CCompositeFile& t) { t.FilePath = L"My\\Data"; }, root},
        {"an unreadable list", [](CCompositeFile& t) { t.GetAt(0)->OwnDacl->Valid = false; },
         L"has an unreadable access list"},
    };
    for (const auto& c : cases) {
        auto tree = corvan_test::LoadedFrom<CCompositeFile>(corvan_test::TestData(kSample));
        c.spoil(*tree);
        std::wstring problem;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), tree->Validate(kRun, problem)) << c.what;
        EXPECT_NE(std::wstring::npos, problem.find(c.why)) << c.what << ": " << corvan::ToUtf8(problem);
    }
}

TEST(CompositeFileStoreTest, AFileNestingDeeperThanTheLimitIsRefused) {
    corvan_test::ScopedTempDir dir;
    // The root and its folders: at most kMaxNestingDepth levels in all.
    for (int levels : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
        std::string text, path = "D:";
        for (int i = 1; i <= levels; ++i) {
            path += "\\d";
            text += "[" + std::to_string(i) + "]\r\nclass=CCompositeFile\r\nparent=" +
                    (i == 1 ? std::string("NULL") : std::to_string(i - 1)) + "\r\nFileName=\"d\"\r\nFilePath=\"" +
                    path + "\"\r\nRestore=dword:00000000\r\n";
        }
        corvan_test::WriteBytes(dir.path() / "in.bkp", text);
        CObjectStore store;
        ASSERT_TRUE(store.LoadFromFile(dir.File("in.bkp")));
        ASSERT_TRUE(store.Next());
        CCompositeFile tree;
        bool deep = levels > kMaxNestingDepth;
        EXPECT_EQ(deep ? 0 : 1, tree.LoadProperty(store)) << levels;
        EXPECT_EQ(deep ? static_cast<DWORD>(ERROR_INVALID_DATA) : 0u, tree.LastErrorCode) << levels;
        std::wstring problem;
        if (!deep) EXPECT_EQ(0u, tree.Validate(L"D:\\Mig", problem)) << corvan::ToUtf8(problem);
    }
}

class CompositeFileTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
    }
};

TEST_F(CompositeFileTest, FoldersPastTheNestingLimitAreNotReadButReported) {
    // Deep and kMaxNestingDepth folders below it: the last is one level too deep.
    std::wstring path = L"\\\\?\\D:\\Deep";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    for (int i = 0; i < kMaxNestingDepth; ++i) {
        path += L"\\d";
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << i;
    }
    CCompositeFile tree(L"\\\\SRV01");
    ASSERT_TRUE(tree.Enum(L"\\\\SRV01\\D$\\Deep"));
    EXPECT_EQ(std::make_tuple(1u, DWORD{ERROR_CANT_RESOLVE_FILENAME}),
              std::tie(tree.Tally.Failed, tree.Tally.FirstError));
    const CWin32File* last = &tree;
    for (int i = 0; i < kMaxNestingDepth; ++i) {
        EXPECT_EQ(1u, last->RestoreFlag) << i;
        last = static_cast<const CCompositeFile*>(last)->GetAt(0);
        ASSERT_TRUE(last) << i;
    }
    EXPECT_EQ(std::make_tuple(0u, DWORD{ERROR_CANT_RESOLVE_FILENAME}, 0),
              std::make_tuple(last->RestoreFlag, last->LastErrorCode,
                              static_cast<const CCompositeFile*>(last)->GetCount()));
}

TEST_F(CompositeFileTest, SharingViolationsAreRetriedAndNetworkErrorsInARowStopTheItem) {
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Data", nullptr));
    for (const wchar_t* name : {L"a", L"b", L"c", L"d", L"e"})
        ASSERT_TRUE(WriteNewFile(std::wstring(L"D:\\Data\\") + name + L".txt", "x"));
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Busy", nullptr));
    ASSERT_TRUE(WriteNewFile(L"D:\\Busy\\open.db", "x"));

    AddFault(L"CopyFileW:open.db=32,2");
    CCompositeFile busy(L"\\\\SRV01");
    ASSERT_TRUE(busy.Enum(L"\\\\SRV01\\D$\\Busy"));
    Watch(*busy.GetAt(0));
    DWORD start = GetTickCount();
    ASSERT_TRUE(busy.Backup(L"D:\\Copies1"));
    EXPECT_EQ(std::make_tuple(0u, 1u), std::tie(busy.Tally.Failed, busy.Tally.Files));
    EXPECT_TRUE(Logged(L"CWin32File::Backup,CWin32File::Backup,0"));  // saved, and logged so
    EXPECT_GE(GetTickCount() - start, 2000u);  // two pauses of a second

    // Four firings: three files fail, then the rest is not tried, so one is
    // left, and only one.
    AddFault(L"CopyFileW@SRV01=53,4");
    CCompositeFile data(L"\\\\SRV01");
    ASSERT_TRUE(data.Enum(L"\\\\SRV01\\D$\\Data"));
    ASSERT_TRUE(data.Backup(L"D:\\Copies2"));
    EXPECT_EQ(std::make_tuple(5u, 0u), std::tie(data.Tally.Failed, data.Tally.Files));
    for (int i = 0; i < data.GetCount(); ++i)
        EXPECT_EQ(std::make_tuple(DWORD{ERROR_BAD_NETPATH}, 0u),
                  std::tie(data.GetAt(i)->LastErrorCode, data.GetAt(i)->RestoreFlag));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH),
              win32_files::ErrorOf([] { return CopyFileW(L"D:\\Data\\a.txt", L"D:\\a.txt", TRUE); }));
    EXPECT_TRUE(CopyFileW(L"D:\\Data\\a.txt", L"D:\\a.txt", TRUE));
}

TEST_F(CompositeFileTest, AFolderThatCannotBeMadeFailsEverythingBelowIt) {
    for (const wchar_t* folder : {L"D:\\Data", L"D:\\Data\\Sub", L"D:\\Data\\Sub\\Inner"})
        ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    for (const wchar_t* file : {L"D:\\Data\\a.txt", L"D:\\Data\\Sub\\b.txt", L"D:\\Data\\Sub\\Inner\\c.txt"})
        ASSERT_TRUE(WriteNewFile(file, "x"));
    auto sub = [](CCompositeFile& tree) { return static_cast<CCompositeFile*>(tree.GetAt(1)); };

    // A listing that fails part way (after ".." and Inner) keeps what it read and fails its folder.
    AddFault(L"FindNextFileW:Sub\\*=0,2");
    AddFault(L"FindNextFileW:Sub\\*=59,1");
    CCompositeFile cut(L"\\\\SRV01");
    ASSERT_TRUE(cut.Enum(L"\\\\SRV01\\D$\\Data"));
    EXPECT_EQ(std::make_tuple(59u, 1), std::make_tuple(sub(cut)->LastErrorCode, sub(cut)->GetCount()));

    // Backup: a copy of the root that cannot be made fails the backup, counted once.
    AddFault(L"CreateDirectoryW:Copies0\\Data=5,1");
    CCompositeFile root(L"\\\\SRV01");
    ASSERT_TRUE(root.Enum(L"\\\\SRV01\\D$\\Data"));
    EXPECT_FALSE(root.Backup(L"D:\\Copies0"));
    EXPECT_EQ(std::make_tuple(1u, 5u, 0u), std::make_tuple(root.Tally.Failed, root.Tally.FirstError, root.Tally.Files));

    // Backup: nothing below Sub is copied, and none of it is taken for saved.
    AddFault(L"CreateDirectoryW:Copies1\\Data\\Sub=5,1");
    CCompositeFile failed(L"\\\\SRV01");
    ASSERT_TRUE(failed.Enum(L"\\\\SRV01\\D$\\Data"));
    ASSERT_TRUE(failed.Backup(L"D:\\Copies1"));
    // Failed: Sub, b.txt, Inner, c.txt.
    EXPECT_EQ(std::make_tuple(4u, 1u), std::tie(failed.Tally.Failed, failed.Tally.Files));
    const CWin32File* c = static_cast<CCompositeFile*>(sub(failed)->GetAt(1))->GetAt(0);
    EXPECT_EQ(std::make_tuple(0u, 0u, 5u), std::tie(sub(failed)->RestoreFlag, c->RestoreFlag, c->LastErrorCode));

    // Restore: the same below a folder that cannot be made again; the rest comes back.
    CCompositeFile whole(L"\\\\SRV01");
    ASSERT_TRUE(whole.Enum(L"\\\\SRV01\\D$\\Data"));
    ASSERT_TRUE(whole.Backup(L"D:\\Copies2"));
    ASSERT_EQ(0u, whole.Tally.Failed);
    ASSERT_TRUE(DeleteFileW(L"D:\\Data\\a.txt"));
    std::filesystem::remove_all(HostPathOf(L"SRV01", L"D:\\Data\\Sub"));
    // A preview of the first tree's restore names a.txt, whose copy is lost since.
    ASSERT_TRUE(DeleteFileW(L"D:\\Copies1\\Data\\a.txt"));
    {
        corvan::PreviewScope preview(true);
        EXPECT_FALSE(failed.Restore());
        EXPECT_EQ(std::make_tuple(1u, 2u), std::tie(failed.Tally.Failed, failed.LastErrorCode));
    }
    CWin32File* a = whole.GetAt(0);
    a->CreationTime = {};  // a copy kept without its creation time still gets its write time
    a->LastWriteTime = {0, 0x01D00000};
    AddFault(L"CreateDirectoryW:D$\\Data\\Sub=5,1");
    EXPECT_FALSE(whole.Restore());
    EXPECT_EQ(std::make_tuple(4u, 1u, 5u), std::tie(whole.Tally.Failed, whole.Tally.Files, whole.LastErrorCode));
    EXPECT_EQ(1u, static_cast<CCompositeFile*>(sub(whole)->GetAt(1))->GetAt(0)->RestoreFlag);
    EXPECT_EQ("x", win32_files::ReadWholeFile(L"D:\\Data\\a.txt"));
    WIN32_FILE_ATTRIBUTE_DATA written{};
    ASSERT_TRUE(GetFileAttributesExW(L"D:\\Data\\a.txt", GetFileExInfoStandard, &written));
    EXPECT_EQ(0x01D00000u, written.ftLastWriteTime.dwHighDateTime);
}

TEST_F(CompositeFileTest, AnAccountTheTargetDoesNotKnowIsSetByItsSid) {
    ASSERT_TRUE(WriteNewFile(L"D:\\orphan.txt", "x"));
    CFileDacl dacl;
    dacl.Protected = 1;
    dacl.Entries = {{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, L"S-1-5-21-9-9-9-4242", L"OLDDOMAIN\\gone"}};
    std::wstring call;
    ASSERT_EQ(0u, dacl.Apply(L"\\\\?\\D:\\orphan.txt", L"", call)) << corvan::ToUtf8(call);
    EXPECT_EQ((std::vector<win32_files::AceEntry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001F01FF, L"S-1-5-21-9-9-9-4242"}}),
              win32_files::DaclOf(L"D:\\orphan.txt"));
    // Only a lookup that found no account names one.
    CWin32File file;
    CFileTransfer transfer(nullptr, L"Restore");
    file.RecordFailure(transfer, L"Apply", L"LookupAccountName(OLDDOMAIN\\gone)", ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::wstring::npos, file.ErrorDescription.find(L"Account:")) << corvan::ToUtf8(file.ErrorDescription);
}

}  // namespace
