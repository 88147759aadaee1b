// Backups of registry keys run end to end through the built binary.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::Lines;
using corvan_test::RunCorvan;

class RegistryBackupTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\");
        SetRegistryDword(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"Level", 3);
        SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Tool\\Sub", L"Name", L"first");
        SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Other", L"Path", L"%SystemRoot%\\x", REG_EXPAND_SZ);
        SetRegistryMultiString(L"SRV01", L"SOFTWARE\\Vendor\\Third", L"List", {L"a", L"b"});
    }
    void WriteControl(const std::string& sections) { Write("ControlBackup.ini", corvan_test::kMigLocations + sections); }
    fs::path RunFolder() {
        for (const auto& entry : fs::directory_iterator(HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01")))
            if (entry.is_directory()) return entry.path();
        return {};
    }
    fs::path RestoreControl() { return HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini"); }
    std::string Read(const fs::path& path) { return ReadHostFile(path); }

};

TEST_F(RegistryBackupTest, EveryEntryGetsItsOwnFileAndTheOutcomeKeys) {
    // Before the subkey: texts beyond Latin-1 and a type the value classes lack.
    SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"\u03a9mega", L"\u041e\u0442\u0447\u0451\u0442 \u20ac");
    SetRegistryValue(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"Q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80});
    WriteControl(
        "[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Other\r\n"
        "REGISTRY=\"HKLM\\SOFTWARE\\Vendor\\Third\"\r\n");
    auto run = RunCorvan({"/B", "/S:SRV01"}, cwd_);
    ASSERT_EQ(0, run.exitCode) << run.out;

    fs::path folder = RunFolder();
    std::string stamp = folder.filename().string();
    std::string tool = Read(folder / "tool.bkp");
    EXPECT_EQ(0u, tool.find("\xEF\xBB\xBF[1]\r\nclass=CCompositeRegKey\r\nparent=NULL\r\nKeyName=\"Tool\"\r\n"
                            "ParentKeyName=\"SOFTWARE\\Vendor\"\r\nServerName=\"\\\\SRV01\"\r\n"))
        << tool;
    EXPECT_NE(std::string::npos, tool.find("Value=dword:00000003")) << tool;
    EXPECT_NE(std::string::npos,
              tool.find("Value=\"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE2\x82\xAC\"\r\nValueName=\"\xCE\xA9mega\""))
        << tool;
    EXPECT_NE(std::string::npos, tool.find("Value=hex:0100000000000080\r\nType=dword:0000000b\r\nValueName=\"Q\""));
    EXPECT_NE(std::string::npos, tool.find("Value=\"first\"")) << tool;
    // Entries without a file part never share a file.
    EXPECT_NE(std::string::npos, Read(folder / (stamp + "_reg.bkp")).find("Value=\"%SystemRoot%\\x\""));
    EXPECT_NE(std::string::npos, Read(folder / (stamp + "_reg_2.bkp")).find("saValue=\"a\",\"b\""));

    fs::path control = RestoreControl();
    EXPECT_EQ("SRV01", IniValue(control, "Control", "BackupMachine"));
    EXPECT_EQ("00000005", IniValue(control, "Control", "BackupMajorVersion"));
    EXPECT_TRUE(std::regex_match(IniValue(control, "Control", "BackupExecutionDatetime"),
                                 std::regex("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} ")));
    EXPECT_EQ("success", IniValue(control, "Control", "BackupStatus"));
    EXPECT_EQ("0", IniValue(control, "Control", "BackupLastError"));
    EXPECT_EQ("Successful Backup!", IniValue(control, "Control", "BackupErrorText"));
    // Registry backups are not restore work.
    EXPECT_EQ("<missing>", IniValue(control, "RESTORE", "REGISTRY"));
}

TEST_F(RegistryBackupTest, ASecondEntryNamingTheSameFileDoesNotOverwriteTheFirst) {
    WriteControl("[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,keys.bkp\r\n"
                 "REGISTRY=HKLM\\SOFTWARE\\Vendor\\Other,KEYS.bkp\r\n");
    auto run = RunCorvan({"/B", "/S:SRV01"}, cwd_);
    ASSERT_EQ(0, run.exitCode);
    fs::path folder = RunFolder();
    EXPECT_NE(std::string::npos, Read(folder / "keys.bkp").find("KeyName=\"Tool\""));
    EXPECT_NE(std::string::npos, Read(folder / "KEYS_2.bkp").find("KeyName=\"Other\""));
    EXPECT_NE(std::string::npos, run.out.find("using KEYS_2.bkp")) << run.out;
}

TEST_F(RegistryBackupTest, UnreadableKeyFailsTheRunButItsFileIsWritten) {
    AddFault(L"RegOpenKeyExW:Vendor\\Tool=5");
    WriteControl("[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Other,o.bkp\r\n");
    auto run = RunCorvan({"/B", "/S:SRV01"}, cwd_);
    EXPECT_EQ(0, run.exitCode);  // the outcome goes to the control file, not the exit code

    fs::path folder = RunFolder();
    EXPECT_TRUE(fs::is_regular_file(folder / "tool.bkp"));
    EXPECT_NE(std::string::npos, Read(folder / "o.bkp").find("Value=\"%SystemRoot%\\x\""));
    fs::path control = RestoreControl();
    EXPECT_EQ("error", IniValue(control, "Control", "BackupStatus"));
    EXPECT_EQ("5", IniValue(control, "Control", "BackupLastError"));
    EXPECT_EQ("Access is denied.  ", IniValue(control, "Control", "BackupErrorText"));
    EXPECT_EQ("REGISTRY", IniValue(control, "Control", "BackupErrorStep"));
    EXPECT_EQ("D:\\Mig\\Data\\SRV01\\" + folder.filename().string() + "\\tool.bkp",
              IniValue(control, "Control", "BackupErrorFile"));
    EXPECT_EQ("\"HKLM\\SOFTWARE\\Vendor\\Tool\",\"tool.bkp\"", IniValue(control, "BACKUPERROR", "REGISTRY"));
}

TEST_F(RegistryBackupTest, ASaveThatFailsIsAnErrorNotABackup) {
    WriteControl("[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\n");
    // The file cannot be made, or a part of it cannot be written (a disk-full
    // write is recorded by its category, 13).
    for (const auto& [fault, code] : {std::pair{L"CreateFileW:tool.bkp=5", "5"}, {L"WriteFile:tool.bkp=112", "13"}}) {
        SCOPED_TRACE(code);
        fs::remove(WorldRoot() / "faults.ini");
        AddFault(fault);
        ASSERT_EQ(0, RunCorvan({"/B", "/S:SRV01"}, cwd_).exitCode);
        fs::path control = RestoreControl();
        EXPECT_EQ("error", IniValue(control, "Control", "BackupStatus"));
        EXPECT_EQ(code, IniValue(control, "Control", "BackupLastError"));
        EXPECT_EQ("\"HKLM\\SOFTWARE\\Vendor\\Tool\",\"tool.bkp\"", IniValue(control, "BACKUPERROR", "REGISTRY"));
    }
}

TEST_F(RegistryBackupTest, RestoreIgnoresRegistryEntriesAndServiceEntriesWithoutAction) {
    std::ofstream(cwd_ / "ControlRestore.ini")
        << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultDataLocation=D:\\Mig\\Data\r\n"
           "[RESTORE]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nSERVICE=Spooler\r\n";
    auto run = RunCorvan({"/R", "/C:ControlRestore.ini", "/S:SRV01"}, cwd_);
    ASSERT_EQ(0, run.exitCode) << run.out;
    fs::path control = HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01\\ControlRestore.ini");
    EXPECT_EQ("success", IniValue(control, "Control", "RestoreStatus"));
    EXPECT_EQ("Successful Restore!", IniValue(control, "Control", "RestoreErrorText"));
    EXPECT_EQ("<missing>", IniValue(control, "STATUS", "REGISTRY"));
    EXPECT_EQ("<missing>", IniValue(control, "RESTOREERROR", "REGISTRY"));
}

}  // namespace
