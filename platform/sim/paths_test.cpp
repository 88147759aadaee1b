#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/hostfile.h"
#include "platform/sim/paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
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
        AddFile(L"SRV01", L"D:\\Data\\a.txt", "abc");
    }

    // A share of SRV02 as the server keeps it: one REG_MULTI_SZ per share.
    void Share(const std::wstring& name, const std::wstring& path) {
        SetRegistryMultiString(L"SRV02", L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", name,
                               {L"CSCFlags=0", L"MaxUses=4294967295", L"Path=" + path, L"Permissions=0", L"Type=0"});
    }

    // The last error of a look at the path's attributes; 0 when it is there.
    static DWORD LookError(const wchar_t* path) {
        return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    }

    // Each path maps to the host path below the world (relative) or fails with error.
    struct Mapping {
        const wchar_t* path;
        const char* host;
        DWORD error;
    };
    void ExpectMappings(std::initializer_list<Mapping> mappings) {
        for (const auto& m : mappings) {
            fs::path host = "untouched";
            DWORD error = sim::MapPath(m.path, host);
            EXPECT_EQ(m.error, error) << corvan::ToUtf8(m.path);
            EXPECT_EQ(m.error ? fs::path("untouched") : WorldRoot() / m.host, host) << corvan::ToUtf8(m.path);
        }
    }
};

TEST_F(PathTest, NetworkPathsGoThroughSharesAndDrivePathsToTheLocalMachineIgnoringCase) {
    ExpectMappings({
        {L"\\\\SRV02\\D$\\Data\\file.txt", "SRV02/drives/D/Data/file.txt", 0},
        {L"\\\\SRV02\\D$", "SRV02/drives/D", 0},
        {L"\\\\srv02\\d$\\data\\", "SRV02/drives/D/Data", 0},
        {L"\\\\SRV02\\ADMIN$\\System32", "SRV02/drives/C/Windows/System32", 0},
        {L"\\\\SRV02\\PUBLIC\\doc.txt", "SRV02/drives/D/Data/Pub/doc.txt", 0},
        {L"\\\\SRV02\\Whole\\Data", "SRV02/drives/D/Data", 0},
        {L"\\\\SRV02\\hidden$\\Pub", "SRV02/drives/D/Data/Pub", 0},
        {L"\\\\SRV02\\Public\\..\\..\\x", "SRV02/drives/D/Data/Pub/x", 0},  // ".." stays in the share
        {L"\\\\NOSUCH\\D$\\Data", "", ERROR_BAD_NETPATH},
        {L"\\\\SRV03\\D$\\Data", "", ERROR_BAD_NETPATH},  // does not answer
        {L"\\\\SRV02\\Q$\\Data", "", ERROR_BAD_NET_NAME},
        {L"\\\\SRV02\\Missing\\x", "", ERROR_BAD_NET_NAME},
        {L"\\\\SRV01\\Public\\x", "", ERROR_BAD_NET_NAME},
        {L"\\\\SRV02\\IPC$", "", ERROR_BAD_NET_NAME},
        {L"\\\\SRV02", "", ERROR_BAD_NET_NAME},
    });

    AddDirectory(L"SRV01", L"D:\\Exact");
    AddDirectory(L"SRV01", L"A:\\");  // the first and last letters are drives too
    AddDirectory(L"SRV01", L"Z:\\");
    fs::create_directories(WorldRoot() / "SRV01/drives/D/exact");
    ExpectMappings({
        {L"D:\\Data\\Sub\\a.txt", "SRV01/drives/D/Data/Sub/a.txt", 0},
        {L"d:\\", "SRV01/drives/D", 0},
        {L"\\\\SRV01\\D$\\Data", "SRV01/drives/D/Data", 0},
        // Once a part is missing the rest is taken as written.
        {L"D:\\DATA\\sub\\New\\x.txt", "SRV01/drives/D/Data/Sub/New/x.txt", 0},
        // An exact name wins over one that differs in case.
        {L"D:\\exact", "SRV01/drives/D/exact", 0},
        {L"D:\\Exact", "SRV01/drives/D/Exact", 0},
        {L"D:\\Data\\.\\Sub\\..\\\\Sub\\f", "SRV01/drives/D/Data/Sub/f", 0},
        {L"D:\\..\\..\\Data", "SRV01/drives/D/Data", 0},
        {L"a:\\y", "SRV01/drives/A/y", 0},
        {L"\\\\SRV01\\a$", "SRV01/drives/A", 0},
        {L"z:\\", "SRV01/drives/Z", 0},
        {L"\\\\SRV01\\Z$\\w", "SRV01/drives/Z/w", 0},
        {L"Q:\\Data", "", ERROR_PATH_NOT_FOUND},  // a drive the machine does not have
    });
    EXPECT_EQ(L"D:\\Data\\Sub", sim::FullPathName(L"d:/Data/x/../Sub/"));
}

