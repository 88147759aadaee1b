// Copies, moves, deletes, full paths and folder creation as Windows does
// them, errors included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using namespace win32_files;
using NameList = std::vector<std::wstring>;

class FileOpsTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddDirectory(L"SRV01", L"D:\\");
        AddDirectory(L"SRV02", L"D:\\");
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Ops", nullptr));
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Ops\\Sub", nullptr));
        for (const wchar_t* name : {L"src.txt", L"hidden.txt", L"ro.txt", L"plain.txt"})
            ASSERT_TRUE(WriteNewFile(std::wstring(L"D:\\Ops\\") + name, corvan::ToUtf8(name)));
        ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\ro.txt", FILE_ATTRIBUTE_READONLY));
    }
};

TEST_F(FileOpsTest, CopyKeepsAttributesAndWriteTimeAndRefusesProtectedTargets) {
    HANDLE h = CreateFileW(L"D:\\Ops\\src.txt", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME old = FileTimeOf(125911584000000000ULL);
    ASSERT_TRUE(SetFileTime(h, &old, nullptr, &old));
    CloseHandle(h);
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\src.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileW(L"D:\\Ops\\src.txt", L"\\\\SRV02\\D$\\copy.txt", TRUE));
    WIN32_FILE_ATTRIBUTE_DATA copy{};
    ASSERT_TRUE(GetFileAttributesExW(L"\\\\SRV02\\D$\\copy.txt", GetFileExInfoStandard, &copy));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), copy.dwFileAttributes);
    EXPECT_EQ(125911584000000000ULL, Ticks(copy.ftLastWriteTime));
    EXPECT_NE(125911584000000000ULL, Ticks(copy.ftCreationTime));  // the copy is a new file
    EXPECT_EQ("src.txt", ReadWholeFile(L"\\\\SRV02\\D$\\copy.txt"));

    struct {
        const wchar_t* target;
        BOOL failIfExists;
        DWORD error;
    } cases[] = {
        {L"D:\\Ops\\PLAIN.TXT", TRUE, ERROR_FILE_EXISTS},  // names differing in case are one name
        {L"D:\\Ops\\hidden.txt", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return CopyFileW(L"\\\\SRV02\\D$\\copy.txt", c.target, c.failIfExists); }))
            << corvan::ToUtf8(c.target);
    EXPECT_EQ("plain.txt", ReadWholeFile(L"D:\\Ops\\plain.txt"));
    EXPECT_EQ("hidden.txt", ReadWholeFile(L"D:\\Ops\\hidden.txt"));
}

TEST_F(FileOpsTest, AFailedCopyLeavesNothingBehind) {
    AddFault(L"CopyFileW:src.txt=112,1");
    NameList before = Names(L"D:\\Ops\\Sub\\*");
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
              ErrorOf([] { return CopyFileW(L"D:\\Ops\\src.txt", L"D:\\Ops\\Sub\\src.txt", FALSE); }));
    EXPECT_EQ(before, Names(L"D:\\Ops\\Sub\\*"));
    // Over an existing file, the old content stays whole.
    ASSERT_TRUE(WriteNewFile(L"D:\\Ops\\Sub\\src.txt", "old content"));
    AddFault(L"CopyFileW:src.txt=112,1");
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
              ErrorOf([] { return CopyFileW(L"D:\\Ops\\src.txt", L"D:\\Ops\\Sub\\src.txt", FALSE); }));
    EXPECT_EQ((NameList{L"src.txt"}), Names(L"D:\\Ops\\Sub\\*"));
    EXPECT_EQ("old content", ReadWholeFile(L"D:\\Ops\\Sub\\src.txt"));
}

TEST_F(FileOpsTest, EachDriveIsAVolumeAndReadOnlyFilesAreNotDeleted) {
    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\Sub", L"D:\\Ops\\Moved", 0));  // folders move within a volume
    struct {
        const wchar_t* source;
        const wchar_t* target;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {L"D:\\Ops\\plain.txt", L"\\\\SRV02\\D$\\x.txt", 0, ERROR_NOT_SAME_DEVICE},
        {L"D:\\Ops\\plain.txt", L"\\\\SRV01\\C$\\x.txt", 0, ERROR_NOT_SAME_DEVICE},
        {L"D:\\Ops\\Moved", L"\\\\SRV02\\D$\\Moved", MOVEFILE_COPY_ALLOWED, ERROR_NOT_SAME_DEVICE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return MoveFileExW(c.source, c.target, c.flags); }))
            << corvan::ToUtf8(c.source) << " -> " << corvan::ToUtf8(c.target);
    // Another volume takes a file when a copy is allowed; the same volume by another name is no other.
    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\plain.txt", L"\\\\SRV02\\D$\\x.txt", MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ("plain.txt", ReadWholeFile(L"\\\\SRV02\\D$\\x.txt"));
    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\src.txt", L"\\\\SRV01\\D$\\Ops\\moved.txt", 0));

    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ErrorOf([] { return DeleteFileW(L"D:\\Ops\\ro.txt"); }));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(L"d:\\ops\\RO.TXT"));
    EXPECT_EQ((NameList{L"hidden.txt", L"Moved", L"moved.txt"}), Names(L"D:\\Ops\\*"));
}

