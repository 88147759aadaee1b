#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
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

// Creates a missing folder path one component at a time, moving the current
// directory along it, as the tool's folder check does.
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

TEST_F(FilesTest, WalkCreatesMissingFoldersButNotANetworkPath) {
    AddDirectory(L"SRV01", L"D:\\Mig");
    ASSERT_TRUE(WalkAndCreate(L"D:\\Mig\\Data\\SRV01"));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01")));
    WCHAR current[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    // The last folder was made, not entered.
    EXPECT_EQ(L"D:\\Mig\\Data", std::wstring(current, length));

    // The empty component between the two leading backslashes stops the walk.
    EXPECT_FALSE(WalkAndCreate(L"\\\\SRV02\\D$\\Mig"));
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV02", L"D:\\Mig")));
}

TEST_F(FilesTest, CreateDirectoryErrors) {
    ASSERT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\Data", nullptr));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV02", L"D:\\Data")));
    AddFile(L"SRV01", L"D:\\file.txt", "x");
    struct {
        const wchar_t* path;
        DWORD error;
    } cases[] = {
        {L"\\\\SRV02\\D$\\data\\", ERROR_ALREADY_EXISTS},
        {L"D:\\file.txt", ERROR_ALREADY_EXISTS},
        {L"D:\\Missing\\Child", ERROR_PATH_NOT_FOUND},
        {L"", ERROR_PATH_NOT_FOUND},
        {L"\\\\NOSUCH\\D$\\Data", ERROR_BAD_NETPATH},
        {L"\\\\SRV02\\Z$\\Data", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return CreateDirectoryW(c.path, nullptr); })) << corvan::ToUtf8(c.path);
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV01", L"D:\\Missing")));
}

TEST_F(FilesTest, ListingsAreSortedIgnoringCaseWithDotEntriesBelowTheRoot) {
    for (const wchar_t* name : {L"b.txt", L"A.txt", L"_under", L"Zeta", L".profile"})
        AddFile(L"SRV02", std::wstring(L"D:\\Data\\") + name, "");
    AddDirectory(L"SRV02", L"D:\\Data\\c");
    AddDirectory(L"SRV01", L"D:\\Empty");

    // NTFS compares upper-case forms, so "_" (after "Z") comes last.
    Names expected = {L".", L"..", L".profile", L"A.txt", L"b.txt", L"c", L"Zeta", L"_under"};
    EXPECT_EQ(expected, List(L"\\\\SRV02\\D$\\Data\\*"));
    EXPECT_EQ(expected, List(L"\\\\srv02\\d$\\DATA\\*.*"));
    EXPECT_EQ((Names{L".", L".."}), List(L"D:\\Empty\\*"));
    // A drive's root has no "." and "..".
    EXPECT_EQ((Names{L"Data"}), List(L"\\\\SRV02\\D$\\*.*"));
    EXPECT_EQ((Names{L"Empty"}), List(L"D:\\*"));
}

TEST_F(FilesTest, WildcardsMatchIgnoringCase) {
    for (const wchar_t* name : {L"a.txt", L"B.TXT", L"c.doc", L"noext", L"ab.txt", L"x.tar.gz"})
        AddFile(L"SRV01", std::wstring(L"D:\\W\\") + name, "");
    EXPECT_EQ((Names{L"a.txt", L"ab.txt", L"B.TXT"}), List(L"D:\\W\\*.txt"));
    EXPECT_EQ((Names{L"a.txt", L"B.TXT"}), List(L"D:\\W\\?.TxT"));
    EXPECT_EQ((Names{L"noext"}), List(L"D:\\W\\noext.*"));
    EXPECT_EQ((Names{L"x.tar.gz"}), List(L"D:\\W\\*.gz"));
    // Without a folder the search runs in the current directory.
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\W"));
    EXPECT_EQ((Names{L"c.doc"}), List(L"*.DOC"));
    EXPECT_EQ((Names{L"c.doc"}), List(L"d:c.*"));
}

