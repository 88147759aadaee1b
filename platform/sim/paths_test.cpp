#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

// A world of SRV01 (local, drives C and D), SRV02 (drives C and D, a share
// list) and SRV03, which does not answer.
class PathTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddMachine(L"SRV03", 5, 2, false);
        AddDirectory(L"SRV01", L"C:\\Windows");
        AddDirectory(L"SRV01", L"D:\\Data\\Sub");
        AddDirectory(L"SRV02", L"D:\\Data\\Pub");
        AddDirectory(L"SRV02", L"C:\\Windows\\System32");
        Share(L"Public", L"D:\\Data\\Pub");
        Share(L"Whole", L"D:\\");
        Share(L"Hidden$", L"D:\\Data");
        root_ = WorldRoot();
        savedCurrent_ = sim::CurrentDirectory();
    }
    void TearDown() override {
        sim::SetCurrentDirectoryText(savedCurrent_);
        SimWorldTest::TearDown();
    }

    // A share of SRV02 as the server keeps it: one REG_MULTI_SZ per share.
    void Share(const std::wstring& name, const std::wstring& path) {
        SetRegistryMultiString(L"SRV02", L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", name,
                               {L"CSCFlags=0", L"MaxUses=4294967295", L"Path=" + path, L"Permissions=0", L"Type=0"});
    }

    DWORD Map(const std::wstring& windowsPath, fs::path& host) {
        host = "untouched";
        return sim::MapPath(windowsPath, host);
    }

    fs::path root_;
    std::wstring savedCurrent_;
};

TEST_F(PathTest, AdministrativeSharesReachTheMachinesDrives) {
    fs::path host;
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\D$\\Data\\file.txt", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/file.txt", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\D$", host));
    EXPECT_EQ(root_ / "SRV02/drives/D", host);
    ASSERT_EQ(0u, Map(L"\\\\srv02\\d$\\data\\", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\ADMIN$\\System32", host));
    EXPECT_EQ(root_ / "SRV02/drives/C/Windows/System32", host);
}

TEST_F(PathTest, NamedSharesFollowTheServersShareList) {
    fs::path host;
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\Public\\doc.txt", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/Pub/doc.txt", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\PUBLIC", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/Pub", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\Whole\\Data", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\hidden$\\Pub", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/Pub", host);
    // ".." never leaves the share.
    ASSERT_EQ(0u, Map(L"\\\\SRV02\\Public\\..\\..\\x", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/Pub/x", host);
}

TEST_F(PathTest, UnknownMachinesSharesAndDrives) {
    fs::path host;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), Map(L"\\\\NOSUCH\\D$\\Data", host));
    EXPECT_EQ(fs::path("untouched"), host);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), Map(L"\\\\SRV03\\D$\\Data", host));  // unreachable
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), Map(L"\\\\SRV02\\Q$\\Data", host));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), Map(L"\\\\SRV02\\Missing\\x", host));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), Map(L"\\\\SRV01\\Public\\x", host));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), Map(L"\\\\SRV02", host));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NET_NAME), Map(L"\\\\SRV02\\IPC$", host));
    // A drive letter the local machine does not have.
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), Map(L"Q:\\Data", host));
}

