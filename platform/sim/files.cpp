#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/sim/handles.h"
#include "platform/sim/paths.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct FindObject : sim::KernelObject {
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

bool StatPath(const fs::path& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const fs::path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A path that does not exist: 2 when its folder exists, 3 when it does not.
DWORD MissingError(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() || IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

FILETIME ToFileTime(const struct timespec& ts) {
    // 100-ns intervals since 1601-01-01.
    constexpr int64_t kEpochDifference = 11644473600LL;
    int64_t ticks = (static_cast<int64_t>(ts.tv_sec) + kEpochDifference) * 10000000LL + ts.tv_nsec / 100;
    if (ticks < 0) ticks = 0;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return ft;
}

// The host keeps no archive bit; files report it as Windows sets it on
// every file written through the API.
DWORD AttributesOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

bool FillFindData(const std::wstring& name, const struct stat& st, WIN32_FIND_DATAW& data) {
    if (name.size() >= MAX_PATH) return false;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = AttributesOf(st);
    data.ftLastWriteTime = ToFileTime(st.st_mtim);
    data.ftLastAccessTime = ToFileTime(st.st_atim);
    // The host keeps no creation time that stat reports; the older of the
    // change and write times is the nearest.
    const struct timespec& created =
        (st.st_ctim.tv_sec < st.st_mtim.tv_sec ||
         (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec < st.st_mtim.tv_nsec))
            ? st.st_ctim
            : st.st_mtim;
    data.ftCreationTime = ToFileTime(created);
    if (!S_ISDIR(st.st_mode)) {
        uint64_t size = static_cast<uint64_t>(st.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    }
    std::copy(name.begin(), name.end(), data.cFileName);
    data.cFileName[name.size()] = L'\0';
    return true;
}

bool HasWildcards(const std::wstring& pattern) {
    return pattern.find_first_of(L"*?") != std::wstring::npos;
}

bool GlobMatch(const wchar_t* pattern, const wchar_t* name) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == L'?' || (*pattern && corvan::FoldCase(*pattern) == corvan::FoldCase(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == L'\0';
}

// Windows lets a trailing ".*" also match names without an extension, which
// makes "*.*" match everything.
bool NameMatches(const std::wstring& pattern, const std::wstring& name) {
    if (GlobMatch(pattern.c_str(), name.c_str())) return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, L".*") == 0)
        return GlobMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    return false;
}

// NTFS orders names by their upper-case form.
void SortByName(std::vector<WIN32_FIND_DATAW>& entries, size_t from) {
    std::vector<std::pair<std::wstring, size_t>> keys;
    for (size_t i = from; i < entries.size(); ++i) keys.emplace_back(corvan::ToUpper(entries[i].cFileName), i);
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return std::wcscmp(entries[a.second].cFileName, entries[b.second].cFileName) < 0;
    });
    std::vector<WIN32_FIND_DATAW> sorted(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(from));
    sorted.reserve(entries.size());
    for (const auto& key : keys) sorted.push_back(entries[key.second]);
    entries.swap(sorted);
}

