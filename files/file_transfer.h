// What one tree operation of a directory item keeps while it walks: its
// counts, the run of network errors that stops it, and the file calls
// that retry a sharing violation.
#pragma once

#include <string>

#include "platform/win32.h"

class CLogger;

struct CFileTally {
    DWORD Folders = 0;
    DWORD Files = 0;
    ULONGLONG Bytes = 0;
    DWORD Skipped = 0;
    DWORD Failed = 0;
    DWORD FirstError = 0;        // the code of the first failure, 0 without one
    std::wstring FirstErrorText;  // and the system's description of it

    // "Folders=%u Files=%u Bytes=%I64u Skipped=%u Failed=%u "
    std::wstring Prediction() const;
    void NoteFailure(DWORD code, const std::wstring& text);
};

class CFileTransfer {
public:
    // operation: "Backup" or "Restore", the first word of the Task of what fails.
    CFileTransfer(CLogger* logger, const std::wstring& operation) : Operation(operation), logger_(logger) {}

    const std::wstring Operation;
    CFileTally Tally;

    // CopyFileW and MoveFileExW, a sharing or lock violation retried twice a
    // second apart. 0 or the error of the last try.
    DWORD Copy(const std::wstring& from, const std::wstring& to, BOOL failIfExists);
    DWORD Move(const std::wstring& from, const std::wstring& to, DWORD flags);

    // Notes the outcome of a call that reached the machine; three network
    // errors in a row stop the item, whose remaining objects then fail with
    // the last of them.
    void Note(DWORD error);
    bool Stopped() const { return stopError_ != 0; }
    DWORD StopError() const { return stopError_; }

    // A name beside the targets of a folder for a copy on its way in.
    std::wstring TemporaryName();

    void Warn(const std::wstring& text) const;

private:
    CLogger* logger_;
    int networkErrors_ = 0;
    DWORD stopError_ = 0;
    unsigned temporaries_ = 0;
};

bool IsNetworkError(DWORD error);
