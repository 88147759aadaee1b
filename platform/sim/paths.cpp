#include "platform/sim/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace fs = std::filesystem;

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

// Appends a relative path without doubling a separator: the host root and a
// name must not make a path that starts with two, which reads as a network path.
std::wstring JoinText(const std::wstring& base, const std::wstring& relative) {
    if (base.empty()) return relative;
    return IsSeparator(base.back()) ? base + relative : base + L"\\" + relative;
}

struct UncParts {
    std::wstring machine;
    std::wstring share;
    std::vector<std::wstring> rest;
};

UncParts SplitUnc(const std::wstring& full) {
    UncParts parts;
    size_t machineEnd = full.find_first_of(L"\\/", 2);
    parts.machine = full.substr(2, machineEnd == std::wstring::npos ? std::wstring::npos : machineEnd - 2);
    if (machineEnd == std::wstring::npos) return parts;
    size_t shareEnd = full.find_first_of(L"\\/", machineEnd + 1);
    parts.share = full.substr(machineEnd + 1,
                              shareEnd == std::wstring::npos ? std::wstring::npos : shareEnd - machineEnd - 1);
    if (shareEnd != std::wstring::npos) parts.rest = Components(full.substr(shareEnd));
    return parts;
}

bool Exists(const fs::path& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const fs::path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}


// Follows parts below base: the exact name when it exists, else one that
// differs only in case, as NTFS would find it. Once a part is missing the
// rest is taken as written.
fs::path Descend(fs::path base, const std::vector<std::wstring>& parts) {
    bool found = true;
    for (const auto& part : parts) {
        fs::path exact = base / corvan::ToUtf8(part);
        std::wstring match;
        if (!found || Exists(exact))
            base = exact;
        else if (MatchNoCase(base, part, match))
            base /= corvan::ToUtf8(match);
        else {
            base = exact;
            found = false;
        }
    }
    return base;
}

bool DriveFolder(const std::wstring& machine, wchar_t letter, fs::path& folder) {
    fs::path drives = MachineDir(machine) / "drives";
    std::wstring name(1, static_cast<wchar_t>(std::towupper(letter)));
    std::wstring match;
    if (IsDirectory(drives / corvan::ToUtf8(name)))
        folder = drives / corvan::ToUtf8(name);
    else if (MatchNoCase(drives, name, match) && IsDirectory(drives / corvan::ToUtf8(match)))
        folder = drives / corvan::ToUtf8(match);
    else
        return false;
    return true;
}

