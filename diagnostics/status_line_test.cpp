#include "diagnostics/status_line.h"

#include <gtest/gtest.h>

#include "core/object_store.h"
#include "core/test_support.h"

namespace {

TEST(StatusLineTest, LineFieldsAndOneReportEntryPerDistinctLine) {
    EXPECT_EQ(L"Result: OK;Type: Share;Name: Public;Prediction: Path=C:\\Public ;State: ;Task: Backup Share ",
              BuildStatusLine(L"Share", L"Public", L"Path=C:\\Public ", L"Backup Share", 0));
    EXPECT_EQ(L"Result: NOK;Type: Port;Name: LPT1:;Prediction: ;State: ;Task:  ",
              BuildStatusLine(L"Port", L"LPT1:", L"", L"", 1722));

    CObjectStore report;
    EXPECT_EQ(1, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Backup Share", 5));
    EXPECT_EQ(0, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Backup Share", 5));
    EXPECT_EQ(1, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Restore Share", 5));
    const std::wstring line =
        L"share|Public=Result: NOK;Type: Share;Name: Public;Prediction: Path=C:\\P ;State: ;Task: ";
    EXPECT_EQ((std::vector<std::wstring>{line + L"Backup Share ", line + L"Restore Share "}),
              corvan_test::EntryLines(report));
    EXPECT_EQ(5u, report.GetEntryAt(0).EntryNumber);
}

}  // namespace
