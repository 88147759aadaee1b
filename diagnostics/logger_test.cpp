#include "diagnostics/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "core/base_object.h"
#include "core/test_support.h"
#include "diagnostics/log_setup.h"
#include "platform/text.h"

namespace {

using corvan_test::ReadBytes;
using corvan_test::RecordingTarget;
using corvan_test::ScopedTempDir;

// Runs with TZ set to UTC so that a given time prints predictably.
class ScopedUtc {
public:
    ScopedUtc() {
        if (const char* tz = std::getenv("TZ")) old_ = tz, had_ = true;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~ScopedUtc() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

std::wstring Expand(const std::wstring& text) { return CTextLogMessage(kLogInformation, text).GetText(); }

TEST(LogMessageTest, LabelsAreElevenCharacters) {
    EXPECT_EQ(L"INFORMATION", LogLevelLabel(kLogInformation));
    EXPECT_EQ(L"WARNING    ", LogLevelLabel(kLogWarning));
    EXPECT_EQ(L"ERROR      ", LogLevelLabel(kLogError));
    EXPECT_EQ(L"DEBUG      ", LogLevelLabel(kLogDebug));
    EXPECT_EQ(L"TRACE      ", LogLevelLabel(kLogTrace));
    EXPECT_EQ(L"REPORT     ", LogLevelLabel(kLogReport));
    EXPECT_EQ(L"UNKNOWN    ", LogLevelLabel(kLogError | kLogReport));
}

TEST(LogMessageTest, LineShape) {
    ScopedUtc utc;
    // 2024-02-29 23:05:09 UTC
    EXPECT_EQ(L"29.02.2024 23:05:09 [   7] ERROR       it failed",
              FormatLogLine(1709247909, 7, kLogError, L"it failed"));
    EXPECT_EQ(L"01.01.1970 00:00:00 [123456] INFORMATION x", FormatLogLine(0, 123456, kLogInformation, L"x"));
}

TEST(LogMessageTest, FormatLineUsesThisProcessAndTheExpandedText) {
    CTextLogMessage message(kLogWarning, L"disk %1");
    std::string line = corvan::ToUtf8(message.FormatLine());
    std::regex shape(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d \[( *\d+)\] WARNING     disk Qon2Vel Migration/)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    std::string column = m[1].str();
    EXPECT_GE(column.size(), 4u);
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), column.substr(column.find_first_not_of(' ')));
    EXPECT_LE(std::labs(static_cast<long>(message.GetTime() - std::time(nullptr))), 5);
}

TEST(LogMessageTest, InsertionExpansion) {
    EXPECT_EQ(L"from Qon2Vel Migration/ to", Expand(L"from %1 to"));
    EXPECT_EQ(L"keep %s and %d", Expand(L"keep %s and %d"));
    EXPECT_EQ(L"100% done", Expand(L"100%% done"));
    EXPECT_EQ(L"%q ends in 5%", Expand(L"%q ends in 5%"));
    EXPECT_EQ(L"a b", Expand(L"a% b"));  // percent and blank is an escape for the blank
    EXPECT_EQ(L"%%s", Expand(L"%%%%s"));
    // Inserts without an argument of their own keep their spelling.
    EXPECT_EQ(L"C:\\a%20b %2", Expand(L"C:\\a%20b %2"));
    // When the formatter fails (empty result) the text stays.
    EXPECT_EQ(L"%0", Expand(L"%0"));
    EXPECT_EQ(L"", Expand(L""));
}

TEST(LogMessageTest, TextIsCutAtTheBufferSize) {
    CTextLogMessage message(kLogInformation, std::wstring(7000, L'x'));
    EXPECT_EQ(CLogMessage::kMaxText, message.GetRawText().size());
    EXPECT_EQ(std::vector<std::wstring>{L"Qon2Vel Migration/"}, message.GetInsertionStrings());
}

TEST(LoggerTest, LogKindChoosesTheLevel) {
    CLogger logger;
    RecordingTarget all;
    logger.AddTarget(L"All", &all);
    logger.Log(L"bad", 16);
    logger.Log(L"fine", 64);
    logger.Log(L"question", 32);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogInformation, kLogInformation}), all.levels);
}

TEST(LoggerTest, AddTargetReplacesByName) {
    CLogger logger;
    RecordingTarget first, second;
    logger.AddTarget(L"T", &first);
    logger.AddTarget(L"T", &second);
    logger.Log(L"x", 64);
    EXPECT_TRUE(first.texts.empty());
    EXPECT_EQ(1u, second.texts.size());
    EXPECT_EQ(&second, logger.GetTarget(L"T"));
    EXPECT_STREQ(L"CLogger", logger.GetRuntimeClass()->ClassName);
}

