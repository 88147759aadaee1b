#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

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

    // Every name a search returns, in order; "" when the search fails.
    std::vector<std::wstring> List(const std::wstring& pattern) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (FindNextFileW(find, &data));
        lastListError_ = GetLastError();
        FindClose(find);
        return names;
    }

    std::wstring savedCurrent_;
    DWORD lastListError_ = 0;
};

using Names = std::vector<std::wstring>;

// The walk that creates a missing folder path one component at a time,
// moving the current directory along it.
bool WalkAndCreate(const std::wstring& path) {
    size_t i = path.find(L'\\');
    if (i == std::wstring::npos || i + 1 >= path.size()) return false;
    while (i + 1 < path.size()) {
        if (!SetCurrentDirectoryW((path.substr(0, i) + L"\\").c_str())) return false;
        size_t j = path.find(L'\\', i + 1);
        if (j == std::wstring::npos) j = path.size();
        std::wstring component = path.substr(i + 1, j - i - 1);
        if (!SetCurrentDirectoryW(component.c_str()) && !CreateDirectoryW(component.c_str(), nullptr)) return false;
        i = j;
    }
    return true;
}

TEST_F(FilesTest, WalkCreatesEachMissingFolderRelativeToTheCurrentDirectory) {
    AddDirectory(L"SRV01", L"D:\\Mig");
    ASSERT_TRUE(WalkAndCreate(L"D:\\Mig\\Data\\SRV01"));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01")));

    // Step by step, as the walk sees it.
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectoryW(L"Logs"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    ASSERT_TRUE(CreateDirectoryW(L"Logs", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(L"Logs"));
    WCHAR current[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(L"D:\\Logs", std::wstring(current, length));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Logs")));
}

TEST_F(FilesTest, WalkCannotCreateANetworkPath) {
    // The empty component between the two leading backslashes stops it.
    EXPECT_FALSE(WalkAndCreate(L"\\\\SRV02\\D$\\Mig"));
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV02", L"D:\\Mig")));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(FilesTest, CreateDirectoryErrors) {
    ASSERT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\Data", nullptr));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV02", L"D:\\Data")));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"\\\\SRV02\\D$\\data\\", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());

    AddFile(L"SRV01", L"D:\\file.txt", "x");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"D:\\file.txt", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"D:\\Missing\\Child", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV01", L"D:\\Missing")));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"\\\\NOSUCH\\D$\\Data", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), GetLastError());

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"\\\\SRV02\\Z$\\Data", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), GetLastError());
}

TEST_F(FilesTest, FolderListingStartsWithDotsAndIsSortedIgnoringCase) {
    AddFile(L"SRV02", L"D:\\Data\\b.txt", "bb");
    AddFile(L"SRV02", L"D:\\Data\\A.txt", "a");
    AddFile(L"SRV02", L"D:\\Data\\_under", "");
    AddFile(L"SRV02", L"D:\\Data\\Zeta", "");
    AddFile(L"SRV02", L"D:\\Data\\.profile", "p");
    AddDirectory(L"SRV02", L"D:\\Data\\c");

    // NTFS compares upper-case forms, so "_" (after "Z") comes last.
    Names expected = {L".", L"..", L".profile", L"A.txt", L"b.txt", L"c", L"Zeta", L"_under"};
    EXPECT_EQ(expected, List(L"\\\\SRV02\\D$\\Data\\*"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), lastListError_);
    EXPECT_EQ(expected, List(L"\\\\SRV02\\D$\\Data\\*.*"));
    EXPECT_EQ(expected, List(L"\\\\srv02\\d$\\DATA\\*.*"));
}

TEST_F(FilesTest, DriveRootsListNoDotEntries) {
    AddDirectory(L"SRV02", L"D:\\Data");
    AddFile(L"SRV02", L"D:\\boot.ini", "");
    EXPECT_EQ((Names{L"boot.ini", L"Data"}), List(L"\\\\SRV02\\D$\\*.*"));
    AddDirectory(L"SRV01", L"C:\\Temp");
    EXPECT_EQ((Names{L"Temp"}), List(L"C:\\*"));
}