TEST_F(PathTest, RelativePathsFollowSetCurrentDirectory) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\"));
    ASSERT_TRUE(SetCurrentDirectoryW(L"data"));
    WCHAR buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(L"D:\\data", std::wstring(buffer, length));
    ExpectMappings({
        {L"Sub\\x.txt", "SRV01/drives/D/Data/Sub/x.txt", 0},
        {L"..\\y.txt", "SRV01/drives/D/y.txt", 0},
        // "D:" and "D:name" are relative to the current directory on D:, "C:name" to C:'s root.
        {L"D:Sub", "SRV01/drives/D/Data/Sub", 0},
        {L"D:", "SRV01/drives/D/Data", 0},
        {L"C:Windows", "SRV01/drives/C/Windows", 0},
    });
    EXPECT_EQ(L"SRV01", sim::PathMachine(L"x"));

    ASSERT_TRUE(SetCurrentDirectoryW(L"\\\\SRV02\\Public"));
    ExpectMappings({{L"doc.txt", "SRV02/drives/D/Data/Pub/doc.txt", 0}});
    EXPECT_EQ(L"SRV02", sim::PathMachine(L"doc.txt"));
    EXPECT_FAILS_WITH(ERROR_BAD_NETPATH, SetCurrentDirectoryW(L"\\\\NOSUCH\\D$"));
    EXPECT_EQ(L"nosuch", sim::PathMachine(L"\\\\nosuch\\D$\\x"));
    length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(L"\\\\SRV02\\Public", std::wstring(buffer, length));
}

// What the calls keep between calls to spare host calls (folder listings)
// follows every change made behind their back, by another process or straight
// on the host.
TEST_F(PathTest, FoldersKeptBetweenLookupsFollowChangesMadeBehindTheirBack) {
    AddFile(L"SRV01", L"D:\\Small\\a.txt", "a");
    fs::path small = HostPathOf(L"SRV01", L"D:\\Small");
    // Looked in often enough for its names to be kept.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(0u, LookError(L"D:\\Small\\A.TXT"));
    fs::rename(small / "a.txt", small / "B.txt");
    std::ofstream(small / "c.TXT") << "c";
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), LookError(L"D:\\Small\\A.TXT"));
    EXPECT_EQ(0u, LookError(L"D:\\Small\\b.TXT"));
    EXPECT_EQ(0u, LookError(L"D:\\Small\\C.txt"));
    // Its names are not taken for proof that it is still there.
    fs::remove_all(small);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), LookError(L"D:\\Small\\B.TXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), LookError(L"D:\\Small"));

    // Large enough to be indexed rather than read on every lookup.
    for (int i = 0; i < 300; ++i) AddFile(L"SRV01", corvan::Format(L"D:\\Big\\f%03d.txt", i), "");
    ExpectMappings({{L"D:\\BIG\\F005.TXT", "SRV01/drives/D/Big/f005.txt", 0}});

    fs::path big = WorldRoot() / "SRV01/drives/D/Big";
    std::ofstream(big / "NewOne.TXT") << "";
    fs::remove(big / "f005.txt");
    fs::rename(big / "f006.txt", big / "G006.txt");
    ExpectMappings({
        {L"D:\\Big\\newone.txt", "SRV01/drives/D/Big/NewOne.TXT", 0},
        {L"D:\\Big\\F005.TXT", "SRV01/drives/D/Big/F005.TXT", 0},
        {L"D:\\Big\\g006.TXT", "SRV01/drives/D/Big/G006.txt", 0},
        {L"D:\\Big\\F006.TXT", "SRV01/drives/D/Big/F006.TXT", 0},
    });

    // A folder made again under the same name is read afresh.
    fs::remove_all(big);
    AddFile(L"SRV01", L"D:\\Big\\Other.txt", "");
    ExpectMappings({
        {L"D:\\Big\\OTHER.TXT", "SRV01/drives/D/Big/Other.txt", 0},
        {L"D:\\Big\\F007.TXT", "SRV01/drives/D/Big/F007.TXT", 0},
    });
}

