#include "driver/corvanrator.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/test_support.h"
#include "driver/control_paths.h"
#include "platform/sim/testing/test_world.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

class MigratorTest : public corvan_test::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
    }
    static std::wstring Current() {
        wchar_t buffer[4096];
        DWORD n = GetCurrentDirectoryW(4096, buffer);
        return std::wstring(buffer, n);
    }
};

TEST_F(MigratorTest, CheckDirectoriesMakesEveryMissingFolderKeepsTheWorkingDirectoryAndNamesFailures) {
    CCorvanrator migrator;
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\"));
    EXPECT_EQ(1, migrator.CheckDirectories(L"D:\\Mig\\Data\\SRV01"));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01")));
    // Left in D:\Mig\Data, every later relative path would land there.
    EXPECT_EQ(L"D:\\", Current());
    EXPECT_EQ(1, migrator.CheckDirectories(L"D:\\Mig\\Data\\SRV01"));  // exists: nothing to do
    EXPECT_EQ(0u, migrator.LastErrorCode);
    EXPECT_EQ(1, migrator.CheckDirectories(L"D:\\Mig\\Log\\"));  // a location may end in its separator
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Mig\\Log")));

    // The walk cannot make the empty name between the two leading backslashes.
    EXPECT_EQ(0, migrator.CheckDirectories(L"\\\\NAS\\Mig"));
    EXPECT_EQ(L"CreateDirectory(\\\\NAS\\Mig)", migrator.ErrorWin32API);
    EXPECT_NE(0u, migrator.LastErrorCode);

    EXPECT_EQ(0, migrator.CheckDirectories(L"NoBackslashHere"));
    EXPECT_EQ(L"CreateDirectory(NoBackslashHere)", migrator.ErrorWin32API);
    EXPECT_EQ(L"CCorvanrator::CheckDirectories()", migrator.ErrorFunction);

    // A path whose only backslash ends it makes no pass at all.
    EXPECT_EQ(0, migrator.CheckDirectories(L"Q:\\"));
    EXPECT_EQ(L"D:\\", Current());
}

TEST_F(MigratorTest, AFolderMadeByAnotherRunBetweenTheLookAndTheMakeWillDo) {
    // The look fails as it did before the other run made the folder.
    AddDirectory(L"SRV01", L"D:\\Mig\\Race");
    AddFault(L"SetCurrentDirectoryW:\\Mig\\Race=2,1");
    CCorvanrator migrator;
    EXPECT_EQ(1, migrator.CheckDirectories(L"D:\\Mig\\Race\\SRV01"));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV01", L"D:\\Mig\\Race\\SRV01")));

    // A file in the folder's place is no folder, and keeps its error.
    AddFile(L"SRV01", L"D:\\Mig\\Plain", "not a folder");
    EXPECT_EQ(0, migrator.CheckDirectories(L"D:\\Mig\\Plain\\SRV01"));
    EXPECT_EQ(183u, migrator.LastErrorCode);
}

TEST_F(MigratorTest, ATemporaryFolderThatFillsOrOutgrowsTheFirstBufferIsTakenWhole) {
    const auto saved = std::getenv("TMPDIR") ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
    for (size_t length : {511u, 700u}) {  // the first buffer holds 511 characters and the NUL
        fs::path temp = WorldRoot() / std::to_string(length);
        while (temp.string().size() < length)
            temp /= std::string(std::min<size_t>(200, length - temp.string().size() - 1), 't');
        fs::create_directories(temp);
        setenv("TMPDIR", temp.c_str(), 1);
        CCorvanrator migrator;
        EXPECT_EQ(corvan::FromUtf8(temp.string()), migrator.DefaultMigLocation) << length;
    }
    saved ? setenv("TMPDIR", saved->c_str(), 1) : unsetenv("TMPDIR");
}

TEST_F(MigratorTest, AnExistingRunFolderIsNeverReused) {
    AddFile(L"SRV01", L"D:\\Data\\261206034512042\\earlier.bkp", "earlier");
    AddDirectory(L"SRV01", L"D:\\Data\\261206034512043");
    CCorvanrator migrator;
    migrator.DefaultDataLocation = L"D:\\Data";
    migrator.RunStamp = L"261206034512042";
    std::wstring backup, restore;
    ASSERT_EQ(1, migrator.MakeRunFolder(backup));
    EXPECT_EQ(L"D:\\Data\\261206034512044", backup);
    EXPECT_EQ(L"261206034512044", migrator.RunStamp);
    ASSERT_EQ(1, migrator.MakeRunFolder(restore));  // a backup and restore in one run share their folder
    EXPECT_EQ(backup, restore);
    EXPECT_EQ("earlier", ReadHostFile(HostPathOf(L"SRV01", L"D:\\Data\\261206034512042\\earlier.bkp")));

    CCorvanrator last;
    last.DefaultDataLocation = L"D:\\Data";
    last.RunStamp = L"261206034512999";
    AddDirectory(L"SRV01", L"D:\\Data\\261206034512999");
    EXPECT_EQ(0, last.MakeRunFolder(backup));
    EXPECT_EQ(183u, last.LastErrorCode);
}

