#include "core/text_file.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "platform/text.h"

namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";

void AppendUtf16(std::string& out, uint32_t code, bool bigEndian) {
    auto unit = [&](uint32_t u) {
        char low = static_cast<char>(u & 0xFF), high = static_cast<char>((u >> 8) & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    if (code >= 0x10000) {
        code -= 0x10000;
        unit(0xD800 + (code >> 10));
        unit(0xDC00 + (code & 0x3FF));
    } else {
        unit(code);
    }
}

std::wstring DecodeUtf16(const std::string& bytes, size_t from, bool bigEndian) {
    std::wstring out;
    out.reserve((bytes.size() - from) / 2);
    size_t i = from;
    for (; i + 1 < bytes.size(); i += 2) {
        auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        uint32_t unit = bigEndian ? (first << 8 | second) : (second << 8 | first);
        // Where wchar_t holds a whole code point, a surrogate pair becomes one.
        if (sizeof(wchar_t) == 4 && unit >= 0xDC00 && unit <= 0xDFFF && !out.empty()) {
            auto high = static_cast<uint32_t>(out.back());
            if (high >= 0xD800 && high <= 0xDBFF) {
                out.back() = static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                continue;
            }
        }
        out += static_cast<wchar_t>(unit);
    }
    // A stray last byte is kept as its character rather than dropped.
    if (i < bytes.size()) out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    return out;
}

}  // namespace

CTextFileWriter::~CTextFileWriter() { Close(); }

bool CTextFileWriter::Size(ULONGLONG& size) const {
    DWORD high = 0;
    DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
    return true;
}

DWORD CTextFileWriter::Open(const std::wstring& path, bool append, AppendMemo* memo) {
    Close();
    failed_ = false;
    error_ = 0;
    encoding_ = Encoding::kUndecided;
    memo_ = nullptr;
    // Appending reads the start of the file to learn its encoding. Append
    // access puts every write at the end of the file, also after lines
    // another process added since the open, so no seek is needed.
    DWORD access = append ? GENERIC_READ | FILE_APPEND_DATA : GENERIC_WRITE;
    handle_ = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    }
    // A file the open has just made is empty: it has no encoding to learn.
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD error = 0;
    if (append && memo && Size(openedSize_)) {
        memo_ = memo;
        // Of the size the last close left, nobody else has written to it.
        if (existed && memo->known_ && memo->size_ == openedSize_)
            encoding_ = memo->encoding_;
        else if (existed)
            error = ExistingEncoding();
        memo->known_ = false;
    } else if (append && existed) {
        error = ExistingEncoding();
    }
    if (error) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    return error;
}

