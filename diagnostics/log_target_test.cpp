#include "diagnostics/log_target.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/test_support.h"
#include "platform/text.h"

namespace {

using corvan_test::ReadBytes;

const char kStamp[] = "[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8} \\[ *[0-9]+\\] ";

TEST(FileLogTargetTest, PathRule) {
    std::vector<WCHAR> cwd(GetCurrentDirectoryW(0, nullptr) + 1);
    GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    EXPECT_EQ(std::wstring(cwd.data()) + L"\\CorvanTrace.log", CFileLogTarget(L"CorvanTrace.log").GetPath());
    EXPECT_EQ(L"D:\\Logs\\x.log", CFileLogTarget(L"D:\\Logs\\x.log").GetPath());
}

TEST(FileLogTargetTest, EachLineIsPrecededByItsLineBreak) {
    corvan_test::ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    target.SetPath(dir.File("trace.log"));
    target.EnableLevel(kLogInformation | kLogError);
    target.Write(CTextLogMessage(kLogInformation, L"first %s"));
    target.Write(CTextLogMessage(kLogWarning, L"not accepted"));
    target.Write(CTextLogMessage(kLogError, L"second \u00e9"));
    std::string log = ReadBytes(dir.path() / "trace.log");
    EXPECT_TRUE(std::regex_match(log, std::regex(std::string("\r\n") + kStamp + "INFORMATION first %s\r\n" + kStamp +
                                                 "ERROR       second \xe9")))
        << log;
}

TEST(FileLogTargetTest, FailuresAreShownAndTheMessageIsLost) {
    corvan_test::ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    std::wstring missing = dir.File("missing/trace.log");
    target.SetPath(missing);
    target.EnableLevel(kLogError);
    ::testing::internal::CaptureStderr();
    target.Write(CTextLogMessage(kLogError, L"lost"));
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, shown.find("Exception")) << shown;
    EXPECT_NE(std::string::npos, shown.find(corvan::ToUtf8(L"Cannot open file: " + missing +
                                                           L", Error: The system cannot find the path specified.")))
        << shown;

    target.SetPath(dir.File("trace.log"));
    ::testing::internal::CaptureStderr();
    target.Write(CTextLogMessage(kLogError, L"euro \u20ac"));
    shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, shown.find(". Cause: The data is invalid.")) << shown;
    EXPECT_EQ("", ReadBytes(dir.path() / "trace.log"));
}

TEST(ConsoleLogTargetTest, WritesLineBreakThenLineLiterally) {
    CConsoleLogTarget console(L"Console");
    console.EnableLevel(kLogWarning);
    ::testing::internal::CaptureStdout();
    console.Write(CTextLogMessage(kLogWarning, L"50%% of %s"));
    console.Write(CTextLogMessage(kLogInformation, L"hidden"));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(out, std::regex(std::string("\n") + kStamp + "WARNING     50% of %s"))) << out;
}

}  // namespace
