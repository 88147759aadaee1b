// What path resolution keeps from one call to the next (machine folders,
// drive folders, machine.ini) and what makes it look again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/hostfile.h"
#include "platform/sim/paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

class PathCacheTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddFile(L"SRV01", L"D:\\Data\\a.txt", "abc");
        AddDirectory(L"SRV02", L"D:\\Data");
    }

    fs::path Mapped(const std::wstring& path, DWORD expectedError = 0) {
        fs::path host;
        EXPECT_EQ(expectedError, sim::MapPath(path, host)) << corvan::ToUtf8(path);
        return host;
    }

    // CreateFileW's last error on success, or its error.
    DWORD OpenAlways(const std::wstring& path) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return error;
    }
};

TEST_F(PathCacheTest, ResolutionReportsWhatItFoundExactOrIgnoringCase) {
    struct Case {
        const wchar_t* path;
        bool exists;
        bool directory;
        const char* host;  // below SRV01/drives
    };
    for (const Case& c : {
             Case{L"D:\\Data\\a.txt", true, false, "D/Data/a.txt"},
             Case{L"d:\\DATA\\A.TXT", true, false, "D/Data/a.txt"},
             Case{L"\\\\srv01\\d$\\data", true, true, "D/Data"},
             Case{L"D:\\Data\\new.txt", false, false, "D/Data/new.txt"},
             Case{L"D:\\DATA\\New\\x.txt", false, false, "D/Data/New/x.txt"},
         }) {
        sim::HostPath resolved;
        ASSERT_EQ(0u, sim::ResolvePath(c.path, resolved)) << corvan::ToUtf8(c.path);
        EXPECT_EQ(WorldRoot() / "SRV01/drives" / c.host, resolved.path) << corvan::ToUtf8(c.path);
        EXPECT_EQ(c.exists, resolved.exists) << corvan::ToUtf8(c.path);
        if (c.exists) EXPECT_EQ(c.directory, S_ISDIR(resolved.status.st_mode)) << corvan::ToUtf8(c.path);
    }
    // CreateFileW takes existence from the resolution, also where the case differs.
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), OpenAlways(L"D:\\DATA\\A.TXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), OpenAlways(L"d:\\data"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenAlways(L"D:\\Data\\b.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), OpenAlways(L"D:\\Data\\B.TXT"));
}

TEST_F(PathCacheTest, TheFirstAndLastLettersAreDrivesToo) {
    AddDirectory(L"SRV01", L"A:\\");
    AddDirectory(L"SRV01", L"Z:\\");
    fs::path drives = WorldRoot() / "SRV01/drives";
    EXPECT_EQ(drives / "A/x", Mapped(L"A:\\x"));
    EXPECT_EQ(drives / "A/y", Mapped(L"a:\\y"));
    EXPECT_EQ(drives / "Z", Mapped(L"z:\\"));
    EXPECT_EQ(drives / "Z/w", Mapped(L"\\\\SRV01\\Z$\\w"));
    EXPECT_EQ(drives / "A", Mapped(L"\\\\SRV01\\a$"));
}

TEST_F(PathCacheTest, DriveFoldersChangedBehindTheBackAreLookedForAgain) {
    fs::path drives = WorldRoot() / "SRV01/drives";
    EXPECT_EQ(drives / "D/Data/a.txt", Mapped(L"D:\\Data\\a.txt"));

    fs::rename(drives / "D", drives / "d");
    EXPECT_EQ(drives / "d/Data/a.txt", Mapped(L"D:\\Data\\a.txt"));
    EXPECT_EQ(drives / "d/Data/new.txt", Mapped(L"\\\\SRV01\\D$\\Data\\new.txt"));

    fs::remove_all(drives / "d");
    Mapped(L"D:\\Data\\a.txt", ERROR_PATH_NOT_FOUND);
    Mapped(L"\\\\SRV01\\D$\\Data", ERROR_BAD_NET_NAME);

    // A local machine folder that went is made again, as on first use.
    fs::remove_all(WorldRoot() / "SRV01");
    EXPECT_EQ(WorldRoot() / "SRV01/drives/C/x", Mapped(L"C:\\x"));
    EXPECT_TRUE(fs::is_directory(WorldRoot() / "SRV01/drives/C"));
}

TEST_F(PathCacheTest, ANameTheSimulationMakesWinsOverAKeptOneThatDiffersInCase) {
    // The calls match names ignoring case, so only another process can make
    // "D" beside "d"; a kept folder stays until the simulation reports a change there.
    fs::path drives = WorldRoot() / "SRV02/drives";
    fs::rename(drives / "D", drives / "d");
    EXPECT_EQ(drives / "d/Data", Mapped(L"\\\\SRV02\\D$\\Data"));
    fs::create_directories(drives / "D/Data");
    sim::NoteHostChange(drives / "D");
    EXPECT_EQ(drives / "D/Data", Mapped(L"\\\\SRV02\\D$\\Data"));

    // The same for a machine folder: "srv03" until "SRV03" is made beside it.
    AddMachine(L"srv03");
    AddDirectory(L"srv03", L"D:\\");
    EXPECT_EQ(WorldRoot() / "srv03/drives/D", Mapped(L"\\\\SRV03\\D$"));
    fs::create_directories(WorldRoot() / "SRV03/drives/D");
    sim::NoteHostChange(WorldRoot() / "SRV03");
    EXPECT_EQ(WorldRoot() / "SRV03/drives/D", Mapped(L"\\\\SRV03\\D$"));
}

TEST_F(PathCacheTest, MachinesChangedBehindTheBackAreSeen) {
    std::wstring machine;
    ASSERT_EQ(0u, sim::ResolveMachine(L"\\\\SRV02", machine, ERROR_BAD_NETPATH));
    EXPECT_EQ(WorldRoot() / "SRV02/drives/D/Data", Mapped(L"\\\\SRV02\\D$\\Data"));

    // Another process takes the machine off the network, then removes it.
    fs::path ini = WorldRoot() / "SRV02/machine.ini";
    std::string text = ReadHostFile(ini);
    size_t at = text.find("Reachable=1");
    ASSERT_NE(std::string::npos, at);
    text[at + 10] = '0';
    ASSERT_TRUE(sim::WriteHostFileAtomic(ini, text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), sim::ResolveMachine(L"SRV02", machine, ERROR_BAD_NETPATH));
    EXPECT_EQ(L"0", sim::MachineSetting(L"SRV02", L"Machine", L"Reachable", L""));
    Mapped(L"\\\\SRV02\\D$\\Data", ERROR_BAD_NETPATH);

    text[at + 10] = '1';
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;  // in place, same size
    EXPECT_EQ(0u, sim::ResolveMachine(L"SRV02", machine, ERROR_BAD_NETPATH));

    fs::remove_all(WorldRoot() / "SRV02");
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_NETPATH), sim::ResolveMachine(L"SRV02", machine, ERROR_BAD_NETPATH));
    Mapped(L"\\\\SRV02\\D$\\Data", ERROR_BAD_NETPATH);
}

TEST_F(PathCacheTest, PathsTooLongForTheHostAreTakenAsWritten) {
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
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    }
}

}  // namespace