TEST(LoggerTest, LevelReachesOnlyTargetsWhoseMaskHoldsAllItsBits) {
    // The masks of the standard set: console, trace, error, report.
    CLogger logger;
    RecordingTarget console(46), trace(15), error(4), report(36);
    logger.AddTarget(L"Console", &console);
    logger.AddTarget(L"Trace", &trace);
    logger.AddTarget(L"ErrorTrace", &error);
    logger.AddTarget(L"ReportLog", &report);
    auto send = [&](DWORD level) {
        CTextLogMessage message(level, L"m");
        logger.Dispatch(message);
    };
    for (DWORD level : {kLogError, kLogInformation, kLogReport, kLogWarning, kLogTrace}) send(level);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogReport, kLogWarning}), console.levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogInformation, kLogWarning}), trace.levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError}), error.levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogReport}), report.levels);
}

TEST(LoggerRegistryTest, UnknownNameGivesNullAndRegisteringSetsIt) {
    EXPECT_EQ(nullptr, LoggerRegistry::Lookup(L"NoSuchLogger"));
    CLogger logger;
    LoggerRegistry::Register(L"TestLogger", &logger);
    EXPECT_EQ(&logger, LoggerRegistry::Lookup(L"TestLogger"));
    LoggerRegistry::Register(L"TestLogger", nullptr);
    EXPECT_EQ(nullptr, LoggerRegistry::Lookup(L"TestLogger"));
}

TEST(LogSetupTest, StandardTargetsAreRegisteredBeforeMain) {
    CLogSetup& setup = CLogSetup::Instance();
    EXPECT_EQ(&setup.GetLogger(), LoggerRegistry::Lookup(L"Application"));
    EXPECT_EQ(&setup.GetLogger(), CBaseObject().Logger);
    CLogger& logger = setup.GetLogger();
    EXPECT_EQ(&setup.GetConsoleTarget(), logger.GetTarget(L"Console"));
    EXPECT_EQ(&setup.GetTraceTarget(), logger.GetTarget(L"Trace"));
    EXPECT_EQ(&setup.GetErrorTarget(), logger.GetTarget(L"ErrorTrace"));
    EXPECT_EQ(&setup.GetReportTarget(), logger.GetTarget(L"ReportLog"));
    EXPECT_EQ(L"Console", setup.GetConsoleTarget().GetName());
    EXPECT_EQ(46u, setup.GetConsoleTarget().GetMask());
    EXPECT_EQ(15u, setup.GetTraceTarget().GetMask());
    EXPECT_EQ(4u, setup.GetErrorTarget().GetMask());
    EXPECT_EQ(36u, setup.GetReportTarget().GetMask());
    auto endsWith = [](const std::wstring& text, const std::wstring& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith(setup.GetTraceTarget().GetPath(), L"\\CorvanTrace.log"));
    EXPECT_TRUE(endsWith(setup.GetErrorTarget().GetPath(), L"\\CorvanError.log"));
    EXPECT_TRUE(endsWith(setup.GetReportTarget().GetPath(), L"\\CorvanReport.log"));
}

TEST(LogSetupTest, FailureReachesConsoleAndAllThreeFiles) {
    ScopedTempDir dir;
    CLogSetup& setup = CLogSetup::Instance();
    std::wstring trace = setup.GetTraceTarget().GetPath();
    std::wstring error = setup.GetErrorTarget().GetPath();
    std::wstring report = setup.GetReportTarget().GetPath();
    setup.SetLogFolder(corvan::FromUtf8(dir.path().string()));

    CBaseObject object;
    ::testing::internal::CaptureStdout();
    object.SetError(L"CTest::Run()", L"Call()", 5);
    object.SetError(L"CTest::Run()", L"CTest::Run()", 0);
    std::string console = ::testing::internal::GetCapturedStdout();
    setup.GetTraceTarget().SetPath(trace);
    setup.GetErrorTarget().SetPath(error);
    setup.GetReportTarget().SetPath(report);

    const std::string failure = "ERROR       CTest::Run(),Call(),5,Access is denied.  ";
    const std::string success = "INFORMATION CTest::Run(),CTest::Run(),0";
    EXPECT_NE(std::string::npos, console.find(failure));
    EXPECT_EQ(std::string::npos, console.find(success));
    std::string traceLog = ReadBytes(dir.path() / "CorvanTrace.log");
    EXPECT_NE(std::string::npos, traceLog.find(failure));
    EXPECT_NE(std::string::npos, traceLog.find(success));
    for (const char* name : {"CorvanError.log", "CorvanReport.log"}) {
        std::string log = ReadBytes(dir.path() / name);
        EXPECT_NE(std::string::npos, log.find(failure)) << name;
        EXPECT_EQ(std::string::npos, log.find(success)) << name;
    }
}

}  // namespace
