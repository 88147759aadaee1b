// The status lines of one step: collected in a report store and appended to
// the status report (and, in a preview, shown on the console). Each line
// reaches the report once, however often the step appends.
#pragma once

#include <string>

#include "core/object_store.h"

class CReportWriter {
public:
    explicit CReportWriter(const std::wstring& reportFile) : reportFile_(reportFile) {}
    CObjectStore& Store() { return store_; }
    // Appends the lines added since the last append.
    void Append();

private:
    std::wstring reportFile_;
    CObjectStore store_;
    size_t written_ = 0;
    size_t shown_ = 0;
};
