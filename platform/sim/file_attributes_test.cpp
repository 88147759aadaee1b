// Attributes, times and reparse points of files and folders, as Windows
// reports and sets them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using namespace win32_files;

class FileAttributesTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
        ASSERT_TRUE(CreateDirectoryW(kRoot, nullptr));
    }
    static constexpr const wchar_t* kRoot = L"D:\\Attr";
    static std::wstring At(const std::wstring& name) { return std::wstring(kRoot) + L"\\" + name; }

    WIN32_FIND_DATAW Found(const std::wstring& path) {
        WIN32_FIND_DATAW data;
        std::memset(&data, 0xAB, sizeof data);
        HANDLE find = FindFirstFileW(path.c_str(), &data);
        EXPECT_NE(INVALID_HANDLE_VALUE, find) << corvan::ToUtf8(path);
        FindClose(find);
        return data;
    }
};

TEST_F(FileAttributesTest, BitsTheHostLacksAreKeptAndReportedByEveryCall) {
    ASSERT_TRUE(WriteNewFile(At(L"f.txt"), "x"));
    ASSERT_TRUE(CreateDirectoryW(At(L"dir").c_str(), nullptr));
    struct {
        const wchar_t* name;
        DWORD set;
        DWORD reported;
    } cases[] = {
        {L"f.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {L"f.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        // Nothing set is reported as "normal".
        {L"f.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {L"f.txt", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
        {L"dir", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"dir", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases) {
        std::wstring path = At(c.name);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.set)) << corvan::ToUtf8(path);
        EXPECT_EQ(c.reported, GetFileAttributesW(path.c_str())) << corvan::ToUtf8(path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(c.reported, data.dwFileAttributes);
        EXPECT_EQ(c.reported, Found(path).dwFileAttributes);
    }
    // A read-only folder still takes new files; a read-only file takes no writes.
    EXPECT_TRUE(WriteNewFile(At(L"dir\\inside.txt"), "y"));
    ASSERT_TRUE(SetFileAttributesW(At(L"f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(At(L"f.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    // Nor is it emptied by a refused replacement.
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ErrorOf([&] {
                  return CreateFileW(At(L"f.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr) !=
                         INVALID_HANDLE_VALUE;
              }));
    EXPECT_EQ("x", ReadWholeFile(At(L"f.txt")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              ErrorOf([&] { return SetFileAttributesW(At(L"none").c_str(), FILE_ATTRIBUTE_HIDDEN); }));
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              ErrorOf([&] { return GetFileAttributesExW(At(L"none\\x").c_str(), GetFileExInfoStandard, &data); }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              ErrorOf([&] { return GetFileAttributesExW(kRoot, GetFileExMaxInfoLevel, &data); }));
}

TEST_F(FileAttributesTest, TimesAreSetThroughAHandleWithAttributeAccess) {
    ASSERT_TRUE(WriteNewFile(At(L"t.txt"), "abc"));
    ASSERT_TRUE(CreateDirectoryW(At(L"folder").c_str(), nullptr));
    const uint64_t created = 125911584000000000ULL;  // 2000-01-01
    const uint64_t written = 130000000000000001ULL;  // 2012-12-12, to the 100 ns
    FILETIME c = FileTimeOf(created), w = FileTimeOf(written);

    for (const std::wstring& path : {At(L"t.txt"), At(L"folder")}) {
        // A folder opens only with backup semantics.
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << corvan::ToUtf8(path);
        ASSERT_TRUE(SetFileTime(h, &c, nullptr, &w));
        // Null leaves a time as it is.
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, nullptr));
        CloseHandle(h);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(created, Ticks(data.ftCreationTime));
        EXPECT_EQ(written, Ticks(data.ftLastWriteTime));
        WIN32_FIND_DATAW found = Found(path);
        EXPECT_EQ(created, Ticks(found.ftCreationTime));
        EXPECT_EQ(written, Ticks(found.ftLastWriteTime));
    }

    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(At(L"folder").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    HANDLE readOnly = CreateFileW(At(L"t.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ErrorOf([&] { return SetFileTime(readOnly, &c, &c, &c); }));
    CloseHandle(readOnly);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ErrorOf([&] { return SetFileTime(readOnly, &c, &c, &c); }));
}

TEST_F(FileAttributesTest, SymbolicLinksAreReparsePointsAndNotFollowed) {
    ASSERT_TRUE(CreateDirectoryW(At(L"real").c_str(), nullptr));
    ASSERT_TRUE(WriteNewFile(At(L"real\\data.bin"), "12345"));
    ASSERT_TRUE(CreateSymbolicLinkW(At(L"real\\loop").c_str(), kRoot, SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(CreateSymbolicLinkW(At(L"file.lnk").c_str(), At(L"real\\data.bin").c_str(), 0));

    WIN32_FIND_DATAW loop = Found(At(L"real\\loop"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), loop.dwFileAttributes);
    EXPECT_EQ(static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK), loop.dwReserved0);
    WIN32_FIND_DATAW file = Found(At(L"file.lnk"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT), file.dwFileAttributes);
    EXPECT_EQ(0u, file.nFileSizeLow);  // the link's size, not the target's
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              GetFileAttributesW(At(L"real\\loop").c_str()));
    // A listing of the folder that holds the loop ends.
    EXPECT_EQ((std::vector<std::wstring>{L"data.bin", L"loop"}), Names(At(L"real\\*")));
}

}  // namespace
