#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text.h"
#include "platform/win32.h"

namespace {

class HostFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("corvan-fileio-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        wchar_t buffer[4096];
        DWORD n = GetCurrentDirectoryW(4096, buffer);
        saved_ = std::wstring(buffer, n);
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_.c_str());
        std::filesystem::remove_all(dir_);
    }
    std::wstring Path(const std::string& name) const { return corvan::FromUtf8((dir_ / name).string()); }

    std::filesystem::path dir_;
    std::wstring saved_;
};

TEST_F(HostFileTest, WriteThenReadBack) {
    HANDLE h = CreateFileW(Path("a.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(5u, written);
    ASSERT_TRUE(CloseHandle(h));

    h = CreateFileW(Path("a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD high = 0xdeadbeef;
    EXPECT_EQ(5u, GetFileSize(h, &high));
    EXPECT_EQ(0u, high);
    char buffer[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(5u, read);
    EXPECT_EQ(std::string("hello"), std::string(buffer, read));
    // At the end ReadFile succeeds with zero bytes.
    ASSERT_TRUE(ReadFile(h, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(0u, read);
    CloseHandle(h);
}

TEST_F(HostFileTest, OpenAlwaysAppendsAfterSeekToEnd) {
    std::ofstream(dir_ / "log.txt") << "one";
    HANDLE h = CreateFileW(Path("log.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(3u, SetFilePointer(h, 0, nullptr, FILE_END));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "two", 3, &written, nullptr));
    CloseHandle(h);
    std::ifstream in(dir_ / "log.txt");
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ("onetwo", content);
}

TEST_F(HostFileTest, MissingFileAndMissingFolderGiveDifferentErrors) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(Path("none.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(Path("no/none.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(Path("").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(HostFileTest, ClosedHandleIsInvalid) {
    HANDLE h = CreateFileW(Path("x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(CloseHandle(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    DWORD written = 7;
    EXPECT_FALSE(WriteFile(h, "a", 1, &written, nullptr));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(Path("x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
}

TEST_F(HostFileTest, RelativePathsFollowTheCurrentDirectory) {
    std::filesystem::create_directories(dir_ / "sub");
    ASSERT_TRUE(SetCurrentDirectoryW(Path("sub").c_str()));
    wchar_t buffer[4096];
    DWORD n = GetCurrentDirectoryW(4096, buffer);
    EXPECT_EQ(Path("sub"), std::wstring(buffer, n));
    // Too small a buffer reports the size needed, terminator included.
    EXPECT_EQ(n + 1, GetCurrentDirectoryW(n, buffer));

    HANDLE h = CreateFileW(L"..\\sub\\rel.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "sub" / "rel.txt"));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectoryW(L"missing"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(SetCurrentDirectoryW(L"rel.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), GetLastError());
}

}  // namespace
