// A restore whose data folder lies on a disk that fills up during the run:
// on a small filesystem of its own, where the test can mount one.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::IniValue;
using corvan_test::RunCorvan;

constexpr int kShares = 30;

class FullDiskTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        small_ = cwd_ / "small";
        fs::create_directories(small_);
        if (mount("tmpfs", small_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k") != 0)
            GTEST_SKIP() << "a small filesystem cannot be mounted here (" << std::strerror(errno)
                         << "); the injected full disk of the hostile-input tests stands in";
        mounted_ = true;
        AddShares(kShares, L"Share", L"Data");
        std::ofstream(cwd_ / "ControlBackup.ini")
            << "[Control]\r\nDefaultMigLocation=" << (cwd_ / "mig").string()
            << "\r\nDefaultLogLocation=" << (cwd_ / "log").string()
            << "\r\nDefaultDataLocation=" << (small_ / "data").string()
            << "\r\n[EXCLUSION]\r\nShareType=dword:80000000\r\nShareType=dword:80000003\r\n[BACKUP]\r\nSHARE=ALL\r\n";
    }
    void TearDown() override {
        if (mounted_) umount2(small_.c_str(), MNT_DETACH);
        CorvanWorldTest::TearDown();
    }

    fs::path small_;
    bool mounted_ = false;
};

TEST_F(FullDiskTest, RestoreOntoAFullDiskFailsAndKeepsEveryFileThatWasThere) {
    ASSERT_EQ(0, RunCorvan({"/B", "/S:SRV01"}, cwd_).exitCode);
    ASSERT_EQ("success", IniValue(cwd_ / "mig" / "ControlRestore.ini", "Control", "BackupStatus"));
    const auto before = Snapshot(small_);
    // Backup files, whole set, three copies; the data folder, its machine's and the run's.
    ASSERT_EQ(static_cast<size_t>(kShares) + 4 + 3, before.size());

    // Fill the disk, then leave room for a couple of small files.
    {
        std::ofstream filler(small_ / "filler", std::ios::binary);
        std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    fs::resize_file(small_ / "filler", fs::file_size(small_ / "filler") - 8192);

    auto run = RunCorvan({"/R", "/C:" + (cwd_ / "mig" / "ControlRestore.ini").string(), "/S:SRV01"}, cwd_);
    EXPECT_EQ(1, run.exitCode) << run.out;  // copies of the control file could not be saved

    const fs::path control = cwd_ / "mig" / "ControlRestore.ini";
    EXPECT_EQ("error", IniValue(control, "Control", "RestoreStatus"));
    EXPECT_EQ("13", IniValue(control, "Control", "RestoreLastError"));
    EXPECT_EQ("The disk is full.", IniValue(control, "Control", "RestoreErrorText"));
    const auto after = Snapshot(small_, "filler");
    for (const auto& [path, bytes] : before) {
        auto it = after.find(path);
        ASSERT_NE(after.end(), it) << path;
        EXPECT_EQ(bytes, it->second) << path;
    }
    for (const auto& [path, bytes] : after) {
        EXPECT_NE(".tmp", fs::path(path).extension().string()) << path;
        if (bytes != "<dir>") ExpectWhole(small_ / path);
    }
}

}  // namespace
