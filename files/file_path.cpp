#include "files/file_path.h"

#include "platform/text.h"

namespace {

const wchar_t kLongPrefix[] = L"\\\\?\\";

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool HasDotComponent(const std::wstring& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(start, end - start);
        if (part == L"." || part == L"..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::wstring LongPathForm(const std::wstring& plain) {
    if (plain.compare(0, 4, kLongPrefix) == 0) return plain;
    if (plain.size() >= 3 && IsDriveLetter(plain[0]) && plain[1] == L':' && plain[2] == L'\\')
        return kLongPrefix + plain;
    if (plain.size() > 2 && plain[0] == L'\\' && plain[1] == L'\\') return std::wstring(kLongPrefix) + L"UNC\\" + plain.substr(2);
    return plain;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (folder.back() == L'\\') return folder + name;
    return folder + L"\\" + name;
}

bool IsFileNameInTree(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (c < 32 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) return false;
    return true;
}

bool PathIsWithin(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || HasDotComponent(path) || HasDotComponent(folder)) return false;
    std::wstring base = folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder;
    if (corvan::EqualsNoCase(path, base)) return true;
    return path.size() > base.size() && path[base.size()] == L'\\' &&
           corvan::EqualsNoCase(path.substr(0, base.size()), base);
}

std::wstring AdministrativeSharePath(const std::wstring& server, const std::wstring& drivePath) {
    std::wstring rest = drivePath.substr(2);
    while (!rest.empty() && rest.back() == L'\\') rest.pop_back();
    return server + L"\\" + drivePath.substr(0, 1) + L"$" + rest;
}

bool IsShareRoot(const std::wstring& path) {
    if (path.size() < 3 || path[0] != L'\\' || path[1] != L'\\') return false;
    size_t machineEnd = path.find(L'\\', 2);
    if (machineEnd == std::wstring::npos) return false;
    size_t shareEnd = path.find(L'\\', machineEnd + 1);
    return shareEnd == std::wstring::npos || shareEnd + 1 == path.size();
}

bool IsFullPlainPath(const std::wstring& path) {
    if (HasDotComponent(path) || path.compare(0, 4, kLongPrefix) == 0) return false;
    bool drive = path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
    bool unc = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return drive || unc;
}

std::wstring FolderNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ShareRootOf(const std::wstring& path) {
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') return path.substr(0, 2);
    if (path.size() < 3 || path[0] != L'\\' || path[1] != L'\\') return L"";
    size_t machineEnd = path.find(L'\\', 2);
    if (machineEnd == std::wstring::npos) return L"";
    return path.substr(0, path.find(L'\\', machineEnd + 1));
}