TEST_F(FileOpsTest, FullPathNamesAndTheirFilePart) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\Ops\\Sub"));
    struct {
        const wchar_t* path;
        const wchar_t* full;
        const wchar_t* filePart;  // null: none
    } cases[] = {
        {L"a.txt", L"D:\\Ops\\Sub\\a.txt", L"a.txt"},
        {L"..\\b\\.\\c.txt", L"D:\\Ops\\b\\c.txt", L"c.txt"},
        {L"d:x", L"D:\\Ops\\Sub\\x", L"x"},
        {L"\\\\SRV02\\D$\\Data\\..\\y", L"\\\\SRV02\\D$\\y", L"y"},
        {L"D:\\Ops\\", L"D:\\Ops\\", nullptr},
    };
    for (const auto& c : cases) {
        WCHAR buffer[MAX_PATH];
        LPWSTR filePart = nullptr;
        DWORD n = GetFullPathNameW(c.path, MAX_PATH, buffer, &filePart);
        EXPECT_EQ(std::wstring(c.full), std::wstring(buffer, n)) << corvan::ToUtf8(c.path);
        if (c.filePart)
            EXPECT_EQ(std::wstring(c.filePart), filePart ? std::wstring(filePart) : L"<none>");
        else
            EXPECT_EQ(nullptr, filePart);
    }
    // Too small a buffer gives the size needed, terminator included.
    WCHAR small[4];
    EXPECT_EQ(std::wstring(L"D:\\Ops\\Sub\\a.txt").size() + 1, GetFullPathNameW(L"a.txt", 4, small, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), ErrorOf([&] { return GetFullPathNameW(L"", 4, small, nullptr); }));
}

TEST_F(FileOpsTest, CreateDirectoryLeavesRoomForAShortName) {
    // "D:\Ops\" and a name that ends the path at 248 characters, then at 249.
    std::wstring base = L"D:\\Ops\\";
    std::wstring fits = base + std::wstring(248 - base.size(), L'a');
    std::wstring tooLong = base + std::wstring(249 - base.size(), L'b');
    EXPECT_TRUE(CreateDirectoryW(fits.c_str(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE),
              ErrorOf([&] { return CreateDirectoryW(tooLong.c_str(), nullptr); }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ErrorOf([&] { return CreateDirectoryW(L"D:\\Ops\\sub", nullptr); }));
}

TEST_F(FileOpsTest, LongFormsLiftTheLengthLimitButNotTheNameLimit) {
    // Five folders of 60 characters and a name of 255: 566 characters to the file.
    std::wstring plain = L"D:\\Ops";
    for (int i = 0; i < 5; ++i) {
        plain += L"\\" + std::wstring(59, static_cast<wchar_t>(L'a' + i)) + L"x";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + plain).c_str(), nullptr)) << i;
    }
    const std::wstring file = plain + L"\\" + std::wstring(255, L'n');
    const std::wstring local = L"\\\\?\\" + file;
    const std::wstring network = L"\\\\?\\UNC\\SRV01\\D$" + file.substr(2);
    ASSERT_TRUE(WriteNewFile(local, "deep"));
    EXPECT_EQ("deep", ReadWholeFile(network));
    EXPECT_EQ((NameList{std::wstring(255, L'n')}), Names(L"\\\\?\\" + plain + L"\\*"));
    std::vector<WCHAR> buffer(network.size() + 1);
    EXPECT_EQ(network.size(), GetFullPathNameW(network.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr));
    EXPECT_EQ(network, std::wstring(buffer.data()));
    std::wstring huge = L"\\\\?\\D:";
    while (huge.size() <= 32767) huge += L"\\" + std::wstring(200, L'z');

    const std::wstring below260 = L"D:\\Ops\\" + std::wstring(259 - 7, L'n');
    struct {
        std::wstring path;
        DWORD error;
    } cases[] = {
        {file, ERROR_PATH_NOT_FOUND},  // 260 characters or more without the prefix
        {below260 + L"n", ERROR_PATH_NOT_FOUND},
        {below260, ERROR_FILE_NOT_FOUND},
        {L"\\\\?\\D:\\Ops\\" + std::wstring(256, L'n'), ERROR_INVALID_NAME},
        {L"\\\\?\\D:\\Ops\\Sub\\..\\src.txt", ERROR_INVALID_NAME},
        {L"\\\\?\\D:\\Ops/src.txt", ERROR_INVALID_NAME},
        {huge, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return GetFileAttributesW(c.path.c_str()) != INVALID_FILE_ATTRIBUTES; }))
            << c.path.size() << " characters";
}

}  // namespace
