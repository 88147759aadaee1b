// The text files of the tool: store files (backup files, control files, the
// status report) and log files. Each "\n" written becomes CR LF.
//
// One encoding rule for all of them:
// - A file whose characters all lie in U+0000..U+00FF is written one byte per
//   character (Latin-1), the same bytes as ever.
// - A file holding any other character is written whole in UTF-8 and begins
//   with the byte-order mark EF BB BF.
// - Reading follows the byte-order mark: UTF-8 (EF BB BF), UTF-16LE (FF FE)
//   or UTF-16BE (FE FF); a file without one is Latin-1, byte for byte.
// - Appending follows the file: a new or empty file is written by the first
//   rule; a file with a mark keeps its encoding; a file without one stays
//   Latin-1, and a character it cannot hold is written as "<U+20AC>", so it
//   shows rather than being lost or garbled.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

class CTextFileWriter {
    enum class Encoding {
        kUndecided,   // a file written from its start: Latin-1 until a text needs more
        kLatin1Kept,  // appending to a file without a byte-order mark
        kUtf8,
        kUtf16Le,
        kUtf16Be,
    };

public:
    // What one who appends to the same file again and again (a log) keeps
    // of it from one close to the next open: the encoding it left and the
    // size. A file still of that size needs no second look at its start.
    class AppendMemo {
        friend class CTextFileWriter;
        bool known_ = false;
        Encoding encoding_ = Encoding::kUndecided;
        ULONGLONG size_ = 0;
    };

    CTextFileWriter() = default;
    ~CTextFileWriter();
    CTextFileWriter(const CTextFileWriter&) = delete;
    CTextFileWriter& operator=(const CTextFileWriter&) = delete;

    // Creates or truncates the file, or (append) opens or creates it and
    // moves to its end. Shared with other readers and writers. Returns 0 or
    // the Win32 error.
    DWORD Open(const std::wstring& path, bool append, AppendMemo* memo = nullptr);
    // Takes the text into the file's encoding; the bytes reach the file on
    // Close. False once the writer has failed.
    bool Write(const std::wstring& text);
    // Writes the bytes and closes; false when they could not all be written.
    bool Close();
    // The Win32 error of the write that failed; 0 when none failed or the
    // text itself could not be written.
    DWORD Error() const { return error_; }

private:
    void Put(uint32_t code);
    DWORD ExistingEncoding();
    // The open file's size, or false; leaves the file pointer at the end.
    bool Size(ULONGLONG& size) const;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    AppendMemo* memo_ = nullptr;
    ULONGLONG openedSize_ = 0;
    std::string buffer_;
    Encoding encoding_ = Encoding::kUndecided;
    bool failed_ = false;
    DWORD error_ = 0;
};

// Reads a whole file opened for reading only if it exists, shared with
// readers and writers. Returns 0 or the Win32 error.
DWORD ReadWholeFile(const std::wstring& path, std::string& bytes);
// The text of a file's bytes by the rule above; a byte-order mark is dropped.
std::wstring DecodeText(const std::string& bytes);
// Whether DecodeText reads the bytes as Latin-1 (no byte-order mark): then
// each byte is the character of the same code.
bool IsLatin1Text(const std::string& bytes);

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
