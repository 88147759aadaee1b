// A large restore killed at random points, again and again: the restore
// control file it reads and rewrites, the data folder's copy and every backup
// and restored-state file are always whole, and the next run completes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

using KillTest = corvan_test::CorvanWorldTest;

TEST_F(KillTest, RestoreKilledAtRandomPointsLeavesEveryFileWhole) {
    AddShares(kShares, L"Share", L"Data");
    SetRegistryMultiString(L"SRV01", corvan_test::kParameters, L"NullSessionShares", {});
    // Exclusions of names no share has make the control file large, so
    // that its copies take a while to write.
    std::string control = corvan_test::kMigLocations +
                          "[EXCLUSION]\r\nShareType=dword:80000000\r\n"
                          "ShareType=dword:80000003\r\n";
    for (int i = 0; i < 10000; ++i) control += "ShareName=NoShareHasThisName" + std::to_string(i) + "\r\n";
    Write("ControlBackup.ini", control + "[BACKUP]\r\nSHARE=ALL\r\n");
    ASSERT_EQ(0, Corvan({"/B", "/S:SRV01"}).exitCode);
    const fs::path migrationCopy = Mig("ControlRestore.ini");
    const fs::path dataCopy = Mig("Data\\SRV01\\ControlRestore.ini");
    const std::string backupFolder = Outcome("BackupLocation");
    // The restore control file keeps its location and every restore entry
    // (and STATUS ones once restored).
    auto expectComplete = [&](const fs::path& file) {
        ExpectWhole(file);
        EXPECT_EQ(backupFolder, IniValue(file, "Control", "BackupLocation")) << file;
        EXPECT_LE(static_cast<size_t>(kShares), Count(ReadHostFile(file), "\r\nSHARE=Share")) << file;
    };
    expectComplete(migrationCopy);

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

        expectComplete(migrationCopy);
        expectComplete(dataCopy);
        for (const auto& entry : fs::recursive_directory_iterator(Mig("Data"))) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && std::regex_match(name, std::regex(".*\\.(bkp|dat|ini)")))
                ExpectWhole(entry.path());
        }
        if (HasFailure()) break;
    }

    auto last = RunCorvan(restore, cwd_);
    EXPECT_EQ(0, last.exitCode) << last.out;
    EXPECT_EQ("success", Outcome("RestoreStatus"));
    expectComplete(migrationCopy);
}

}  // namespace
