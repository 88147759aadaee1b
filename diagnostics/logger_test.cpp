#include "diagnostics/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <regex>
#include <string>

#include "core/base_object.h"
#include "core/test_support.h"
#include "diagnostics/log_setup.h"
#include "platform/text.h"

namespace {

using corvan_test::RecordingTarget;

std::wstring Expand(const std::wstring& text) { return CTextLogMessage(kLogInformation, text).GetText(); }

TEST(LogMessageTest, LineShapeAndInsertions) {
    const char* tz = std::getenv("TZ");
    std::string saved = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(L"29.02.2024 23:05:09 [   7] ERROR       it failed",
              FormatLogLine(1709247909, 7, kLogError, L"it failed"));
    EXPECT_EQ(L"01.01.1970 00:00:00 [123456] REPORT      x", FormatLogLine(0, 123456, kLogReport, L"x"));
    EXPECT_EQ(L"01.01.1970 00:00:00 [   1] UNKNOWN     x", FormatLogLine(0, 1, kLogError | kLogReport, L"x"));
    // The same second in another zone is another stamp.
    setenv("TZ", "JST-9", 1);
    tzset();
    EXPECT_EQ(L"01.01.1970 09:00:00 [   1] DEBUG       x", FormatLogLine(0, 1, kLogDebug, L"x"));
    if (tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    std::string line = corvan::ToUtf8(CTextLogMessage(kLogWarning, L"disk %1").FormatLine());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        line, m, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d \[( *\d+)\] WARNING     disk Qon2Vel Migration/)")))
        << line;
    EXPECT_GE(m[1].length(), 4);
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), m[1].str().substr(m[1].str().find_first_not_of(' ')));

    // Only %1 is expanded (to the product's name); %% gives one percent sign.
    EXPECT_EQ(L"from Qon2Vel Migration/ to", Expand(L"from %1 to"));
    EXPECT_EQ(L"keep %s and %d", Expand(L"keep %s and %d"));
    EXPECT_EQ(L"100% done, %q ends in 5%", Expand(L"100%% done, %q ends in 5%"));
    // Inserts without an argument of their own keep their spelling.
    EXPECT_EQ(L"C:\\a%20b %2", Expand(L"C:\\a%20b %2"));
    // When the formatter fails (empty result) the text stays.
    EXPECT_EQ(L"%0", Expand(L"%0"));
    EXPECT_EQ(CLogMessage::kMaxText, CTextLogMessage(kLogInformation, std::wstring(7000, L'x')).GetRawText().size());
}

// The standard set is registered before main; the kind of a message and the
// masks of its targets decide where it goes.
TEST(LoggerTest, TheStandardSetsMasksAndTheKindDecideWhereAMessageGoes) {
    EXPECT_EQ(nullptr, LoggerRegistry::Lookup(L"NoSuchLogger"));
    CLogger own;
    LoggerRegistry::Register(L"TestLogger", &own);
    EXPECT_EQ(&own, LoggerRegistry::Lookup(L"TestLogger"));
    LoggerRegistry::Register(L"TestLogger", nullptr);

    CLogSetup& setup = CLogSetup::Instance();
    CLogger& standard = setup.GetLogger();
    EXPECT_EQ(&standard, LoggerRegistry::Lookup(L"Application"));
    EXPECT_EQ(&standard, CBaseObject().Logger);
    // Recorders with the masks of the standard set's targets, under their names.
    CLogger logger;
    std::map<std::wstring, RecordingTarget> targets;
    for (const wchar_t* name : {L"Console", L"Trace", L"ErrorTrace", L"ReportLog"}) {
        auto [target, added] = targets.try_emplace(name, standard.GetTarget(name)->GetMask());
        logger.AddTarget(name, &target->second);
    }
    logger.Log(L"failed", 16);
    logger.Log(L"fine", 64);
    logger.Log(L"other kind", 32);
    for (DWORD level : {kLogReport, kLogWarning, kLogTrace}) logger.Dispatch(CTextLogMessage(level, L"m"));
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogReport, kLogWarning}), targets[L"Console"].levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogInformation, kLogInformation, kLogWarning}), targets[L"Trace"].levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError}), targets[L"ErrorTrace"].levels);
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogReport}), targets[L"ReportLog"].levels);

    RecordingTarget replacement;
    logger.AddTarget(L"Trace", &replacement);
    logger.Log(L"x", 64);
    EXPECT_EQ(4u, targets[L"Trace"].levels.size());
    EXPECT_EQ(1u, replacement.levels.size());

    std::wstring trace = setup.GetTraceTarget().GetPath();
    EXPECT_EQ(L"\\CorvanTrace.log", trace.substr(trace.size() - 16));
    // A folder given with its separator gets no second one.
    const std::wstring error = setup.GetErrorTarget().GetPath(), report = setup.GetReportTarget().GetPath();
    setup.SetLogFolder(L"D:\\Logs\\");
    EXPECT_EQ(L"D:\\Logs\\CorvanError.log", setup.GetErrorTarget().GetPath());
    setup.GetTraceTarget().SetPath(trace);
    setup.GetErrorTarget().SetPath(error);
    setup.GetReportTarget().SetPath(report);
}

}  // namespace
