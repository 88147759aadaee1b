#include "diagnostics/log_message.h"

#include <cstdlib>
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

namespace {

const wchar_t* LevelLabel(DWORD level) {
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

// The local time as "%d.%m.%Y %H:%M:%S". A run logs many lines a second and
// localtime consults the zone file each time, so the text of the last second
// (and zone) is kept.
const std::wstring& Stamp(std::time_t time) {
    static std::time_t keptTime = 0;
    static std::string keptZone;
    static std::wstring kept;
    static bool valid = false;
    const char* zone = std::getenv("TZ");
    if (valid && time == keptTime && keptZone == (zone ? zone : "\n")) return kept;
    wchar_t stamp[128] = L"";
    if (const std::tm* local = std::localtime(&time)) {
        if (std::wcsftime(stamp, 128, L"%d.%m.%Y %H:%M:%S", local) == 0) stamp[0] = L'\0';
    }
    kept = stamp;
    keptTime = time;
    keptZone = zone ? zone : "\n";  // no zone set: a name no zone has
    valid = true;
    return kept;
}

const std::vector<std::wstring>& DefaultInsertions() {
    static const std::vector<std::wstring> insertions{L"Qon2Vel Migration/"};
    return insertions;
}

}  // namespace

std::wstring LogLevelLabel(DWORD level) { return LevelLabel(level); }

std::wstring FormatLogLine(std::time_t time, DWORD processId, DWORD level, const std::wstring& text) {
    // "%ls [%4u] %ls %ls", put together without the formatter: it is every logged line.
    const std::wstring& stamp = Stamp(time);
    wchar_t digits[16];
    wchar_t* first = digits + 16;
    DWORD n = processId;
    do {
        *--first = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n);
    size_t width = static_cast<size_t>(digits + 16 - first);
    const wchar_t* label = LevelLabel(level);
    std::wstring line;
    // One more than the line: a target that puts a line break first needs no other copy.
    line.reserve(stamp.size() + 8 + width + 12 + text.size() + 1);
    line.append(stamp).append(L" [");
    if (width < 4) line.append(4 - width, L' ');
    line.append(first, width).append(L"] ").append(label).append(1, L' ').append(text);
    return line;
}

CLogMessage::CLogMessage(DWORD level, std::wstring text)
    : level_(level), time_(std::time(nullptr)), insertionStrings_(&DefaultInsertions()), text_(std::move(text)) {
    if (text_.size() > kMaxText) text_.resize(kMaxText);
}

CLogMessage::~CLogMessage() = default;

std::wstring CLogMessage::FormatLine() const {
    if (const std::wstring* text = TextAsIs()) return FormatLogLine(time_, GetCurrentProcessId(), level_, *text);
    return FormatLogLine(time_, GetCurrentProcessId(), level_, GetText());
}

const std::wstring* CTextLogMessage::TextAsIs() const {
    // Without a percent sign there is nothing the formatter would change.
    return text_.find(L'%') == std::wstring::npos ? &text_ : nullptr;
}

std::wstring CTextLogMessage::GetText() const {
    if (const std::wstring* text = TextAsIs()) return *text;
    std::wstring text = text_;
    const auto& literals = LiteralInserts();
    for (const auto& insertion : *insertionStrings_) {
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