TEST_F(MigratorTest, ARestoreStartedInTheSecondOfItsBackupGetsAFolderOfItsOwn) {
    const std::string backup = "D:\\Mig\\Data\\SRV01\\261206034512042";
    AddFile(L"SRV01", L"D:\\Mig\\ctl.ini",
            "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultDataLocation=D:\\Mig\\Data\r\nBackupLocation=" + backup +
                "\r\n");
    AddDirectory(L"SRV01", corvan::FromUtf8(backup));
    CCorvanrator migrator;
    migrator.MachineName = L"SRV01";
    migrator.RestoreRequested = 1;
    migrator.ControlFilePath = L"D:\\Mig\\ctl.ini";
    migrator.RunStamp = L"261206034512042";
    ASSERT_EQ(1, migrator.Run());
    EXPECT_EQ(L"D:\\Mig\\Data\\SRV01\\261206034512043", migrator.RestoreLocation);
    EXPECT_EQ(std::string::npos, ReadHostFile(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini")).find("RESTOREERROR"));
}

TEST_F(MigratorTest, SwitchesAreMatchedByTheirFirstCharacters) {
    CCorvanrator migrator;
    std::vector<std::wstring> args = {L"corvan", L"/backup", L"/c:ctl.ini", L"/C:second.ini", L"/s:\\\\SRV01",
                                      L"/L:D:\\Logs"};
    std::vector<wchar_t*> argv;
    for (auto& a : args) argv.push_back(a.data());
    EXPECT_EQ(1, migrator.ParseCommandLine(static_cast<int>(argv.size()), argv.data()));
    // The last /C: wins; the machine name is cut to SRV01 by the validation.
    EXPECT_EQ(std::make_tuple(1, 0, L"second.ini", L"\\\\SRV01", L"D:\\Logs"),
              std::tie(migrator.BackupRequested, migrator.RestoreRequested, migrator.ControlFilePath,
                       migrator.MachineName, migrator.LogPathArgument));
}

// Without /S: the run is on the local machine, by its name in lower case.
TEST_F(MigratorTest, ValidationWithoutAMachineNameTakesTheLocalOne) {
    AddDirectory(L"SRV01", L"D:\\Logs");
    AddFile(L"SRV01", L"D:\\Logs\\ctl.ini", "[Control]\r\n");
    CCorvanrator local;
    local.LogPathArgument = L"D:\\Logs";
    local.ControlFilePath = L"D:\\Logs\\ctl.ini";
    ASSERT_EQ(1, local.Validate());
    EXPECT_EQ(L"srv01", local.MachineName);
}

TEST(ControlPathsTest, OnlyPlainFileNamesStayInTheirFolder) {
    for (const wchar_t* name : {L"Public_shr.bkp", L"shares_backup.dat", L"a", L"..x", L"x..y", L"CONFIG.ini",
                                L"COM10.bkp", L"LPT0", L"name with blanks.bkp", L"caf\u00e9.bkp"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const wchar_t* name :
         {L"", L".", L"..", L"...", L" . ", L"..\\..\\important.ini", L"..", L"sub\\file.bkp", L"sub/file.bkp",
          L"D:file.bkp", L"D:\\Mig\\x.bkp", L"\\\\SRV\\share\\x", L"/etc/passwd", L"a*.bkp", L"a?.bkp",
          L"a\".bkp", L"a<b", L"a>b", L"a|b", L"tab\there", L"NUL", L"nul.txt", L"Con", L"aux.bkp", L"PRN ",
          L"COM1", L"lpt9.log", L"COM1 .txt"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

TEST(ControlPathsTest, FullPathsAndFolderComparison) {
    for (const wchar_t* path : {L"C:\\Reports\\run.log", L"C:run.log", L"\\\\NAS\\logs\\run.log", L"\\Reports\\run.log",
                                L"/tmp/mig/Log/SRV01/SRV01_StatusReport.log"})
        EXPECT_TRUE(IsFullPath(path)) << path;
    for (const wchar_t* path : {L"run.log", L"Reports\\run.log", L"Reports/run.log", L""})
        EXPECT_FALSE(IsFullPath(path)) << path;

    EXPECT_EQ(L"ctl.ini", LastPathPart(L"D:/mig\\ctl.ini"));
    EXPECT_EQ(L"ctl.ini", LastPathPart(L"D:\\mig/ctl.ini"));
    EXPECT_EQ(L"ctl.ini", LastPathPart(L"ctl.ini"));

    EXPECT_TRUE(SameFolder(L"D:\\Mig\\Data\\SRV01\\1", L"d:/mig/data/srv01/1/"));
    EXPECT_TRUE(SameFolder(L"D:\\Mig\\Data\\SRV01\\1", L"D:\\Mig\\\\Data\\.\\X\\..\\SRV01\\1"));
    EXPECT_TRUE(SameFolder(L"/tmp/w/Data/SRV01/1", L"\\tmp\\w\\Data\\SRV01\\1\\"));
    EXPECT_FALSE(SameFolder(L"D:\\Mig\\Data\\SRV01\\1", L"D:\\Mig\\Data\\SRV01\\2"));
    EXPECT_FALSE(SameFolder(L"D:\\Mig\\Data", L"C:\\Mig\\Data"));
    EXPECT_FALSE(SameFolder(L"D:\\Mig", L"Mig"));
    EXPECT_FALSE(SameFolder(L"\\\\SRV\\Mig", L"\\SRV\\Mig"));
}

}  // namespace
