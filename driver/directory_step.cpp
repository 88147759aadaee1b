// The directory step: each DIRECTORY entry's folder tree copied into the
// run folder with its backup file, and copied back from there.
#include <cstdlib>
#include <memory>

#include "core/object_store.h"
#include "core/preview.h"
#include "diagnostics/progress.h"
#include "diagnostics/status_line.h"
#include "driver/corvanrator.h"
#include "driver/entry_value.h"
#include "driver/report_writer.h"
#include "files/composite_file.h"
#include "files/file_path.h"
#include "platform/text.h"

using corvan::Format;

namespace {

const wchar_t kStep[] = L"DIRECTORY";
constexpr int kFolderDraws = 1000;

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The entry's folder as a full drive path (trailing backslashes dropped,
// except the root's), or the reason it is none.
bool CheckEntryPath(const std::wstring& entry, std::wstring& path, std::wstring& problem) {
    path = entry;
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != L':' || path[2] != L'\\') {
        problem = Format(L"DIRECTORY entry \"%ls\" is not a full path on a drive of the machine (such as D:\\Data).",
                         entry.c_str());
        return false;
    }
    for (size_t start = 3; start < path.size();) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (!IsFileNameInTree(path.substr(start, end - start))) {
            problem = Format(L"DIRECTORY entry \"%ls\" holds a wildcard or a name no folder can have.", entry.c_str());
            return false;
        }
        start = end + 1;
    }
    return true;
}

// The folder the item's copies go into: the time and a drawn number, drawn
// again while a folder of that name exists.
std::wstring ItemFolder(const std::wstring& backupLocation) {
    std::wstring folder;
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        folder = Format(L"%ls\\%ls%.3d", backupLocation.c_str(), LocalTimeText(L"%H%M%S").c_str(), std::rand() % 100);
        if (GetFileAttributesW(LongPathForm(folder).c_str()) == INVALID_FILE_ATTRIBUTES) break;
    }
    return folder;
}

// Loads the tree of a backup file; false, with the error, when the file
// cannot be read, holds no tree or nests too deep. The file is read a part
// at a time as the tree is made: its entries are never all held at once.
bool LoadTree(const std::wstring& backupFile, CCompositeFile& tree, DWORD& code, std::wstring& text) {
    CObjectStore store;
    if (!store.LoadFromFileInParts(backupFile)) {
        code = store.LastErrorCode ? store.LastErrorCode : ERROR_INVALID_DATA;
        text = store.ErrorDescription;
        return false;
    }
    if (!store.Next() || !corvan::EqualsNoCase(store.CurrentKey(), L"class") ||
        store.CurrentValue() != L"CCompositeFile") {
        code = ERROR_INVALID_DATA;
        text = Format(L"%ls holds no directory tree.", backupFile.c_str());
        return false;
    }
    if (!tree.LoadProperty(store)) {
        code = tree.LastErrorCode;
        text = Format(L"The backup file %ls is refused: %ls", backupFile.c_str(), tree.ErrorDescription.c_str());
        return false;
    }
    // A read that failed part way leaves a tree that is not the whole backup.
    if (store.LastErrorCode) {
        code = store.LastErrorCode;
        text = store.ErrorDescription;
        return false;
    }
    return true;
}

// What a backup of the tree would copy: its folders, and its files with their bytes.
void CountWhatWouldBeCopied(const CCompositeFile& tree, CFileTally& tally) {
    std::vector<const CCompositeFile*> pending{&tree};
    while (!pending.empty()) {
        const CCompositeFile* folder = pending.back();
        pending.pop_back();
        ++tally.Folders;
        for (int i = 0; i < folder->GetCount(); ++i) {
            const CWin32File* child = folder->GetAt(i);
            if (!child->RestoreFlag) continue;
            if (child->IsComposite()) {
                pending.push_back(static_cast<const CCompositeFile*>(child));
                continue;
            }
            ++tally.Files;
            tally.Bytes += child->Size();
        }
    }
}

// Saves the tree whole or not at all, written as its sections are made; on
// failure the store's error is in `store`.
bool SaveTree(CCompositeFile& tree, const std::wstring& path, CObjectStore& store) {
    if (!store.BeginFile(path)) return false;
    tree.SaveProperties(store);
    return store.EndFile() != 0;
}

}  // namespace

int CCorvanrator::RetargetTree(CCompositeFile& tree) {
    if (!TargetRequested) return 1;
    // The tree names the machine it was read on in its paths alone.
    tree.ServerName = ServerOfPath(tree.FilePath);
    return Retarget(tree);
}

