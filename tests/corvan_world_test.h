// A simulated world and a working folder of the test's own, for runs of the
// built binary.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/testing/test_world.h"
#include "tests/corvan_process.h"

namespace corvan_test {

// The locations most control files of the tests name: all on the D: drive.
inline const std::string kMigLocations =
    "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
    "DefaultDataLocation=D:\\Mig\\Data\r\n";

// Where the server service keeps its shares, their permissions and the
// null-session list.
inline constexpr wchar_t kShares[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
inline constexpr wchar_t kSecurity[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security";
inline constexpr wchar_t kParameters[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";

class CorvanWorldTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        cwd_ = WorldRoot().parent_path() / (WorldRoot().filename().string() + "-cwd");
        std::filesystem::create_directories(cwd_);
    }
    void TearDown() override {
        std::filesystem::remove_all(cwd_);
        SimWorldTest::TearDown();
    }
    // A file of the working folder, byte for byte.
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(cwd_ / name, std::ios::binary) << text;
    }

    std::filesystem::path cwd_;
};

}  // namespace corvan_test
