#include "driver/report_writer.h"

#include "driver/corvanrator.h"

CReportWriter::CReportWriter(CCorvanrator& migrator, CObjectStore& control, int backup)
    : migrator_(migrator), control_(control), backup_(backup) {}

void CReportWriter::Append() {
    if (written_ >= store_.GetEntryCount()) return;
    CObjectStore fresh;
    for (size_t i = written_; i < store_.GetEntryCount(); ++i) {
        const CStoreEntry& entry = store_.GetEntryAt(i);
        fresh.AddToSection(entry.Key, entry.Value);
    }
    if (fresh.SaveToReport(migrator_.DefaultReportName))
        written_ = store_.GetEntryCount();
    else
        migrator_.SaveFailed(control_, backup_, L"REPORT", migrator_.DefaultReportName, fresh);
}