DWORD CTextFileWriter::ExistingEncoding() {
    char start[3] = {};
    DWORD read = 0;
    if (SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
    if (!ReadFile(handle_, start, sizeof(start), &read, nullptr)) return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
    const std::string mark(start, read);
    if (mark.empty())
        encoding_ = Encoding::kUndecided;
    else if (mark == kUtf8Mark)
        encoding_ = Encoding::kUtf8;
    else if (mark.compare(0, 2, "\xFF\xFE") == 0)
        encoding_ = Encoding::kUtf16Le;
    else if (mark.compare(0, 2, "\xFE\xFF") == 0)
        encoding_ = Encoding::kUtf16Be;
    else
        encoding_ = Encoding::kLatin1Kept;
    return 0;
}

void CTextFileWriter::Put(uint32_t code) {
    switch (encoding_) {
    case Encoding::kUndecided:
        if (code <= 0xFF) {
            buffer_ += static_cast<char>(code);
            return;
        }
        {
            // The first character Latin-1 cannot hold makes the whole file UTF-8.
            std::string latin1;
            latin1.swap(buffer_);
            buffer_ = kUtf8Mark;
            for (char c : latin1) corvan::AppendUtf8(buffer_, static_cast<unsigned char>(c));
        }
        encoding_ = Encoding::kUtf8;
        corvan::AppendUtf8(buffer_, code);
        return;
    case Encoding::kLatin1Kept:
        if (code <= 0xFF)
            buffer_ += static_cast<char>(code);
        else
            for (wchar_t c : corvan::Format(L"<U+%04X>", static_cast<unsigned>(code))) buffer_ += static_cast<char>(c);
        return;
    case Encoding::kUtf8:
        corvan::AppendUtf8(buffer_, code);
        return;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
        AppendUtf16(buffer_, code, encoding_ == Encoding::kUtf16Be);
        return;
    }
}

bool CTextFileWriter::Write(const std::wstring& text) {
    if (handle_ == INVALID_HANDLE_VALUE || failed_) return false;
    // The common case first: every character one byte in the file's
    // encoding (up to 255 in Latin-1, up to 127 in UTF-8), turned four at a
    // time between the line breaks. Anything else goes character by character.
    uint32_t limit = encoding_ == Encoding::kUndecided || encoding_ == Encoding::kLatin1Kept ? 0xFF
                     : encoding_ == Encoding::kUtf8                                          ? 0x7F
                                                                                            : 0;
    size_t mark = buffer_.size();
    if (limit) {
        size_t breaks = 0;
        for (const wchar_t* p = text.data(), *end = p + text.size();
             (p = std::wmemchr(p, L'\n', static_cast<size_t>(end - p))) != nullptr; ++p)
            ++breaks;
        buffer_.resize(mark + text.size() + breaks);
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
        if (any <= limit) {
            buffer_.resize(static_cast<size_t>(out - buffer_.data()));
            return true;
        }
        buffer_.resize(mark);
    }
    for (size_t i = 0; i < text.size();) {
        uint32_t code = corvan::NextCodePoint(text, i);
        if (code == L'\n') Put(L'\r');
        Put(code);
    }
    return true;
}

bool CTextFileWriter::Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return !failed_;
    size_t done = 0;
    while (!failed_ && done < buffer_.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(buffer_.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_, buffer_.data() + done, chunk, &written, nullptr) || written == 0) {
            error_ = GetLastError();
            failed_ = true;
        }
        done += written;
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (memo_ && !failed_) {
        // A file without a mark that now holds text keeps to Latin-1.
        memo_->encoding_ = encoding_ == Encoding::kUndecided && openedSize_ + done > 0 ? Encoding::kLatin1Kept
                                                                                       : encoding_;
        memo_->size_ = openedSize_ + done;
        memo_->known_ = true;
    }
    memo_ = nullptr;
    buffer_.clear();
    return !failed_;
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

std::wstring DecodeText(const std::string& bytes) {
    if (bytes.compare(0, 3, kUtf8Mark) == 0) return corvan::FromUtf8(bytes.substr(3));
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return DecodeUtf16(bytes, 2, false);
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return DecodeUtf16(bytes, 2, true);
    return corvan::FromLatin1(bytes);
}

bool IsLatin1Text(const std::string& bytes) {
    return bytes.compare(0, 3, kUtf8Mark) != 0 && bytes.compare(0, 2, "\xFF\xFE") != 0 &&
           bytes.compare(0, 2, "\xFE\xFF") != 0;
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
    case 29:   // ERROR_WRITE_FAULT
    case 30:   // ERROR_READ_FAULT
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

DWORD WriteFailureCategory(DWORD win32Error) { return win32Error ? FileFailureCategory(win32Error) : 1; }

const wchar_t* FileFailureDescription(DWORD category) {
    static const wchar_t* const kMeanings[] = {
        L"An unspecified error occurred while the file was used.",
        L"The file could not be found.",
        L"All or part of the path is invalid.",
        L"Too many files are open.",
        L"Access to the file was denied.",
        L"The file handle is invalid.",
        L"The current working directory cannot be removed.",
        L"The directory has no room for another entry.",
        L"The file pointer could not be moved.",
        L"A hardware error occurred while the file was used.",
        L"The file is in use by another process.",
        L"A region of the file is locked.",
        L"The disk is full.",
        L"The end of the file was reached.",
    };
    if (category < 1 || category > sizeof(kMeanings) / sizeof(kMeanings[0])) return kMeanings[0];
    return kMeanings[category - 1];
}
