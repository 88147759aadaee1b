// The simulated file calls' own side: other machines' drives through
// network paths, times, sizes and attributes taken from the host, and
// injected failures. What the calls do is stated in
// platform/conformance/files_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::wstring>;

// SRV01 is the local machine with drives C and D; SRV02 is a second server.
class FilesTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddDirectory(L"SRV01", L"D:\\");
        AddDirectory(L"SRV02", L"D:\\");
        savedCurrent_ = sim::CurrentDirectory();
    }
    void TearDown() override {
        sim::SetCurrentDirectoryText(savedCurrent_);
        SimWorldTest::TearDown();
    }

    // Every name a search returns, in order; empty when the search fails.
    Names List(const std::wstring& pattern) {
        Names names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (FindNextFileW(find, &data));
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
        FindClose(find);
        return names;
    }

    WIN32_FIND_DATAW Entry(const std::wstring& path) {
        WIN32_FIND_DATAW data;
        std::memset(&data, 0xAB, sizeof data);
        HANDLE find = FindFirstFileW(path.c_str(), &data);
        EXPECT_NE(INVALID_HANDLE_VALUE, find) << corvan::ToUtf8(path);
        FindClose(find);
        return data;
    }

    std::wstring savedCurrent_;
};

// The last error of a call that fails, with a sentinel in place before it.
template <class Call>
DWORD ErrorOf(Call call) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(call());
    return GetLastError();
}

TEST_F(FilesTest, NetworkPathsReachEveryMachinesDrives) {
    ASSERT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\Data", nullptr));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV02", L"D:\\Data")));
    for (const wchar_t* name : {L"b.txt", L"A.txt", L"_under"}) AddFile(L"SRV02", std::wstring(L"D:\\Data\\") + name, "");
    EXPECT_EQ((Names{L".", L"..", L"A.txt", L"b.txt", L"_under"}), List(L"\\\\srv02\\d$\\DATA\\*.*"));
    // A drive's root has no "." and "..".
    EXPECT_EQ((Names{L"Data"}), List(L"\\\\SRV02\\D$\\*"));

    AddFile(L"SRV01", L"D:\\src.txt", "from srv01");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV01", L"D:\\src.txt").c_str(), times, 0));
    ASSERT_TRUE(CopyFileW(L"D:\\src.txt", L"\\\\SRV02\\D$\\Data\\copy.txt", TRUE));
    EXPECT_EQ("from srv01", ReadHostFile(HostPathOf(L"SRV02", L"D:\\Data\\copy.txt")));
    FILETIME written = Entry(L"\\\\SRV02\\D$\\Data\\copy.txt").ftLastWriteTime;  // kept from the source
    EXPECT_EQ(126444736000000000ULL, (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);

    // An unknown machine, or a share or drive it does not have.
    WIN32_FIND_DATAW data;
    const std::pair<std::function<bool()>, DWORD> cases[] = {
        {[] { return CreateDirectoryW(L"\\\\NOSUCH\\D$\\Data", nullptr); }, ERROR_BAD_NETPATH},
        {[] { return CreateDirectoryW(L"\\\\SRV02\\Z$\\Data", nullptr); }, ERROR_BAD_NET_NAME},
        {[&] { return FindFirstFileW(L"\\\\NOSUCH\\D$\\*.*", &data) != INVALID_HANDLE_VALUE; }, ERROR_BAD_NETPATH},
        {[&] { return FindFirstFileW(L"\\\\SRV02\\Nope\\*.*", &data) != INVALID_HANDLE_VALUE; }, ERROR_BAD_NET_NAME},
        {[] { return CopyFileW(L"\\\\NOSUCH\\D$\\src.txt", L"D:\\copy.txt", FALSE); }, ERROR_BAD_NETPATH},
        {[] { return CopyFileW(L"D:\\src.txt", L"\\\\SRV02\\Nope\\copy.txt", FALSE); }, ERROR_BAD_NET_NAME},
        {[] { return SetCurrentDirectoryW(L"\\\\SRV02\\"); }, ERROR_BAD_NET_NAME},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].second, ErrorOf(cases[i].first)) << i;
}

TEST_F(FilesTest, TimesSizesAndAttributesComeFromTheHost) {
    AddFile(L"SRV01", L"D:\\T\\old.txt", "abc");
    AddFile(L"SRV01", L"D:\\T\\.profile", "");
    AddFile(L"SRV01", L"D:\\T\\locked.txt", "");
    // 2001-09-09 01:46:40 UTC, and 500 ns later.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV01", L"D:\\T\\old.txt").c_str(), times, 0));
    ASSERT_EQ(0, ::chmod(HostPathOf(L"SRV01", L"D:\\T\\locked.txt").c_str(), 0444));
    // Sparse, so the test writes no 4 GB.
    int fd = ::open(HostPathOf(L"SRV01", L"D:\\T\\big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, (1LL << 32) + 7));
    ::close(fd);

    WIN32_FIND_DATAW data = Entry(L"D:\\T\\old.txt");
    auto ticks = [](FILETIME ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    EXPECT_EQ(126444736000000005ULL, ticks(data.ftLastWriteTime));  // 100-ns units since 1601
    EXPECT_EQ(126444736000000000ULL, ticks(data.ftLastAccessTime));
    EXPECT_EQ(3u, data.nFileSizeLow);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);
    data = Entry(L"D:\\T\\big.bin");
    EXPECT_EQ(1u, data.nFileSizeHigh);
    EXPECT_EQ(7u, data.nFileSizeLow);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY),
              Entry(L"D:\\T\\locked.txt").dwFileAttributes);
    // A leading dot hides nothing on Windows.
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), Entry(L"D:\\T\\.profile").dwFileAttributes);

    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(L"d:\\t"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(L"\\\\SRV01\\D$\\T\\OLD.TXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              ErrorOf([] { return GetFileAttributesW(L"D:\\T\\new.txt") != INVALID_FILE_ATTRIBUTES; }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              ErrorOf([] { return GetFileAttributesW(L"D:\\None\\new.txt") != INVALID_FILE_ATTRIBUTES; }));
}

TEST_F(FilesTest, InjectedFaultsNameTheMachineAndThePath) {
    AddFile(L"SRV02", L"D:\\Data\\a.txt", "a");
    AddFile(L"SRV01", L"D:\\x.txt", "x");
    AddFault(L"CopyFileW@SRV02=5,1");
    AddFault(L"FindFirstFileW:Secret=5");
    AddFault(L"CreateDirectoryW@SRV01=112");

    // The copy to SRV02 fails once, then works.
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              ErrorOf([] { return CopyFileW(L"D:\\x.txt", L"\\\\SRV02\\D$\\Data\\x.txt", FALSE); }));
    EXPECT_TRUE(CopyFileW(L"D:\\x.txt", L"\\\\SRV02\\D$\\Data\\x.txt", FALSE));

    WIN32_FIND_DATAW data;
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ErrorOf([&] {
                  return FindFirstFileW(L"\\\\SRV02\\D$\\Secret\\*.*", &data) != INVALID_HANDLE_VALUE;
              }));
    EXPECT_EQ((Names{L".", L"..", L"a.txt", L"x.txt"}), List(L"\\\\SRV02\\D$\\Data\\*.*"));

    // Drive paths are on the local machine.
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), ErrorOf([] { return CreateDirectoryW(L"D:\\New", nullptr); }));
    EXPECT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\New", nullptr));
}

}  // namespace
