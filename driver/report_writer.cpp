#include "driver/report_writer.h"

void CReportWriter::Append() {
    if (written_ >= store_.GetEntryCount()) return;
    CObjectStore fresh;
    for (size_t i = written_; i < store_.GetEntryCount(); ++i) {
        const CStoreEntry& entry = store_.GetEntryAt(i);
        fresh.AddToSection(entry.Key, entry.Value);
    }
    if (fresh.SaveToReport(reportFile_)) written_ = store_.GetEntryCount();
}
