// Files on paths: CreateFileW and friends over host file descriptors.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "platform/sim/file_meta.h"
#include "platform/sim/fileio.h"
#include "platform/sim/paths.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

using sim::FileObject;

namespace {

// The error Windows gives for a path that could not be opened: a missing
// leaf is "file not found", a missing folder on the way "path not found".
DWORD OpenError(int err, const std::filesystem::path& host) {
    switch (err) {
    case ENOENT: {
        std::error_code ec;
        return std::filesystem::is_directory(host.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                      : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// What an open descriptor is, asking the host only for the fields wanted:
// a file opened for every logged line is looked at this way, and a full
// fstat costs the host more than the open itself.
bool Status(int fd, unsigned int mask, struct statx& out) {
    return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, mask, &out) == 0 && (out.stx_mask & mask) == mask;
}

DWORD IoError(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EBADF:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_WRITE_FAULT;
    }
}

// Every call of this process that may change a file's size counts here, so
// a size an open found is used only while nothing can have changed it.
uint64_t writesSoFar = 0;

// The uses of a file that Windows' sharing rules weigh, as the FILE_SHARE_*
// bit that lets another open make each. Asking only for attributes, times or
// security is no use of the file's content and clashes with nothing.
DWORD Uses(DWORD access) {
    DWORD uses = 0;
    if (access & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE)) uses |= FILE_SHARE_READ;
    if (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) uses |= FILE_SHARE_WRITE;
    if (access & (DELETE | GENERIC_ALL)) uses |= FILE_SHARE_DELETE;
    return uses;
}

// Never destroyed: handles still open at exit are closed after every other
// static has gone.
std::vector<FileObject*>& OpenFiles() {
    static auto* files = new std::vector<FileObject*>();
    return *files;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

dev_t DeviceOf(const struct statx& status) { return makedev(status.stx_dev_major, status.stx_dev_minor); }

HANDLE NewFileHandle(int fd, std::wstring path, DWORD access, DWORD share, const struct statx& opened,
                     DWORD lastError) {
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->access = access;
    file->path = std::move(path);
    if (opened.stx_mask & STATX_SIZE) {
        file->sizeKnown = true;
        file->sizeAtOpen = opened.stx_size;
        file->writesAtOpen = writesSoFar;
    }
    if (Uses(access)) {
        file->device = DeviceOf(opened);
        file->inode = opened.stx_ino;
        file->share = share;
        sim::TrackOpen(file.get());
    }
    HANDLE handle = sim::AddHandle(file);
    SetLastError(lastError);
    return handle;
}

// A FIFO or a device is no file: a name of one in a file's place is refused
// as a device name is, never read without end or waited on. Files are opened
// without waiting (O_NONBLOCK, which a regular file ignores, so it can stay),
// and what the open found is checked before anything uses it.
DWORD CheckOpened(int fd, struct statx& opened) {
    if (!Status(fd, STATX_TYPE | STATX_INO, opened) || !S_ISREG(opened.stx_mode)) {
        DWORD error = S_ISDIR(opened.stx_mode) ? ERROR_ACCESS_DENIED : ERROR_INVALID_NAME;
        ::close(fd);
        return error;
    }
    return ERROR_SUCCESS;
}

// The last name of a Windows path as the host spells it, or fallback when
// there is none. Outside the long form Windows drops trailing dots and spaces.
std::filesystem::path LastName(const std::wstring& text, const std::filesystem::path& fallback) {
    size_t end = text.size();
    if (text.rfind(L"\\\\?\\", 0) != 0)
        while (end > 0 && (text[end - 1] == L'.' || text[end - 1] == L' ')) --end;
    size_t start = text.find_last_of(L"\\/:", end == 0 ? 0 : end - 1);
    start = start == std::wstring::npos ? 0 : start + 1;
    if (start >= end) return fallback;
    return corvan::ToUtf8(text.substr(start, end - start));
}

}  // namespace

namespace sim {

void TrackOpen(FileObject* file) {
    OpenFiles().push_back(file);
    file->tracked = true;
}

void ForgetOpen(FileObject* file) {
    auto& files = OpenFiles();
    files.erase(std::remove(files.begin(), files.end(), file), files.end());
    file->tracked = false;
}

DWORD SharingConflict(dev_t device, ino_t inode, DWORD access, DWORD share) {
    DWORD uses = Uses(access);
    if (!uses) return ERROR_SUCCESS;
    for (const FileObject* open : OpenFiles()) {
        if (open->inode != inode || open->device != device) continue;
        // Each side must allow every use the other makes.
        if ((uses & ~open->share) || (Uses(open->access) & ~share)) return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

}  // namespace sim

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE /*hTemplateFile*/) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Taken once: every step below reads the name.
    std::wstring name = lpFileName;
    if (DWORD fault = sim::InjectedPathFault("CreateFileW", name)) {
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC;
    constexpr DWORD kWholeWrite = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA;
    bool wantRead = dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
    bool wantWrite = dwDesiredAccess & (kWholeWrite | FILE_APPEND_DATA);
    if (wantRead && wantWrite)
        flags |= O_RDWR;
    else if (wantWrite)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    // Append access alone writes at the end, wherever the file pointer is.
    if ((dwDesiredAccess & FILE_APPEND_DATA) && !(dwDesiredAccess & kWholeWrite)) flags |= O_APPEND;
    // Windows reports an existing file through the last error on success.
    bool reportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;

    // A file that exists under its exact name is opened straight away: the
    // open itself tells that it is there, and nothing else is asked of the host.
    int openExisting = -1;
    switch (dwCreationDisposition) {
    case OPEN_EXISTING:
    case OPEN_ALWAYS:
        openExisting = flags;
        break;
    case CREATE_ALWAYS:
        openExisting = flags | O_TRUNC;
        break;
    case TRUNCATE_EXISTING:
        if (wantWrite) openExisting = flags | O_TRUNC;
        break;
    default:
        break;
    }
    // Any other outcome is left to the full resolution below. Kept between
    // calls for its memory: a log opens its file for every line.
    thread_local std::string exact;
    if (openExisting >= 0 && sim::ExactHostPath(name, exact) == ERROR_SUCCESS) {
        // Truncated only once it is known to be a file that may be written.
        int fd = open(exact.c_str(), (openExisting & ~O_TRUNC) | O_NONBLOCK);
        struct statx opened {};
        if (fd >= 0 && Status(fd, STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_INO, opened) &&
            S_ISREG(opened.stx_mode)) {
            // The host would let its superuser write a read-only file; Windows lets nobody.
            DWORD error = wantWrite && !(opened.stx_mode & S_IWUSR) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
            if (!error)
                error = sim::SharingConflict(DeviceOf(opened), opened.stx_ino, dwDesiredAccess, dwShareMode);
            if (!error && (openExisting & O_TRUNC)) {
                ++writesSoFar;
                if (::ftruncate(fd, 0) != 0) error = OpenError(errno, exact);
                opened.stx_size = 0;
            }
            if (error) {
                ::close(fd);
                SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            return NewFileHandle(fd, std::move(name), dwDesiredAccess, dwShareMode, opened,
                                 reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        }
        // A folder, or no file at all: the full resolution below decides.
        if (fd >= 0) ::close(fd);
    }

    sim::HostPath resolved;
    if (DWORD error = sim::ResolvePath(name, resolved)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const std::filesystem::path& host = resolved.path;
    // What the resolution found there; it looked with the same stat.
    bool existed = resolved.exists;
    if (existed && S_ISDIR(resolved.status.st_mode)) {
        // A folder opens only for its attributes and times, as backup tools open it.
        int fd = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) && dwCreationDisposition == OPEN_EXISTING
                     ? open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : -1;
        if (fd < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        auto folder = std::make_shared<FileObject>();
        folder->fd = fd;
        folder->access = dwDesiredAccess;
        SetLastError(ERROR_SUCCESS);
        return sim::AddHandle(folder);
    }
    // The host would let its superuser write a read-only file; Windows lets nobody.
    constexpr DWORD kWriteData = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
    if (existed && (dwDesiredAccess & kWriteData) && S_ISREG(resolved.status.st_mode) &&
        !(resolved.status.st_mode & S_IWUSR)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A FIFO or a device is no file: a name of one in a file's place is
    // refused as a device name is, never read without end or waited on.
    if (existed && !S_ISREG(resolved.status.st_mode)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // Before anything is truncated.
    if (existed) {
        if (DWORD error = sim::SharingConflict(resolved.status.st_dev, resolved.status.st_ino, dwDesiredAccess,
                                               dwShareMode)) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!wantWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    if (flags & O_TRUNC) ++writesSoFar;
    // Without waiting, in case something other than a file took the name meanwhile.
    int fd = open(host.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        SetLastError(OpenError(errno, host));
        return INVALID_HANDLE_VALUE;
    }
    struct statx opened {};
    if (CheckOpened(fd, opened)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed && (flags & O_CREAT)) sim::NoteHostChange(host);
    // Its size is left to be asked: the open may have truncated or created it.
    opened.stx_mask &= ~STATX_SIZE;
    return NewFileHandle(fd, std::move(name), dwDesiredAccess, dwShareMode, opened,
                         reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED /*lpOverlapped*/) {
    auto file = sim::HandleObject<FileObject>(hFile);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (DWORD fault = sim::InjectedPathFault("ReadFile", file->path)) {
        SetLastError(fault);
        return FALSE;
    }
    DWORD total = 0;
    auto* out = static_cast<char*>(lpBuffer);
    while (total < nNumberOfBytesToRead) {
        ssize_t n = read(file->fd, out + total, nNumberOfBytesToRead - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT);
            return FALSE;
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = total;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED /*lpOverlapped*/) {
    auto file = sim::HandleObject<FileObject>(hFile);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (DWORD fault = sim::InjectedPathFault("WriteFile", file->path)) {
        SetLastError(fault);
        return FALSE;
    }
    ++writesSoFar;
    DWORD total = 0;
    const auto* in = static_cast<const char*>(lpBuffer);
    while (total < nNumberOfBytesToWrite) {
        ssize_t n = write(file->fd, in + total, nNumberOfBytesToWrite - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
            SetLastError(IoError(errno));
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = sim::HandleObject<FileObject>(hFile);
    struct statx st {};
    bool known = file && file->sizeKnown && file->writesAtOpen == writesSoFar;
    if (!file || (!known && !Status(file->fd, STATX_SIZE, st))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (DWORD fault = sim::InjectedPathFault("GetFileSize", file->path)) {
        SetLastError(fault);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = known ? file->sizeAtOpen : st.stx_size;
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    auto file = sim::HandleObject<FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = lpDistanceToMoveHigh
                           ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                                  static_cast<uint32_t>(lDistanceToMove))
                           : static_cast<int64_t>(lDistanceToMove);
    int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t pos = lseek(file->fd, static_cast<off_t>(distance), whence);
    if (pos < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<uint64_t>(pos) & 0xFFFFFFFFu);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    auto file = sim::HandleObject<FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (DWORD fault = sim::InjectedPathFault("SetEndOfFile", file->path)) {
        SetLastError(fault);
        return FALSE;
    }
    ++writesSoFar;
    off_t at = lseek(file->fd, 0, SEEK_CUR);
    if (at < 0 || ftruncate(file->fd, at) != 0) {
        SetLastError(errno == EBADF || errno == EINVAL ? ERROR_ACCESS_DENIED : IoError(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    auto fail = [](DWORD error) {
        SetLastError(error);
        return FALSE;
    };
    if (!lpExistingFileName || !*lpExistingFileName) return fail(ERROR_PATH_NOT_FOUND);
    // Moves at the next start are a matter of the boot, which is not simulated.
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) return fail(ERROR_NOT_SUPPORTED);
    if (!lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
    std::wstring sourceText = lpExistingFileName;
    std::wstring targetText = lpNewFileName;
    if (DWORD fault = sim::InjectedFault("MoveFileExW", sim::PathMachine(targetText), {sourceText, targetText}))
        return fail(fault);
    sim::HostPath resolvedSource, resolvedTarget;
    if (DWORD error = sim::ResolvePath(sourceText, resolvedSource)) return fail(error);
    if (DWORD error = sim::ResolvePath(targetText, resolvedTarget)) return fail(error);
    const std::filesystem::path& source = resolvedSource.path;
    const std::filesystem::path& target = resolvedTarget.path;

    // The source as it is, a link not followed: what the resolution saw when it was no link.
    struct stat from = resolvedSource.status;
    if (!resolvedSource.plain && ::lstat(source.c_str(), &from) != 0) return fail(OpenError(errno, source));
    // What the resolution found at the target, with the stat it took.
    const struct stat& to = resolvedTarget.status;
    // A file held open moves only if every open of it shares deleting.
    if (DWORD error = sim::SharingConflict(from.st_dev, from.st_ino, DELETE, kShareAll)) return fail(error);
    if (resolvedTarget.exists) {
        bool same = to.st_dev == from.st_dev && to.st_ino == from.st_ino;
        if (!same) {
            if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
            // Only a file that may be written is replaced: never a folder, a
            // device, a read-only file or one that is open.
            if (!S_ISREG(to.st_mode) || S_ISDIR(from.st_mode) || !(to.st_mode & S_IWUSR) ||
                sim::SharingConflict(to.st_dev, to.st_ino, DELETE, 0))
                return fail(ERROR_ACCESS_DENIED);
        }
    } else if (!resolvedTarget.absent) {
        std::error_code ec;
        if (!std::filesystem::is_directory(target.parent_path(), ec)) return fail(ERROR_PATH_NOT_FOUND);
    }

    // A file crosses volumes as a copy, with its attributes and time, when
    // the caller allows one; a folder never does.
    auto moveByCopy = [&]() -> BOOL {
        if (!(dwFlags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(from.st_mode)) return fail(ERROR_NOT_SAME_DEVICE);
        if (!CopyFileW(lpExistingFileName, lpNewFileName, FALSE)) return FALSE;
        if (::unlink(source.c_str()) != 0) return fail(ERROR_ACCESS_DENIED);
        sim::NoteHostChange(source);
        return TRUE;
    };
    // Each drive of each machine is a volume of its own, though the host may
    // keep them all on one file system.
    if (sim::VolumeRootOf(source) != sim::VolumeRootOf(target)) return moveByCopy();
    // A name changed only in case is renamed all the same, as NTFS does.
    std::filesystem::path destination = target;
    if (resolvedTarget.exists && source == target)
        destination.replace_filename(LastName(targetText, target.filename()));
    if (::rename(source.c_str(), destination.c_str()) != 0) {
        if (errno == EXDEV) return moveByCopy();
        return fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
    }
    sim::NoteHostChange(source);
    sim::NoteHostChange(destination);
    // MOVEFILE_WRITE_THROUGH asks that the move be on the disk when the call
    // returns. The rename is, for every later reader; the world has no power
    // to lose, so nothing is flushed beyond it.
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::wstring text = lpFileName;
    std::filesystem::path host;
    DWORD error = sim::InjectedPathFault("DeleteFileW", text);
    if (error == ERROR_SUCCESS) error = sim::MapPath(text, host);
    struct stat st;
    if (error == ERROR_SUCCESS && ::lstat(host.c_str(), &st) != 0) error = OpenError(errno, host);
    // A read-only file must be made writable before it can go.
    if (error == ERROR_SUCCESS && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))))
        error = ERROR_ACCESS_DENIED;
    // A file held open goes only if every open of it shares deleting.
    if (error == ERROR_SUCCESS) error = sim::SharingConflict(st.st_dev, st.st_ino, DELETE, kShareAll);
    if (error == ERROR_SUCCESS && ::unlink(host.c_str()) != 0) error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS) sim::NoteHostChange(host);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    std::wstring current = sim::CurrentDirectory();
    DWORD needed = static_cast<DWORD>(current.size() + 1);
    if (!lpBuffer || nBufferLength < needed) return needed;
    current.copy(lpBuffer, current.size());
    lpBuffer[current.size()] = L'\0';
    return static_cast<DWORD>(current.size());
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring full = sim::FullPathName(lpPathName);
    if (DWORD fault = sim::InjectedPathFault("SetCurrentDirectoryW", full)) {
        SetLastError(fault);
        return FALSE;
    }
    std::filesystem::path host;
    DWORD error = sim::MapPath(full, host);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    std::error_code ec;
    if (!std::filesystem::exists(host, ec)) {
        SetLastError(std::filesystem::is_directory(host.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                          : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!std::filesystem::is_directory(host, ec)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    sim::SetCurrentDirectoryText(full);
    return TRUE;
}
