#include "files/composite_file.h"

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "core/preview.h"
#include "core/store_value.h"
#include "files/file_path.h"
#include "platform/text.h"

using corvan::Format;

namespace {

const wchar_t kLocalMachineWarning[] = L"ServerName not defined, using local machine.";
const wchar_t kBackupFunction[] = L"CCompositeFile::Backup";
const wchar_t kRestoreFunction[] = L"CCompositeFile::Restore";

// What a volume's root holds for the system, never for a backup.
const wchar_t* const kVolumeRootExclusions[] = {L"System Volume Information", L"$Recycle.Bin", L"RECYCLER",
                                                L"RECYCLED", L"pagefile.sys", L"hiberfil.sys", L"swapfile.sys"};

// The "parent" value of the section whose "class" entry the store has just
// made current, read without moving the cursor; empty when there is none.
std::wstring ParentOfCurrentSection(const CObjectStore& store) {
    size_t next = store.GetCursor();
    if (next >= store.GetEntryCount()) return L"";
    const CStoreEntry& entry = store.GetEntryAt(next);
    if (!corvan::EqualsNoCase(entry.Section, store.CurrentEntrySection()) || entry.Key != L"parent") return L"";
    return entry.Value;
}

// Gives every object below folder (still to be handled) the failure of the
// folder that could not be made.
void FailBelow(CCompositeFile& folder, CFileTransfer& transfer, const std::wstring& function,
               const std::wstring& call, DWORD code, bool dropFromBackup) {
    std::vector<CCompositeFile*> pending{&folder};
    while (!pending.empty()) {
        CCompositeFile* current = pending.back();
        pending.pop_back();
        for (int i = 0; i < current->GetCount(); ++i) {
            CWin32File* child = current->GetAt(i);
            if (!child->RestoreFlag) continue;
            child->RecordFailure(transfer, function, call, code);
            if (dropFromBackup) child->RestoreFlag = 0;
            if (child->IsComposite()) pending.push_back(static_cast<CCompositeFile*>(child));
        }
    }
}

struct WalkFrame {
    CCompositeFile* folder;
    int next;
};

// Visits every child below root depth first, in order, without recursion:
// visit(folder, child) says whether to go down into a child folder, and
// leave(folder) runs once all of a folder's children are done, root included.
template <class Visit, class Leave>
void WalkTree(CCompositeFile& root, Visit visit, Leave leave) {
    std::vector<WalkFrame> stack{{&root, 0}};
    while (!stack.empty()) {
        CCompositeFile* folder = stack.back().folder;
        if (stack.back().next == folder->GetCount()) {
            leave(*folder);
            stack.pop_back();
            continue;
        }
        CWin32File* child = folder->GetAt(stack.back().next++);
        if (visit(*folder, *child)) stack.push_back({static_cast<CCompositeFile*>(child), 0});
    }
}

template <class Visit>
void WalkTree(CCompositeFile& root, Visit visit) {
    WalkTree(root, visit, [](CCompositeFile&) {});
}

}  // namespace

CCompositeFile::CCompositeFile() = default;

CCompositeFile::CCompositeFile(const std::wstring& serverName) : CWin32File(serverName) {}

CCompositeFile::CCompositeFile(const WIN32_FIND_DATAW& data) : CWin32File(data) {}

CCompositeFile::~CCompositeFile() {
    // Taken apart one level at a time, so a deep tree never recurses.
    std::vector<std::unique_ptr<CWin32File>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<CWin32File> node = std::move(pending.back());
        pending.pop_back();
        if (node->IsComposite()) {
            auto* folder = static_cast<CCompositeFile*>(node.get());
            for (auto& child : folder->children_) pending.push_back(std::move(child));
            folder->children_.clear();
        }
    }
}

void CCompositeFile::AddChild(CWin32File* child) {
    if (child) children_.emplace_back(child);
}

int CCompositeFile::GetCount() const { return static_cast<int>(children_.size()); }

CWin32File* CCompositeFile::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return children_[static_cast<size_t>(index)].get();
}

// ---- Enum -------------------------------------------------------------------

