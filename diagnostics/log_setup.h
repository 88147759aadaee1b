// The standard log targets and the application logger, created before the
// program's main routine and destroyed at exit before the logger registry.
#pragma once

#include <memory>
#include <string>

#include "diagnostics/log_target.h"
#include "diagnostics/logger.h"

class CLogSetup {
public:
    CLogSetup();
    ~CLogSetup();
    CLogSetup(const CLogSetup&) = delete;
    CLogSetup& operator=(const CLogSetup&) = delete;

    // The process's one instance, registered under "Application".
    static CLogSetup& Instance();

    CLogger& GetLogger() { return *logger_; }
    CFileLogTarget& GetTraceTarget() { return *trace_; }
    CFileLogTarget& GetErrorTarget() { return *error_; }
    CFileLogTarget& GetReportTarget() { return *report_; }
    CConsoleLogTarget& GetConsoleTarget() { return *console_; }

    // Moves the three log files into `folder` under their usual names, so
    // that tests keep them out of the working directory.
    void SetLogFolder(const std::wstring& folder);

private:
    std::unique_ptr<CFileLogTarget> trace_;
    std::unique_ptr<CFileLogTarget> error_;
    std::unique_ptr<CFileLogTarget> report_;
    std::unique_ptr<CConsoleLogTarget> console_;
    std::unique_ptr<CLogger> logger_;
};