TEST_F(PathTest, DrivesAndMachinesChangedBehindTheBackAreLookedForAgain) {
    fs::path drives = WorldRoot() / "SRV01/drives";
    ExpectMappings({{L"D:\\Data\\a.txt", "SRV01/drives/D/Data/a.txt", 0}});
    fs::rename(drives / "D", drives / "d");
    ExpectMappings({{L"D:\\Data\\a.txt", "SRV01/drives/d/Data/a.txt", 0},
                    {L"\\\\SRV01\\D$\\Data\\new.txt", "SRV01/drives/d/Data/new.txt", 0}});
    fs::remove_all(drives / "d");
    ExpectMappings({{L"D:\\Data\\a.txt", "", ERROR_PATH_NOT_FOUND}, {L"\\\\SRV01\\D$\\Data", "", ERROR_BAD_NET_NAME}});
    // A local machine folder that went is made again, as on first use.
    fs::remove_all(WorldRoot() / "SRV01");
    ExpectMappings({{L"C:\\x", "SRV01/drives/C/x", 0}});
    EXPECT_TRUE(fs::is_directory(WorldRoot() / "SRV01/drives/C"));

    // The calls match names ignoring case, so only another process can make
    // "D" beside "d"; a kept folder stays until the simulation reports a change there.
    drives = WorldRoot() / "SRV02/drives";
    fs::rename(drives / "D", drives / "d");
    ExpectMappings({{L"\\\\SRV02\\D$\\Data", "SRV02/drives/d/Data", 0}});
    fs::create_directories(drives / "D/Data");
    sim::NoteHostChange(drives / "D");
    ExpectMappings({{L"\\\\SRV02\\D$\\Data", "SRV02/drives/D/Data", 0}});
    // The same for a machine folder: "srv04" until "SRV04" is made beside it.
    AddMachine(L"srv04");
    AddDirectory(L"srv04", L"D:\\");
    ExpectMappings({{L"\\\\SRV04\\D$", "srv04/drives/D", 0}});
    fs::create_directories(WorldRoot() / "SRV04/drives/D");
    sim::NoteHostChange(WorldRoot() / "SRV04");
    ExpectMappings({{L"\\\\SRV04\\D$", "SRV04/drives/D", 0}});

    // A machine another process takes off the network, then removes, is seen so.
    std::wstring machine;
    ASSERT_EQ(0u, sim::ResolveMachine(L"\\\\SRV02", machine, ERROR_BAD_NETPATH));
    fs::path ini = WorldRoot() / "SRV02/machine.ini";
    std::string text = ReadHostFile(ini);
    size_t at = text.find("Reachable=1");
    ASSERT_NE(std::string::npos, at);
    text[at + 10] = '0';
    ASSERT_TRUE(sim::WriteHostFileAtomic(ini, text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), sim::ResolveMachine(L"SRV02", machine, ERROR_BAD_NETPATH));
    EXPECT_EQ(L"0", sim::MachineSetting(L"SRV02", L"Machine", L"Reachable", L""));
    ExpectMappings({{L"\\\\SRV02\\D$\\Data", "", ERROR_BAD_NETPATH}});

    text[at + 10] = '1';
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;  // in place, same size
    EXPECT_EQ(0u, sim::ResolveMachine(L"SRV02", machine, ERROR_BAD_NETPATH));
    fs::remove_all(WorldRoot() / "SRV02");
    ExpectMappings({{L"\\\\SRV02\\D$\\Data", "", ERROR_BAD_NETPATH}});
}

TEST_F(PathTest, PathsTooLongForTheHostAreTakenAsWritten) {
    // Long forms, which Windows takes up to 32,767 characters.
    std::wstring manyNames = L"\\\\?\\D:\\Data";
    while (manyNames.size() < 20000) manyNames += L"\\abcdefgh";
    std::wstring longNames = L"\\\\?\\D:\\Data";
    while (longNames.size() < 5000) longNames += L"\\" + std::wstring(255, L'a');
    for (const std::wstring& path : {manyNames, longNames}) {
        sim::HostPath resolved;
        ASSERT_EQ(0u, sim::ResolvePath(path, resolved));
        EXPECT_FALSE(resolved.exists);
        std::string below = corvan::ToUtf8(path.substr(7));
        std::replace(below.begin(), below.end(), '\\', '/');
        EXPECT_EQ((WorldRoot() / "SRV01/drives/D" / below).native(), resolved.path.native());
        EXPECT_FAILS_WITH(ERROR_FILENAME_EXCED_RANGE,
                          CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) !=
                              INVALID_HANDLE_VALUE);
    }
}

}  // namespace
