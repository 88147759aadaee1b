#include "driver/report_writer.h"

#include "core/preview.h"
#include "driver/corvanrator.h"
#include "platform/text.h"

CReportWriter::CReportWriter(CCorvanrator& migrator, CObjectStore& control, int backup)
    : migrator_(migrator), control_(control), backup_(backup) {}

void CReportWriter::Append() {
    // A preview's lines are its result: the console shows each one as well,
    // on a line of its own as the console log does.
    if (corvan::PreviewOnly()) {
        std::wstring lines;
        for (; shown_ < store_.GetEntryCount(); ++shown_) lines += L"\n" + store_.GetEntryAt(shown_).Value;
        if (!lines.empty()) corvan::ConsoleOut(lines);
    }
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
