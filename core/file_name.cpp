#include "core/file_name.h"

#include <cwchar>

std::wstring FileNameOf(const std::wstring& name) {
    std::wstring file = name.empty() ? L"_" : name;
    for (wchar_t& c : file)
        if (c < 0x20 || std::wcschr(L"<>:\"/\\|?*,", c)) c = L'_';
    for (size_t i = file.size(); i > 0 && (file[i - 1] == L'.' || file[i - 1] == L' '); --i) file[i - 1] = L'_';
    return file;
}
