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

// A target writing into a file of the test's own folder.
class FileLogTargetTest : public ::testing::Test {
protected:
    void Open(const std::string& file, DWORD levels) {
        target_.SetPath(dir_.File(file));
        target_.EnableLevel(levels);
    }
    void Log(DWORD level, const std::wstring& text) { target_.Write(CTextLogMessage(level, text)); }
    // Whether the file holds exactly the lines, each "<stamp>LEVEL text" after its line break.
    ::testing::AssertionResult Holds(const std::string& file, const std::string& lines) {
        const std::string bytes = ReadBytes(dir_.path() / file);
        if (std::regex_match(bytes, std::regex(lines))) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << file << " holds: " << bytes;
    }

    corvan_test::ScopedTempDir dir_;
    CFileLogTarget target_{L"unused.log"};
};

TEST_F(FileLogTargetTest, PathRule) {
    std::vector<WCHAR> cwd(GetCurrentDirectoryW(0, nullptr) + 1);
    GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    EXPECT_EQ(std::wstring(cwd.data()) + L"\\CorvanTrace.log", CFileLogTarget(L"CorvanTrace.log").GetPath());
    EXPECT_EQ(L"D:\\Logs\\x.log", CFileLogTarget(L"D:\\Logs\\x.log").GetPath());
}

// Only the enabled levels, each line after its line break, "%s" as written.
// Text beyond Latin-1 starts a UTF-8 log, or shows as a code in a Latin-1 one.
TEST_F(FileLogTargetTest, EnabledLinesInTheEncodingTheFileBeganWith) {
    const std::string stamp = kStamp;
    Open("old.log", kLogInformation | kLogError);
    Log(kLogInformation, L"first %s");
    Log(kLogWarning, L"not accepted");
    Log(kLogError, L"caf\u00e9");
    Log(kLogError, L"euro \u20ac");
    EXPECT_TRUE(Holds("old.log", "\r\n" + stamp + "INFORMATION first %s\r\n" + stamp + "ERROR       caf\xE9\r\n" +
                                     stamp + "ERROR       euro <U\\+20AC>"));
    Open("new.log", kLogError);
    Log(kLogError, L"euro \u20ac");
    Log(kLogError, L"caf\u00e9");
    EXPECT_TRUE(Holds("new.log", "\xEF\xBB\xBF\r\n" + stamp + "ERROR       euro \xE2\x82\xAC\r\n" + stamp +
                                     "ERROR       caf\xC3\xA9"));
}

// The encoding is learnt once per file; a file another process has written
// to since (its size is not the one left) is looked at again.
TEST_F(FileLogTargetTest, AppendsFollowAFileAnotherProcessReplaced) {
    Open("trace.log", kLogInformation);
    Log(kLogInformation, L"one");
    Log(kLogInformation, L"\u00e9");
    std::ofstream(dir_.path() / "trace.log", std::ios::binary) << "\xEF\xBB\xBFother";
    Log(kLogInformation, L"\u00e9");
    EXPECT_TRUE(Holds("trace.log", std::string("\xEF\xBB\xBFother\r\n") + kStamp + "INFORMATION \xC3\xA9"));
}

TEST_F(FileLogTargetTest, AFailureIsReportedOnceOnStandardErrorAndToTheFailureLog) {
    Open("error.log", kLogError);
    struct Case {
        std::wstring path, notice;
    } cases[] = {
        {dir_.File("missing/trace.log"),
         L"Cannot open file: " + dir_.File("missing/trace.log") + L", Error: All or part of the path is invalid."},
        {dir_.File("full.log"), L"Error opening file: " + dir_.File("full.log") + L". Cause: The disk is full."},
    };
    sim::AddFaultRule(L"WriteFile:full.log=112");  // opens, then the disk is full
    std::string logged;
    for (const auto& c : cases) {
        CFileLogTarget target(L"unused.log");
        target.SetPath(c.path);
        target.EnableLevel(kLogError);
        target.SetFailureLog(&target_);
        ::testing::internal::CaptureStderr();
        target.Write(CTextLogMessage(kLogError, L"lost"));
        target.Write(CTextLogMessage(kLogError, L"lost too"));
        EXPECT_EQ(corvan::ToUtf8(c.notice + L"\n"), ::testing::internal::GetCapturedStderr());
        logged += std::string("\r\n") + kStamp + "ERROR       " + corvan::ToUtf8(c.notice);
    }
    sim::ClearFaultRules();
    EXPECT_TRUE(Holds("error.log", logged));
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
