#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/sim/file_meta.h"
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
    std::wstring searched;  // as FindFirstFileW was given it, for fault rules
};

bool IsDirectory(const fs::path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A path that does not exist: 2 when its folder exists, 3 when it does not.
DWORD MissingError(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() || IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool FillFindData(const std::wstring& name, const fs::path& path, const sim::HostEntry& entry,
                  WIN32_FIND_DATAW& data) {
    if (name.size() >= MAX_PATH) return false;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = sim::AttributesOf(path, entry);
    data.ftCreationTime = sim::CreationTimeOf(path, entry);
    data.ftLastAccessTime = sim::ToFileTime(entry.st.st_atim);
    data.ftLastWriteTime = sim::ToFileTime(entry.st.st_mtim);
    uint64_t size = sim::ReportedSize(entry);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    // A symbolic link is a reparse point; its tag says which kind.
    if (entry.link) data.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
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
bool FindEntry(const fs::path& folder, const std::wstring& name, std::wstring& found, sim::HostEntry& entry) {
    found = name;
    if (!sim::ReadHostEntry(folder / corvan::ToUtf8(name), entry)) {
        if (!sim::MatchNoCase(folder, name, found)) return false;
        return sim::ReadHostEntry(folder / corvan::ToUtf8(found), entry);
    }
    return true;
}

// CreateDirectoryW without the long-path prefix leaves room for an 8.3 name.
constexpr size_t kMaxDirectoryPath = MAX_PATH - 12;

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
    if (DWORD fault = sim::InjectedPathFault("FindFirstFileW", text)) {
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
    // The "?" of the long-path prefix is no wildcard.
    if (HasWildcards(folderText.compare(0, 4, L"\\\\?\\") == 0 ? folderText.substr(4) : folderText)) {
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
    sim::HostEntry entry;
    if (!HasWildcards(pattern)) {
        std::wstring found;
        if (!pattern.empty() && FindEntry(folder.path, pattern, found, entry) &&
            FillFindData(found, folder.path / corvan::ToUtf8(found), entry, data))
            find->entries.push_back(data);
    } else {
        if (!folder.volumeRoot && sim::ReadHostEntry(folder.path, entry)) {
            if (NameMatches(pattern, L".") && FillFindData(L".", folder.path, entry, data))
                find->entries.push_back(data);
            fs::path parent = folder.path.parent_path();
            if (NameMatches(pattern, L"..") && sim::ReadHostEntry(parent, entry) &&
                FillFindData(L"..", parent, entry, data))
                find->entries.push_back(data);
        }
        size_t dotEntries = find->entries.size();
        std::error_code ec;
        for (fs::directory_iterator it(folder.path, ec), end; !ec && it != end; it.increment(ec)) {
            std::wstring name = corvan::FromUtf8(it->path().filename().string());
            if (!NameMatches(pattern, name) || !sim::ReadHostEntry(it->path(), entry)) continue;
            if (FillFindData(name, it->path(), entry, data)) find->entries.push_back(data);
        }
        SortByName(find->entries, dotEntries);
    }
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = find->entries[0];
    find->next = 1;
    find->searched = std::move(text);
    return sim::AddHandle(find);
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    auto find = sim::HandleObject<FindObject>(hFindFile);
    if (!find) return Fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD fault = sim::InjectedPathFault("FindNextFileW", find->searched)) return Fail(fault);
    if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!sim::HandleObject<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
    sim::RemoveHandle(hFindFile);
    return TRUE;
}

namespace {

// A name in the target's folder that no other copy uses.
fs::path TemporaryBeside(const fs::path& target) {
    static unsigned counter = 0;
    return target.parent_path() /
           (".corvan-copy-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + ".tmp");
}

DWORD CopyError(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EEXIST:  // made meanwhile, where the copy was to be named
        return ERROR_FILE_EXISTS;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Fills out with the source's bytes, permission bits and times; false (with
// errno kept) on failure.
bool FillCopy(const fs::path& source, const struct stat& sourceStat, int out) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    bool ok = true;
    // Copied inside the kernel, shared where the file system can share
    // blocks; sent through the page cache where it cannot copy in place.
    bool inPlace = true;
    for (off_t done = 0; ok && done < sourceStat.st_size;) {
        size_t chunk = static_cast<size_t>(std::min<off_t>(sourceStat.st_size - done, 1 << 30));
        ssize_t n = -1;
        if (inPlace) {
            off_t to = done;
            n = ::copy_file_range(in, &done, out, &to, chunk, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inPlace = false;
                continue;
            }
        } else {
            n = ::sendfile(out, in, &done, chunk);
        }
        if (n == 0) break;  // the source got shorter
        ok = n > 0;
    }
    // The copy keeps the source's last-write time; access time as well.
    struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ok = ok && ::fchmod(out, sourceStat.st_mode & 07777) == 0 && ::futimens(out, times) == 0;
    int saved = errno;
    ::close(in);
    errno = saved;
    return ok;
}

// A file without a name in folder, to be named once it is whole: a failed
// or killed copy then leaves nothing behind, and a new copy costs one entry
// in the folder rather than a temporary name and a rename. -1 where the host
// cannot make one.
int OpenNameless(const fs::path& folder) {
    static const bool named = ::access("/proc/self/fd", X_OK) == 0;
    return named ? ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
}

bool NameNameless(int fd, const fs::path& target) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void RemoveQuietly(const fs::path& path) {
    int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
}

}  // namespace

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring sourceText = lpExistingFileName;
    std::wstring targetText = lpNewFileName;
    // A rule for a machine catches copies from it and copies to it.
    bool remoteSource = sim::KindOf(sim::FullPathName(sourceText)) == sim::PathKind::Unc;
    bool remoteTarget = sim::KindOf(sim::FullPathName(targetText)) == sim::PathKind::Unc;
    std::wstring machine = sim::PathMachine(remoteTarget && !remoteSource ? targetText : sourceText);
    if (machine.empty()) machine = sim::PathMachine(targetText);
    // A full disk shows while the bytes are written; every other fault at once.
    DWORD fault = sim::InjectedFault("CopyFileW", machine, {sourceText, targetText});
    if (fault && fault != ERROR_DISK_FULL) return Fail(fault);

    sim::HostPath source, target;
    if (DWORD error = sim::ResolvePath(sourceText, source)) return Fail(error);
    if (DWORD error = sim::ResolvePath(targetText, target)) return Fail(error);

    // The resolution looked at the source with the stat a copy needs.
    const struct stat& sourceStat = source.status;
    if (sourceText.empty() || !source.exists)
        return Fail(sourceText.empty() ? ERROR_PATH_NOT_FOUND : MissingError(source.path));
    if (S_ISDIR(sourceStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);

    sim::HostEntry existing;
    bool targetExists = !target.absent && !targetText.empty() && sim::ReadHostEntry(target.path, existing);
    if (targetExists) {
        if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
        DWORD attributes = sim::AttributesOf(target.path, existing);
        // Windows will not overwrite a folder, nor a read-only or hidden file.
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))
            return Fail(ERROR_ACCESS_DENIED);
        if (existing.st.st_dev == sourceStat.st_dev && existing.st.st_ino == sourceStat.st_ino)
            return Fail(ERROR_SHARING_VIOLATION);
    } else if (!target.absent && (targetText.empty() || !IsDirectory(target.path.parent_path()))) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }

    // The copy is made without a name, or over a file that is there under
    // another name and renamed into place, so a failure leaves no part of a
    // file under the target's name.
    fs::path temp;
    int out = targetExists ? -1 : OpenNameless(target.path.parent_path());
    if (out < 0) {
        temp = TemporaryBeside(target.path);
        out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) return Fail(CopyError(errno));
    }
    // CopyFile keeps the source's last-write time and attributes; the
    // copy's creation time is its own and its security is its folder's.
    bool ok = FillCopy(source.path, sourceStat, out) && sim::CopyAttributeWord(source.path, out);
    if (ok && fault == ERROR_DISK_FULL) {
        ok = false;
        errno = ENOSPC;
    }
    bool named = ok && temp.empty() && NameNameless(out, target.path);
    ok = ok && (named || !temp.empty());
    int error = ok ? 0 : errno;
    if (::close(out) != 0 && ok) {
        ok = false;
        error = errno;
        // Named before the close found the bytes unwritten: a partial file.
        if (named) RemoveQuietly(target.path);
    }
    if (ok && !temp.empty() && ::rename(temp.c_str(), target.path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        if (!temp.empty()) RemoveQuietly(temp);
        return Fail(CopyError(error ? error : EIO));
    }
    sim::NoteHostChange(target.path);
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring text = lpPathName;
    if (DWORD fault = sim::InjectedPathFault("CreateDirectoryW", text)) return Fail(fault);
    if (text.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    // Room must stay for a file name of 8.3 characters below the new folder.
    if (text.compare(0, 4, L"\\\\?\\") != 0 && sim::FullPathName(text).size() > kMaxDirectoryPath)
        return Fail(ERROR_FILENAME_EXCED_RANGE);

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
            case ENAMETOOLONG: return Fail(ERROR_FILENAME_EXCED_RANGE);
            default: return Fail(ERROR_ACCESS_DENIED);
        }
    }
    sim::NoteHostChange(target);
    if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor &&
        !SetFileSecurityW(lpPathName, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          lpSecurityAttributes->lpSecurityDescriptor)) {
        DWORD error = GetLastError();
        ::rmdir(target.c_str());
        sim::NoteHostChange(target);
        return Fail(error);
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::wstring text = lpFileName;
    sim::HostPath file;
    DWORD error = text.empty() ? ERROR_PATH_NOT_FOUND : sim::ResolvePath(text, file);
    sim::HostEntry entry;
    if (!error && !sim::ReadHostEntry(file.path, entry)) error = MissingError(file.path);
    if (error) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return sim::AttributesOf(file.path, entry);
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring text = lpFileName;
    if (text.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    // A long-form path is full as written.
    std::wstring full = text.compare(0, 4, L"\\\\?\\") == 0 ? text : sim::FullPathName(text);
    // A trailing separator stays: the path then names a folder and has no file part.
    wchar_t last = text.back();
    if ((last == L'\\' || last == L'/') && full.back() != L'\\' && full.back() != L'/')
        full += sim::KindOf(full) == sim::PathKind::Host ? L'/' : L'\\';
    DWORD needed = static_cast<DWORD>(full.size() + 1);
    if (!lpBuffer || nBufferLength < needed) return needed;
    std::copy(full.begin(), full.end(), lpBuffer);
    lpBuffer[full.size()] = L'\0';
    if (lpFilePart) {
        size_t slash = full.find_last_of(L"\\/");
        *lpFilePart = slash == full.size() - 1 ? nullptr : lpBuffer + (slash == std::wstring::npos ? 0 : slash + 1);
    }
    return static_cast<DWORD>(full.size());
}

BOOLEAN WINAPI CreateSymbolicLinkW(LPCWSTR lpSymlinkFileName, LPCWSTR lpTargetFileName, DWORD dwFlags) {
    if (!lpSymlinkFileName || !lpTargetFileName || (dwFlags & ~SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::HostPath link, target;
    DWORD error = sim::ResolvePath(lpSymlinkFileName, link);
    if (!error) error = sim::ResolvePath(lpTargetFileName, target);
    if (!error && ::symlink(target.path.c_str(), link.path.c_str()) != 0)
        error = errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    if (!error) sim::NoteHostChange(link.path);
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
