// The migrator: one per process. It reads the switches, validates them,
// loads the control file, makes the run's folders and drives the backup and
// restore runs, which report their outcome into the control file.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "core/base_object.h"

class CCompositeFile;
class CObjectStore;
class CReportWriter;
template <class Kind>
class CResourceStep;

class CCorvanrator : public CBaseObject {
public:
    CCorvanrator();
    ~CCorvanrator() override;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void ReportStatus(CObjectStore& reportStore) override;
    void Dump() override;

    int ParseCommandLine(int argc, wchar_t** argv);
    void Usage();
    void ShowMessage(const std::wstring& text);
    int Validate();
    int GetServerVersion(DWORD& majorVersion);
    // Makes a restored object, loaded from a backup file, act on the target
    // of /T: (its server name and the texts that embed it); nothing without
    // /T:. 0 when the object names no machine to move it from.
    int Retarget(CBaseObject& object);
    int RetargetTree(CCompositeFile& tree);
    int Run();
    int CheckDirectories(const std::wstring& path);
    // Sets `location` to this run's folder below DefaultDataLocation and makes
    // it. A folder that already exists belongs to another run: the stamp moves
    // on to the next free one, once per run.
    int MakeRunFolder(std::wstring& location);

    int RunBackup(CObjectStore& control);
    int RunRestore(CObjectStore& control);

    // The per-kind steps; backup is 1 on the backup side, 0 on restore.
    int ProcessShares(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessPorts(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessPrinters(int backup, CObjectStore& control, const std::wstring& server);
    int ProcessDirectories(int backup, CObjectStore& control, const std::wstring& server);
    // A preview saves nothing and writes the key's status line into `report`.
    int ProcessRegistryKey(int backup, const std::wstring& keyPath, const std::wstring& server,
                           CReportWriter* report = nullptr);
    // Returns 1 when every requested operation succeeded. A preview does
    // none of them and writes the service's status line into `report`.
    int ProcessService(const std::wstring& server, const std::wstring& service, const std::wstring& action,
                       const std::wstring& startType, CReportWriter* report = nullptr);

    // A file of the run that could not be saved (`failure` holds the store's
    // error): the run fails, with an entry `step`="<file>" in its error
    // section and "<Run>ErrorFile" and "<Run>ErrorStep" in "Control".
    void SaveFailed(CObjectStore& control, int backup, const std::wstring& step, const std::wstring& file,
                    const CBaseObject& failure);

    std::wstring Name;
    int BackupRequested = 0;
    int RestoreRequested = 0;
    std::wstring ControlFilePath = L"ControlBackup.ini";
    std::wstring LogPathArgument;
    std::wstring MachineName;
    std::wstring RunStamp;
    DWORD MajorVersion = 0;
    // /T: the machine a restore re-creates every object on, and its version.
    int TargetRequested = 0;
    std::wstring TargetMachineName;
    DWORD TargetMajorVersion = 0;
    // /P: ask and report, change nothing.
    int PreviewRequested = 0;

    std::wstring DefaultMigLocation;
    std::wstring DefaultLogLocation;
    std::wstring DefaultDataLocation;
    std::wstring DefaultReportName = L"StatusReport.log";
    std::wstring BackupLocation;
    std::wstring RestoreLocation;
    std::wstring ControlRestoreFileName = L"ControlRestore.ini";
    std::wstring SharesFile = L"shares_backup.dat";
    std::wstring PortsFile = L"ports_backup.dat";
    std::wstring PrintersFile = L"printers_backup.dat";
    std::wstring RegistryFilePath;

    std::vector<std::wstring> ExcludedShareNames;
    std::vector<DWORD> ExcludedShareTypes;
    std::vector<std::wstring> SelectedShareNames;
    std::vector<std::wstring> ExcludedPortNames;
    std::vector<DWORD> ExcludedPortTypes;
    std::vector<std::wstring> SelectedPortNames;
    std::vector<std::wstring> ExcludedPrinterNames;
    std::vector<DWORD> ExcludedPrinterTypes;
    std::vector<std::wstring> ExcludedDriverNames;
    std::vector<std::wstring> SelectedPrinterNames;
    std::vector<std::wstring> WorkNames;
    std::vector<std::wstring> WorkFiles;

    int RunSucceeded = 1;
    std::wstring OutcomeErrorCode;
    std::wstring OutcomeErrorText;
    // The run is no success, and this is its most recent error.
    void FailRun(const std::wstring& code, const std::wstring& text) {
        RunSucceeded = 0;
        OutcomeErrorCode = code;
        OutcomeErrorText = text;
    }

private:
    template <class Kind>
    friend class CResourceStep;

    // An entry of the control file that is not carried out: an entry in the
    // run's error section, the run's outcome (code with `why` as its text),
    // "<Run>ErrorFile" and "<Run>ErrorStep", and a line in the error log.
    void RefuseEntry(CObjectStore& control, int backup, const std::wstring& key, const std::wstring& entry,
                     const std::wstring& file, const std::wstring& why, DWORD code);
    // The restore work of one kind: the RESTORE entries whose file part is a
    // plain file name. Returns whether there was any entry.
    bool ReadRestoreWork(CObjectStore& control, const std::wstring& key);
    // Names on the console and in the error log a loaded control file that
    // the run cannot follow: one that met a zero byte, or one without any
    // section the run reads.
    void CheckControlFile(const CObjectStore& control);
    // Says so when the control file names nothing for this run to do.
    void CheckWork(const CObjectStore& control, int backup);
    // Saves the copies of the control file. A copy that cannot be saved
    // fails the requested runs, which the copies that were saved then show;
    // false when any failed.
    bool SaveControlCopies(CObjectStore& control, const std::vector<std::wstring>& copies);
    // A backup file name no earlier entry of this run has taken.
    std::wstring UniqueFileName(const std::wstring& wanted);
    // The six outcome keys of a run: prefix is "Backup" or "Restore".
    void WriteOutcome(CObjectStore& control, const std::wstring& prefix);
    void ServiceEntries(CObjectStore& control, const std::wstring& section, int backup, const std::wstring& server);

    std::unordered_set<std::wstring> usedFileNames_;  // folded case: names match ignoring it
    bool runFolderClaimed_ = false;
    std::wstring TemporaryFolder();
    std::wstring ReadCurrentDirectory();
};

// The process entry on every platform: wide arguments in, exit code out.
int CorvanMain(int argc, wchar_t** argv);
