// The status lines of one step: collected in a report store and appended to
// the status report (and, in a preview, shown on the console). Each line
// reaches the report once, however often the step appends. An append that
// fails fails the run, and its lines are appended with the next one.
#pragma once

#include <string>

#include "core/object_store.h"

class CCorvanrator;

class CReportWriter {
public:
    // The report is the migrator's; a failure is recorded in its run and
    // in `control` (backup: 1 for the backup run, 0 for the restore run).
    CReportWriter(CCorvanrator& migrator, CObjectStore& control, int backup);
    CObjectStore& Store() { return store_; }
    // Appends the lines added since the last append that succeeded.
    void Append();

private:
    CCorvanrator& migrator_;
    CObjectStore& control_;
    int backup_;
    CObjectStore store_;
    size_t written_ = 0;
    size_t shown_ = 0;
};
