// How the driver takes apart the values of BACKUP and RESTORE entries.
#pragma once

#include <string>

struct EntryParts {
    std::wstring name;  // before the first comma (the whole value without one)
    std::wstring rest;  // after it
    bool hasComma = false;
};

EntryParts SplitEntry(const std::wstring& value);

// The store's unquoting rule, applied once more to a part.
std::wstring Unquote(const std::wstring& text);

// The local time in a wcsftime format.
std::wstring LocalTimeText(const wchar_t* format);
