#include "platform/sim/paths.h"

#include <unistd.h>

#include <vector>

#include "platform/sim/world.h"
#include "platform/text.h"

namespace sim {
namespace {

std::wstring& CurrentText() {
    static std::wstring current = [] {
        std::vector<char> buffer(4096);
        if (!getcwd(buffer.data(), buffer.size())) return std::wstring(L"/");
        return corvan::FromUtf8(buffer.data());
    }();
    return current;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Splits the part after the root into components and resolves "." and "..";
// ".." never climbs above the root.
std::vector<std::wstring> Components(const std::wstring& rest) {
    std::vector<std::wstring> parts;
    std::wstring part;
    auto flush = [&] {
        if (part.empty() || part == L".") {
        } else if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t c : rest) {
        if (IsSeparator(c))
            flush();
        else
            part += c;
    }
    flush();
    return parts;
}

std::wstring Join(const std::wstring& root, const std::vector<std::wstring>& parts, wchar_t sep) {
    std::wstring out = root;
    for (const auto& part : parts) {
        if (!IsSeparator(out.back())) out += sep;
        out += part;
    }
    return out;
}

}  // namespace

std::wstring CurrentDirectory() { return CurrentText(); }

void SetCurrentDirectoryText(const std::wstring& path) { CurrentText() = path; }

PathKind KindOf(const std::wstring& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return PathKind::Unc;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') return PathKind::Drive;
    return PathKind::Host;
}

std::wstring FullPathName(const std::wstring& path) {
    std::wstring full = path;
    bool absolute = !path.empty() && (IsSeparator(path[0]) || KindOf(path) == PathKind::Drive);
    if (!absolute) full = CurrentText() + L"\\" + path;

    switch (KindOf(full)) {
    case PathKind::Unc: {
        // \\MACHINE\share stays the root; only what follows is resolved.
        size_t machineEnd = full.find_first_of(L"\\/", 2);
        if (machineEnd == std::wstring::npos) return full;
        size_t shareEnd = full.find_first_of(L"\\/", machineEnd + 1);
        std::wstring root = L"\\\\" + full.substr(2, machineEnd - 2) + L"\\" +
                            full.substr(machineEnd + 1, shareEnd == std::wstring::npos
                                                            ? std::wstring::npos
                                                            : shareEnd - machineEnd - 1);
        if (shareEnd == std::wstring::npos) return root;
        auto parts = Components(full.substr(shareEnd));
        std::wstring out = root;
        for (const auto& p : parts) out += L"\\" + p;
        return out;
    }
    case PathKind::Drive: {
        std::wstring root = std::wstring(1, static_cast<wchar_t>(towupper(full[0]))) + L":\\";
        return Join(root, Components(full.substr(2)), L'\\');
    }
    case PathKind::Host:
        return Join(L"/", Components(full), L'/');
    }
    return full;
}

DWORD MapPath(const std::wstring& windowsPath, std::filesystem::path& hostPath) {
    std::wstring full = FullPathName(windowsPath);
    if (KindOf(full) != PathKind::Host) return ERROR_PATH_NOT_FOUND;
    hostPath = std::filesystem::path(corvan::ToUtf8(full));
    return ERROR_SUCCESS;
}

}  // namespace sim
