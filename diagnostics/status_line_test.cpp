#include "diagnostics/status_line.h"

#include <gtest/gtest.h>

#include "core/object_store.h"

namespace {

TEST(StatusLineTest, LineFields) {
    EXPECT_EQ(L"Result: OK;Type: Share;Name: Public;Prediction: Path=C:\\Public ;State: ;Task: Backup Share ",
              BuildStatusLine(L"Share", L"Public", L"Path=C:\\Public ", L"Backup Share", 0));
    EXPECT_EQ(L"Result: NOK;Type: Port;Name: LPT1:;Prediction: ;State: ;Task:  ",
              BuildStatusLine(L"Port", L"LPT1:", L"", L"", 1722));
}

TEST(StatusLineTest, ReportAddsOneEntryPerDistinctLine) {
    CObjectStore report;
    EXPECT_EQ(1, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Backup Share", 5));
    EXPECT_EQ(0, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Backup Share", 5));
    EXPECT_EQ(1, ReportStatusLine(report, L"share", L"Public", L"Share", L"Path=C:\\P ", L"Restore Share", 5));
    ASSERT_EQ(2u, report.GetEntryCount());
    const CStoreEntry& e = report.GetEntryAt(0);
    EXPECT_EQ(L"share", e.Section);
    EXPECT_EQ(L"Public", e.Key);
    EXPECT_EQ(5u, e.EntryNumber);
    EXPECT_EQ(L"Result: NOK;Type: Share;Name: Public;Prediction: Path=C:\\P ;State: ;Task: Backup Share ", e.Value);
}

}  // namespace
