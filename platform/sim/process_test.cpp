#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

// SRV01 is the local machine; its tools folder is D:\kitbox\toolsdir.
class ProcessTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddDirectory(L"SRV01", L"D:\\kitbox\\toolsdir");
        tools_ = HostPathOf(L"SRV01", L"D:\\kitbox\\toolsdir");
    }

    void Script(const std::string& name, const std::string& body, bool executable) {
        std::ofstream(tools_ / name) << "#!/bin/sh\n" << body << "\n";
        ::chmod((tools_ / name).c_str(), executable ? 0755 : 0644);
    }

    // Runs a command line to its end; returns the exit code, or -1 when
    // CreateProcessW failed (its error is then in error_).
    long long Run(std::wstring commandLine, STARTUPINFOW* startup = nullptr, LPCWSTR directory = nullptr,
                  LPVOID environment = nullptr, DWORD flags = 0) {
        STARTUPINFOW plain{sizeof(STARTUPINFOW)};
        PROCESS_INFORMATION info;
        std::memset(&info, 0xAB, sizeof info);
        SetLastError(0xdeadbeef);
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, environment, directory,
                            startup ? startup : &plain, &info)) {
            error_ = GetLastError();
            return -1;
        }
        // Asked without a wait, the exit code alone shows when the child has ended.
        DWORD code = STILL_ACTIVE;
        for (int i = 0; i < 12000 && code == STILL_ACTIVE; ++i) {  // a minute at most
            if (!GetExitCodeProcess(info.hProcess, &code)) {
                ADD_FAILURE() << "GetExitCodeProcess failed with " << GetLastError();
                break;
            }
            if (code == STILL_ACTIVE) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(CloseHandle(info.hThread));
        EXPECT_TRUE(CloseHandle(info.hProcess));
        return code;
    }

    fs::path tools_;
    DWORD error_ = 0;
};

TEST_F(ProcessTest, ScriptInTheWorldGetsItsArgumentsSplitAsOnWindowsUnlessAFaultIsInjected) {
    Script("FixW2KShares.cmd", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$(dirname \"$0\")/args.txt\"",
           false);
    std::wstring commandLine =
        L"d:\\KITBOX\\toolsdir\\FixW2KShares.cmd SRV01 \"two words\" say\\\"hi\\\" back\\slash \"end\\\\\" "
        L"\"in\"\"side\" a\"b c\"d";
    ASSERT_EQ(0, Run(commandLine));
    EXPECT_EQ(
        "[SRV01]\n[two words]\n[say\"hi\"]\n[back\\slash]\n[end\\]\n[in\"side]\n[ab cd]\n",
        ReadHostFile(tools_ / "args.txt"));

    // A quoted program path may hold blanks.
    AddDirectory(L"SRV01", L"D:\\Program Files");
    fs::copy_file(tools_ / "FixW2KShares.cmd", HostPathOf(L"SRV01", L"D:\\Program Files\\tool"));
    ASSERT_EQ(0, Run(L"\"D:\\Program Files\\tool\" first"));
    EXPECT_EQ("[first]\n", ReadHostFile(HostPathOf(L"SRV01", L"D:\\Program Files\\args.txt")));

    // An injected failure matches the command line, as often as it says.
    AddFault(L"CreateProcessW:FixW2KShares=1722,1");
    EXPECT_EQ(-1, Run(commandLine));
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), error_);
    EXPECT_EQ(0, Run(commandLine));
}

TEST_F(ProcessTest, ExitCodeAndStillActive) {
    Script("wait.sh", "while [ ! -e \"$(dirname \"$0\")/go\" ]; do sleep 0.01; done; exit 7", true);
    std::wstring commandLine = L"D:\\kitbox\\toolsdir\\wait.sh";
    STARTUPINFOW startup{sizeof(STARTUPINFOW)};
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &info));
    EXPECT_NE(info.hProcess, info.hThread);
    EXPECT_NE(0u, info.dwProcessId);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 0));

    // Once the script has ended (to the host a child not yet reaped), a wait
    // that does not wait finds it ended the first time it is asked.
    std::ofstream(tools_ / "go") << "";
    auto ended = [&] {
        std::ifstream in("/proc/" + std::to_string(info.dwProcessId) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t close = stat.rfind(')');
        return close != std::string::npos && stat.compare(close, 3, ") Z") == 0;
    };
    for (int i = 0; i < 1000 && !ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hThread, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, INFINITE));
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(7u, code);

    // The thread handle is no process handle.
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, GetExitCodeProcess(info.hThread, &code));
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, WaitForSingleObject(info.hProcess, INFINITE) != WAIT_FAILED);
}

TEST_F(ProcessTest, StandardHandlesWorkingDirectoryAndEnvironmentAreWhatTheCallSays) {
    Script("talk.sh", "echo out-line; echo err-line >&2; read line; echo \"got $line\"", true);
    // The caller's own standard input (in.txt here) is passed on as it is.
    std::ofstream(tools_ / "in.txt") << "typed\n";
    const int in = ::open((tools_ / "in.txt").c_str(), O_RDONLY), caller = ::dup(STDIN_FILENO);
    ASSERT_EQ(STDIN_FILENO, ::dup2(in, STDIN_FILENO));
    ::close(in);
    HANDLE out = CreateFileW(L"D:\\kitbox\\toolsdir\\out.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);
    STARTUPINFOW startup{sizeof(STARTUPINFOW)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    EXPECT_EQ(0, Run(L"D:\\kitbox\\toolsdir\\talk.sh", &startup));
    ::dup2(caller, STDIN_FILENO);
    ::close(caller);
    CloseHandle(out);
    EXPECT_EQ("out-line\nerr-line\ngot typed\n", ReadHostFile(tools_ / "out.txt"));

    // One handle per stream, the same each time.
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_NE(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_NE(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, GetStdHandle(5) != INVALID_HANDLE_VALUE);

    Script("where.sh", "pwd > where.txt; printf '%s|%s' \"$GREETING\" \"$CORVAN_WORLD\" > env.txt", true);
    fs::create_directories(WorldRoot() / "SRV01/drives/D/Work");

    ASSERT_EQ(0, Run(L"D:\\kitbox\\toolsdir\\where.sh", nullptr, L"d:\\work"));
    EXPECT_EQ(fs::canonical(WorldRoot() / "SRV01/drives/D/Work").string() + "\n",
              ReadHostFile(WorldRoot() / "SRV01/drives/D/Work/where.txt"));
    // The world travels with the inherited environment.
    EXPECT_EQ("|" + WorldRoot().string(), ReadHostFile(WorldRoot() / "SRV01/drives/D/Work/env.txt"));

    // Without a directory the child starts in the simulated current one.
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\kitbox"));
    const WCHAR block[] = L"OTHER=1\0GREETING=hello\0";
    ASSERT_EQ(0, Run(L"toolsdir\\where.sh", nullptr, nullptr, const_cast<WCHAR*>(block), CREATE_UNICODE_ENVIRONMENT));
    EXPECT_EQ("hello|", ReadHostFile(WorldRoot() / "SRV01/drives/D/kitbox/env.txt"));
    // A bare name without an extension is also looked for with ".exe".
    fs::copy_file(tools_ / "where.sh", WorldRoot() / "SRV01/drives/D/kitbox/bare.exe");
    ASSERT_EQ(0, Run(L"bare", nullptr, nullptr, const_cast<WCHAR*>(block), CREATE_UNICODE_ENVIRONMENT));

    EXPECT_EQ(-1, Run(L"D:\\kitbox\\toolsdir\\where.sh", nullptr, L"D:\\NoSuchDir"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), error_);
}

}  // namespace
