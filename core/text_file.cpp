#include "core/text_file.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace {

constexpr size_t kFlushSize = 1 << 16;

}  // namespace

CTextFileWriter::~CTextFileWriter() { Close(); }

DWORD CTextFileWriter::Open(const std::wstring& path, bool append) {
    Close();
    failed_ = false;
    // Append access alone puts every write at the end of the file, also
    // after lines another process added since the open.
    handle_ = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    }
    return 0;
}

bool CTextFileWriter::Write(const std::wstring& text) {
    if (handle_ == INVALID_HANDLE_VALUE || failed_) return false;
    // Each character becomes one byte, a line break CR LF; four characters
    // a step between the line breaks. A character above 255 takes back all
    // of the text.
    size_t mark = buffer_.size();
    buffer_.resize(mark + 2 * text.size());
    char* out = buffer_.data() + mark;
    const wchar_t* p = text.data();
    const wchar_t* end = p + text.size();
    uint32_t any = 0;
    while (p < end) {
        const wchar_t* stop = std::wmemchr(p, L'\n', static_cast<size_t>(end - p));
        if (!stop) stop = end;
        for (; stop - p >= 4; p += 4, out += 4) {
            auto a = static_cast<uint32_t>(p[0]), b = static_cast<uint32_t>(p[1]);
            auto c = static_cast<uint32_t>(p[2]), d = static_cast<uint32_t>(p[3]);
            any |= a | b | c | d;
            out[0] = static_cast<char>(a);
            out[1] = static_cast<char>(b);
            out[2] = static_cast<char>(c);
            out[3] = static_cast<char>(d);
        }
        for (; p < stop; ++p) {
            any |= static_cast<uint32_t>(*p);
            *out++ = static_cast<char>(*p);
        }
        if (p < end) {
            *out++ = '\r';
            *out++ = '\n';
            ++p;
        }
    }
    if (any > 255) {
        buffer_.resize(mark);
        Flush();
        failed_ = true;
        return false;
    }
    buffer_.resize(static_cast<size_t>(out - buffer_.data()));
    if (buffer_.size() >= kFlushSize) return Flush();
    return true;
}

bool CTextFileWriter::Flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(buffer_.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_, buffer_.data() + done, chunk, &written, nullptr) || written == 0) {
            buffer_.clear();
            failed_ = true;
            return false;
        }
        done += written;
    }
    buffer_.clear();
    return true;
}

bool CTextFileWriter::Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return !failed_;
    bool ok = failed_ ? false : Flush();
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    buffer_.clear();
    return ok;
}

DWORD ReadWholeFile(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    }
    DWORD error = 0;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        error = GetLastError();
    } else {
        uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
        // Read until the end rather than trusting the size: the file is shared
        // with writers. The first read asks for one byte more than the size, so
        // a file that did not grow needs one more (empty) read to end.
        size_t got = 0;
        bytes.resize(static_cast<size_t>(size) + 1);
        for (;;) {
            if (got == bytes.size()) bytes.resize(bytes.size() * 2);
            DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 30));
            DWORD read = 0;
            if (!ReadFile(file, bytes.data() + got, want, &read, nullptr)) {
                error = GetLastError();
                if (error == 0) error = ERROR_READ_FAULT;
                break;
            }
            if (read == 0) break;
            got += read;
        }
        bytes.resize(got);
    }
    CloseHandle(file);
    return error;
}

DWORD FileFailureCategory(DWORD win32Error) {
    enum : DWORD {
        kGeneric = 1,
        kFileNotFound,
        kBadPath,
        kTooManyOpenFiles,
        kAccessDenied,
        kInvalidFile,
        kRemoveCurrentDir,
        kDirectoryFull,
        kBadSeek,
        kHardIO,
        kSharingViolation,
        kLockViolation,
        kDiskFull,
        kEndOfFile,
    };
    switch (win32Error) {
    case 2:    // ERROR_FILE_NOT_FOUND
    case 18:   // ERROR_NO_MORE_FILES
    case 107:  // ERROR_DISK_CHANGE
        return kFileNotFound;
    case 3:    // ERROR_PATH_NOT_FOUND
    case 15:   // ERROR_INVALID_DRIVE
    case 17:   // ERROR_NOT_SAME_DEVICE
    case 53:   // ERROR_BAD_NETPATH
    case 55:   // ERROR_DEV_NOT_EXIST
    case 67:   // ERROR_BAD_NET_NAME
    case 111:  // ERROR_BUFFER_OVERFLOW
    case 123:  // ERROR_INVALID_NAME
    case 161:  // ERROR_BAD_PATHNAME
    case 206:  // ERROR_FILENAME_EXCED_RANGE
    case 267:  // ERROR_DIRECTORY
        return kBadPath;
    case 4:    // ERROR_TOO_MANY_OPEN_FILES
    case 36:   // ERROR_SHARING_BUFFER_EXCEEDED
    case 113:  // ERROR_NO_MORE_SEARCH_HANDLES
        return kTooManyOpenFiles;
    case 5:    // ERROR_ACCESS_DENIED
    case 12:   // ERROR_INVALID_ACCESS
    case 19:   // ERROR_WRITE_PROTECT
    case 29:   // ERROR_WRITE_FAULT
    case 65:   // ERROR_NETWORK_ACCESS_DENIED
    case 80:   // ERROR_FILE_EXISTS
    case 82:   // ERROR_CANNOT_MAKE
    case 170:  // ERROR_BUSY
    case 183:  // ERROR_ALREADY_EXISTS
        return kAccessDenied;
    case 6:    // ERROR_INVALID_HANDLE
    case 26:   // ERROR_NOT_DOS_DISK
        return kInvalidFile;
    case 16:   // ERROR_CURRENT_DIRECTORY
    case 145:  // ERROR_DIR_NOT_EMPTY
        return kRemoveCurrentDir;
    case 62:   // ERROR_NO_SPOOL_SPACE
        return kDirectoryFull;
    case 25:   // ERROR_SEEK
    case 27:   // ERROR_SECTOR_NOT_FOUND
    case 131:  // ERROR_NEGATIVE_SEEK
    case 132:  // ERROR_SEEK_ON_DEVICE
        return kBadSeek;
    case 21:   // ERROR_NOT_READY
    case 23:   // ERROR_CRC
    case 31:   // ERROR_GEN_FAILURE
    case 59:   // ERROR_UNEXP_NET_ERR
        return kHardIO;
    case 32:   // ERROR_SHARING_VIOLATION
        return kSharingViolation;
    case 33:   // ERROR_LOCK_VIOLATION
    case 108:  // ERROR_DRIVE_LOCKED
    case 167:  // ERROR_LOCK_FAILED
        return kLockViolation;
    case 39:   // ERROR_HANDLE_DISK_FULL
    case 112:  // ERROR_DISK_FULL
        return kDiskFull;
    case 38:   // ERROR_HANDLE_EOF
        return kEndOfFile;
    default:
        return kGeneric;
    }
}