TEST_F(FilesTest, SearchForOneNameAndSearchErrors) {
    AddFile(L"SRV02", L"D:\\Data\\Report.TXT", "12345");
    WIN32_FIND_DATAW data = Entry(L"\\\\SRV02\\D$\\data");
    EXPECT_EQ(std::wstring(L"Data"), data.cFileName);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), data.dwFileAttributes);
    EXPECT_EQ(L'\0', data.cAlternateFileName[0]);
    data = Entry(L"\\\\SRV02\\D$\\Data\\report.txt");
    EXPECT_EQ(std::wstring(L"Report.TXT"), data.cFileName);
    EXPECT_EQ(5u, data.nFileSizeLow);
    EXPECT_EQ((Names{L"Report.TXT"}), List(L"\\\\SRV02\\D$\\Data\\REPORT.txt"));

    HANDLE find = FindFirstFileW(L"\\\\SRV02\\D$\\Data", &data);
    ASSERT_TRUE(FindClose(find));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ErrorOf([&] { return FindClose(find); }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ErrorOf([&] { return FindNextFileW(find, &data); }));

    struct {
        const wchar_t* pattern;
        DWORD error;
    } cases[] = {
        {L"\\\\SRV02\\D$\\Data\\nothing.txt", ERROR_FILE_NOT_FOUND},
        {L"\\\\SRV02\\D$\\Data\\*.doc", ERROR_FILE_NOT_FOUND},
        {L"\\\\SRV02\\D$\\Data\\", ERROR_FILE_NOT_FOUND},
        {L"D:\\Missing\\*.*", ERROR_PATH_NOT_FOUND},
        {L"D:\\Missing\\Deeper\\x", ERROR_PATH_NOT_FOUND},
        {L"\\\\NOSUCH\\D$\\*.*", ERROR_BAD_NETPATH},
        {L"\\\\SRV02\\Nope\\*.*", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases) {
        DWORD error = ErrorOf([&] { return FindFirstFileW(c.pattern, &data) != INVALID_HANDLE_VALUE; });
        EXPECT_EQ(c.error, error) << corvan::ToUtf8(c.pattern);
    }
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

TEST_F(FilesTest, CopyFileAcrossMachines) {
    AddFile(L"SRV02", L"D:\\Data\\a.txt", "from srv02");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV02", L"D:\\Data\\a.txt").c_str(), times, 0));
    AddDirectory(L"SRV01", L"D:\\Backup");
    fs::path copy = HostPathOf(L"SRV01", L"D:\\Backup\\a.txt");

    ASSERT_TRUE(CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\a.txt", TRUE));
    EXPECT_EQ("from srv02", ReadHostFile(copy));
    FILETIME written = Entry(L"D:\\Backup\\a.txt").ftLastWriteTime;  // kept from the source
    EXPECT_EQ(126444736000000000ULL, (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);

    AddFile(L"SRV02", L"D:\\Data\\a.txt", "changed");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS),
              ErrorOf([] { return CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\A.TXT", TRUE); }));
    EXPECT_EQ("from srv02", ReadHostFile(copy));
    ASSERT_TRUE(CopyFileW(L"\\\\SRV02\\D$\\Data\\a.txt", L"D:\\Backup\\A.TXT", FALSE));
    EXPECT_EQ("changed", ReadHostFile(copy));
    EXPECT_EQ((Names{L"a.txt"}), List(L"D:\\Backup\\*.txt"));  // the existing name is kept
}

TEST_F(FilesTest, CopyFileErrors) {
    AddFile(L"SRV01", L"D:\\src.txt", "s");
    AddFile(L"SRV01", L"D:\\ro.txt", "keep");
    ASSERT_EQ(0, ::chmod(HostPathOf(L"SRV01", L"D:\\ro.txt").c_str(), 0444));
    AddDirectory(L"SRV01", L"D:\\Folder");
    struct {
        const wchar_t* source;
        const wchar_t* target;
        DWORD error;
    } cases[] = {
        {L"D:\\none.txt", L"D:\\copy.txt", ERROR_FILE_NOT_FOUND},
        {L"D:\\NoFolder\\none.txt", L"D:\\copy.txt", ERROR_PATH_NOT_FOUND},
        {L"D:\\src.txt", L"D:\\NoFolder\\copy.txt", ERROR_PATH_NOT_FOUND},
        {L"D:\\Folder", L"D:\\copy.txt", ERROR_ACCESS_DENIED},
        {L"D:\\src.txt", L"D:\\Folder", ERROR_ACCESS_DENIED},
        {L"D:\\src.txt", L"D:\\ro.txt", ERROR_ACCESS_DENIED},
        {L"\\\\NOSUCH\\D$\\src.txt", L"D:\\copy.txt", ERROR_BAD_NETPATH},
        {L"D:\\src.txt", L"\\\\SRV02\\Nope\\copy.txt", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error, ErrorOf([&] { return CopyFileW(c.source, c.target, FALSE); }))
            << corvan::ToUtf8(c.source) << " -> " << corvan::ToUtf8(c.target);
    }
    EXPECT_EQ((Names{L"Folder", L"ro.txt", L"src.txt"}), List(L"D:\\*"));
    EXPECT_EQ("keep", ReadHostFile(HostPathOf(L"SRV01", L"D:\\ro.txt")));
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