bool CCompositeFile::Excluded(const CCompositeFile& folder, const std::wstring& name, const std::wstring& path) const {
    if (IsShareRoot(folder.FilePath))
        for (const wchar_t* system : kVolumeRootExclusions)
            if (corvan::EqualsNoCase(name, system)) return true;
    for (const auto& excluded : ExcludedPaths)
        if (PathIsWithin(path, excluded)) return true;
    return false;
}

int CCompositeFile::ReadRoot(const std::wstring& path, CFileTransfer& transfer) {
    const std::wstring function = Format(L"CCompositeFile::Enum(%ls)", path.c_str());
    const std::wstring searched = Format(L"FindFirstFile(%ls, %ls)", ServerName.c_str(), path.c_str());
    FilePath = path;
    if (IsShareRoot(path)) {
        // A volume's root has no entry of its own in any listing.
        while (FilePath.back() == L'\\') FilePath.pop_back();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW((LongPathForm(FilePath) + L"\\").c_str(), GetFileExInfoStandard, &data)) {
            SetError(function, searched, GetLastError());
            return 0;
        }
        FileName.clear();
        FileAttributes = data.dwFileAttributes;
        CreationTime = data.ftCreationTime;
        LastWriteTime = data.ftLastWriteTime;
        return 1;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(LongPathForm(path).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        SetError(function, searched, GetLastError());
        return 0;
    }
    FindClose(find);
    FileName = data.cFileName;
    FileAttributes = data.dwFileAttributes;
    CreationTime = data.ftCreationTime;
    LastAccessTime = data.ftLastAccessTime;
    LastWriteTime = data.ftLastWriteTime;
    // A file is not a folder to back up; saying so beats a backup of nothing.
    if (!(FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetError(function, searched, ERROR_DIRECTORY);
        return 0;
    }
    return ReadOwnDacl(transfer, function);
}

void CCompositeFile::ListFolder(CCompositeFile& folder, int depth, CFileTransfer& transfer,
                                std::vector<std::pair<CCompositeFile*, int>>& pending) {
    const std::wstring function = Format(L"CCompositeFile::Enum(%ls)", folder.FilePath.c_str());
    const std::wstring pattern = JoinPath(folder.FilePath, L"*");
    const std::wstring searched = Format(L"FindFirstFile(%ls, %ls)", ServerName.c_str(), pattern.c_str());
    auto fail = [&](const std::wstring& call, DWORD code) {
        folder.RecordFailure(transfer, function, call, code);
        if (&folder != this) folder.RestoreFlag = 0;
    };
    if (transfer.Stopped()) return fail(searched, transfer.StopError());

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(LongPathForm(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        transfer.Note(error);
        // An empty volume root lists nothing, not even "." and "..".
        if (error != ERROR_FILE_NOT_FOUND) fail(searched, error);
        return;
    }
    transfer.Note(0);
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring childPath = JoinPath(folder.FilePath, name);
        if (Excluded(folder, name, childPath)) continue;

        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link may lead anywhere, back up the tree included.
            auto* link = new CWin32File(data);
            link->FilePath = folder.FilePath;
            link->RestoreFlag = 0;
            folder.AddChild(link);
            ++transfer.Tally.Skipped;
            transfer.Warn(Format(L"%ls is a link (reparse point); it is recorded but not followed.", childPath.c_str()));
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            auto* child = new CCompositeFile(data);
            child->FilePath = childPath;
            folder.AddChild(child);
            if (!child->ReadOwnDacl(transfer, function)) continue;
            if (depth + 1 > kMaxNestingDepth) {
                child->RecordFailure(transfer, function, searched, ERROR_CANT_RESOLVE_FILENAME);
                child->RestoreFlag = 0;
                continue;
            }
            pending.emplace_back(child, depth + 1);
        } else {
            auto* file = new CWin32File(data);
            file->FilePath = folder.FilePath;
            folder.AddChild(file);
            file->ReadOwnDacl(transfer, function);
        }
    } while (FindNextFileW(find, &data));
    DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        // What was read so far is kept.
        folder.RecordFailure(transfer, function, L"Unable to find next file.", error);
    }
}

