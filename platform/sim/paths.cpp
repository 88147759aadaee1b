#include "platform/sim/paths.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwctype>
#include <map>
#include <vector>

#include "platform/sim/hive.h"
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

bool IsRelative(const std::wstring& path) {
    if (KindOf(path) == PathKind::Drive) return path.size() == 2 || !IsSeparator(path[2]);
    return path.empty() || !IsSeparator(path[0]);
}

// Walks the names of text[from..]: each name (its start and length) to
// onName, each ".." to onParent; "." and empty names are skipped.
template <class OnName, class OnParent>
void WalkComponents(const std::wstring& text, size_t from, OnName onName, OnParent onParent) {
    size_t i = from;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && IsSeparator(text[i])) ++i;
        size_t start = i;
        while (i < n && !IsSeparator(text[i])) ++i;
        size_t length = i - start;
        if (length == 0 || (length == 1 && text[start] == L'.')) continue;
        if (length == 2 && text[start] == L'.' && text[start + 1] == L'.')
            onParent();
        else
            onName(start, length);
    }
}

// Appends the names of text[from..] to parts, resolving "." and ".."; ".."
// never climbs above the root.
void AppendComponents(const std::wstring& text, size_t from, std::vector<std::wstring>& parts) {
    parts.reserve(parts.size() + 8);
    WalkComponents(
        text, from, [&](size_t start, size_t length) { parts.emplace_back(text, start, length); },
        [&] {
            if (!parts.empty()) parts.pop_back();
        });
}

// A path made full: its form, its root and the names below the root.
struct FullPath {
    PathKind kind = PathKind::Host;
    std::wstring machine;   // UNC
    std::wstring share;     // UNC
    bool hasShare = false;  // UNC: something follows the machine
    wchar_t drive = 0;      // Drive: upper case
    std::vector<std::wstring> parts;  // filled by MakeFull
    // Where ParseFull found the names: in *text from partsFrom on (npos: none).
    // text is the path itself or `joined`, the path joined onto the current directory.
    std::wstring joined;
    const std::wstring* text = nullptr;
    size_t partsFrom = std::wstring::npos;
    bool longForm = false;  // written with the \\?\ prefix
    DWORD error = 0;        // the text is no path Windows takes
};

const wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr size_t kMaxComponent = 255;
constexpr size_t kMaxLongPath = 32767;

bool IsLongForm(const std::wstring& path) { return path.compare(0, 4, kLongPrefix) == 0; }

// Splits the names of a long-form path. Nothing is resolved: "." and ".."
// are names, and "/" a character, that no file may have.
bool SplitLiteral(const std::wstring& text, size_t from, std::vector<std::wstring>& parts) {
    size_t start = from;
    while (start < text.size()) {
        size_t end = text.find(L'\\', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) {
            std::wstring name = text.substr(start, end - start);
            if (name == L"." || name == L".." || name.find(L'/') != std::wstring::npos) return false;
            parts.push_back(std::move(name));
        }
        start = end + 1;
    }
    return true;
}

// \\?\D:\rest and \\?\UNC\MACHINE\share\rest: taken as written, "/" included.
FullPath MakeLong(const std::wstring& path) {
    FullPath out;
    out.longForm = true;
    std::wstring rest = path.substr(4);
    bool ok = false;
    if (rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == L':' && (rest.size() == 2 || rest[2] == L'\\')) {
        out.kind = PathKind::Drive;
        out.drive = static_cast<wchar_t>(std::towupper(rest[0]));
        ok = SplitLiteral(rest, 2, out.parts);
    } else if (rest.size() > 4 && corvan::StartsWithNoCase(rest, L"UNC\\")) {
        out.kind = PathKind::Unc;
        size_t machineEnd = rest.find(L'\\', 4);
        out.machine = rest.substr(4, machineEnd == std::wstring::npos ? std::wstring::npos : machineEnd - 4);
        ok = !out.machine.empty();
        if (ok && machineEnd != std::wstring::npos) {
            out.hasShare = true;
            size_t shareEnd = rest.find(L'\\', machineEnd + 1);
            out.share = rest.substr(machineEnd + 1,
                                    shareEnd == std::wstring::npos ? std::wstring::npos : shareEnd - machineEnd - 1);
            if (shareEnd != std::wstring::npos) ok = SplitLiteral(rest, shareEnd + 1, out.parts);
        }
    }
    // Volume GUIDs and devices are not simulated.
    if (!ok) out.error = ERROR_INVALID_NAME;
    return out;
}

