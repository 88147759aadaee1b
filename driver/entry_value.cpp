#include "driver/entry_value.h"

#include <ctime>

#include "core/store_value.h"

EntryParts SplitEntry(const std::wstring& value) {
    EntryParts parts;
    size_t comma = value.find(L',');
    if (comma == std::wstring::npos) {
        parts.name = value;
        return parts;
    }
    parts.name = value.substr(0, comma);
    parts.rest = value.substr(comma + 1);
    parts.hasComma = true;
    return parts;
}

std::wstring Unquote(const std::wstring& text) { return StoreTextRule(text); }

std::wstring LocalTimeText(const wchar_t* format) {
    std::time_t now = std::time(nullptr);
    wchar_t text[128] = {};
    std::wcsftime(text, 128, format, std::localtime(&now));
    return text;
}