int CCompositeFile::Enum(const std::wstring& path) {
    const std::wstring function = Format(L"CCompositeFile::Enum(%ls)", path.c_str());
    if (ServerName.empty()) Warning = kLocalMachineWarning;
    CFileTransfer transfer(Logger, L"Backup");
    int result = ReadRoot(path, transfer);
    if (result) {
        // The root is the first level.
        std::vector<std::pair<CCompositeFile*, int>> pending{{this, 1}};
        while (!pending.empty()) {
            auto [folder, depth] = pending.back();
            pending.pop_back();
            ListFolder(*folder, depth, transfer, pending);
        }
        // Nothing of the folder could be read.
        if (LastErrorCode) result = 0;
    }
    Tally = transfer.Tally;
    if (result) SetError(function, function, 0);
    return result;
}

// ---- Backup -----------------------------------------------------------------

int CCompositeFile::Backup(const std::wstring& targetFolder) {
    CFileTransfer transfer(Logger, L"Backup");
    transfer.Tally = Tally;
    // The target may exist; the folder of this tree inside it may not. A
    // volume's root, which has no name, fills the target itself.
    BOOL madeTarget = CreateDirectoryW(LongPathForm(targetFolder).c_str(), nullptr);
    BackupPath = FileName.empty() ? targetFolder : JoinPath(targetFolder, FileName);
    if (FileName.empty() ? !madeTarget : !CreateDirectoryW(LongPathForm(BackupPath).c_str(), nullptr)) {
        DWORD error = GetLastError();
        SetError(kBackupFunction, Format(L"CreateDirectory(%ls)", BackupPath.c_str()), error);
        transfer.Tally.NoteFailure(error, ErrorDescription);
        Tally = transfer.Tally;
        return 0;
    }
    ++transfer.Tally.Folders;

    WalkTree(*this, [&](CCompositeFile& folder, CWin32File& child) {
        if (!child.RestoreFlag) return false;
        if (!child.IsComposite()) {
            child.BackupInto(folder.BackupPath, transfer);
            return false;
        }
        auto* sub = static_cast<CCompositeFile*>(&child);
        sub->BackupPath = JoinPath(folder.BackupPath, sub->FileName);
        const std::wstring call = Format(L"CreateDirectory(%ls)", sub->BackupPath.c_str());
        DWORD error = transfer.Stopped() ? transfer.StopError()
                      : CreateDirectoryW(LongPathForm(sub->BackupPath).c_str(), nullptr) ? 0
                                                                                        : GetLastError();
        transfer.Note(error);
        if (error) {
            // Nothing below a folder that could not be made is in the backup.
            sub->RecordFailure(transfer, kBackupFunction, call, error);
            sub->RestoreFlag = 0;
            FailBelow(*sub, transfer, kBackupFunction, call, error, true);
            return false;
        }
        ++transfer.Tally.Folders;
        return true;
    });
    Tally = transfer.Tally;
    SetError(kBackupFunction, kBackupFunction, 0);
    return 1;
}

// ---- Restore ----------------------------------------------------------------

