#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace corvan {

std::wstring VFormat(const wchar_t* fmt, va_list args) {
    // Most texts fit the stack buffer; longer ones get a growing one.
    wchar_t local[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(local, 512, fmt, copy);
    va_end(copy);
    if (n >= 0 && n < 512) return std::wstring(local, static_cast<size_t>(n));
    std::vector<wchar_t> buffer(2048);
    for (;;) {
        va_copy(copy, args);
        n = std::vswprintf(buffer.data(), buffer.size(), fmt, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size()) return std::wstring(buffer.data(), n);
        // vswprintf reports -1 both for a short buffer and for an encoding
        // error; stop growing at a size no tool text reaches.
        if (buffer.size() >= (1u << 24)) return std::wstring();
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring Format(const wchar_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::wstring text = VFormat(fmt, args);
    va_end(args);
    return text;
}

namespace {

// One code point as UTF-8 at p; returns the end of what was written (at most four bytes).
char* EncodeUtf8(char* p, uint32_t code) {
    if (code < 0x80) {
        *p++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *p++ = static_cast<char>(0xC0 | (code >> 6));
        *p++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (code >> 12));
        *p++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (code >> 18));
        *p++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return p;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t code) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(bytes, code));
}

uint32_t NextCodePoint(const wchar_t* text, size_t length, size_t& i) {
    auto code = static_cast<uint32_t>(text[i++]);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code <= 0xDBFF && i < length) {
        auto low = static_cast<uint32_t>(text[i]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return code;
}

void AppendUtf8(std::string& out, const wchar_t* text, size_t length) {
    size_t at = out.size();
    out.resize(at + 4 * length);  // the most any character takes
    char* p = out.data() + at;
    for (size_t i = 0; i < length;) {
        // The plain ASCII of paths and store files goes without the call.
        if (static_cast<uint32_t>(text[i]) < 0x80)
            *p++ = static_cast<char>(text[i++]);
        else
            p = EncodeUtf8(p, NextCodePoint(text, length, i));
    }
    out.resize(static_cast<size_t>(p - out.data()));
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    AppendUtf8(out, text);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c;
        size_t extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            // Not UTF-8: keep the byte as its Latin-1 character rather than lose it.
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        bool ok = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (!ok) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        i += extra + 1;
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

std::wstring FromLatin1(const std::string& bytes) {
    std::wstring out(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
    return out;
}

bool ToLatin1(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) > 255) return false;
        bytes += static_cast<char>(static_cast<unsigned char>(c));
    }
    return true;
}

// The case pairs are spelt out: the C library's tables follow a locale the
// tool never sets, and would leave every letter beyond ASCII as it is.
// Latin-1, Greek and Cyrillic capitals lie 0x20 (Cyrillic Ѐ..Џ 0x50) below
// their small letters.
wchar_t FoldCaseBeyondAscii(wchar_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<wchar_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 0x50);
    return c;
}

std::wstring ToLower(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

void MakeUpper(std::wstring& text) {
    for (auto& c : text) {
        if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
            (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
            c = static_cast<wchar_t>(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F)
            c = static_cast<wchar_t>(c - 0x50);
    }
}

std::wstring ToUpper(const std::wstring& text) {
    std::wstring out(text);
    MakeUpper(out);
    return out;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(const std::wstring& text, const std::wstring& needle) {
    if (needle.empty()) return 0;
    if (needle.size() > text.size()) return std::wstring::npos;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && FoldCase(text[i + k]) == FoldCase(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring::npos;
}

int ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::wstring::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
        ++count;
    }
    return count;
}

int CallWithWideArguments(int argc, char** argv, int (*function)(int, wchar_t**)) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
    std::vector<wchar_t*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return function(argc, pointers.data());
}

namespace {

#ifdef _WIN32
// A console gets the wide text itself; a file or pipe gets the console's
// code page, as every console program writes it.
void WriteStandard(FILE* stream, const std::wstring& text) {
    std::fflush(stream);
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        for (size_t done = 0; done < text.size();) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
            DWORD written = 0;
            if (!WriteConsoleW(handle, text.data() + done, chunk, &written, nullptr) || written == 0) break;
            done += written;
        }
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = GetOEMCP();  // no console at all: what one would have
    int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(needed > 0 ? needed : 0, '\0');
    if (needed > 0) WideCharToMultiByte(codePage, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}
#else
void WriteStandard(FILE* stream, const std::wstring& text) {
    std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}
#endif

// The status line of a console: what is shown, and whether a line was
// begun for it after output that had not ended its own.
struct ConsoleStatusLine {
    std::wstring shown;
    bool borrowedLine = false;
    bool atLineStart = true;
};

ConsoleStatusLine& Status() {
    static ConsoleStatusLine status;
    return status;
}

void EraseStatus() {
    ConsoleStatusLine& status = Status();
    if (status.shown.empty()) return;
    WriteStandard(stdout, L"\r" + std::wstring(status.shown.size(), L' ') + L"\r");
    status.shown.clear();
}

// Other output takes the status line's place; the status comes back below it.
void WriteAroundStatus(FILE* stream, const std::wstring& text) {
    if (text.empty()) return;
    ConsoleStatusLine& status = Status();
    std::wstring shown = status.shown;
    EraseStatus();
    // The line begun for the status is the line break the text starts with.
    bool skip = status.borrowedLine && text[0] == L'\n';
    status.borrowedLine = false;
    WriteStandard(stream, skip ? text.substr(1) : text);
    status.atLineStart = text.back() == L'\n';
    if (!shown.empty()) ConsoleStatus(shown);
}

}  // namespace

bool StandardOutputIsConsole() {
#ifdef _WIN32
    DWORD mode = 0;
    static const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
    static const bool console = isatty(STDOUT_FILENO) != 0;
#endif
    return console;
}

int ConsoleColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

void ConsoleStatus(const std::wstring& text) {
    if (!StandardOutputIsConsole()) return;
    ConsoleStatusLine& status = Status();
    if (text.empty()) {
        EraseStatus();
        return;
    }
    // Longer than the window it would wrap, and the next one could not replace it.
    std::wstring line = text.substr(0, static_cast<size_t>(std::max(ConsoleColumns() - 1, 1)));
    std::wstring out = L"\r";
    if (!status.atLineStart && !status.borrowedLine) {
        out = L"\n";
        status.borrowedLine = true;
    }
    if (line.size() < status.shown.size()) out += std::wstring(status.shown.size(), L' ') + L"\r";
    WriteStandard(stdout, out + line);
    status.shown = line;
}

void ConsoleOut(const std::wstring& text) { WriteAroundStatus(stdout, text); }

void ConsoleErr(const std::wstring& text) { WriteAroundStatus(stderr, text); }

}  // namespace corvan
