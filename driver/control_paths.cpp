#include "driver/control_paths.h"

#include <vector>

#include "platform/text.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDeviceName(const std::wstring& name) {
    // The device is named by the part before the first dot, blanks at its end dropped.
    std::wstring base = corvan::ToUpper(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// The path as "prefix" plus its components, "." and ".." resolved.
std::wstring Normalized(const std::wstring& path) {
    std::wstring text = corvan::ToUpper(path);
    for (auto& c : text)
        if (c == L'/') c = L'\\';
    std::wstring prefix;
    size_t start = 0;
    if (text.compare(0, 2, L"\\\\") == 0) {
        prefix = L"\\\\";
        start = 2;
    } else if (text.size() >= 2 && text[1] == L':') {
        prefix = text.substr(0, 2);
        start = 2;
    }
    if (start < text.size() && text[start] == L'\\') prefix += L'\\';
    std::vector<std::wstring> parts;
    size_t at = start;
    while (at <= text.size()) {
        size_t end = text.find(L'\\', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring part = text.substr(at, end - at);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::wstring out = prefix;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? L"\\" : L"") + parts[i];
    return out;
}

}  // namespace

bool IsPlainFileName(const std::wstring& name) {
    if (name.empty() || name.find_first_not_of(L". ") == std::wstring::npos) return false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) return false;
    return !IsDeviceName(name);
}

bool IsFullPath(const std::wstring& path) {
    return path.find(L':') != std::wstring::npos || (!path.empty() && IsSeparator(path[0]));
}

std::wstring LastPathPart(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) { return Normalized(a) == Normalized(b); }
