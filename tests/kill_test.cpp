// A large restore killed at random points, again and again: the restore
// control file it reads and rewrites, the data folder's copy and every backup
// and restored-state file are always whole, and the next run completes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>

#include "platform/text.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::RunCorvan;

constexpr int kShares = 50;
constexpr int kKills = 20;

class KillTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        std::string shares;
        for (int i = 0; i < kShares; ++i) {
            std::wstring name = L"Share" + std::to_wstring(i);
            AddDirectory(L"SRV01", L"D:\\Data\\" + name);
            AddShare(L"SRV01", name, L"D:\\Data\\" + name, L"share number " + std::to_wstring(i));
        }
        SetRegistryMultiString(L"SRV01", corvan_test::kParameters, L"NullSessionShares", {});
        // Exclusions of names no share has make the control file large, so
        // that its copies take a while to write.
        std::ofstream control(cwd_ / "ControlBackup.ini");
        control << corvan_test::kMigLocations << "[EXCLUSION]\r\nShareType=dword:80000000\r\n"
                   "ShareType=dword:80000003\r\n";
        for (int i = 0; i < 10000; ++i) control << "ShareName=NoShareHasThisName" << i << "\r\n";
        control << "[BACKUP]\r\nSHARE=ALL\r\n";
    }

    // A store file as the tool writes it: whole, down to its two closing line ends.
    void ExpectWhole(const fs::path& file) {
        std::string bytes = ReadHostFile(file);
        ASSERT_GE(bytes.size(), 4u) << file;
        EXPECT_EQ("\r\n\r\n", bytes.substr(bytes.size() - 4)) << file;
    }
    // The restore control file keeps its location and every restore entry.
    void ExpectCompleteControl(const fs::path& file, const std::string& backupFolder) {
        ExpectWhole(file);
        EXPECT_EQ(backupFolder, IniValue(file, "Control", "BackupLocation")) << file;
        std::string text = ReadHostFile(file);
        size_t entries = 0;
        for (size_t at = text.find("\r\nSHARE=Share"); at != std::string::npos; at = text.find("\r\nSHARE=Share", at + 1))
            ++entries;
        EXPECT_LE(static_cast<size_t>(kShares), entries) << file;  // RESTORE entries, and STATUS ones once restored
    }

};

TEST_F(KillTest, RestoreKilledAtRandomPointsLeavesEveryFileWhole) {
    ASSERT_EQ(0, RunCorvan({"/B", "/S:SRV01"}, cwd_).exitCode);
    const fs::path migrationCopy = HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini");
    const fs::path dataCopy = HostPathOf(L"SRV01", L"D:\\Mig\\Data\\SRV01\\ControlRestore.ini");
    const std::string backupFolder = IniValue(migrationCopy, "Control", "BackupLocation");
    ExpectCompleteControl(migrationCopy, backupFolder);

    // The migration folder's copy is the restore's input and one of its outputs.
    const std::vector<std::string> restore = {"/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV01"};
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(0, RunCorvan(restore, cwd_).exitCode);
    auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Half of the kills anywhere in the run, half in its last fifth, where
    // the copies of the control file are written.
    std::uniform_int_distribution<long> anywhere(0, whole.count());
    std::uniform_int_distribution<long> nearTheEnd(whole.count() * 4 / 5, whole.count());
    for (int kill = 0; kill < kKills; ++kill) {
        pid_t pid = corvan_test::StartCorvan(restore, cwd_);
        usleep(static_cast<useconds_t>(kill % 2 ? nearTheEnd(random) : anywhere(random)));
        ::kill(pid, SIGKILL);
        corvan_test::WaitCorvan(pid, cwd_);

        ExpectCompleteControl(migrationCopy, backupFolder);
        ExpectCompleteControl(dataCopy, backupFolder);
        for (const auto& entry : fs::recursive_directory_iterator(HostPathOf(L"SRV01", L"D:\\Mig\\Data"))) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && std::regex_match(name, std::regex(".*\\.(bkp|dat|ini)")))
                ExpectWhole(entry.path());
        }
        if (HasFailure()) break;
    }

    auto last = RunCorvan(restore, cwd_);
    EXPECT_EQ(0, last.exitCode) << last.out;
    EXPECT_EQ("success", IniValue(migrationCopy, "Control", "RestoreStatus"));
    ExpectCompleteControl(migrationCopy, backupFolder);
}

}  // namespace