int CCompositeFile::PreviewFolder(CFileTransfer& transfer, bool root) {
    // The volume must be there to be written to; a folder of the tree may
    // be missing (it would be made), but nothing else may stand in its place.
    const std::wstring volume = root && !IsShareRoot(FilePath) ? ShareRootOf(FilePath) : L"";
    std::wstring call = Format(L"GetFileAttributes(%ls)", (volume.empty() ? FilePath : volume).c_str());
    DWORD error = 0;
    if (!volume.empty() &&
        GetFileAttributesW((LongPathForm(volume) + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES)
        error = GetLastError();
    if (!error) {
        const std::wstring longPath = IsShareRoot(FilePath) ? LongPathForm(FilePath) + L"\\" : LongPathForm(FilePath);
        DWORD attributes = GetFileAttributesW(longPath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD lookup = GetLastError();
            if (lookup != ERROR_FILE_NOT_FOUND && lookup != ERROR_PATH_NOT_FOUND) error = lookup;
            // A share of it, previewed after it, finds it there.
            else
                corvan::NotePreviewed(L"Folder", ServerOfPath(FilePath), FilePath);
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            call = Format(L"CreateDirectory(%ls)", FilePath.c_str());
            error = ERROR_DIRECTORY;
        }
    }
    if (!error && OwnDacl && !IsShareRoot(FilePath)) error = OwnDacl->Check(ServerOfPath(FilePath), call);
    transfer.Note(error);
    if (error) {
        RecordFailure(transfer, kRestoreFunction, call, error);
        return 0;
    }
    ++transfer.Tally.Folders;
    return 1;
}

int CCompositeFile::EnsureFolder(CFileTransfer& transfer, bool root) {
    if (!ErrorCode.empty() || LastErrorCode) RecordSuccess(kRestoreFunction);
    const std::wstring longPath = LongPathForm(FilePath);
    const std::wstring call = Format(L"CreateDirectory(%ls)", FilePath.c_str());
    if (transfer.Stopped()) {
        RecordFailure(transfer, kRestoreFunction, call, transfer.StopError());
        return 0;
    }
    if (corvan::PreviewOnly()) return PreviewFolder(transfer, root);
    if (root && !IsShareRoot(FilePath)) {
        // The folders above the root, from the top down.
        size_t start = FilePath.compare(0, 2, L"\\\\") == 0 ? FilePath.find(L'\\', FilePath.find(L'\\', 2) + 1) : 2;
        for (size_t slash = FilePath.find(L'\\', start + 1); slash != std::wstring::npos;
             slash = FilePath.find(L'\\', slash + 1))
            CreateDirectoryW(LongPathForm(FilePath.substr(0, slash)).c_str(), nullptr);
    }
    DWORD error = 0;
    if (!CreateDirectoryW(longPath.c_str(), nullptr)) {
        error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS) {
            DWORD attributes = GetFileAttributesW((IsShareRoot(FilePath) ? longPath + L"\\" : longPath).c_str());
            error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
        }
    }
    transfer.Note(error);
    if (error) {
        RecordFailure(transfer, kRestoreFunction, call, error);
        return 0;
    }
    ++transfer.Tally.Folders;
    // Set before the files come in, so they inherit from it as they arrive.
    if (OwnDacl && !IsShareRoot(FilePath)) {
        std::wstring daclCall;
        if (DWORD daclError = OwnDacl->Apply(longPath, ServerOfPath(FilePath), daclCall)) {
            // Without its own list the folder would pass wider permissions on
            // to every file copied into it: nothing comes in.
            RecordFailure(transfer, kRestoreFunction, daclCall, daclError);
            return 0;
        }
    }
    return 1;
}

void CCompositeFile::FinishFolder(CFileTransfer& transfer) {
    // A volume's root keeps its own attributes and times.
    if (!IsShareRoot(FilePath) && !corvan::PreviewOnly()) {
        const std::wstring longPath = LongPathForm(FilePath);
        // Trees saved before folders kept attributes have none recorded.
        if (FileAttributes && !SetFileAttributesW(longPath.c_str(), FileAttributes))
            RecordFailure(transfer, kRestoreFunction, Format(L"SetFileAttributes(%ls)", FilePath.c_str()),
                          GetLastError());
        if (DWORD error = ApplyTimes(longPath))
            RecordFailure(transfer, kRestoreFunction, Format(L"SetFileTime(%ls)", FilePath.c_str()), error);
    }
    if (!LastErrorCode) RestoreFlag = 0;
}

int CCompositeFile::Restore() {
    CFileTransfer transfer(Logger, L"Restore");
    auto visit = [&](CCompositeFile&, CWin32File& child) {
        if (!child.RestoreFlag) {
            if (child.LastErrorCode) {
                ++transfer.Tally.Skipped;
                transfer.Warn(Format(L"%ls is missing from the backup (error %u at backup); it is not restored.",
                                     child.FullPath().c_str(), static_cast<unsigned>(child.LastErrorCode)));
            } else if (child.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                ++transfer.Tally.Skipped;
                transfer.Warn(Format(L"%ls was a link (reparse point); it is not restored.", child.FullPath().c_str()));
            }
            return false;
        }
        if (!child.IsComposite()) {
            child.RestoreFrom(transfer);
            return false;
        }
        auto* sub = static_cast<CCompositeFile*>(&child);
        if (sub->EnsureFolder(transfer, false)) return true;
        FailBelow(*sub, transfer, kRestoreFunction, sub->ErrorWin32API, sub->LastErrorCode, false);
        return false;
    };
    // Attributes and times last: the files coming in change a folder's times.
    auto finish = [&](CCompositeFile& folder) { folder.FinishFolder(transfer); };
    if (RestoreFlag && EnsureFolder(transfer, true))
        WalkTree(*this, visit, finish);
    else if (RestoreFlag)
        FailBelow(*this, transfer, kRestoreFunction, ErrorWin32API, LastErrorCode, false);
    Tally = transfer.Tally;
    if (Tally.Failed) {
        // Named as the first failure was, the account a target lacks included.
        SetError(kRestoreFunction, L"", Tally.FirstError,
                 Tally.FirstErrorText.empty() ? SystemDescription(Tally.FirstError) : Tally.FirstErrorText);
        return 0;
    }
    SetError(kRestoreFunction, kRestoreFunction, 0);
    return 1;
}

int CCompositeFile::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = 0;
    std::vector<CCompositeFile*> pending{this};
    while (!pending.empty()) {
        CCompositeFile* folder = pending.back();
        pending.pop_back();
        count += folder->CWin32File::ReplaceServerName(oldText, newText);
        for (const auto& child : folder->children_) {
            if (child->IsComposite())
                pending.push_back(static_cast<CCompositeFile*>(child.get()));
            else
                count += child->ReplaceServerName(oldText, newText);
        }
    }
    return count;
}

