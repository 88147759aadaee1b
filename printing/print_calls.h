// Small pieces every printing class needs around the spooler calls.
#pragma once

#include <string>
#include <vector>

#include "core/base_object.h"

// A writable copy of a text with its NUL, for the calls that take LPWSTR.
std::vector<WCHAR> WideBuffer(const std::wstring& text);
// The server argument of a spooler call: null for the local machine (the
// object then notes that it uses it), else the object's server name.
LPWSTR SpoolerServer(CBaseObject& object, std::vector<WCHAR>& buffer);
// Null for an empty text, so the spooler sees "not given" rather than "".
LPWSTR TextOrNull(const std::wstring& text, std::vector<WCHAR>& buffer);
// A text from the spooler; null becomes empty.
std::wstring SpoolerText(LPCWSTR text);
// The calling thread's last error, never 0 after a failed call.
DWORD LastErrorOf(DWORD fallback = ERROR_GEN_FAILURE);
// Writes a line to the application log at the given level.
void LogLine(CBaseObject& object, DWORD level, const std::wstring& text);
