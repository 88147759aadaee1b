// CreateFileW opens a file that exists under its exact name without looking
// it up first; these pin what that open must still report, and what append
// access does.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/sim/testing/test_world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

class FileOpenTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddFile(L"SRV01", L"D:\\Logs\\run.log", "one");
    }

    // The handle's last error, or the failure's; the handle is closed.
    DWORD Open(const wchar_t* path, DWORD access, DWORD disposition) {
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, 0, nullptr);
        DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return h == INVALID_HANDLE_VALUE ? error | 0x80000000u : error;
    }

    bool Append(const wchar_t* path, const std::string& bytes) {
        HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
        CloseHandle(h);
        return ok;
    }

    std::string Content() { return ReadHostFile(HostPathOf(L"SRV01", L"D:\\Logs\\run.log")); }
};

constexpr DWORD kFailed = 0x80000000u;

TEST_F(FileOpenTest, EachDispositionReportsWhatWasThere) {
    struct Case {
        const wchar_t* path;
        DWORD access;
        DWORD disposition;
        DWORD result;  // last error after success, or kFailed | error
    };
    for (const Case& c : {
             Case{L"D:\\Logs\\run.log", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
             Case{L"d:\\LOGS\\RUN.LOG", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
             Case{L"D:\\Logs\\run.log", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ALREADY_EXISTS},
             Case{L"D:\\LOGS\\Run.log", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ALREADY_EXISTS},
             Case{L"D:\\Logs\\run.log", GENERIC_READ, CREATE_NEW, kFailed | ERROR_FILE_EXISTS},
             Case{L"D:\\Logs\\missing.log", GENERIC_READ, OPEN_EXISTING, kFailed | ERROR_FILE_NOT_FOUND},
             Case{L"D:\\Nowhere\\x.log", GENERIC_WRITE, OPEN_ALWAYS, kFailed | ERROR_PATH_NOT_FOUND},
             Case{L"D:\\Logs\\run.log", GENERIC_READ, TRUNCATE_EXISTING, kFailed | ERROR_INVALID_PARAMETER},
             Case{L"D:\\Logs\\run.log", GENERIC_READ, 99, kFailed | ERROR_INVALID_PARAMETER},
             // Folders are not files, whichever way they are asked for.
             Case{L"D:\\Logs", GENERIC_READ, OPEN_EXISTING, kFailed | ERROR_ACCESS_DENIED},
             Case{L"D:\\logs", GENERIC_WRITE, OPEN_ALWAYS, kFailed | ERROR_ACCESS_DENIED},
             Case{L"D:\\Logs", FILE_APPEND_DATA, OPEN_ALWAYS, kFailed | ERROR_ACCESS_DENIED},
             Case{L"D:\\Logs\\new.log", GENERIC_WRITE, OPEN_ALWAYS, ERROR_SUCCESS},
             Case{L"D:\\LOGS\\NEW.LOG", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ALREADY_EXISTS},
         }) {
        EXPECT_EQ(c.result, Open(c.path, c.access, c.disposition)) << corvan::ToUtf8(c.path);
    }
    EXPECT_TRUE(fs::exists(HostPathOf(L"SRV01", L"D:\\Logs\\new.log")));
    EXPECT_FALSE(fs::exists(HostPathOf(L"SRV01", L"D:\\Logs\\missing.log")));

    // CREATE_ALWAYS and TRUNCATE_EXISTING empty the file they find.
    EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, Open(L"D:\\Logs\\RUN.log", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ("", Content());
    ASSERT_TRUE(Append(L"D:\\Logs\\run.log", "x"));
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, Open(L"D:\\Logs\\run.log", GENERIC_WRITE, TRUNCATE_EXISTING));
    EXPECT_EQ("", Content());
}

TEST_F(FileOpenTest, AppendAccessWritesAtTheEndWhateverThePointerSays) {
    HANDLE first = CreateFileW(L"D:\\Logs\\run.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    // Another writer adds a line after this handle was opened.
    ASSERT_TRUE(Append(L"d:\\logs\\RUN.LOG", "-two"));
    SetFilePointer(first, 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(first, "-three", 6, &written, nullptr));
    CloseHandle(first);
    EXPECT_EQ("one-two-three", Content());

    // Write access alone writes where the pointer is.
    HANDLE h = CreateFileW(L"D:\\Logs\\run.log", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(WriteFile(h, "ONE", 3, &written, nullptr));
    CloseHandle(h);
    EXPECT_EQ("ONE-two-three", Content());
}

TEST_F(FileOpenTest, ARelativeHostPathFollowsTheCurrentDirectory) {
    // The same text names another file once the current directory moves.
    fs::path first = WorldRoot() / "first", second = WorldRoot() / "second";
    fs::create_directories(first);
    fs::create_directories(second);
    for (const fs::path& folder : {first, second}) {
        ASSERT_TRUE(SetCurrentDirectoryW(corvan::FromUtf8(folder.string()).c_str()));
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, Open(L"same.txt", GENERIC_WRITE, CREATE_NEW));
        EXPECT_EQ(kFailed | ERROR_FILE_EXISTS, Open(L"same.txt", GENERIC_WRITE, CREATE_NEW));
        EXPECT_TRUE(fs::exists(folder / "same.txt")) << folder;
    }
}

TEST(ProcessIdTest, AForkedChildReportsItsOwnNumber) {
    DWORD parent = GetCurrentProcessId();
    EXPECT_EQ(static_cast<DWORD>(getpid()), parent);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(GetCurrentProcessId() == static_cast<DWORD>(getpid()) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(parent, GetCurrentProcessId());
}

}  // namespace
