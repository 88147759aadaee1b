// The simulated machine name and environment: the world's local machine,
// the host's variables and temporary folder, and the command line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using EnvironmentWorldTest = sim::SimWorldTest;

TEST_F(EnvironmentWorldTest, ExpansionKnowsTheMachineTheTemporaryFolderAndTheHostsVariables) {
    SetLocalMachine(L"HOST01");
    std::wstring temp = corvan::FromUtf8(std::filesystem::temp_directory_path().string());
    while (temp.size() > 1 && temp.back() == L'/') temp.pop_back();
    setenv("CORVAN_SIM_TEST_VAR", "value", 1);
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"[%COMPUTERNAME%]", L"[HOST01]"},
        {L"%TEMP%\\x", temp + L"\\x"},
        {L"%tmp%", temp},
        {L"%corvan_sim_test_var%", L"value"},
        // The closing percent sign of an unknown name may open the next one.
        {L"%NOSUCHVAR_CORVAN%CORVAN_SIM_TEST_VAR%", L"%NOSUCHVAR_CORVANvalue"},
    };
    WCHAR buffer[512];
    for (const auto& [source, expanded] : cases) {
        // The count includes the NUL.
        EXPECT_EQ(expanded.size() + 1, ExpandEnvironmentStringsW(source, buffer, 512)) << corvan::ToUtf8(source);
        EXPECT_EQ(expanded, buffer);
    }
    unsetenv("CORVAN_SIM_TEST_VAR");
    AddFault(L"ExpandEnvironmentStringsW:TEMP=5");
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, ExpandEnvironmentStringsW(L"%TEMP%", buffer, 512));
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
