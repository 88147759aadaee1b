// One file of a directory backup as the directory search reports it: where
// it lies, its attributes, times and size, its own access list if it has
// one, and the folder that holds its copy.
#pragma once

#include <memory>
#include <string>

#include "core/base_object.h"
#include "files/file_dacl.h"
#include "files/file_transfer.h"

class CWin32File : public CBaseObject {
public:
    CWin32File();
    explicit CWin32File(const std::wstring& serverName);
    explicit CWin32File(const WIN32_FIND_DATAW& data);
    ~CWin32File() override;
    CWin32File(const CWin32File&) = delete;
    CWin32File& operator=(const CWin32File&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;
    // The server part of its path, and the accounts of the old machine in
    // its own access list; the copies in the run folder stay where they are.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Copies the file into the target folder (never over a copy there).
    virtual int Backup(const std::wstring& targetFolder);
    // Copies the file back to where it was read, unless it is there unchanged.
    virtual int Restore();

    virtual bool IsComposite() const { return false; }

    // FilePath\FileName for a file; a composite's FilePath is its own path.
    virtual std::wstring FullPath() const;
    ULONGLONG Size() const { return (static_cast<ULONGLONG>(FileSizeHigh) << 32) | FileSizeLow; }

    // The steps of Backup and Restore within a tree operation.
    int BackupInto(const std::wstring& targetFolder, CFileTransfer& transfer);
    int RestoreFrom(CFileTransfer& transfer);
    // Reads the object's own access list; 0 or the error, recorded.
    int ReadOwnDacl(CFileTransfer& transfer, const std::wstring& function);
    // Records a failure: error fields, a NOK line, the item's counts.
    void RecordFailure(CFileTransfer& transfer, const std::wstring& function, const std::wstring& call, DWORD code);
    // Clears the error fields of an earlier failure and logs the success.
    void RecordSuccess(const std::wstring& function);

    std::wstring FileName;
    std::wstring FilePath;  // the folder that holds the file
    DWORD FileAttributes = 0;
    FILETIME CreationTime{};
    FILETIME LastAccessTime{};
    FILETIME LastWriteTime{};
    DWORD FileSizeHigh = 0;
    DWORD FileSizeLow = 0;
    // Stored under "Restore": 1 while the object is to be saved or restored.
    DWORD RestoreFlag = 1;
    std::wstring BackupPath;
    // Null when the object inherits all its permissions.
    std::unique_ptr<CFileDacl> OwnDacl;

protected:
    // The keys that follow the Part's keys in both classes: times and the own list.
    void SaveExtraKeys(CObjectStore& store) const;
    // True when the key was one of them.
    bool LoadExtraKey(const std::wstring& key, const std::wstring& value);
    // Sets the recorded creation and last-write times on the object at longPath.
    DWORD ApplyTimes(const std::wstring& longPath) const;
    bool HasTimes() const;

private:
    int PreviewCopy(CFileTransfer& transfer, const std::wstring& source, const std::wstring& target);
    void CopyFrom(const WIN32_FIND_DATAW& data);
    void LoadDaclEntries(const std::wstring& value);
};

// The machine a recorded path lies on ("\\SRV01"), empty for a local path.
std::wstring ServerOfPath(const std::wstring& path);
