#include "diagnostics/log_target.h"

#include <vector>

#include "core/text_file.h"
#include "platform/text.h"

namespace {

// What a file-failure category means, on one line.
std::wstring CategoryText(DWORD category) { return FileFailureDescription(category); }

}  // namespace

CLogTarget::~CLogTarget() = default;

void CConsoleLogTarget::Write(const CLogMessage& message) {
    if (!Accepts(message.GetLevel())) return;
    corvan::ConsoleOut(L"\n" + message.FormatLine());
}

CFileLogTarget::CFileLogTarget(const std::wstring& fileName) {
    if (fileName.find(L':') != std::wstring::npos) {
        path_ = fileName;
        return;
    }
    std::wstring directory;
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed > 0) {
        std::vector<WCHAR> buffer(needed + 1);
        DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length > 0 && length < buffer.size()) directory.assign(buffer.data(), length);
    }
    path_ = directory + L"\\" + fileName;
}

void CFileLogTarget::Write(const CLogMessage& message) {
    if (!Accepts(message.GetLevel())) return;
    std::wstring line = message.FormatLine();
    line.insert(line.begin(), L'\n');
    CTextFileWriter& file = file_;
    if (DWORD error = file.Open(path_, true, &memo_)) {
        ReportFailure(corvan::Format(L"Cannot open file: %ls, Error: %ls", path_.c_str(),
                                     CategoryText(FileFailureCategory(error)).c_str()));
        return;
    }
    open_ = true;
    bool ok = file.Write(line);
    ok = file.Close() && ok;
    open_ = false;
    if (!ok)
        ReportFailure(corvan::Format(L"Error opening file: %ls. Cause: %ls", path_.c_str(),
                                     CategoryText(WriteFailureCategory(file.Error())).c_str()));
}

void CFileLogTarget::ReportFailure(const std::wstring& text) {
    if (failureReported_) return;
    failureReported_ = true;
    corvan::ConsoleErr(text + L"\n");
    if (failureLog_ && failureLog_ != this) failureLog_->Write(CTextLogMessage(kLogError, text));
}
