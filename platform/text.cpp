#include "platform/text.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace corvan {

std::wstring VFormat(const wchar_t* fmt, va_list args) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(buffer.data(), buffer.size(), fmt, copy);
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

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

uint32_t NextCodePoint(const std::wstring& text, size_t& i) {
    auto code = static_cast<uint32_t>(text[i++]);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code <= 0xDBFF && i < text.size()) {
        auto low = static_cast<uint32_t>(text[i]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return code;
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
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

wchar_t FoldCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
    if (c < 0x80) return c;
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

std::wstring ToLower(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

std::wstring ToUpper(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - 32);
        else if (c >= 0x80)
            c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
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

void ConsoleOut(const std::wstring& text) {
    std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void ConsoleErr(const std::wstring& text) {
    std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

}  // namespace corvan
