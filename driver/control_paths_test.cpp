#include "driver/control_paths.h"

#include <gtest/gtest.h>

namespace {

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
