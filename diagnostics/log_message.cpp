#include "diagnostics/log_message.h"

#include <cwchar>

#include "platform/text.h"

namespace {

// Inserts other than %1 have no argument of their own; each one is given its
// own spelling back, so such a text keeps its characters instead of making
// the formatter read past the arguments.
constexpr size_t kMaxInserts = 99;

const std::vector<std::wstring>& LiteralInserts() {
    static const std::vector<std::wstring> inserts = [] {
        std::vector<std::wstring> list(kMaxInserts);
        for (size_t i = 0; i < kMaxInserts; ++i) list[i] = corvan::Format(L"%%%u", static_cast<unsigned>(i + 1));
        return list;
    }();
    return inserts;
}

// The formatter drops the percent sign before a character it has no escape
// for ("%s" would print "s"); doubling it there keeps such texts as written.
std::wstring ProtectUnknownEscapes(const std::wstring& text) {
    static const std::wstring kEscapes = L"0123456789%nrtb.! ";
    std::wstring out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] != L'%') continue;
        if (i + 1 < text.size() && kEscapes.find(text[i + 1]) != std::wstring::npos) {
            out += text[++i];  // a known sequence passes as one unit, so "%%s" stays "%%" + "s"
        } else {
            out += L'%';
        }
    }
    return out;
}

}  // namespace

std::wstring LogLevelLabel(DWORD level) {
    switch (level) {
    case kLogInformation:
        return L"INFORMATION";
    case kLogWarning:
        return L"WARNING    ";
    case kLogError:
        return L"ERROR      ";
    case kLogDebug:
        return L"DEBUG      ";
    case kLogTrace:
        return L"TRACE      ";
    case kLogReport:
        return L"REPORT     ";
    default:
        return L"UNKNOWN    ";
    }
}

std::wstring FormatLogLine(std::time_t time, DWORD processId, DWORD level, const std::wstring& text) {
    wchar_t stamp[128] = L"";
    if (const std::tm* local = std::localtime(&time)) {
        if (std::wcsftime(stamp, 128, L"%d.%m.%Y %H:%M:%S", local) == 0) stamp[0] = L'\0';
    }
    return corvan::Format(L"%ls [%4u] %ls %ls", stamp, static_cast<unsigned>(processId),
                          LogLevelLabel(level).c_str(), text.c_str());
}

CLogMessage::CLogMessage(DWORD level, const std::wstring& text)
    : level_(level),
      time_(std::time(nullptr)),
      insertionStrings_{L"Qon2Vel Migration/"},
      text_(text.size() > kMaxText ? text.substr(0, kMaxText) : text) {}

CLogMessage::~CLogMessage() = default;

std::wstring CLogMessage::FormatLine() const {
    return FormatLogLine(time_, GetCurrentProcessId(), level_, GetText());
}

std::wstring CTextLogMessage::GetText() const {
    std::wstring text = text_;
    if (text.empty()) return text;
    const auto& literals = LiteralInserts();
    for (const auto& insertion : insertionStrings_) {
        DWORD_PTR args[kMaxInserts];
        args[0] = reinterpret_cast<DWORD_PTR>(insertion.c_str());
        for (size_t i = 1; i < kMaxInserts; ++i) args[i] = reinterpret_cast<DWORD_PTR>(literals[i].c_str());
        LPWSTR buffer = nullptr;
        std::wstring source = ProtectUnknownEscapes(text);
        DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      source.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                                      reinterpret_cast<va_list*>(args));
        if (length != 0 && buffer) text.assign(buffer, length);
        if (buffer) LocalFree(buffer);
    }
    return text;
}