TEST_F(FilesTest, WildcardsMatchIgnoringCase) {
    for (const char* name : {"a.txt", "B.TXT", "c.doc", "noext", "ab.txt", "x.tar.gz"})
        AddFile(L"SRV01", L"D:\\W\\" + corvan::FromUtf8(name), "");
    EXPECT_EQ((Names{L"a.txt", L"ab.txt", L"B.TXT"}), List(L"D:\\W\\*.txt"));
    EXPECT_EQ((Names{L"a.txt", L"B.TXT"}), List(L"D:\\W\\?.TxT"));
    EXPECT_EQ((Names{L"noext"}), List(L"D:\\W\\noext.*"));
    EXPECT_EQ((Names{L"x.tar.gz"}), List(L"D:\\W\\*.gz"));
    EXPECT_EQ((Names{L"ab.txt"}), List(L"D:\\W\\a*b*"));
    // Without a folder the search runs in the current directory.
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\W"));
    EXPECT_EQ((Names{L"c.doc"}), List(L"*.DOC"));
    EXPECT_EQ((Names{L"c.doc"}), List(L"d:c.*"));
}

TEST_F(FilesTest, SearchForOneNameReturnsItsEntry) {
    AddFile(L"SRV02", L"D:\\Data\\Report.TXT", "12345");
    WIN32_FIND_DATAW data;
    std::memset(&data, 0xAB, sizeof data);
    HANDLE find = FindFirstFileW(L"\\\\SRV02\\D$\\data", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_EQ(std::wstring(L"Data"), data.cFileName);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0u, data.nFileSizeLow);
    EXPECT_EQ(L'\0', data.cAlternateFileName[0]);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindNextFileW(find, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(find));

    find = FindFirstFileW(L"\\\\SRV02\\D$\\Data\\report.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_EQ(std::wstring(L"Report.TXT"), data.cFileName);
    EXPECT_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(5u, data.nFileSizeLow);
    EXPECT_EQ(0u, data.nFileSizeHigh);
    FindClose(find);
}

TEST_F(FilesTest, SearchErrors) {
    AddDirectory(L"SRV01", L"D:\\Empty");
    WIN32_FIND_DATAW data;
    struct Case {
        const wchar_t* pattern;
        DWORD error;
    } cases[] = {
        {L"D:\\Empty\\nothing.txt", ERROR_FILE_NOT_FOUND},
        {L"D:\\Empty\\*.txt", ERROR_FILE_NOT_FOUND},
        {L"D:\\Missing\\*.*", ERROR_PATH_NOT_FOUND},
        {L"D:\\Missing\\Deeper\\*.*", ERROR_PATH_NOT_FOUND},
        {L"D:\\Empty\\", ERROR_FILE_NOT_FOUND},
        {L"\\\\NOSUCH\\D$\\*.*", ERROR_BAD_NETPATH},
        {L"\\\\SRV02\\Nope\\*.*", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(c.pattern, &data)) << corvan::ToUtf8(c.pattern);
        EXPECT_EQ(c.error, GetLastError()) << corvan::ToUtf8(c.pattern);
    }
    // An empty folder still lists its dot entries.
    EXPECT_EQ((Names{L".", L".."}), List(L"D:\\Empty\\*"));
}

TEST_F(FilesTest, FindDataCarriesTimesSizesAndAttributes) {
    AddFile(L"SRV01", L"D:\\T\\old.txt", "abc");
    AddFile(L"SRV01", L"D:\\T\\.hidden-on-unix", "");
    AddFile(L"SRV01", L"D:\\T\\locked.txt", "");
    // 2001-09-09 01:46:40 UTC.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV01", L"D:\\T\\old.txt").c_str(), times, 0));
    ASSERT_EQ(0, ::chmod(HostPathOf(L"SRV01", L"D:\\T\\locked.txt").c_str(), 0444));
    {
        // Sparse, so the test writes no 4 GB.
        int fd = ::open(HostPathOf(L"SRV01", L"D:\\T\\big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ::ftruncate(fd, (1LL << 32) + 7));
        ::close(fd);
    }

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"D:\\T\\old.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    uint64_t written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(126444736000000005ULL, written);  // 100-ns units since 1601
    uint64_t accessed = (static_cast<uint64_t>(data.ftLastAccessTime.dwHighDateTime) << 32) |
                        data.ftLastAccessTime.dwLowDateTime;
    EXPECT_EQ(126444736000000000ULL, accessed);
    EXPECT_EQ(3u, data.nFileSizeLow);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);

    find = FindFirstFileW(L"D:\\T\\big.bin", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    EXPECT_EQ(1u, data.nFileSizeHigh);
    EXPECT_EQ(7u, data.nFileSizeLow);

    find = FindFirstFileW(L"D:\\T\\locked.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);

    // A leading dot hides nothing on Windows.
    find = FindFirstFileW(L"D:\\T\\.hidden-on-unix", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    EXPECT_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FilesTest, FindHandlesCloseOnce) {
    AddDirectory(L"SRV01", L"D:\\Data");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"D:\\Data", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_TRUE(FindClose(find));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindNextFileW(find, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(FilesTest, CopyFileCopiesAcrossMachinesAndKeepsTheWriteTime) {
    AddFile(L"SRV02", L"D:\\Data\\a.txt", "from srv02");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV02", L"D:\\Data\\a.txt").c_str(), times, 0));
    AddDirectory(L"SRV01", L"D:\\Backup");

    ASSERT_TRUE(CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\a.txt", TRUE));
    EXPECT_EQ("from srv02", ReadHostFile(HostPathOf(L"SRV01", L"D:\\Backup\\a.txt")));
    struct stat st;
    ASSERT_EQ(0, ::stat(HostPathOf(L"SRV01", L"D:\\Backup\\a.txt").c_str(), &st));
    EXPECT_EQ(1000000000, st.st_mtim.tv_sec);

    AddFile(L"SRV02", L"D:\\Data\\a.txt", "changed");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\A.TXT", TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
    EXPECT_EQ("from srv02", ReadHostFile(HostPathOf(L"SRV01", L"D:\\Backup\\a.txt")));

    ASSERT_TRUE(CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\A.TXT", FALSE));
    EXPECT_EQ("changed", ReadHostFile(HostPathOf(L"SRV01", L"D:\\Backup\\a.txt")));
    // The existing name is kept, not a second file made.
    auto entries = std::distance(fs::directory_iterator(HostPathOf(L"SRV01", L"D:\\Backup")), fs::directory_iterator());
    EXPECT_EQ(1, entries);
}

TEST_F(FilesTest, CopyFileErrors) {
    AddFile(L"SRV01", L"D:\\src.txt", "s");
    AddDirectory(L"SRV01", L"D:\\Folder");
    struct Case {
        const wchar_t* source;
        const wchar_t* target;
        DWORD error;
    } cases[] = {
        {L"D:\\none.txt", L"D:\\copy.txt", ERROR_FILE_NOT_FOUND},
        {L"D:\\NoFolder\\none.txt", L"D:\\copy.txt", ERROR_PATH_NOT_FOUND},
        {L"D:\\src.txt", L"D:\\NoFolder\\copy.txt", ERROR_PATH_NOT_FOUND},
        {L"D:\\Folder", L"D:\\copy.txt", ERROR_ACCESS_DENIED},
        {L"D:\\src.txt", L"D:\\Folder", ERROR_ACCESS_DENIED},
        {L"\\\\NOSUCH\\D$\\src.txt", L"D:\\copy.txt", ERROR_BAD_NETPATH},
        {L"D:\\src.txt", L"\\\\SRV02\\Nope\\copy.txt", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CopyFileW(c.source, c.target, FALSE)) << corvan::ToUtf8(c.source);
        EXPECT_EQ(c.error, GetLastError()) << corvan::ToUtf8(c.source) << " -> " << corvan::ToUtf8(c.target);
    }
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV01", L"D:\\copy.txt")));

    // A read-only target is not overwritten.
    AddFile(L"SRV01", L"D:\\ro.txt", "keep");
    ASSERT_EQ(0, ::chmod(HostPathOf(L"SRV01", L"D:\\ro.txt").c_str(), 0444));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopyFileW(L"D:\\src.txt", L"D:\\ro.txt", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("keep", ReadHostFile(HostPathOf(L"SRV01", L"D:\\ro.txt")));
}

TEST_F(FilesTest, FileAttributes) {
    AddFile(L"SRV01", L"D:\\Data\\f.txt", "");
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(L"D:\\data"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(L"\\\\SRV01\\D$\\Data\\F.TXT"));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"D:\\Data\\g.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"D:\\None\\g.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(FilesTest, InjectedFaultsNameTheMachineAndThePath) {
    AddFile(L"SRV02", L"D:\\Data\\a.txt", "a");
    AddFile(L"SRV02", L"D:\\Secret\\b.txt", "b");
    AddFault(L"CopyFileW@SRV02=5,1");
    AddFault(L"FindFirstFileW:Secret=5");
    AddFault(L"CreateDirectoryW@SRV01=112");

    // The copy to SRV02 fails once, then works.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopyFileW(L"D:\\x.txt", L"\\\\SRV02\\D$\\Data\\x.txt", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    AddFile(L"SRV01", L"D:\\x.txt", "x");
    EXPECT_TRUE(CopyFileW(L"D:\\x.txt", L"\\\\SRV02\\D$\\Data\\x.txt", FALSE));

    WIN32_FIND_DATAW data;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(L"\\\\SRV02\\D$\\Secret\\*.*", &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ((Names{L".", L"..", L"a.txt", L"x.txt"}), List(L"\\\\SRV02\\D$\\Data\\*.*"));

    // Local drive paths are on SRV01.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"D:\\New", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    EXPECT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\New", nullptr));
}

}  // namespace