// Looks one name up in a folder: the exact name first, else ignoring case.
bool FindEntry(const fs::path& folder, const std::wstring& name, std::wstring& found, struct stat& st) {
    found = name;
    if (!StatPath(folder / corvan::ToUtf8(name), st)) {
        if (!sim::MatchNoCase(folder, name, found)) return false;
        return StatPath(folder / corvan::ToUtf8(found), st);
    }
    return true;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    if (!lpFileName || !lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring text = lpFileName;
    if (DWORD fault = sim::InjectedFault("FindFirstFileW", sim::PathMachine(text), {text})) {
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }
    if (text.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    size_t slash = text.find_last_of(L"\\/");
    std::wstring folderText, pattern;
    if (slash != std::wstring::npos) {
        folderText = text.substr(0, slash + 1);
        pattern = text.substr(slash + 1);
    } else if (sim::KindOf(text) == sim::PathKind::Drive) {
        folderText = text.substr(0, 2);
        pattern = text.substr(2);
    } else {
        folderText = L".";
        pattern = text;
    }
    if (HasWildcards(folderText)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }

    sim::HostPath folder;
    if (DWORD error = sim::ResolvePath(folderText, folder)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!IsDirectory(folder.path)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto find = std::make_shared<FindObject>();
    WIN32_FIND_DATAW data;
    struct stat st;
    if (!HasWildcards(pattern)) {
        std::wstring found;
        if (!pattern.empty() && FindEntry(folder.path, pattern, found, st) && FillFindData(found, st, data))
            find->entries.push_back(data);
    } else {
        if (!folder.volumeRoot && ::stat(folder.path.c_str(), &st) == 0) {
            if (NameMatches(pattern, L".") && FillFindData(L".", st, data)) find->entries.push_back(data);
            StatPath(folder.path.parent_path(), st);
            if (NameMatches(pattern, L"..") && FillFindData(L"..", st, data)) find->entries.push_back(data);
        }
        size_t dotEntries = find->entries.size();
        std::error_code ec;
        for (fs::directory_iterator it(folder.path, ec), end; !ec && it != end; it.increment(ec)) {
            std::wstring name = corvan::FromUtf8(it->path().filename().string());
            if (!NameMatches(pattern, name) || !StatPath(it->path(), st)) continue;
            if (FillFindData(name, st, data)) find->entries.push_back(data);
        }
        SortByName(find->entries, dotEntries);
    }
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = find->entries[0];
    find->next = 1;
    return sim::AddHandle(find);
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    auto find = sim::HandleObject<FindObject>(hFindFile);
    if (!find) return Fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
    if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!sim::HandleObject<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
    sim::RemoveHandle(hFindFile);
    return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring sourceText = lpExistingFileName;
    std::wstring targetText = lpNewFileName;
    // A rule for a machine catches copies from it and copies to it.
    bool remoteSource = sim::KindOf(sim::FullPathName(sourceText)) == sim::PathKind::Unc;
    bool remoteTarget = sim::KindOf(sim::FullPathName(targetText)) == sim::PathKind::Unc;
    std::wstring machine = sim::PathMachine(remoteTarget && !remoteSource ? targetText : sourceText);
    if (machine.empty()) machine = sim::PathMachine(targetText);
    if (DWORD fault = sim::InjectedFault("CopyFileW", machine, {sourceText, targetText})) return Fail(fault);

    sim::HostPath source, target;
    if (DWORD error = sim::ResolvePath(sourceText, source)) return Fail(error);
    if (DWORD error = sim::ResolvePath(targetText, target)) return Fail(error);

    struct stat sourceStat;
    if (sourceText.empty() || ::stat(source.path.c_str(), &sourceStat) != 0)
        return Fail(sourceText.empty() ? ERROR_PATH_NOT_FOUND : MissingError(source.path));
    if (S_ISDIR(sourceStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);

    struct stat targetStat;
    if (::stat(target.path.c_str(), &targetStat) == 0) {
        if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(targetStat.st_mode) || !(targetStat.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED);
        if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino)
            return Fail(ERROR_SHARING_VIOLATION);
    } else if (targetText.empty() || !IsDirectory(target.path.parent_path())) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }

    std::error_code ec;
    fs::copy_file(source.path, target.path, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        int e = ec.value();
        return Fail(e == ENOSPC ? ERROR_DISK_FULL : e == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    }
    sim::NoteHostChange(target.path);
    // CopyFile keeps the source's last-write time and attributes.
    struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::utimensat(AT_FDCWD, target.path.c_str(), times, 0);
    ::chmod(target.path.c_str(), sourceStat.st_mode & 07777);
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring text = lpPathName;
    if (DWORD fault = sim::InjectedFault("CreateDirectoryW", sim::PathMachine(text), {text})) return Fail(fault);
    if (text.empty()) return Fail(ERROR_PATH_NOT_FOUND);

    sim::HostPath folder;
    if (DWORD error = sim::ResolvePath(text, folder)) return Fail(error);
    fs::path target = folder.path;
    if (!target.has_filename()) target = target.parent_path();
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
    if (::mkdir(target.c_str(), 0777) != 0) {
        switch (errno) {
            case EEXIST: return Fail(ERROR_ALREADY_EXISTS);
            case ENOENT:
            case ENOTDIR: return Fail(ERROR_PATH_NOT_FOUND);
            case ENOSPC: return Fail(ERROR_DISK_FULL);
            default: return Fail(ERROR_ACCESS_DENIED);
        }
    }
    sim::NoteHostChange(target);
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::wstring text = lpFileName;
    sim::HostPath file;
    DWORD error = text.empty() ? ERROR_FILE_NOT_FOUND : sim::ResolvePath(text, file);
    struct stat st;
    if (!error && !StatPath(file.path, st)) error = MissingError(file.path);
    if (error) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st);
}
