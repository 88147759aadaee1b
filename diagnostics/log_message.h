// Log messages: a level, the time of creation and a text, formatted into the
// line that every log target writes.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

// Levels are single bits; a target's mask is the OR of those it accepts.
constexpr DWORD kLogInformation = 1;
constexpr DWORD kLogWarning = 2;
constexpr DWORD kLogError = 4;
constexpr DWORD kLogDebug = 8;
constexpr DWORD kLogTrace = 16;
constexpr DWORD kLogReport = 32;

// The 11-character label of a level ("UNKNOWN    " for any other value).
std::wstring LogLevelLabel(DWORD level);

// "%s [%4d] %s %s": local time as "%d.%m.%Y %H:%M:%S", process number, label, text.
std::wstring FormatLogLine(std::time_t time, DWORD processId, DWORD level, const std::wstring& text);

class CLogMessage {
public:
    // Longest text kept, in characters; a longer text is cut.
    static constexpr size_t kMaxText = 6143;

    CLogMessage(DWORD level, std::wstring text);
    virtual ~CLogMessage();

    // The text after insertion expansion.
    virtual std::wstring GetText() const = 0;
    // The raw text when expansion would leave it as it is, else null.
    virtual const std::wstring* TextAsIs() const { return nullptr; }
    // The complete line, stamped with this process's number.
    std::wstring FormatLine() const;

    DWORD GetLevel() const { return level_; }
    std::time_t GetTime() const { return time_; }
    const std::wstring& GetRawText() const { return text_; }
    const std::vector<std::wstring>& GetInsertionStrings() const { return *insertionStrings_; }

protected:
    DWORD level_;
    std::time_t time_;
    const std::vector<std::wstring>* insertionStrings_;  // the same list for every message
    std::wstring text_;
};

class CTextLogMessage : public CLogMessage {
public:
    CTextLogMessage(DWORD level, std::wstring text) : CLogMessage(level, std::move(text)) {}
    // Passes the text through FormatMessageW once per insertion string, so
    // "%1" becomes "Qon2Vel Migration/" and "%%" becomes "%"; a percent sign
    // before a character the formatter has no escape for ("%s") is kept.
    // When the formatter fails the text stays as it was.
    std::wstring GetText() const override;
    const std::wstring* TextAsIs() const override;
};
