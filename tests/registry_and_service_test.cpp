// Backups of registry keys, and the SERVICE entries of backup and restore
// runs, end to end through the built binary.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <tuple>

#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;

const wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";

class RegistryAndServiceTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        AddService(L"Spooler", SERVICE_AUTO_START, L"Running");
        AddService(L"W3SVC", SERVICE_DISABLED, L"Stopped");
        SetRegistryDword(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"Level", 3);
        SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Tool\\Sub", L"Name", L"first");
        SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Other", L"Path", L"%SystemRoot%\\x", REG_EXPAND_SZ);
        SetRegistryMultiString(L"SRV01", L"SOFTWARE\\Vendor\\Third", L"List", {L"a", L"b"});
    }
    void WriteControl(const std::string& sections) {
        Write("ControlBackup.ini", corvan_test::kMigLocations + sections);
    }
    // The newest run folder of the backups of SRV01.
    fs::path RunFolder() {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(Mig("Data\\SRV01")))
            if (entry.is_directory() && entry.path().filename() > newest.filename()) newest = entry.path();
        return newest;
    }
    void AddService(const std::wstring& name, DWORD start, const std::wstring& state) {
        SetRegistryDword(L"SRV01", kServices + name, L"Type", SERVICE_WIN32_OWN_PROCESS);
        SetRegistryDword(L"SRV01", kServices + name, L"Start", start);
        SetServiceState(L"SRV01", name, state);
    }
    std::string State(const std::string& name) {
        return IniValue(WorldRoot() / "SRV01" / "machine.ini", "Services", name);
    }
    std::optional<DWORD> StartType(const std::wstring& name) {
        return ReadRegistryDword(L"SRV01", kServices + name, L"Start");
    }
};

