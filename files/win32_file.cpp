#include "files/win32_file.h"

#include "core/object_store.h"
#include "core/preview.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "diagnostics/progress.h"
#include "diagnostics/status_line.h"
#include "files/file_path.h"
#include "platform/text.h"

using corvan::Format;

namespace {

const wchar_t kBackupFunction[] = L"CWin32File::Backup";
const wchar_t kRestoreFunction[] = L"CWin32File::Restore";

ULONGLONG TicksOf(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool IsZero(const FILETIME& time) { return time.dwHighDateTime == 0 && time.dwLowDateTime == 0; }

// Takes the attributes that keep Windows from replacing or removing a file
// off it; true when there were any.
bool MakeReplaceable(const std::wstring& longPath, DWORD attributes) {
    constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (!(attributes & kInTheWay)) return false;
    DWORD rest = attributes & ~kInTheWay;
    return SetFileAttributesW(longPath.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

void RemoveTemporary(const std::wstring& longPath) {
    SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(longPath.c_str());
}

}  // namespace

std::wstring ServerOfPath(const std::wstring& path) {
    if (path.size() < 3 || path[0] != L'\\' || path[1] != L'\\') return L"";
    return path.substr(0, path.find(L'\\', 2));
}

int CWin32File::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CBaseObject::ReplaceServerName(oldText, newText) + ReplaceServerPart(FilePath, oldText, newText);
    if (OwnDacl) count += OwnDacl->ReplaceServerName(oldText, newText);
    return count;
}

CWin32File::CWin32File() = default;

CWin32File::CWin32File(const std::wstring& serverName) : CBaseObject(serverName) {}

CWin32File::CWin32File(const WIN32_FIND_DATAW& data) { CopyFrom(data); }

CWin32File::~CWin32File() = default;

void CWin32File::CopyFrom(const WIN32_FIND_DATAW& data) {
    FileName = data.cFileName;
    FileAttributes = data.dwFileAttributes;
    CreationTime = data.ftCreationTime;
    LastAccessTime = data.ftLastAccessTime;
    LastWriteTime = data.ftLastWriteTime;
    FileSizeHigh = data.nFileSizeHigh;
    FileSizeLow = data.nFileSizeLow;
}

std::wstring CWin32File::FullPath() const { return JoinPath(FilePath, FileName); }

bool CWin32File::HasTimes() const { return !IsZero(CreationTime) || !IsZero(LastWriteTime); }

void CWin32File::RecordFailure(CFileTransfer& transfer, const std::wstring& function, const std::wstring& call,
                               DWORD code) {
    // An account the target does not know is named, as the other kinds name it.
    const std::wstring lookup = L"LookupAccountName(";
    if (code == ERROR_NONE_MAPPED && call.compare(0, lookup.size(), lookup) == 0 && call.back() == L')') {
        std::wstring text = SystemDescription(code);
        text.erase(text.find_last_not_of(L' ') + 1);
        SetError(function, call, code,
                 text + L" Account: " + call.substr(lookup.size(), call.size() - lookup.size() - 1));
    } else {
        SetError(function, call, code);
    }
    ReportFlag = 1;
    Task = transfer.Operation + (IsComposite() ? L" Directory" : L" File");
    transfer.Tally.NoteFailure(code, ErrorDescription);
}

void CWin32File::RecordSuccess(const std::wstring& function) {
    if (!ErrorCode.empty() || LastErrorCode) {
        ErrorCode.clear();
        ErrorWin32API.clear();
        ErrorFunction.clear();
        ErrorDescription.clear();
        LastErrorCode = 0;
        ReportFlag = 0;
    }
    SetError(function, function, 0);
}

int CWin32File::ReadOwnDacl(CFileTransfer& transfer, const std::wstring& function) {
    std::wstring call;
    const std::wstring path = FullPath();
    DWORD error = CFileDacl::Read(LongPathForm(path), ServerOfPath(path), OwnDacl, call);
    transfer.Note(error);
    if (!error) return 1;
    RecordFailure(transfer, function, call, error);
    RestoreFlag = 0;
    return 0;
}

DWORD CWin32File::ApplyTimes(const std::wstring& longPath) const {
    if (!HasTimes()) return 0;
    HANDLE handle = CreateFileW(longPath.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    BOOL set = SetFileTime(handle, IsZero(CreationTime) ? nullptr : &CreationTime, nullptr,
                           IsZero(LastWriteTime) ? nullptr : &LastWriteTime);
    DWORD error = set ? 0 : GetLastError();
    CloseHandle(handle);
    return error;
}

int CWin32File::Backup(const std::wstring& targetFolder) {
    CFileTransfer transfer(Logger, L"Backup");
    return BackupInto(targetFolder, transfer);
}

int CWin32File::BackupInto(const std::wstring& targetFolder, CFileTransfer& transfer) {
    BackupPath = targetFolder;
    const std::wstring source = FullPath();
    const std::wstring target = JoinPath(targetFolder, FileName);
    // Never over an earlier copy: two names that differ only in case are two files here.
    DWORD error = transfer.Stopped() ? transfer.StopError()
                                     : transfer.Copy(LongPathForm(source), LongPathForm(target), TRUE);
    if (error) {
        RecordFailure(transfer, kBackupFunction, Format(L"CopyFile(%ls, %ls)", source.c_str(), target.c_str()), error);
        RestoreFlag = 0;
        return 0;
    }
    ++transfer.Tally.Files;
    transfer.Tally.Bytes += Size();
    CProgress::Advance(source, Size());
    RecordSuccess(kBackupFunction);
    return 1;
}

int CWin32File::Restore() {
    CFileTransfer transfer(Logger, L"Restore");
    return RestoreFrom(transfer);
}

int CWin32File::RestoreFrom(CFileTransfer& transfer) {
    const std::wstring source = JoinPath(BackupPath, FileName);
    const std::wstring target = FullPath();
    const std::wstring longTarget = LongPathForm(target);
    auto copyCall = [&] { return Format(L"CopyFile(%ls, %ls)", source.c_str(), target.c_str()); };
    if (transfer.Stopped()) {
        RecordFailure(transfer, kRestoreFunction, copyCall(), transfer.StopError());
        return 0;
    }

    WIN32_FILE_ATTRIBUTE_DATA present{};
    bool exists = GetFileAttributesExW(longTarget.c_str(), GetFileExInfoStandard, &present) != FALSE;
    DWORD lookup = exists ? 0 : GetLastError();
    transfer.Note(lookup);
    if (!exists && lookup != ERROR_FILE_NOT_FOUND && lookup != ERROR_PATH_NOT_FOUND) {
        RecordFailure(transfer, kRestoreFunction, Format(L"GetFileAttributesEx(%ls)", target.c_str()), lookup);
        return 0;
    }
    if (exists) {
        if (present.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RecordFailure(transfer, kRestoreFunction, copyCall(), ERROR_ACCESS_DENIED);
            return 0;
        }
        ULONGLONG presentSize = (static_cast<ULONGLONG>(present.nFileSizeHigh) << 32) | present.nFileSizeLow;
        if (presentSize == Size() && TicksOf(present.ftLastWriteTime) == TicksOf(LastWriteTime)) {
            ++transfer.Tally.Skipped;
            CProgress::Advance(target);
            RestoreFlag = 0;
            RecordSuccess(kRestoreFunction);
            return 1;
        }
        if (TicksOf(present.ftLastWriteTime) > TicksOf(LastWriteTime)) {
            // Somebody worked on it since the backup: theirs is kept.
            ++transfer.Tally.Skipped;
            transfer.Warn(Format(L"%ls is newer on the target than in the backup; it is kept.", target.c_str()));
            ReportFlag = 1;
            Task = L"Keep Newer File";
            return 1;
        }
    }

    if (corvan::PreviewOnly()) return PreviewCopy(transfer, source, target);

    // The copy comes in under another name and replaces the file in one
    // step, so a failure never leaves a part of it under the file's name.
    std::wstring call = copyCall();
    std::wstring temporary;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 8 && error == ERROR_FILE_EXISTS; ++attempt) {
        temporary = LongPathForm(JoinPath(FilePath, transfer.TemporaryName()));
        error = transfer.Copy(LongPathForm(source), temporary, TRUE);
    }
    if (!error && OwnDacl) {
        std::wstring daclCall;
        error = OwnDacl->Apply(temporary, ServerOfPath(target), daclCall);
        if (error) call = daclCall;
    }
    if (!error) {
        error = ApplyTimes(temporary);
        if (error) call = Format(L"SetFileTime(%ls)", target.c_str());
    }
    if (!error && !SetFileAttributesW(temporary.c_str(), FileAttributes)) {
        error = GetLastError();
        call = Format(L"SetFileAttributes(%ls)", target.c_str());
    }
    if (!error) {
        bool cleared = exists && MakeReplaceable(longTarget, present.dwFileAttributes);
        error = transfer.Move(temporary, longTarget, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (error) {
            call = Format(L"MoveFileEx(%ls)", target.c_str());
            // The file stays as it was, its attributes included.
            if (cleared) SetFileAttributesW(longTarget.c_str(), present.dwFileAttributes);
        }
    }
    if (error) {
        if (error != ERROR_FILE_EXISTS) RemoveTemporary(temporary);
        RecordFailure(transfer, kRestoreFunction, call, error);
        return 0;
    }
    ++transfer.Tally.Files;
    transfer.Tally.Bytes += Size();
    CProgress::Advance(target, Size());
    RestoreFlag = 0;
    RecordSuccess(kRestoreFunction);
    return 1;
}

// What the copy would need: its copy in the backup, and every account of its
// own list on the target. Counted as the copy would be; nothing is written.
int CWin32File::PreviewCopy(CFileTransfer& transfer, const std::wstring& source, const std::wstring& target) {
    std::wstring call = Format(L"GetFileAttributes(%ls)", source.c_str());
    DWORD error = GetFileAttributesW(LongPathForm(source).c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    if (!error && OwnDacl) error = OwnDacl->Check(ServerOfPath(target), call);
    if (error) {
        RecordFailure(transfer, kRestoreFunction, call, error);
        return 0;
    }
    ++transfer.Tally.Files;
    transfer.Tally.Bytes += Size();
    CProgress::Advance(target, Size());
    RecordSuccess(kRestoreFunction);
    return 1;
}

void CWin32File::SaveExtraKeys(CObjectStore& store) const {
    store.AddDwordToSection(L"CreationTimeHigh", CreationTime.dwHighDateTime);
    store.AddDwordToSection(L"CreationTimeLow", CreationTime.dwLowDateTime);
    store.AddDwordToSection(L"LastWriteTimeHigh", LastWriteTime.dwHighDateTime);
    store.AddDwordToSection(L"LastWriteTimeLow", LastWriteTime.dwLowDateTime);
    if (!OwnDacl) return;
    store.AddDwordToSection(L"DaclProtected", OwnDacl->Protected);
    if (OwnDacl->Entries.empty()) return;
    CStoreValue value;
    value.SetMultiString(OwnDacl->Encode());
    store.AddToSection(L"Dacl", value.GetEncoded());
}

bool CWin32File::LoadExtraKey(const std::wstring& key, const std::wstring& value) {
    if (key == L"CreationTimeHigh") return CStoreValue::GetDword(value, CreationTime.dwHighDateTime);
    if (key == L"CreationTimeLow") return CStoreValue::GetDword(value, CreationTime.dwLowDateTime);
    if (key == L"LastWriteTimeHigh") return CStoreValue::GetDword(value, LastWriteTime.dwHighDateTime);
    if (key == L"LastWriteTimeLow") return CStoreValue::GetDword(value, LastWriteTime.dwLowDateTime);
    if (key == L"DaclProtected") {
        if (!OwnDacl) OwnDacl = std::make_unique<CFileDacl>();
        return CStoreValue::GetDword(value, OwnDacl->Protected);
    }
    if (key == L"Dacl") {
        LoadDaclEntries(value);
        return true;
    }
    return false;
}

void CWin32File::LoadDaclEntries(const std::wstring& value) {
    if (!OwnDacl) OwnDacl = std::make_unique<CFileDacl>();
    std::vector<std::wstring> items;
    CStoreValue::GetMultiString(value, items);
    if (!OwnDacl->Decode(items)) OwnDacl->Valid = false;
}

int CWin32File::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, L"CWin32File");
    store.AddStringToSection(L"FileName", FileName);
    store.AddStringToSection(L"FilePath", FilePath);
    store.AddDwordToSection(L"FileAttributes", FileAttributes);
    store.AddDwordToSection(L"FileSizeHigh", FileSizeHigh);
    store.AddDwordToSection(L"FileSizeLow", FileSizeLow);
    store.AddDwordToSection(L"Restore", RestoreFlag);
    store.AddStringToSection(L"BackupPath", BackupPath);
    CBaseObject::SaveProperties(store);
    SaveExtraKeys(store);
    return 1;
}

int CWin32File::LoadProperty(CObjectStore& store) {
    return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
        if (key == L"FileName")
            CStoreValue::GetString(value, FileName);
        else if (key == L"FilePath")
            CStoreValue::GetString(value, FilePath);
        else if (key == L"FileAttributes")
            CStoreValue::GetDword(value, FileAttributes);
        else if (key == L"FileSizeHigh")
            CStoreValue::GetDword(value, FileSizeHigh);
        else if (key == L"FileSizeLow")
            CStoreValue::GetDword(value, FileSizeLow);
        else if (key == L"Restore")
            CStoreValue::GetDword(value, RestoreFlag);
        else if (key == L"BackupPath")
            CStoreValue::GetString(value, BackupPath);
        else
            LoadExtraKey(key, value);
    });
}

void CWin32File::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag) return;
    ReportStatusLine(reportStore, IsComposite() ? L"Directory" : L"File", FullPath(),
                     IsComposite() ? L"Directory" : L"File",
                     Format(L"Attribute=%.8x ", static_cast<unsigned>(FileAttributes)), Task, LastErrorCode,
                     PreviewState(*this));
}

void CWin32File::Dump() {
    if (!RestoreFlag) return;
    if (FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        corvan::ConsoleOut(Format(L"\n dir: %ls - attributes=%.8x ", FilePath.c_str(),
                                  static_cast<unsigned>(FileAttributes)));
    else
        corvan::ConsoleOut(Format(L"\nfile: %ls\\%ls - attributes=%.8x ", FilePath.c_str(), FileName.c_str(),
                                  static_cast<unsigned>(FileAttributes)));
}
