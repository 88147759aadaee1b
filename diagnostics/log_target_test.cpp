#include "diagnostics/log_target.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/test_support.h"
#include "platform/sim/world.h"
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

// The encoding is learnt once per file; a file another process has written
// to since (its size is not the one left) is looked at again.
TEST(FileLogTargetTest, AppendsFollowAFileAnotherProcessReplaced) {
    corvan_test::ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    target.SetPath(dir.File("trace.log"));
    target.EnableLevel(kLogInformation);
    target.Write(CTextLogMessage(kLogInformation, L"one"));
    target.Write(CTextLogMessage(kLogInformation, L"\u00e9"));
    std::ofstream(dir.path() / "trace.log", std::ios::binary) << "\xEF\xBB\xBFother";
    target.Write(CTextLogMessage(kLogInformation, L"\u00e9"));
    std::string log = ReadBytes(dir.path() / "trace.log");
    EXPECT_TRUE(std::regex_match(log, std::regex(std::string("\xEF\xBB\xBFother\r\n") + kStamp + "INFORMATION \xC3\xA9")))
        << log;
}

TEST(FileLogTargetTest, AFailureIsReportedOnceOnStandardErrorAndToTheFailureLog) {
    corvan_test::ScopedTempDir dir;
    CFileLogTarget errors(L"unused.log");
    errors.SetPath(dir.File("error.log"));
    errors.EnableLevel(kLogError);
    struct Case {
        std::wstring path, notice;
    } cases[] = {
        {dir.File("missing/trace.log"),
         L"Cannot open file: " + dir.File("missing/trace.log") + L", Error: All or part of the path is invalid."},
        {dir.File("full.log"), L"Error opening file: " + dir.File("full.log") + L". Cause: The disk is full."},
    };
    sim::AddFaultRule(L"WriteFile:full.log=112");  // opens, then the disk is full
    std::string logged;
    for (const auto& c : cases) {
        CFileLogTarget target(L"unused.log");
        target.SetPath(c.path);
        target.EnableLevel(kLogError);
        target.SetFailureLog(&errors);
        ::testing::internal::CaptureStderr();
        target.Write(CTextLogMessage(kLogError, L"lost"));
        target.Write(CTextLogMessage(kLogError, L"lost too"));
        EXPECT_EQ(corvan::ToUtf8(c.notice + L"\n"), ::testing::internal::GetCapturedStderr());
        logged += std::string("\r\n") + kStamp + "ERROR       " + corvan::ToUtf8(c.notice);
    }
    sim::ClearFaultRules();
    EXPECT_TRUE(std::regex_match(ReadBytes(dir.path() / "error.log"), std::regex(logged)));
}

TEST(FileLogTargetTest, TextBeyondLatin1StartsAUtf8LogOrShowsAsACodeInALatin1One) {
    corvan_test::ScopedTempDir dir;
    CFileLogTarget target(L"unused.log");
    target.EnableLevel(kLogError);
    target.SetPath(dir.File("new.log"));
    target.Write(CTextLogMessage(kLogError, L"euro \u20ac"));
    target.Write(CTextLogMessage(kLogError, L"caf\u00e9"));
    EXPECT_TRUE(std::regex_match(ReadBytes(dir.path() / "new.log"),
                                 std::regex(std::string("\xEF\xBB\xBF\r\n") + kStamp + "ERROR       euro \xE2\x82\xAC\r\n" +
                                            kStamp + "ERROR       caf\xC3\xA9")));
    target.SetPath(dir.File("old.log"));
    target.Write(CTextLogMessage(kLogError, L"caf\u00e9"));
    target.Write(CTextLogMessage(kLogError, L"euro \u20ac"));
    EXPECT_TRUE(std::regex_match(ReadBytes(dir.path() / "old.log"),
                                 std::regex(std::string("\r\n") + kStamp + "ERROR       caf\xE9\r\n" + kStamp +
                                            "ERROR       euro <U\\+20AC>")));
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
