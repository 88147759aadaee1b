#include "printing/print_calls.h"

#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"

std::vector<WCHAR> WideBuffer(const std::wstring& text) {
    std::vector<WCHAR> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    return buffer;
}

LPWSTR SpoolerServer(CBaseObject& object, std::vector<WCHAR>& buffer) {
    if (object.ServerName.empty()) {
        object.Warning = L"ServerName not defined, using local machine.";
        return nullptr;
    }
    buffer = WideBuffer(object.ServerName);
    return buffer.data();
}

LPWSTR TextOrNull(const std::wstring& text, std::vector<WCHAR>& buffer) {
    if (text.empty()) return nullptr;
    buffer = WideBuffer(text);
    return buffer.data();
}

std::wstring SpoolerText(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

DWORD LastErrorOf(DWORD fallback) {
    DWORD code = GetLastError();
    return code ? code : fallback;
}

void LogLine(CBaseObject& object, DWORD level, const std::wstring& text) {
    if (object.Logger) object.Logger->Dispatch(CTextLogMessage(level, text));
}
