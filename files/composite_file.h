// One folder of a directory backup with its files and subfolders as
// children. Every walk of the tree is iterative, and no tree nests deeper
// than kMaxNestingDepth folders, its root included, however deep the disk or
// the backup file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/win32_file.h"

class CCompositeFile : public CWin32File {
public:
    CCompositeFile();
    explicit CCompositeFile(const std::wstring& serverName);
    explicit CCompositeFile(const WIN32_FIND_DATAW& data);
    ~CCompositeFile() override;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    // Every object of the tree moves onto the new machine.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Copies every file of the tree into targetFolder\FileName. 1 when the
    // folder was made; what failed below is in the children and in Tally.
    int Backup(const std::wstring& targetFolder) override;
    // Copies every file still to be restored back to where it was read.
    // 1 when nothing failed.
    int Restore() override;

    bool IsComposite() const override { return true; }
    std::wstring FullPath() const override { return FilePath; }

    // Takes ownership; null is ignored.
    virtual void AddChild(CWin32File* child);
    virtual int GetCount() const;
    // Null outside the range.
    virtual CWin32File* GetAt(int index) const;

    // Reads the folder at path (plain form) and everything below it.
    int Enum(const std::wstring& path);

    // Loads the tree that follows; 0 (with the error recorded) when it nests
    // deeper than kMaxNestingDepth, where loading stops.
    // Checks a tree loaded from a backup file before anything is restored:
    // every name one plain component, every path nested in its parent's,
    // every copy inside runFolder. 0, or ERROR_INVALID_DATA with what is
    // wrong in `problem`.
    DWORD Validate(const std::wstring& runFolder, std::wstring& problem) const;

    // Folders Enum leaves out, such as the tool's own (plain form).
    std::vector<std::wstring> ExcludedPaths;
    // What the last Enum and Backup, or the last Restore, did.
    CFileTally Tally;

private:
    void SaveOwnSection(CObjectStore& store);
    bool Excluded(const CCompositeFile& folder, const std::wstring& name, const std::wstring& path) const;
    int ReadRoot(const std::wstring& path, CFileTransfer& transfer);
    void ListFolder(CCompositeFile& folder, int depth, CFileTransfer& transfer,
                    std::vector<std::pair<CCompositeFile*, int>>& pending);
    // Makes the folder (and, for the root, the folders above it) on the target.
    int EnsureFolder(CFileTransfer& transfer, bool root);
    // What EnsureFolder would find and need, asked without making anything.
    int PreviewFolder(CFileTransfer& transfer, bool root);
    void FinishFolder(CFileTransfer& transfer);

    std::vector<std::unique_ptr<CWin32File>> children_;
};
