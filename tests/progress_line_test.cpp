// The progress line of a long step, as a console shows it: the run is given
// a pseudo-terminal for its standard output, and what it wrote is played
// back as a terminal would show it. The same run with its output sent to a
// file holds none of it.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;

// What a terminal shows after the bytes: a carriage return goes back to
// the line's start, a line feed to the next line, other bytes overwrite.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (char c : bytes) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
        } else {
            std::string& line = lines.back();
            if (line.size() <= column) line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    for (auto& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    return lines;
}

using ProgressLineTest = corvan_test::CorvanWorldTest;

// A backup of two hundred shares and a restore of two thousand files.
TEST_F(ProgressLineTest, ShownOnATerminalGoneWhenTheStepEndsAbsentFromAFile) {
    AddShares(200, L"S", L"Shares");
    const fs::path data = HostPathOf(L"SRV01", L"D:\\Data");
    for (int folder = 0; folder < 10; ++folder) {
        fs::create_directories(data / ("F" + std::to_string(folder)));
        for (int i = 0; i < 200; ++i)
            std::ofstream(data / ("F" + std::to_string(folder)) / ("file" + std::to_string(i) + ".txt")) << i;
    }
    Write("ControlBackup.ini",
          "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n[EXCLUSION]\r\nShareType=80000000\r\n"
          "ShareType=80000003\r\n[BACKUP]\r\nSHARE=ALL\r\nDIRECTORY=D:\\Data\r\n");

    auto redirected = Corvan({"/B", "/S:SRV01"});
    ASSERT_EQ("success", Outcome("BackupStatus")) << redirected.out;
    EXPECT_EQ(std::string::npos, redirected.out.find("SHARE:"));
    EXPECT_EQ(std::string::npos, redirected.out.find('\r'));

    std::string bytes = corvan_test::RunCorvanOnTerminal({"/B", "/S:SRV01"}, cwd_);
    EXPECT_NE(std::string::npos, bytes.find("\rBackup SHARE: 0 objects, 0 bytes")) << bytes.substr(0, 2000);
    for (const auto& line : Screen(bytes)) EXPECT_EQ(std::string::npos, line.find("Backup SHARE")) << line;

    fs::remove_all(data);
    bytes = corvan_test::RunCorvanOnTerminal({"/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV01"}, cwd_);
    EXPECT_NE(std::string::npos, bytes.find("\rRestore DIRECTORY: ")) << bytes.substr(0, 2000);
    for (const auto& line : Screen(bytes)) EXPECT_EQ(std::string::npos, line.find("Restore DIRECTORY")) << line;
    EXPECT_EQ("success", Outcome("RestoreStatus")) << Outcome("RestoreErrorText");
    EXPECT_TRUE(fs::exists(data / "F9" / "file199.txt"));
}

}  // namespace
