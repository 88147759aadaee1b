// The progress line of a long step, as a console shows it: the run is given
// a pseudo-terminal for its standard output, and what it wrote is played
// back as a terminal would show it. The same run with its output sent to a
// file holds none of it.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/sim/world.h"
#include "platform/text.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;

// Runs corvan with a terminal of 100 columns as its standard output and
// error; returns everything written to it.
std::string RunOnTerminal(const std::vector<std::string>& args, const fs::path& cwd) {
    std::vector<std::string> argv = {CORVAN_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 100;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("TEMP", (cwd / "tmp").c_str(), 1);
        std::vector<char*> pointers;
        for (auto& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // the terminal closes with the run
        out.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return out;
}

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

class ProgressLineTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        fs::create_directories(cwd_ / "tmp");
    }
};

TEST_F(ProgressLineTest, ShownOnATerminalGoneWhenTheStepEndsAbsentFromAFile) {
    for (int i = 0; i < 200; ++i) {
        std::wstring name = L"S" + std::to_wstring(i);
        AddDirectory(L"SRV01", L"D:\\Data\\" + name);
        AddShare(L"SRV01", name, L"D:\\Data\\" + name);
    }
    std::ofstream(cwd_ / "ControlBackup.ini") << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n[BACKUP]\r\nSHARE=ALL\r\n";
    const std::string bytes = RunOnTerminal({"/B", "/S:SRV01"}, cwd_);
    EXPECT_NE(std::string::npos, bytes.find("\rBackup SHARE: ")) << bytes;
    for (const auto& line : Screen(bytes)) EXPECT_EQ(std::string::npos, line.find("Backup SHARE")) << line;

    auto redirected = corvan_test::RunCorvan({"/B", "/S:SRV01"}, cwd_);
    EXPECT_EQ(std::string::npos, redirected.out.find("SHARE:"));
    EXPECT_EQ(std::string::npos, redirected.out.find('\r'));
}

TEST_F(ProgressLineTest, ADirectoryRestoreOfTwoThousandFilesShowsItsProgress) {
    const fs::path data = HostPathOf(L"SRV01", L"D:\\Data");
    for (int folder = 0; folder < 10; ++folder) {
        fs::create_directories(data / ("F" + std::to_string(folder)));
        for (int i = 0; i < 200; ++i)
            std::ofstream(data / ("F" + std::to_string(folder)) / ("file" + std::to_string(i) + ".txt")) << i;
    }
    std::ofstream(cwd_ / "ControlBackup.ini") << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\n"
                                                 "[BACKUP]\r\nDIRECTORY=D:\\Data\r\n";
    auto backup = corvan_test::RunCorvan({"/B", "/S:SRV01"}, cwd_);
    ASSERT_EQ("success", corvan_test::IniValue(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini"), "Control",
                                               "BackupStatus"))
        << backup.out;
    fs::remove_all(data);

    const std::string bytes = RunOnTerminal({"/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV01"}, cwd_);
    EXPECT_NE(std::string::npos, bytes.find("\rRestore DIRECTORY: ")) << bytes.substr(0, 2000);
    for (const auto& line : Screen(bytes)) EXPECT_EQ(std::string::npos, line.find("Restore DIRECTORY")) << line;
    EXPECT_EQ("success", corvan_test::IniValue(HostPathOf(L"SRV01", L"D:\\Mig\\ControlRestore.ini"), "Control",
                                               "RestoreStatus"));
    EXPECT_TRUE(fs::exists(data / "F9" / "file199.txt"));
}

}  // namespace