TEST_F(RegistryAndServiceTest, EveryEntryGetsItsOwnFileAndTheOutcomeKeys) {
    // Before the subkey: texts beyond Latin-1 and a type the value classes lack.
    SetRegistryString(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"\u03a9mega", L"\u041e\u0442\u0447\u0451\u0442 \u20ac");
    SetRegistryValue(L"SRV01", L"SOFTWARE\\Vendor\\Tool", L"Q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80});
    WriteControl(
        "[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Other\r\n"
        "REGISTRY=\"HKLM\\SOFTWARE\\Vendor\\Third\"\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Other,TOOL.bkp\r\n");
    auto run = Corvan({"/B", "/S:SRV01"});
    ASSERT_EQ(0, run.exitCode) << run.out;

    fs::path folder = RunFolder();
    std::string stamp = folder.filename().string();
    // The whole file, byte for byte: its items, its line ends and its byte-order mark.
    EXPECT_EQ(ReadHostFile(fs::path(CORVAN_SOURCE_DIR) / "tests/testdata/registry_tool.bkp"),
              ReadHostFile(folder / "tool.bkp"));
    // Entries without a file part never share a file, nor does a second
    // entry naming a file another one has.
    EXPECT_NE(std::string::npos, ReadHostFile(folder / (stamp + "_reg.bkp")).find("Value=\"%SystemRoot%\\x\""));
    EXPECT_NE(std::string::npos, ReadHostFile(folder / (stamp + "_reg_2.bkp")).find("saValue=\"a\",\"b\""));
    EXPECT_NE(std::string::npos, ReadHostFile(folder / "TOOL_2.bkp").find("KeyName=\"Other\""));
    EXPECT_NE(std::string::npos, run.out.find("using TOOL_2.bkp")) << run.out;
    EXPECT_EQ(2u, Count(run.out, "is taken by an earlier entry of this run")) << run.out;  // and no other name

    const Keys outcome = {{"BackupMachine", "SRV01"},
                          {"BackupMajorVersion", "00000005"},
                          {"BackupStatus", "success"},
                          {"BackupLastError", "0"},
                          {"BackupErrorText", "Successful Backup!"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_TRUE(std::regex_match(Outcome("BackupExecutionDatetime"),
                                 std::regex("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} ")));
    // Registry backups are not restore work.
    EXPECT_EQ("<missing>", Control("RESTORE", "REGISTRY"));
}

// A key that cannot be read still gets its (empty) file; a file that cannot
// be made, or a part of it that cannot be written, leaves none (a disk-full
// write is recorded by its category, 13). Either is an error, not a backup,
// and the next entry is saved.
TEST_F(RegistryAndServiceTest, AKeyOrFileThatFailsIsAnErrorNotABackup) {
    WriteControl(
        "[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Other,o."
        "bkp\r\n");
    // The rule, the error and its text, whether the file is written.
    const std::tuple<const wchar_t*, std::string, std::string, bool> cases[] = {
        {L"RegOpenKeyExW:Vendor\\Tool=5", "5", "Access is denied.  ", true},
        {L"CreateFileW:tool.bkp=5", "5", "Access to the file was denied.", false},
        {L"WriteFile:tool.bkp=112", "13", "The disk is full.", false}};
    for (const auto& [fault, code, text, written] : cases) {
        SCOPED_TRACE(corvan::ToUtf8(fault));
        fs::remove(WorldRoot() / "faults.ini");
        AddFault(fault);
        EXPECT_EQ(0, Corvan({"/B", "/S:SRV01"}).exitCode);  // the outcome goes to the control file, not the exit code

        fs::path folder = RunFolder();
        EXPECT_EQ(written, fs::is_regular_file(folder / "tool.bkp"));
        EXPECT_NE(std::string::npos, ReadHostFile(folder / "o.bkp").find("Value=\"%SystemRoot%\\x\""));
        const Keys outcome = {
            {"BackupStatus", "error"},
            {"BackupLastError", code},
            {"BackupErrorText", text},
            {"BackupErrorStep", "REGISTRY"},
            {"BackupErrorFile", "D:\\Mig\\Data\\SRV01\\" + folder.filename().string() + "\\tool.bkp"}};
        EXPECT_EQ(outcome, Outcomes(outcome));
        EXPECT_EQ("\"HKLM\\SOFTWARE\\Vendor\\Tool\",\"tool.bkp\"", Control("BACKUPERROR", "REGISTRY"));
        fs::remove_all(folder);
    }
}

// A hive with a key deeper than the registry keeps fails the backup that
// needs it, quickly, and stays as it was.
TEST_F(RegistryAndServiceTest, AnOverdeepHiveFailsItsBackupAndStaysAsItWas) {
    const fs::path hive = WorldRoot() / "SRV01" / "HKLM.reg";
    std::string deep = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep";
    for (int i = 0; i < 10000; ++i) deep += "\\k";
    std::ofstream(hive, std::ios::app) << deep << "]\r\n\"v\"=dword:00000001\r\n";
    const std::string hiveBytes = ReadHostFile(hive);
    WriteControl("[BACKUP]\r\nREGISTRY=HKLM\\SOFTWARE\\Deep,deep.bkp\r\n");
    auto run = Corvan({"/B", "/S:SRV01"}, 20);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ("error", Outcome("BackupStatus"));
    EXPECT_EQ("1009", Outcome("BackupLastError"));
    EXPECT_EQ("\"HKLM\\SOFTWARE\\Deep\",\"deep.bkp\"", Control("BACKUPERROR", "REGISTRY"));
    EXPECT_NE(std::string::npos, run.err.find("key deeper than 510 levels")) << run.err;
    EXPECT_EQ(hiveBytes, ReadHostFile(hive));
}

// Each entry of a backup acts in turn; one that fails is named, and the next
// entry runs. A restore runs the entries too.
TEST_F(RegistryAndServiceTest, ServiceEntriesActInTurnAndThoseThatFailAreNamed) {
    // A disabled service cannot start: the start fails, the start type still changes.
    WriteControl(
        "[BACKUP]\r\nSERVICE=NoSuch,Stop\r\nSERVICE=Spooler,Stop,Disable\r\nSERVICE=W3SVC,Start,manual\r\n"
        "SERVICE=W3SVC,Start\r\nSERVICE=W3SVC,Restart\r\nSERVICE=W3SVC\r\nSERVICE=Spooler,Restart\r\n");
    auto run = Corvan({"/B", "/S:SRV01"});
    EXPECT_EQ(0, run.exitCode) << run.out;
    EXPECT_NE(std::string::npos, run.out.find(",1060,The specified service does not exist")) << run.out;
    EXPECT_EQ(2u, Count(run.out, "is not Start or Stop")) << run.out;  // the two Restart entries
    EXPECT_EQ("Stopped", State("Spooler"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DISABLED), StartType(L"Spooler"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DEMAND_START), StartType(L"W3SVC"));
    // The second entry found it startable; neither Restart nor an entry without action stop it,
    // and Restart starts nothing.
    EXPECT_EQ("Running", State("W3SVC"));
    const Keys outcome = {{"BackupStatus", "error"},
                          {"BackupLastError", "1058"},
                          {"BackupErrorText",
                           "The service cannot be started, either because it is disabled or because it has no "
                           "enabled devices associated with it.  "},
                          {"BackupErrorFile", "W3SVC"},
                          {"BackupErrorStep", "SERVICE"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_EQ(std::vector<std::string>({"SERVICE=Stop,\"NoSuch\"", "SERVICE=Start,manual,\"W3SVC\""}),
              Section("BACKUPERROR"));

    // A restore runs the service entries that name an action, skips those
    // that do not, and leaves registry entries to the backup.
    Write("ControlRestore.ini", corvan_test::kMigLocations +
                                    "[RESTORE]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nSERVICE=NoSuch\r\n"
                                    "SERVICE=W3SVC,Stop,Disable\r\n");
    run = Corvan({"/R", "/C:ControlRestore.ini", "/S:SRV01"});
    ASSERT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ("Stopped", State("W3SVC"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DISABLED), StartType(L"W3SVC"));
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ("Successful Restore!", Outcome("RestoreErrorText"));
    for (const char* section : {"STATUS", "RESTOREERROR"})
        EXPECT_EQ("<missing>", Control(section, "REGISTRY")) << section;
}

}  // namespace
