// Computer name, environment expansion and command line as Windows gives them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

class EnvironmentTest : public sim::SimWorldTest {
protected:
    std::wstring Expand(const wchar_t* source) {
        WCHAR buffer[512];
        DWORD length = ExpandEnvironmentStringsW(source, buffer, 512);
        EXPECT_GT(length, 0u);
        EXPECT_LE(length, 512u);
        EXPECT_EQ(wcslen(buffer) + 1, length) << "the count includes the NUL";
        return buffer;
    }
};

TEST_F(EnvironmentTest, ComputerNameFollowsTheBufferProtocol) {
    SetLocalMachine(L"host01");
    WCHAR buffer[16];
    wcscpy(buffer, L"xxxxxxxxxxxxxxx");
    DWORD size = 6;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetComputerNameW(buffer, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetLastError());
    EXPECT_EQ(7u, size);  // with its NUL
    EXPECT_STREQ(L"xxxxxxxxxxxxxxx", buffer);

    ASSERT_TRUE(GetComputerNameW(buffer, &size));
    EXPECT_EQ(6u, size);  // without it
    EXPECT_STREQ(L"HOST01", buffer);
}

TEST_F(EnvironmentTest, ExpansionKnowsTheMachineAndTheTemporaryFolder) {
    SetLocalMachine(L"HOST01");
    EXPECT_EQ(L"HOST01", Expand(L"%ComputerName%"));
    EXPECT_EQ(L"[HOST01]", Expand(L"[%COMPUTERNAME%]"));
    std::wstring temp = corvan::FromUtf8(std::filesystem::temp_directory_path().string());
    while (temp.size() > 1 && temp.back() == L'/') temp.pop_back();
    EXPECT_EQ(temp + L"\\x", Expand(L"%TEMP%\\x"));
    EXPECT_EQ(temp, Expand(L"%tmp%"));
}

TEST_F(EnvironmentTest, ExpansionLeavesUnknownNamesAsWritten) {
    setenv("CORVAN_SIM_TEST_VAR", "value", 1);
    EXPECT_EQ(L"value", Expand(L"%corvan_sim_test_var%"));
    EXPECT_EQ(L"%NOSUCHVAR_CORVAN%", Expand(L"%NOSUCHVAR_CORVAN%"));
    // The closing percent sign of an unknown name may open the next one.
    EXPECT_EQ(L"%NOSUCHVAR_CORVANvalue", Expand(L"%NOSUCHVAR_CORVAN%CORVAN_SIM_TEST_VAR%"));
    EXPECT_EQ(L"100%", Expand(L"100%"));
    EXPECT_EQ(L"%%", Expand(L"%%"));
    EXPECT_EQ(L"", Expand(L""));
    unsetenv("CORVAN_SIM_TEST_VAR");
}

TEST_F(EnvironmentTest, ExpansionIntoAShortBufferReportsTheNeededSize) {
    SetLocalMachine(L"HOST01");
    WCHAR buffer[4];
    EXPECT_EQ(7u, ExpandEnvironmentStringsW(L"%ComputerName%", buffer, 4));
    EXPECT_EQ(7u, ExpandEnvironmentStringsW(L"%ComputerName%", nullptr, 0));
}

TEST_F(EnvironmentTest, CommandLineNamesThisProgram) {
    std::wstring line = GetCommandLineW();
    EXPECT_NE(std::wstring::npos, line.find(L"corvan_tests"));
    EXPECT_EQ(GetCommandLineW(), GetCommandLineW());
}

// Run by CommandLineQuotesArgumentsAsWindowsSplitsThem in a child process.
TEST(CommandLineEcho, WritesTheCommandLine) {
    const char* file = std::getenv("CORVAN_ECHO_COMMAND_LINE");
    if (!file) GTEST_SKIP() << "only run as a child process";
    std::ofstream(file) << corvan::ToUtf8(GetCommandLineW());
}

TEST(CommandLineTest, CommandLineQuotesArgumentsAsWindowsSplitsThem) {
    std::string file = (std::filesystem::temp_directory_path() / ("corvan-cmdline-" + std::to_string(getpid()))).string();
    const char* args[] = {"corvan_tests", "--gtest_filter=CommandLineEcho.*", "with space", "quote\"d",
                          "back\\slash\\", "trail\\ space\\", "", nullptr};
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        setenv("CORVAN_ECHO_COMMAND_LINE", file.c_str(), 1);
        if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
        execv("/proc/self/exe", const_cast<char**>(args));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(file);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    EXPECT_EQ("corvan_tests --gtest_filter=CommandLineEcho.* \"with space\" \"quote\\\"d\" back\\slash\\ "
              "\"trail\\ space\\\\\" \"\"",
              line);
}

}  // namespace