// The limits Windows puts on a path: a name of at most 255 characters; an
// unprefixed drive or network path below 260 characters in all, a long-form
// one of at most 32,767. Host paths are no Windows paths and have none.
DWORD CheckLimits(const FullPath& full, const std::wstring& written) {
    if (full.error) return full.error;
    // Each name adds itself and the separator before it: "D:" and "\\M\S" are the roots.
    size_t length = full.kind == PathKind::Unc ? 2 + full.machine.size() + (full.hasShare ? 1 + full.share.size() : 0)
                                               : 2;
    for (const auto& part : full.parts) {
        if (part.size() > kMaxComponent) return ERROR_INVALID_NAME;
        length += part.size() + 1;
    }
    if (full.longForm) return written.size() > kMaxLongPath ? ERROR_FILENAME_EXCED_RANGE : 0;
    if (full.kind != PathKind::Host && length >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
    return 0;
}

// True when the path as written keeps the limits: its names, resolved,
// are no longer than written, so it keeps them resolved too.
bool WithinLimits(const FullPath& full) {
    if (full.kind == PathKind::Host) return true;
    if (full.text->size() >= MAX_PATH) return false;
    size_t name = 0;
    for (size_t i = full.partsFrom == std::wstring::npos ? full.text->size() : full.partsFrom; i < full.text->size(); ++i) {
        if (IsSeparator((*full.text)[i]))
            name = 0;
        else if (++name > kMaxComponent)
            return false;
    }
    return true;
}

// Appends a relative path without doubling a separator: the host root and a
// name must not make a path that starts with two, which reads as a network path.
std::wstring JoinText(const std::wstring& base, const std::wstring& relative) {
    if (base.empty()) return relative;
    return IsSeparator(base.back()) ? base + relative : base + L"\\" + relative;
}

// The form and root of the full path, and where its names start; `path`
// must outlive `out`.
void ParseFull(const std::wstring& path, FullPath& out) {
    const std::wstring* full = &path;
    const std::wstring& current = CurrentText();
    if (KindOf(path) == PathKind::Drive) {
        // "D:" and "D:rest" are relative to the current directory when that is on D:.
        if (IsRelative(path) && KindOf(current) == PathKind::Drive &&
            std::towupper(current[0]) == std::towupper(path[0]))
            full = &(out.joined = JoinText(current, path.substr(2)));
    } else if (IsRelative(path)) {
        full = &(out.joined = JoinText(current, path));
    }
    out.text = full;
    out.kind = KindOf(*full);
    switch (out.kind) {
    case PathKind::Unc: {
        // \\MACHINE\share stays the root; only what follows is resolved.
        size_t machineEnd = full->find_first_of(L"\\/", 2);
        out.machine = full->substr(2, machineEnd == std::wstring::npos ? std::wstring::npos : machineEnd - 2);
        if (machineEnd == std::wstring::npos) break;
        out.hasShare = true;
        size_t shareEnd = full->find_first_of(L"\\/", machineEnd + 1);
        out.share = full->substr(machineEnd + 1, shareEnd == std::wstring::npos ? std::wstring::npos
                                                                                : shareEnd - machineEnd - 1);
        out.partsFrom = shareEnd;
        break;
    }
    case PathKind::Drive:
        out.drive = static_cast<wchar_t>(std::towupper((*full)[0]));
        out.partsFrom = 2;
        break;
    case PathKind::Host:
        out.partsFrom = 0;
        break;
    }
}

FullPath MakeFull(const std::wstring& path) {
    if (IsLongForm(path)) return MakeLong(path);
    FullPath out;
    ParseFull(path, out);
    if (out.partsFrom != std::wstring::npos) AppendComponents(*out.text, out.partsFrom, out.parts);
    out.text = nullptr;  // may point into `out` itself, which is about to move
    return out;
}

std::wstring Text(const FullPath& full) {
    std::wstring out;
    wchar_t sep = L'\\';
    switch (full.kind) {
    case PathKind::Unc:
        out = L"\\\\" + full.machine;
        if (!full.hasShare) return out;
        out += L"\\" + full.share;
        break;
    case PathKind::Drive:
        out = std::wstring(1, full.drive) + L":\\";
        break;
    case PathKind::Host:
        out = L"/";
        sep = L'/';
        break;
    }
    for (const auto& part : full.parts) {
        if (!IsSeparator(out.back())) out += sep;
        out += part;
    }
    return out;
}

bool StatDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- kept answers ---------------------------------------------------------------
// Drive folders found for (machine folder, letter). A drive folder does not
// come or go under a run; a path that is missing checks its drive again.

std::map<std::wstring, std::string>& DriveRoots() {
    static auto* roots = new std::map<std::wstring, std::string>;
    return *roots;
}

// Machine folder names stand for themselves within one world; a new world
// forgets them all.
std::wstring DriveKey(const std::wstring& machine, wchar_t letter) {
    return machine + L'|' + static_cast<wchar_t>(std::towupper(letter));
}

bool FindDriveFolder(const std::wstring& machine, wchar_t letter, std::string& folder) {
    fs::path drives = MachineDir(machine) / "drives";
    std::wstring name(1, static_cast<wchar_t>(std::towupper(letter)));
    std::wstring match;
    std::string exact = (drives / corvan::ToUtf8(name)).native();
    if (StatDirectory(exact)) {
        folder = exact;
        return true;
    }
    if (MatchNoCase(drives, name, match)) {
        std::string other = (drives / corvan::ToUtf8(match)).native();
        if (StatDirectory(other)) {
            folder = other;
            return true;
        }
    }
    return false;
}

bool DriveFolder(const std::wstring& machine, wchar_t letter, std::string& folder) {
    auto& roots = DriveRoots();
    std::wstring key = DriveKey(machine, letter);
    auto it = roots.find(key);
    if (it != roots.end()) {
        folder = it->second;
        return true;
    }
    if (!FindDriveFolder(machine, letter, folder)) return false;
    roots.emplace(key, folder);
    return true;
}

bool IsWithin(const std::string& path, const std::string& folder) {
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

// ---- from Windows paths to host paths -------------------------------------------

// Where the names of a path start on the host.
struct Anchor {
    std::wstring machine;  // empty for host paths
    wchar_t drive = 0;     // the drive whose folder is `folder`; 0 for host paths
    std::string folder;
    std::vector<std::wstring> below;  // names between the folder and the path's own
};

// The "Path=" line of the share's entry in the machine's share list, read
// straight from its hive as the server reads its own settings.
bool SharePath(const std::wstring& machine, const std::wstring& share, std::wstring& path) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (RegistryGetValue(machine, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", share, type,
                         data) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return false;
    for (const auto& line : BytesToMultiText(data)) {
        if (corvan::StartsWithNoCase(line, L"Path=")) {
            path = line.substr(5);
            return true;
        }
    }
    return false;
}

DWORD AnchorUnc(const FullPath& full, Anchor& anchor) {
    if (full.machine.empty()) return ERROR_BAD_NETPATH;
    if (DWORD error = ResolveMachine(full.machine.c_str(), anchor.machine, ERROR_BAD_NETPATH)) return error;
    const std::wstring& share = full.share;
    if (share.size() == 2 && IsDriveLetter(share[0]) && share[1] == L'$') {
        anchor.drive = share[0];
    } else if (corvan::EqualsNoCase(share, L"ADMIN$")) {
        anchor.drive = L'C';
        anchor.below.push_back(L"Windows");
    } else {
        std::wstring sharePath;
        if (share.empty() || !SharePath(anchor.machine, share, sharePath)) return ERROR_BAD_NET_NAME;
        FullPath target = MakeFull(sharePath);
        if (target.kind != PathKind::Drive) return ERROR_BAD_NET_NAME;
        anchor.drive = target.drive;
        anchor.below = std::move(target.parts);
    }
    if (!DriveFolder(anchor.machine, anchor.drive, anchor.folder)) return ERROR_BAD_NET_NAME;
    return ERROR_SUCCESS;
}

DWORD AnchorOf(const FullPath& full, Anchor& anchor) {
    switch (full.kind) {
    case PathKind::Unc:
        return AnchorUnc(full, anchor);
    case PathKind::Drive:
        if (DWORD error = ResolveMachine(L"", anchor.machine, ERROR_PATH_NOT_FOUND)) return error;
        anchor.drive = full.drive;
        // A drive the machine does not have, as Windows reports it.
        if (!DriveFolder(anchor.machine, anchor.drive, anchor.folder)) return ERROR_PATH_NOT_FOUND;
        return ERROR_SUCCESS;
    case PathKind::Host:
        anchor.folder.assign(1, '/');
        return ERROR_SUCCESS;
    }
    return ERROR_PATH_NOT_FOUND;
}

void AppendName(std::string& path, const std::wstring& name) {
    if (path.empty() || path.back() != '/') path += '/';
    corvan::AppendUtf8(path, name.data(), name.size());
}

// AppendComponents straight into a host path: the names of text[from..],
// "." and ".." resolved, ".." never going above what path held before.
void AppendNames(std::string& path, const std::wstring& text, size_t from) {
    const size_t floor = path.size();
    WalkComponents(
        text, from,
        [&](size_t start, size_t length) {
            if (path.empty() || path.back() != '/') path += '/';
            corvan::AppendUtf8(path, text.data() + start, length);
        },
        [&] {
            if (path.size() > floor) path.resize(std::max(floor, path.rfind('/')));
        });
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Follows names below folder, where the exact path was not found: the exact
// name where it exists, else one that differs only in case, as NTFS would
// find it. Once a name is missing the rest is taken as written.
std::string Descend(std::string folder, const std::vector<std::wstring>& names) {
    // The longest start that exists as written needs no listing.
    std::vector<size_t> ends;
    std::string path = folder;
    for (const auto& name : names) {
        AppendName(path, name);
        ends.push_back(path.size());
    }
    size_t known = names.size();
    while (known > 0 && !Exists(path.substr(0, ends[known - 1]))) --known;
    if (known > 0) folder = path.substr(0, ends[known - 1]);

    bool found = true;
    for (size_t i = known; i < names.size(); ++i) {
        std::string exact = folder;
        AppendName(exact, names[i]);
        std::wstring match;
        if (!found || (i > known && Exists(exact))) {
            folder = std::move(exact);
        } else if (MatchNoCase(folder, names[i], match)) {
            AppendName(folder, match);
        } else {
            folder = std::move(exact);
            found = false;
        }
    }
    return folder;
}

// Forgets the kept machine and drive folders of an anchor that are no longer
// there; true when there were any.
bool ForgetGone(const Anchor& anchor) {
    bool gone = false;
    if (anchor.drive && !anchor.folder.empty() && !StatDirectory(anchor.folder)) {
        NoteHostChange(fs::path(anchor.folder));
        gone = true;
    }
    if (!anchor.machine.empty() && !MachineFolderExists(anchor.machine)) {
        ForgetMachineFolders();
        gone = true;
    }
    return gone;
}

void Finish(std::string path, const FullPath& full, const Anchor& anchor, HostPath& out) {
    out.path = fs::path(std::move(path));
    out.volumeRoot = anchor.below.empty() && full.parts.empty();
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

std::wstring FullPathName(const std::wstring& path) { return Text(MakeFull(path)); }

std::wstring PathMachine(const std::wstring& path) {
    if (IsLongForm(path)) {
        FullPath full = MakeLong(path);
        return full.kind == PathKind::Unc ? full.machine : full.kind == PathKind::Drive ? LocalMachineName() : L"";
    }
    // A relative path is on the current directory's machine; "D:name" is on
    // the local machine wherever the current directory is.
    const std::wstring& text = KindOf(path) != PathKind::Drive && IsRelative(path) ? CurrentText() : path;
    switch (KindOf(text)) {
    case PathKind::Unc: {
        size_t machineEnd = text.find_first_of(L"\\/", 2);
        return text.substr(2, machineEnd == std::wstring::npos ? std::wstring::npos : machineEnd - 2);
    }
    case PathKind::Drive:
        return LocalMachineName();
    case PathKind::Host:
        break;
    }
    return L"";
}

DWORD ExactHostPath(const std::wstring& windowsPath, std::string& hostPath) {
    // A host path maps by its text (and the current directory's, when
    // relative) alone; the last one is kept, as a log file is opened for
    // every line.
    struct Kept {
        std::wstring text, current;
        std::string host;
    };
    static Kept kept;
    bool relative = IsRelative(windowsPath);
    bool onHost = KindOf(windowsPath) == PathKind::Host && (!relative || KindOf(CurrentText()) == PathKind::Host);
    if (onHost && !kept.host.empty() && kept.text == windowsPath && (!relative || kept.current == CurrentText())) {
        hostPath = kept.host;
        return ERROR_SUCCESS;
    }
    if (IsLongForm(windowsPath)) {
        // Names taken as written, as the full resolution takes them; a path
        // no host call takes is left to it.
        FullPath full = MakeLong(windowsPath);
        if (DWORD error = CheckLimits(full, windowsPath)) return error;
        Anchor anchor;
        if (DWORD error = AnchorOf(full, anchor)) return error;
        hostPath = std::move(anchor.folder);
        for (const auto& name : anchor.below) AppendName(hostPath, name);
        for (const auto& name : full.parts) AppendName(hostPath, name);
        return hostPath.size() < PATH_MAX ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
    }
    // Paths near the limits are left to the full resolution.
    FullPath full;
    ParseFull(windowsPath, full);
    if (!WithinLimits(full)) return ERROR_FILENAME_EXCED_RANGE;
    Anchor anchor;
    if (DWORD error = AnchorOf(full, anchor)) return error;
    hostPath = std::move(anchor.folder);
    for (const auto& name : anchor.below) AppendName(hostPath, name);
    if (full.partsFrom != std::wstring::npos) {
        hostPath.reserve(hostPath.size() + 4 * (full.text->size() - full.partsFrom) + 1);
        AppendNames(hostPath, *full.text, full.partsFrom);
    }
    if (onHost) {
        kept.text = windowsPath;
        kept.current = relative ? CurrentText() : std::wstring();
        kept.host = hostPath;
    }
    return ERROR_SUCCESS;
}

DWORD ResolvePath(const std::wstring& windowsPath, HostPath& out, const std::string* missing) {
    out = HostPath();
    FullPath full = MakeFull(windowsPath);
    if (DWORD error = CheckLimits(full, windowsPath)) return error;
    Anchor anchor;
    DWORD error = AnchorOf(full, anchor);
    std::string exact;
    if (error == ERROR_SUCCESS) {
        // The exact path first: where it exists, every name on the way does,
        // and an exact name wins over one that differs in case.
        exact = anchor.folder;
        for (const auto& name : anchor.below) AppendName(exact, name);
        for (const auto& name : full.parts) AppendName(exact, name);
        const std::wstring* last = !full.parts.empty() ? &full.parts.back()
                                   : !anchor.below.empty() ? &anchor.below.back()
                                                           : nullptr;
        if (exact.size() >= PATH_MAX) {
            // No host call takes it; the call that uses it reports the length.
            Finish(std::move(exact), full, anchor, out);
            return ERROR_SUCCESS;
        }
        // Looked at without following a link first: a name that is not
        // there at all is then known to be so by this one call.
        bool link = false;
        if (missing && *missing == exact) {
            errno = ENOENT;  // the caller has just looked
        } else if (::lstat(exact.c_str(), &out.status) == 0) {
            link = S_ISLNK(out.status.st_mode);
            if (!link || ::stat(exact.c_str(), &out.status) == 0) {
                out.exists = true;
                out.plain = !link;
                Finish(std::move(exact), full, anchor, out);
                return ERROR_SUCCESS;
            }
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            Finish(std::move(exact), full, anchor, out);
            return ERROR_SUCCESS;
        }
        // The common miss, a new name in a folder that is there: nothing
        // kept can be gone (the folder lies in it), and only the last name
        // needs looking for. What Descend would find, with fewer calls.
        size_t slash = exact.rfind('/');
        if (!link && last && slash != std::string::npos && slash > anchor.folder.size()) {
            std::string parent = exact.substr(0, slash);
            std::wstring match;
            bool noFolder = false;
            bool matched = MatchNoCase(parent, *last, match, &noFolder);
            if (!noFolder) {
                std::string found = exact;
                if (matched) {
                    found = std::move(parent);
                    AppendName(found, match);
                }
                out.exists = found != exact && ::stat(found.c_str(), &out.status) == 0;
                out.absent = found == exact;
                Finish(std::move(found), full, anchor, out);
                return ERROR_SUCCESS;
            }
        }
    }

    // Missing as written, or not found at all: what was kept may be gone.
    if (ForgetGone(anchor)) {
        anchor = Anchor();
        error = AnchorOf(full, anchor);
    }
    if (error != ERROR_SUCCESS) return error;
    std::vector<std::wstring> names = anchor.below;
    names.insert(names.end(), full.parts.begin(), full.parts.end());
    std::string found = Descend(anchor.folder, names);
    out.exists = found != exact && ::stat(found.c_str(), &out.status) == 0;
    Finish(std::move(found), full, anchor, out);
    return ERROR_SUCCESS;
}

void NoteHostChange(const fs::path& changed) {
    const std::string& text = changed.native();
    std::string parent = changed.parent_path().native();
    auto& roots = DriveRoots();
    for (auto it = roots.begin(); it != roots.end();) {
        const std::string& root = it->second;
        // A new name beside a kept folder may now be the exact one.
        bool beside = fs::path(root).parent_path().native() == parent;
        if (beside || IsWithin(root, text))
            it = roots.erase(it);
        else
            ++it;
    }
    std::string world = WorldRoot().native();
    if (world.size() > 1 && world.back() == '/') world.pop_back();
    if (parent == world || IsWithin(world, text)) ForgetMachineFolders();
}

void ForgetResolvedPaths() { DriveRoots().clear(); }

DWORD MapPath(const std::wstring& windowsPath, std::filesystem::path& hostPath) {
    HostPath resolved;
    DWORD error = ResolvePath(windowsPath, resolved);
    if (error == ERROR_SUCCESS) hostPath = resolved.path;
    return error;
}

}  // namespace sim
