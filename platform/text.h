// Text helpers shared by every layer: printf-style formatting of wide texts,
// UTF-8 conversion, case rules and the one console writer.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace corvan {

// printf-style formatting; use %ls for wide texts so one format serves
// glibc, MinGW and MSVC. Never pass a text that came from outside as fmt.
std::wstring Format(const wchar_t* fmt, ...);
std::wstring VFormat(const wchar_t* fmt, va_list args);

std::string ToUtf8(const std::wstring& text);
// The code point at text[i], a surrogate pair taken whole where wchar_t is
// 16 bits; i moves past it. A lone surrogate is its own code point.
uint32_t NextCodePoint(const wchar_t* text, size_t length, size_t& i);
inline uint32_t NextCodePoint(const std::wstring& text, size_t& i) { return NextCodePoint(text.data(), text.size(), i); }
void AppendUtf8(std::string& out, uint32_t code);
// The same for a whole text at once.
void AppendUtf8(std::string& out, const wchar_t* text, size_t length);
inline void AppendUtf8(std::string& out, const std::wstring& text) { AppendUtf8(out, text.data(), text.size()); }
std::wstring FromUtf8(const std::string& text);

// Latin-1: each character is one byte of the same code. ToLatin1 fails
// (returns false) on a character above 255.
std::wstring FromLatin1(const std::string& bytes);
bool ToLatin1(const std::wstring& text, std::string& bytes);

// Case rules of Windows names (ASCII, Latin-1, Greek and Cyrillic letters);
// ASCII, by far the most common, is folded inline.
wchar_t FoldCaseBeyondAscii(wchar_t c);
inline wchar_t FoldCase(wchar_t c) {
    if (c >= 0x80) return FoldCaseBeyondAscii(c);
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}
std::wstring ToLower(const std::wstring& text);
std::wstring ToUpper(const std::wstring& text);
void MakeUpper(std::wstring& text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// Position of needle in text ignoring case, or npos.
size_t FindNoCase(const std::wstring& text, const std::wstring& needle);
// Replaces every occurrence (case-sensitive); returns the number replaced.
int ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);

// Console output: standard output or standard error, UTF-8, written at once.
void ConsoleOut(const std::wstring& text);
void ConsoleErr(const std::wstring& text);

// Whether standard output is a console rather than a file or a pipe.
bool StandardOutputIsConsole();
// Columns of the console window; 80 when it cannot be told.
int ConsoleColumns();
// One status line at the foot of a console: each call replaces it, an
// empty text takes it away, and other console output moves it below
// itself. Nothing is written when standard output is not a console.
void ConsoleStatus(const std::wstring& text);

}  // namespace corvan
