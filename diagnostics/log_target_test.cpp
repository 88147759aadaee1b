#include "diagnostics/log_target.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/test_support.h"
#include "platform/text.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::ScopedTempDir;

std::wstring CurrentDirectory() {
    std::vector<WCHAR> buffer(GetCurrentDirectoryW(0, nullptr) + 1);
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::wstring(buffer.data(), n);
}

TEST(FileLogTargetTest, PathRule) {
    EXPECT_EQ(CurrentDirectory() + L"\\CorvanTrace.log", CFileLogTarget(L"CorvanTrace.log").GetPath());
    EXPECT_EQ(L"D:\\Logs\\x.log", CFileLogTarget(L"D:\\Logs\\x.log").GetPath());
    CFileLogTarget target(L"x.log");
    EXPECT_EQ(L"default", target.GetName());
    EXPECT_EQ(0u, target.GetMask());
    EXPECT_FALSE(target.IsOpen());
}

TEST(FileLogTargetTest, EachLineIsPrecededByItsLineBreak) {
    ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    target.SetPath(dir.File("trace.log"));
    target.EnableLevel(kLogInformation | kLogError);
    target.Write(CTextLogMessage(kLogInformation, L"first %s"));
    target.Write(CTextLogMessage(kLogWarning, L"not accepted"));
    target.Write(CTextLogMessage(kLogError, L"second \u00e9"));
    EXPECT_FALSE(target.IsOpen());

    std::string log = ReadBytes(dir.path() / "trace.log");
    std::regex shape(
        "\r\n[0-9. :]{19} \\[ *[0-9]+\\] INFORMATION first %s"
        "\r\n[0-9. :]{19} \\[ *[0-9]+\\] ERROR       second \xe9");
    EXPECT_TRUE(std::regex_match(log, shape)) << log;
}

TEST(FileLogTargetTest, FileThatCannotBeOpenedShowsAMessageBox) {
    ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    std::wstring path = dir.File("missing/trace.log");
    target.SetPath(path);
    target.EnableLevel(kLogError);
    ::testing::internal::CaptureStderr();
    target.Write(CTextLogMessage(kLogError, L"lost"));
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, shown.find("Exception")) << shown;
    EXPECT_NE(std::string::npos,
              shown.find(corvan::ToUtf8(L"Cannot open file: " + path +
                                        L", Error: The system cannot find the path specified.")))
        << shown;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

TEST(FileLogTargetTest, CharacterAbove255LosesTheMessageAndSaysWhy) {
    ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    target.SetPath(dir.File("trace.log"));
    target.EnableLevel(kLogInformation);
    target.Write(CTextLogMessage(kLogInformation, L"kept"));
    ::testing::internal::CaptureStderr();
    target.Write(CTextLogMessage(kLogInformation, L"euro \u20ac"));
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, shown.find("Error opening file: ")) << shown;
    EXPECT_NE(std::string::npos, shown.find(". Cause: The data is invalid.")) << shown;
    std::string log = ReadBytes(dir.path() / "trace.log");
    EXPECT_NE(std::string::npos, log.find("kept"));
    EXPECT_EQ(std::string::npos, log.find("euro"));
}

TEST(ConsoleLogTargetTest, WritesLineBreakThenLineLiterally) {
    CConsoleLogTarget console(L"Console");
    console.EnableLevel(kLogWarning);
    ::testing::internal::CaptureStdout();
    console.Write(CTextLogMessage(kLogWarning, L"50%% of %s"));
    console.Write(CTextLogMessage(kLogInformation, L"hidden"));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(out, std::regex("\n[0-9. :]{19} \\[ *[0-9]+\\] WARNING     50% of %s"))) << out;
}

}  // namespace
