// SERVICE entries of backup and restore runs, through the built binary.
#include <gtest/gtest.h>

#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;

const wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";

class ServiceStepTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        AddService(L"Spooler", SERVICE_AUTO_START, L"Running");
        AddService(L"W3SVC", SERVICE_DISABLED, L"Stopped");
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
    // Runs a backup with the given BACKUP section and returns the saved restore control file.
    fs::path Backup(const std::string& backupSection) {
        Write("ControlBackup.ini", corvan_test::kMigLocations + "[BACKUP]\r\n" + backupSection);
        auto run = Corvan({"/B", "/S:SRV01"});
        EXPECT_EQ(0, run.exitCode) << run.out;
        return Mig("ControlRestore.ini");
    }
};

TEST_F(ServiceStepTest, StopAndDisableInOneEntryAndAStartTypeChangesBeforeTheServiceCanStart) {
    // A disabled service cannot start: the start fails, the start type still changes.
    fs::path control = Backup("SERVICE=Spooler,Stop,Disable\r\nSERVICE=W3SVC,Start,manual\r\nSERVICE=W3SVC,Start\r\n");
    EXPECT_EQ("Stopped", State("Spooler"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DISABLED), StartType(L"Spooler"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DEMAND_START), StartType(L"W3SVC"));
    EXPECT_EQ("Running", State("W3SVC"));  // the second entry found it startable
    EXPECT_EQ("error", IniValue(control, "Control", "BackupStatus"));
    EXPECT_EQ("1058", IniValue(control, "Control", "BackupLastError"));
    EXPECT_EQ("Start,manual,\"W3SVC\"", IniValue(control, "BACKUPERROR", "SERVICE"));
}

TEST_F(ServiceStepTest, MissingServiceIsAFailedStep) {
    fs::path control = Backup("SERVICE=NoSuch,Stop\r\nSERVICE=Spooler,Restart\r\nSERVICE=Spooler\r\n");
    const Keys outcome = {{"BackupStatus", "error"},
                          {"BackupLastError", "1060"},
                          {"BackupErrorText", "The specified service does not exist as an installed service.  "},
                          {"BackupErrorFile", "NoSuch"},
                          {"BackupErrorStep", "SERVICE"}};
    EXPECT_EQ(outcome, Outcomes(outcome));
    EXPECT_EQ("Stop,\"NoSuch\"", IniValue(control, "BACKUPERROR", "SERVICE"));
    EXPECT_EQ("Running", State("Spooler"));  // neither Restart nor an entry without action touch it
}

// A restore runs the service entries that name an action, skips those that
// do not, and leaves registry entries to the backup.
TEST_F(ServiceStepTest, RestoreRunsServiceEntriesWithAnActionAndIgnoresRegistryEntries) {
    Write("ControlRestore.ini",
          "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultDataLocation=D:\\Mig\\Data\r\n"
          "[RESTORE]\r\nREGISTRY=HKLM\\SOFTWARE\\Vendor\\Tool,tool.bkp\r\nSERVICE=NoSuch\r\n"
          "SERVICE=Spooler,Stop,Manual\r\n");
    auto run = Corvan({"/R", "/C:ControlRestore.ini", "/S:SRV01"});
    ASSERT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ("Stopped", State("Spooler"));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DEMAND_START), StartType(L"Spooler"));
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    EXPECT_EQ("Successful Restore!", Outcome("RestoreErrorText"));
    for (const char* section : {"STATUS", "RESTOREERROR"})
        EXPECT_EQ("<missing>", IniValue(Mig("ControlRestore.ini"), section, "REGISTRY")) << section;
}

}  // namespace