// ---- Validate ---------------------------------------------------------------

DWORD CCompositeFile::Validate(const std::wstring& runFolder, std::wstring& problem) const {
    auto invalid = [&](const CWin32File& object, const wchar_t* what) {
        problem = Format(L"%ls (name \"%ls\") %ls.", object.FullPath().c_str(), object.FileName.c_str(), what);
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    };
    // The root is a whole volume, or a folder whose path ends in its name.
    bool rootIsVolume = FileName.empty() && IsShareRoot(FilePath);
    if (!IsFullPlainPath(FilePath) ||
        (!rootIsVolume && (!IsFileNameInTree(FileName) || !corvan::EqualsNoCase(FolderNameOf(FilePath), FileName))))
        return invalid(*this, L"is not a folder path ending in the folder's name");
    if (!BackupPath.empty() && (!PathIsWithin(BackupPath, runFolder) || corvan::EqualsNoCase(BackupPath, runFolder)))
        return invalid(*this, L"has its copies outside the backup's run folder");
    if (OwnDacl && !OwnDacl->Valid) return invalid(*this, L"has an unreadable access list");

    std::vector<const CCompositeFile*> pending{this};
    while (!pending.empty()) {
        const CCompositeFile* folder = pending.back();
        pending.pop_back();
        for (const auto& child : folder->children_) {
            if (!IsFileNameInTree(child->FileName)) return invalid(*child, L"is not a plain file name");
            const std::wstring expectedPath = child->IsComposite() ? JoinPath(folder->FilePath, child->FileName)
                                                                   : folder->FilePath;
            if (!corvan::EqualsNoCase(child->FilePath, expectedPath)) return invalid(*child, L"lies outside its folder");
            if (child->RestoreFlag || !child->BackupPath.empty()) {
                const std::wstring expectedCopy = child->IsComposite() ? JoinPath(folder->BackupPath, child->FileName)
                                                                       : folder->BackupPath;
                if (folder->BackupPath.empty() || !corvan::EqualsNoCase(child->BackupPath, expectedCopy))
                    return invalid(*child, L"has its copy outside its folder's copy");
            }
            if (child->OwnDacl && !child->OwnDacl->Valid) return invalid(*child, L"has an unreadable access list");
            if (child->IsComposite()) pending.push_back(static_cast<const CCompositeFile*>(child.get()));
        }
    }
    return 0;
}

// ---- store ------------------------------------------------------------------

