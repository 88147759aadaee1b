// 8-bit text files written the way the store and the log files write them:
// each "\n" becomes CR LF and each character is one byte of the same code.
#pragma once

#include <string>

#include "platform/win32.h"

class CTextFileWriter {
public:
    CTextFileWriter() = default;
    ~CTextFileWriter();
    CTextFileWriter(const CTextFileWriter&) = delete;
    CTextFileWriter& operator=(const CTextFileWriter&) = delete;

    // Creates or truncates the file, or (append) opens or creates it and
    // moves to its end. Shared with other readers and writers. Returns 0 or
    // the Win32 error.
    DWORD Open(const std::wstring& path, bool append);
    // False when a character is above 255 (nothing of `text` is written) or
    // when the file refuses the bytes; what was written before stays.
    bool Write(const std::wstring& text);
    // Writes what is buffered and closes; false when the last bytes could not be written.
    bool Close();
    // The Win32 error of the write that failed; 0 when none failed or the
    // text itself could not be written.
    DWORD Error() const { return error_; }

private:
    bool Flush();

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string buffer_;
    bool failed_ = false;
    DWORD error_ = 0;
};

// Reads a whole file opened for reading only if it exists, shared with
// readers and writers. Returns 0 or the Win32 error.
DWORD ReadWholeFile(const std::wstring& path, std::string& bytes);

// File-failure category (1 generic, 2 file not found, 3 bad path, 4 too many
// open files, 5 access denied, 6 invalid file, 7 removing the current
// directory, 8 directory full, 9 bad seek, 10 hardware I/O, 11 sharing
// violation, 12 lock violation, 13 disk full, 14 end of file) of a Win32 error
// of opening a text file.
DWORD FileFailureCategory(DWORD win32Error);
// The category of a write that failed with `win32Error` (0: the text itself
// could not be written): generic when no other category fits.
DWORD WriteFailureCategory(DWORD win32Error);
// A text file that refuses its bytes reports "disk full", whatever the cause.
constexpr DWORD kFileWriteFailure = 13;
// What a category means, in one line: the description recorded with it.
const wchar_t* FileFailureDescription(DWORD category);
