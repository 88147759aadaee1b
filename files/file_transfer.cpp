#include "files/file_transfer.h"

#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "platform/text.h"

namespace {

constexpr int kSharingRetries = 2;
constexpr DWORD kRetryPauseMs = 1000;
constexpr int kNetworkErrorsThatStop = 3;

bool IsSharingError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

template <class Call>
DWORD WithRetries(Call call) {
    DWORD error = 0;
    for (int attempt = 0;; ++attempt) {
        if (call()) return 0;
        error = GetLastError();
        if (!IsSharingError(error) || attempt == kSharingRetries) break;
        Sleep(kRetryPauseMs);
    }
    return error ? error : ERROR_GEN_FAILURE;
}

}  // namespace

bool IsNetworkError(DWORD error) {
    return error == ERROR_BAD_NETPATH || error == ERROR_NETNAME_DELETED || error == ERROR_BAD_NET_NAME ||
           error == ERROR_NETWORK_UNREACHABLE;
}

std::wstring CFileTally::Prediction() const {
    return corvan::Format(L"Folders=%u Files=%u Bytes=%llu Skipped=%u Failed=%u ", static_cast<unsigned>(Folders),
                          static_cast<unsigned>(Files), static_cast<unsigned long long>(Bytes),
                          static_cast<unsigned>(Skipped), static_cast<unsigned>(Failed));
}

void CFileTally::NoteFailure(DWORD code, const std::wstring& text) {
    ++Failed;
    if (FirstError) return;
    FirstError = code;
    FirstErrorText = text;
}

DWORD CFileTransfer::Copy(const std::wstring& from, const std::wstring& to, BOOL failIfExists) {
    DWORD error = WithRetries([&] { return CopyFileW(from.c_str(), to.c_str(), failIfExists); });
    Note(error);
    return error;
}

DWORD CFileTransfer::Move(const std::wstring& from, const std::wstring& to, DWORD flags) {
    DWORD error = WithRetries([&] { return MoveFileExW(from.c_str(), to.c_str(), flags); });
    Note(error);
    return error;
}

void CFileTransfer::Note(DWORD error) {
    if (!IsNetworkError(error)) {
        networkErrors_ = 0;
        return;
    }
    if (++networkErrors_ >= kNetworkErrorsThatStop && !stopError_) {
        stopError_ = error;
        Warn(corvan::Format(L"%d network errors in a row; the rest of the folder is not tried (error %u).",
                            kNetworkErrorsThatStop, static_cast<unsigned>(error)));
    }
}

std::wstring CFileTransfer::TemporaryName() {
    return corvan::Format(L"~corvan%04x%04x.tmp", static_cast<unsigned>(GetCurrentProcessId() & 0xFFFF),
                          ++temporaries_ & 0xFFFF);
}

void CFileTransfer::Warn(const std::wstring& text) const {
    if (logger_) logger_->Dispatch(CTextLogMessage(kLogWarning, text));
}
