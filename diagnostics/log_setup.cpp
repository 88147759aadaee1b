#include "diagnostics/log_setup.h"

namespace {

const wchar_t kTraceFile[] = L"CorvanTrace.log";
const wchar_t kErrorFile[] = L"CorvanError.log";
const wchar_t kReportFile[] = L"CorvanReport.log";

}  // namespace

CLogSetup::CLogSetup() {
    console_ = std::make_unique<CConsoleLogTarget>(L"Console");
    console_->EnableLevel(kLogWarning | kLogError | kLogDebug | kLogReport);
    trace_ = std::make_unique<CFileLogTarget>(kTraceFile);
    trace_->EnableLevel(kLogDebug | kLogInformation | kLogWarning | kLogError);
    error_ = std::make_unique<CFileLogTarget>(kErrorFile);
    error_->EnableLevel(kLogError);
    report_ = std::make_unique<CFileLogTarget>(kReportFile);
    report_->EnableLevel(kLogError | kLogReport);
    logger_ = std::make_unique<CLogger>();
    for (CFileLogTarget* file : {trace_.get(), error_.get(), report_.get()}) file->SetFailureLog(error_.get());

    logger_->AddTarget(L"Console", console_.get());
    logger_->AddTarget(L"Trace", trace_.get());
    logger_->AddTarget(L"ErrorTrace", error_.get());
    logger_->AddTarget(L"ReportLog", report_.get());
    LoggerRegistry::Register(L"Application", logger_.get());
}

CLogSetup::~CLogSetup() {
    // Objects created from now on find no logger rather than a freed one.
    if (LoggerRegistry::Lookup(L"Application") == logger_.get()) LoggerRegistry::Register(L"Application", nullptr);
    logger_.reset();
    trace_.reset();
    console_.reset();
    error_.reset();
    report_.reset();
}

CLogSetup& CLogSetup::Instance() {
    static CLogSetup setup;
    return setup;
}

void CLogSetup::SetLogFolder(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L"\\";
    trace_->SetPath(base + kTraceFile);
    error_->SetPath(base + kErrorFile);
    report_->SetPath(base + kReportFile);
}