void CCompositeFile::SaveOwnSection(CObjectStore& store) {
    BeginCompositeSection(store, L"CCompositeFile");
    CBaseObject::SaveProperties(store);
    store.AddStringToSection(L"FileName", FileName);
    store.AddStringToSection(L"FilePath", FilePath);
    store.AddDwordToSection(L"Restore", RestoreFlag);
    store.AddStringToSection(L"BackupPath", BackupPath);
    store.AddDwordToSection(L"FileAttributes", FileAttributes);
    SaveExtraKeys(store);
}

int CCompositeFile::SaveProperties(CObjectStore& store) {
    SaveOwnSection(store);
    const std::wstring own = store.GetCurrentSection();
    // The sections of the folders being walked, the innermost last.
    std::vector<std::wstring> sections{own};
    WalkTree(
        *this,
        [&](CCompositeFile&, CWin32File& child) {
            // Every child names its folder's section as its parent.
            const std::wstring section = sections.back();
            store.SetParentSection(section);
            store.SetCurrentSection(section);
            if (!child.IsComposite()) {
                child.SaveProperties(store);
                return false;
            }
            static_cast<CCompositeFile&>(child).SaveOwnSection(store);
            sections.push_back(store.GetCurrentSection());
            return true;
        },
        [&](CCompositeFile&) { sections.pop_back(); });
    store.SetCurrentSection(own);
    return 1;
}

int CCompositeFile::LoadProperty(CObjectStore& store) {
    auto loadOwn = [](CCompositeFile& folder, CObjectStore& s) {
        folder.LoadSectionEntries(s, [&folder](const std::wstring& key, const std::wstring& value) {
            if (key == L"FileName")
                CStoreValue::GetString(value, folder.FileName);
            else if (key == L"FilePath")
                CStoreValue::GetString(value, folder.FilePath);
            else if (key == L"Restore")
                CStoreValue::GetDword(value, folder.RestoreFlag);
            else if (key == L"BackupPath")
                CStoreValue::GetString(value, folder.BackupPath);
            else if (key == L"FileAttributes")
                CStoreValue::GetDword(value, folder.FileAttributes);
            else
                folder.LoadExtraKey(key, value);
        });
    };

    const std::wstring own = store.CurrentEntrySection();
    store.RegisterObject(own, this);
    CTreeDepths depths(this);
    loadOwn(*this, store);

    std::wstring section = own;
    while (store.Next()) {
        // Only the first entry of a section opens an object.
        if (corvan::EqualsNoCase(store.CurrentEntrySection(), section)) continue;
        section = store.CurrentEntrySection();
        if (!corvan::EqualsNoCase(store.CurrentKey(), L"class")) continue;
        const std::wstring className = store.CurrentValue();
        if (className != L"CWin32File" && className != L"CCompositeFile") {
            store.Previous();
            break;
        }
        CBaseObject* registered = nullptr;
        CCompositeFile* parent = this;
        if (store.LookupObject(ParentOfCurrentSection(store), registered) && registered)
            if (auto* folder = dynamic_cast<CCompositeFile*>(registered)) parent = folder;
        if (className == L"CWin32File") {
            auto file = std::make_unique<CWin32File>();
            file->LoadProperty(store);
            parent->AddChild(file.release());
        } else {
            auto folder = std::make_unique<CCompositeFile>();
            if (!depths.Add(folder.get(), depths.ChildLevel(parent)))
                return RefuseNesting(*this, L"CCompositeFile::LoadProperty", section);
            store.RegisterObject(section, folder.get());
            loadOwn(*folder, store);
            parent->AddChild(folder.release());
        }
        // The object has read its section; what follows is new.
        section.clear();
    }
    return 1;
}

// ---- report and dump -------------------------------------------------------

void CCompositeFile::ReportStatus(CObjectStore& reportStore) {
    CWin32File::ReportStatus(reportStore);
    WalkTree(*this, [&](CCompositeFile&, CWin32File& child) {
        child.CWin32File::ReportStatus(reportStore);
        return child.IsComposite();
    });
}

void CCompositeFile::Dump() {
    CWin32File::Dump();
    WalkTree(*this, [](CCompositeFile&, CWin32File& child) {
        child.CWin32File::Dump();
        return child.IsComposite();
    });
}