int CCorvanrator::ProcessDirectories(int backup, CObjectStore& control, const std::wstring& server) {
    CReportWriter report(*this, control, backup);
    const wchar_t* operation = backup ? L"Backup" : L"Restore";
    const bool preview = corvan::PreviewOnly();
    CProgress progress(Format(L"%ls %ls", operation, kStep));
    int r = 1;

    for (size_t i = 0; i < WorkFiles.size(); ++i) {
        const std::wstring& entryPath = WorkNames[i];
        const std::wstring& file = WorkFiles[i];
        const std::wstring backupFile = BackupLocation + L"\\" + file;
        const std::wstring entry = Format(L"%ls,\"%ls\"", entryPath.c_str(), file.c_str());

        DWORD code = 0;  // the item's error for the outcome keys
        std::wstring text;
        CCompositeFile tree(server);
        std::unique_ptr<CObjectStore> saved;

        if (backup) {
            int read = 0;  // the tree was read and its folder made in the run folder
            std::wstring path, problem;
            if (!CheckEntryPath(entryPath, path, problem)) {
                code = ERROR_INVALID_NAME;
                tree.SetError(Format(L"CCompositeFile::Enum(%ls)", entryPath.c_str()), problem, code);
            } else {
                // The tool's own folders are never part of what it backs up.
                for (const std::wstring* own : {&DefaultMigLocation, &DefaultLogLocation, &DefaultDataLocation})
                    if (IsFullPlainPath(*own) && (*own)[1] == L':')
                        tree.ExcludedPaths.push_back(AdministrativeSharePath(server, *own));
                read = tree.Enum(AdministrativeSharePath(server, path));
                if (read && preview) {
                    // What would be copied, from the listing alone.
                    const CFileTally listed = tree.Tally;
                    tree.Tally = CFileTally();
                    CountWhatWouldBeCopied(tree, tree.Tally);
                    tree.Tally.Skipped = listed.Skipped;
                    tree.Tally.Failed = listed.Failed;
                    tree.Tally.FirstError = listed.FirstError;
                    tree.Tally.FirstErrorText = listed.FirstErrorText;
                } else if (read) {
                    read = tree.Backup(ItemFolder(BackupLocation));
                }
            }
            if (!preview) saved = std::make_unique<CObjectStore>();
            // Its RESTORE entry only once the backup file is written.
            if (saved && SaveTree(tree, backupFile, *saved)) {
                if (read) control.AddEntry(L"RESTORE", kStep, entry);
                saved.reset();
            }
        } else if (LoadTree(backupFile, tree, code, text)) {
            // A file that would write outside its tree or read outside the
            // backup is refused before anything is written.
            std::wstring problem;
            if (DWORD refused = tree.Validate(BackupLocation, problem)) {
                code = refused;
                text = Format(L"The backup file %ls is refused: %ls", backupFile.c_str(), problem.c_str());
                tree.SetError(L"CCompositeFile::Restore", text, refused);
            } else if (!RetargetTree(tree)) {
                code = ERROR_INVALID_DATA;
                text = Format(L"%ls names no machine its folders could be moved from onto %ls.", backupFile.c_str(),
                              TargetMachineName.c_str());
                tree.SetError(L"CCompositeFile::Restore", text, code);
            } else {
                tree.Restore();
                // The result goes beside the run's other results; never over the backup.
                const std::wstring result = RestoreLocation + L"\\" + file;
                if (!preview && !corvan::EqualsNoCase(result, backupFile)) {
                    saved = std::make_unique<CObjectStore>();
                    if (SaveTree(tree, result, *saved)) saved.reset();
                }
            }
        }

        // The first of the item's failures names it in the outcome keys.
        if (!code && (tree.LastErrorCode || tree.Tally.Failed)) {
            code = tree.LastErrorCode ? tree.LastErrorCode : tree.Tally.FirstError;
            text = tree.LastErrorCode ? tree.ErrorDescription : tree.Tally.FirstErrorText;
        }
        if (!code && saved) {
            code = saved->LastErrorCode ? saved->LastErrorCode : ERROR_WRITE_FAULT;
            text = saved->ErrorDescription;
        }
        if (code && text.empty()) text = tree.ErrorDescription;

        if (!tree.Tally.Failed && code) tree.Tally.NoteFailure(code, text);
        // A preview says why the item would fail.
        ReportStatusLine(report.Store(), L"Directory", entryPath, L"Directory", tree.Tally.Prediction(),
                         Format(L"%ls Directory", operation), code, PreviewState(code ? text : L""));
        tree.ReportStatus(report.Store());
        report.Append();

        if (!code) {
            if (!backup && !preview)
                control.AddEntry(L"STATUS", kStep, Format(L"%ls,\"0,Success.\"", entryPath.c_str()));
            r = 1;
            continue;
        }
        r = 0;
        FailRun(Format(L"%u", static_cast<unsigned>(code)), text);
        // A preview records its foreseen failures in the outcome keys alone.
        if (preview) continue;
        control.AddEntry(L"RESTOREERROR", kStep, entry);
        control.SetValue(L"Control", backup ? L"BackupErrorFile" : L"RestoreErrorFile", backupFile);
        control.SetValue(L"Control", backup ? L"BackupErrorStep" : L"RestoreErrorStep", kStep);
    }
    return r;
}