class RegKey {
public:
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* operator&() { return &key_; }
    operator HKEY() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The "Path=" line of the share's entry in the machine's share list.
bool SharePath(const std::wstring& machine, const std::wstring& share, std::wstring& path) {
    RegKey hklm, shares;
    std::wstring server = L"\\\\" + machine;
    if (RegConnectRegistryW(server.c_str(), HKEY_LOCAL_MACHINE, &hklm) != ERROR_SUCCESS) return false;
    if (RegOpenKeyExW(hklm, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", 0, KEY_READ,
                      &shares) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(shares, share.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return false;
    std::vector<WCHAR> data(size / sizeof(WCHAR) + 2, L'\0');
    if (RegQueryValueExW(shares, share.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    const WCHAR* line = data.data();
    const WCHAR* end = data.data() + size / sizeof(WCHAR);
    while (line < end && *line) {
        std::wstring text = line;
        if (corvan::StartsWithNoCase(text, L"Path=")) {
            path = text.substr(5);
            return true;
        }
        line += text.size() + 1;
    }
    return false;
}

DWORD MapUnc(const std::wstring& full, HostPath& out) {
    UncParts unc = SplitUnc(full);
    std::wstring machine;
    if (unc.machine.empty()) return ERROR_BAD_NETPATH;
    if (DWORD error = ResolveMachine(unc.machine.c_str(), machine, ERROR_BAD_NETPATH)) return error;

    fs::path base;
    std::vector<std::wstring> below;
    const std::wstring& share = unc.share;
    if (share.size() == 2 && IsDriveLetter(share[0]) && share[1] == L'$') {
        if (!DriveFolder(machine, share[0], base)) return ERROR_BAD_NET_NAME;
    } else if (corvan::EqualsNoCase(share, L"ADMIN$")) {
        if (!DriveFolder(machine, L'C', base)) return ERROR_BAD_NET_NAME;
        below.push_back(L"Windows");
    } else {
        std::wstring sharePath;
        if (share.empty() || !SharePath(machine, share, sharePath))
            return ERROR_BAD_NET_NAME;
        std::wstring shareFull = FullPathName(sharePath);
        if (KindOf(shareFull) != PathKind::Drive || !DriveFolder(machine, shareFull[0], base))
            return ERROR_BAD_NET_NAME;
        below = Components(shareFull.substr(2));
    }
    out.volumeRoot = below.empty() && unc.rest.empty();
    below.insert(below.end(), unc.rest.begin(), unc.rest.end());
    out.path = Descend(base, below);
    return ERROR_SUCCESS;
}

DWORD MapDrive(const std::wstring& full, HostPath& out) {
    std::wstring machine;
    if (DWORD error = ResolveMachine(L"", machine, ERROR_PATH_NOT_FOUND)) return error;
    fs::path base;
    // A drive the machine does not have, as Windows reports it.
    if (!DriveFolder(machine, full[0], base)) return ERROR_PATH_NOT_FOUND;
    std::vector<std::wstring> parts = Components(full.substr(2));
    out.volumeRoot = parts.empty();
    out.path = Descend(base, parts);
    return ERROR_SUCCESS;
}

}  // namespace

std::wstring CurrentDirectory() { return CurrentText(); }

void SetCurrentDirectoryText(const std::wstring& path) { CurrentText() = path; }

PathKind KindOf(const std::wstring& path) {
    // A path that starts with "/" is the host's, even "//x".
    if (path.size() >= 2 && path[0] == L'\\' && IsSeparator(path[1])) return PathKind::Unc;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') return PathKind::Drive;
    return PathKind::Host;
}

std::wstring FullPathName(const std::wstring& path) {
    std::wstring full = path;
    const std::wstring& current = CurrentText();
    if (KindOf(path) == PathKind::Drive) {
        // "D:" and "D:rest" are relative to the current directory when that is on D:.
        bool driveRelative = path.size() == 2 || !IsSeparator(path[2]);
        if (driveRelative && KindOf(current) == PathKind::Drive &&
            std::towupper(current[0]) == std::towupper(path[0]))
            full = JoinText(current, path.substr(2));
    } else if (path.empty() || !IsSeparator(path[0])) {
        full = JoinText(current, path);
    }

    switch (KindOf(full)) {
    case PathKind::Unc: {
        // \\MACHINE\share stays the root; only what follows is resolved.
        UncParts unc = SplitUnc(full);
        std::wstring root = L"\\\\" + unc.machine;
        if (full.find_first_of(L"\\/", 2) == std::wstring::npos) return root;
        root += L"\\" + unc.share;
        return Join(root, unc.rest, L'\\');
    }
    case PathKind::Drive: {
        std::wstring root = std::wstring(1, static_cast<wchar_t>(std::towupper(full[0]))) + L":\\";
        return Join(root, Components(full.substr(2)), L'\\');
    }
    case PathKind::Host:
        return Join(L"/", Components(full), L'/');
    }
    return full;
}

std::wstring PathMachine(const std::wstring& path) {
    std::wstring full = FullPathName(path);
    switch (KindOf(full)) {
    case PathKind::Unc:
        return SplitUnc(full).machine;
    case PathKind::Drive:
        return LocalMachineName();
    case PathKind::Host:
        break;
    }
    return L"";
}

DWORD ResolvePath(const std::wstring& windowsPath, HostPath& out) {
    out = HostPath();
    std::wstring full = FullPathName(windowsPath);
    switch (KindOf(full)) {
    case PathKind::Unc:
        return MapUnc(full, out);
    case PathKind::Drive:
        return MapDrive(full, out);
    case PathKind::Host: {
        std::vector<std::wstring> parts = Components(full);
        out.volumeRoot = parts.empty();
        out.path = Descend("/", parts);
        return ERROR_SUCCESS;
    }
    }
    return ERROR_PATH_NOT_FOUND;
}

DWORD MapPath(const std::wstring& windowsPath, std::filesystem::path& hostPath) {
    HostPath resolved;
    DWORD error = ResolvePath(windowsPath, resolved);
    if (error == ERROR_SUCCESS) hostPath = resolved.path;
    return error;
}

}  // namespace sim