TEST_F(PathTest, DriveLettersAreTheLocalMachines) {
    fs::path host;
    ASSERT_EQ(0u, Map(L"D:\\Data\\Sub\\a.txt", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data/Sub/a.txt", host);
    ASSERT_EQ(0u, Map(L"d:\\", host));
    EXPECT_EQ(root_ / "SRV01/drives/D", host);
    ASSERT_EQ(0u, Map(L"\\\\SRV01\\D$\\Data", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data", host);
}

TEST_F(PathTest, ComponentsMatchIgnoringCaseUntilOneIsMissing) {
    fs::path host;
    ASSERT_EQ(0u, Map(L"D:\\DATA\\sub\\New\\x.txt", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data/Sub/New/x.txt", host);
    // An exact name wins over one that differs in case.
    fs::create_directories(root_ / "SRV01/drives/D/data");
    ASSERT_EQ(0u, Map(L"D:\\data", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/data", host);
    ASSERT_EQ(0u, Map(L"D:\\Data", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data", host);
}

TEST_F(PathTest, LargeFoldersFollowChangesMadeBehindTheirBack) {
    // Large enough to be indexed rather than read on every lookup.
    for (int i = 0; i < 300; ++i) AddFile(L"SRV01", corvan::Format(L"D:\\Big\\f%03d.txt", i), "");
    fs::path big = root_ / "SRV01/drives/D/Big";
    fs::path host;
    ASSERT_EQ(0u, Map(L"D:\\BIG\\F005.TXT", host));
    EXPECT_EQ(big / "f005.txt", host);

    std::ofstream(big / "NewOne.TXT") << "";
    fs::remove(big / "f005.txt");
    fs::rename(big / "f006.txt", big / "G006.txt");
    ASSERT_EQ(0u, Map(L"D:\\Big\\newone.txt", host));
    EXPECT_EQ(big / "NewOne.TXT", host);
    ASSERT_EQ(0u, Map(L"D:\\Big\\F005.TXT", host));
    EXPECT_EQ(big / "F005.TXT", host);
    ASSERT_EQ(0u, Map(L"D:\\Big\\g006.TXT", host));
    EXPECT_EQ(big / "G006.txt", host);
    ASSERT_EQ(0u, Map(L"D:\\Big\\F006.TXT", host));
    EXPECT_EQ(big / "F006.TXT", host);

    // A folder made again under the same name is read afresh.
    fs::remove_all(big);
    AddFile(L"SRV01", L"D:\\Big\\Other.txt", "");
    ASSERT_EQ(0u, Map(L"D:\\Big\\OTHER.TXT", host));
    EXPECT_EQ(big / "Other.txt", host);
    ASSERT_EQ(0u, Map(L"D:\\Big\\F007.TXT", host));
    EXPECT_EQ(big / "F007.TXT", host);
}

TEST_F(PathTest, DotsAndRepeatedSeparatorsAreResolved) {
    fs::path host;
    ASSERT_EQ(0u, Map(L"D:\\Data\\.\\Sub\\..\\\\Sub\\f", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data/Sub/f", host);
    ASSERT_EQ(0u, Map(L"D:\\..\\..\\Data", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data", host);
    EXPECT_EQ(L"D:\\Data\\Sub", sim::FullPathName(L"d:/Data/x/../Sub/"));
}

TEST_F(PathTest, RelativePathsFollowSetCurrentDirectory) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\"));
    ASSERT_TRUE(SetCurrentDirectoryW(L"data"));
    WCHAR buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(L"D:\\data", std::wstring(buffer, length));

    fs::path host;
    ASSERT_EQ(0u, Map(L"Sub\\x.txt", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data/Sub/x.txt", host);
    ASSERT_EQ(0u, Map(L"..\\y.txt", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/y.txt", host);
    // "D:name" is relative to the current directory on D:, "C:name" to C:'s root.
    ASSERT_EQ(0u, Map(L"D:Sub", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data/Sub", host);
    ASSERT_EQ(0u, Map(L"C:Windows", host));
    EXPECT_EQ(root_ / "SRV01/drives/C/Windows", host);
    ASSERT_EQ(0u, Map(L"D:", host));
    EXPECT_EQ(root_ / "SRV01/drives/D/Data", host);

    ASSERT_TRUE(SetCurrentDirectoryW(L"\\\\SRV02\\Public"));
    ASSERT_EQ(0u, Map(L"doc.txt", host));
    EXPECT_EQ(root_ / "SRV02/drives/D/Data/Pub/doc.txt", host);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectoryW(L"\\\\NOSUCH\\D$"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), GetLastError());
    length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(L"\\\\SRV02\\Public", std::wstring(buffer, length));
}

TEST_F(PathTest, HostPathsKeepTheirFolders) {
    fs::path host;
    // A walk from the host's root: "\\" first, then each name relative to it.
    ASSERT_TRUE(SetCurrentDirectoryW(L"\\"));
    ASSERT_EQ(0u, Map(L"tmp", host));
    EXPECT_EQ(fs::path("/tmp"), host);
    ASSERT_EQ(0u, Map(L"//tmp", host));
    EXPECT_EQ(fs::path("/tmp"), host);

    std::wstring dir = corvan::FromUtf8(root_.string());
    ASSERT_EQ(0u, Map(dir + L"\\SRV01\\machine.ini", host));
    EXPECT_EQ(root_ / "SRV01/machine.ini", host);
    ASSERT_EQ(0u, Map(dir + L"/srv01/drives", host));
    EXPECT_EQ(root_ / "SRV01/drives", host);
}

TEST_F(PathTest, MachineOfAPath) {
    EXPECT_EQ(L"nosuch", sim::PathMachine(L"\\\\nosuch\\D$\\x"));
    EXPECT_EQ(L"SRV01", sim::PathMachine(L"D:\\x"));
    EXPECT_EQ(L"", sim::PathMachine(L"/tmp/x"));
    ASSERT_TRUE(SetCurrentDirectoryW(L"\\\\SRV02\\D$"));
    EXPECT_EQ(L"SRV02", sim::PathMachine(L"Data"));
}

}  // namespace
